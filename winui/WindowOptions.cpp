#include "winui/WindowOptions.h"

namespace fwup {

bool ParseWindowOptions(const std::vector<std::string>& args, WindowOptions& options,
                        std::string& strError) {
    options = WindowOptions();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        std::string* pValue = nullptr;
        if (strArg == "--help" || strArg == "-h") {
            options.bHelp = true;
        } else if (strArg == "--version") {
            options.bVersion = true;
        } else if (strArg == "--record") {
            pValue = &options.strRecordPath;
        } else if (strArg == "--test-port") {
            pValue = &options.strTestPort;
        } else if (strArg == "--test-file") {
            pValue = &options.strTestFile;
        } else if (strArg == "--test-report") {
            pValue = &options.strTestReport;
        } else if (strArg == "--test-auto") {
            options.bTestAuto = true;
        } else {
            strError = "unknown option " + strArg;
            return false;
        }
        if (pValue != nullptr) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                strError = strArg + " needs a value";
                return false;
            }
            *pValue = args[++i];
        }
    }
    if (options.strTestPort.empty() != options.strTestFile.empty()) {
        strError = "--test-port and --test-file go together";
        return false;
    }
    if (!options.strTestReport.empty() && !options.TestHookOn()) {
        strError = "--test-report needs --test-port and --test-file";
        return false;
    }
    if (options.bTestAuto && options.strTestReport.empty()) {
        strError = "--test-auto needs --test-report";
        return false;
    }
    return true;
}

const char* WindowUsageText() {
    return "Usage: fwupgraderVelmora [options]\n"
           "\n"
           "The firmware updater's window for the hand-held reader: choose the\n"
           "reader's COM port, Connect, load a firmware image (*.bin) with\n"
           "\"Load Binary File\" or by dropping it on the window, and press UPLOAD.\n"
           "\n"
           "Options:\n"
           "  --help            this text\n"
           "  --version         the program's version\n"
           "  --record FILE     append one JSON line per finished unit to FILE (this\n"
           "                    build writes JSON lines only, no .db or database URI)\n"
           "\n"
           "Test hook (the window drives itself through its own controls):\n"
           "  --test-port COMn  the port to choose and connect\n"
           "  --test-file PATH  the image to drop, load and send with UPLOAD\n"
           "  --test-report F   write what was seen to F, then close once F.done exists\n"
           "  --test-auto       run auto mode instead: when \"Remove the device\" shows,\n"
           "                    write F.unplug and answer once F.unplugged exists\n"
           "The exit code is then 0 when the update succeeded and every check held.\n";
}

} // namespace fwup
