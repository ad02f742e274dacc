// fwtest-ports-device: registers or removes a test device of the ports class in
// the Wine prefix, for the end-to-end script.
//   fwtest-ports-device add INSTANCE "FRIENDLY NAME" COMn
//   fwtest-ports-device remove INSTANCE
//   fwtest-ports-device remove-all
//   fwtest-ports-device serve
// serve takes the same commands from standard input, one a line, fields split
// by tabs, and answers each with a line "ok" or "failed". One Wine process for a
// whole run: starting one per plug event took about a second each, enough under
// load to make a reader look unplugged for longer than a job waits for it.
#include "tests/windows/CPortsClassDevice.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitTabs(const std::string& strLine) {
    std::vector<std::string> fields;
    size_t nStart = 0;
    for (;;) {
        const size_t nTab = strLine.find('\t', nStart);
        fields.push_back(strLine.substr(nStart, nTab - nStart));
        if (nTab == std::string::npos) {
            return fields;
        }
        nStart = nTab + 1;
    }
}

int Serve() {
    char szLine[1024];
    while (std::fgets(szLine, sizeof szLine, stdin) != nullptr) {
        std::string strLine(szLine);
        while (!strLine.empty() && (strLine.back() == '\n' || strLine.back() == '\r')) {
            strLine.pop_back();
        }
        const std::vector<std::string> fields = SplitTabs(strLine);
        bool bDone = false;
        if (fields.size() == 4 && fields[0] == "add") {
            fwtest::CPortsClassDevice device(fields[1], fields[2], fields[3]);
            bDone = device.Registered();
            device.Keep();
        } else if (fields.size() == 2 && fields[0] == "remove") {
            fwtest::CPortsClassDevice::Remove(fields[1]);
            bDone = true;
        } else if (fields.size() == 1 && fields[0] == "remove-all") {
            fwtest::CPortsClassDevice::RemoveAll();
            bDone = true;
        }
        std::printf("%s\n", bDone ? "ok" : "failed");
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "serve") == 0) {
        return Serve();
    }
    if (argc == 5 && std::strcmp(argv[1], "add") == 0) {
        fwtest::CPortsClassDevice device(argv[2], argv[3], argv[4]);
        if (!device.Registered()) {
            std::fprintf(stderr, "fwtest-ports-device: the system refused the device\n");
            return 1;
        }
        device.Keep();
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "remove") == 0) {
        std::printf("removed %d\n", fwtest::CPortsClassDevice::Remove(argv[2]));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "remove-all") == 0) {
        std::printf("removed %d\n", fwtest::CPortsClassDevice::RemoveAll());
        return 0;
    }
    std::fprintf(stderr, "usage: fwtest-ports-device add INSTANCE NAME COMn | remove INSTANCE | "
                         "remove-all | serve\n");
    return 2;
}
