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
           "                    build writes JSON lines only, no .db or database URI)\n";
}

} // namespace fwup
