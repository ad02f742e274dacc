// fwupgraderVelmora: the firmware updater's window.

#include "records/CUnitRecordLog.h"
#include "ui/CFwUpgraderApp.h"
#include "windowmodel/CRecordLogSink.h"

#include "ProductVersion.h"

#include <cstdio>
#include <string>

namespace {

// --help and --version are answered before the window's toolkit starts, so they
// work without a display (the man page is made from them at build time).
bool AnswerInfoOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--version") {
            std::printf("fwupgraderVelmora (%s) %s\n", fwup::kProductDescription,
                        fwup::kProductVersion);
            return true;
        }
        if (strArg == "--help" || strArg == "-h") {
            std::fputs("Usage: fwupgraderVelmora [options]\n"
                       "\n"
                       "The firmware updater's window for the hand-held reader: choose the\n"
                       "reader's serial port, Connect, load a firmware image (*.bin) with\n"
                       "\"Load Binary File\" or by dropping it on the window, and press UPLOAD.\n"
                       "Serial ports are read below $FWUP_SYSROOT (default /).\n"
                       "\n"
                       "Options:\n"
                       "  --help           this text\n"
                       "  --version        print the program's version\n"
                       "  --record STORE   keep one record per finished unit in STORE: a\n"
                       "                   postgresql:// URI, a .db/.sqlite file (SQLite) or\n"
                       "                   any other file (JSON lines)\n"
                       "The window toolkit's own options (-platform NAME, -style NAME, ...)\n"
                       "are accepted as well.\n"
                       "\n"
                       "When a port cannot be opened, 'fwupgrader-cli doctor' says why and\n"
                       "what fixes it.\n",
                       stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (AnswerInfoOption(argc, argv)) {
        return 0;
    }
    // Opened before the window: a bench must learn at once that records would be lost.
    fwup::CUnitRecordLog records;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) != "--record") {
            continue;
        }
        std::string strError = "--record needs a store";
        if (i + 1 >= argc || !records.Open(argv[i + 1], strError)) {
            std::fprintf(stderr, "fwupgraderVelmora: %s\n", strError.c_str());
            return 2;
        }
    }
    fwup::CFwUpgraderApp app(argc, argv);
    fwup::CRecordLogSink sink(records);
    app.InitInstance(records.IsOpen() ? &sink : nullptr);
    return 0;
}
