#include "winui/WindowOptions.h"

namespace fwup {

bool ParseWindowOptions(const std::vector<std::string>& args, WindowOptions& options,
                        std::string& strError) {
    options = WindowOptions();
    // --help and --version are ours; the bench's parser reads the rest, and what
    // neither knows is refused here.
    std::vector<std::string> bench;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        if (strArg == "--help" || strArg == "-h") {
            options.bHelp = true;
        } else if (strArg == "--version") {
            options.bVersion = true;
        } else if (strArg == "--bench") {
            bench.push_back(strArg);
        } else if (strArg == "--record" || strArg == "--file" || strArg == "--station" ||
                   strArg == "--slots" || strArg == "--retries" || strArg == "--profile") {
            bench.push_back(strArg);
            if (i + 1 < args.size()) {
                bench.push_back(args[++i]);
            }
        } else {
            strError = "unknown option " + strArg;
            return false;
        }
    }
    return ParseBenchOptions(bench, options.bench, strError);
}

std::string WindowUsageText() {
    return std::string("Usage: fwupgraderVelmora [options]\n"
                       "\n"
                       "The firmware updater's window for the hand-held reader: choose the\n"
                       "reader's COM port, Connect, load a firmware image (*.bin) with\n"
                       "\"Load Binary File\" or by dropping it on the window, and press UPLOAD.\n"
                       "With --bench, the bench window flashes every reader that appears, many\n"
                       "at once.\n"
                       "\n"
                       "Options:\n"
                       "  --help            this text\n"
                       "  --version         the program's version\n"
                       "  --record STORE    keep one record per finished unit in STORE: a\n"
                       "                    postgresql:// URI, a .db/.sqlite file (SQLite) or\n"
                       "                    any other file (JSON lines)\n") +
           BenchUsageText();
}

} // namespace fwup
