// fwtest-ports-device: registers or removes a test device of the ports class in
// the Wine prefix, for the end-to-end script.
//   fwtest-ports-device add INSTANCE "FRIENDLY NAME" COMn
//   fwtest-ports-device remove INSTANCE
//   fwtest-ports-device remove-all
#include "tests/windows/CPortsClassDevice.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
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
    std::fprintf(stderr, "usage: fwtest-ports-device add INSTANCE NAME COMn | remove INSTANCE | remove-all\n");
    return 2;
}
