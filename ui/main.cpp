// fwupgraderVelmora: the firmware updater's window.

#include "ui/CFwUpgraderApp.h"
#include "windowmodel/BenchOptions.h"
#include "windowmodel/CWindowRecords.h"

#include "ProductVersion.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// --help and --version are answered before the window's toolkit starts, so they
// work without a display (in a build, over SSH, in a package check).
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
                       "       fwupgraderVelmora --bench [--file FW.bin] [--record STORE]\n"
                       "                         [--station NAME] [--slots FILE] [--retries N]\n"
                       "                         [--profile FILE]\n"
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
                       "                   any other file (JSON lines)\n",
                       stdout);
            std::fputs(fwup::BenchUsageText(), stdout);
            std::fputs("The window toolkit's own options (-platform NAME, -style NAME, ...)\n"
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
    const std::vector<std::string> args(argv + 1, argv + argc);
    fwup::BenchOptions options;
    std::string strError;
    if (!fwup::ParseBenchOptions(args, options, strError)) {
        std::fprintf(stderr, "fwupgraderVelmora: %s\n", strError.c_str());
        return 2;
    }
    // Before the records: the profile may name the store, and a malformed or
    // weak one must stop the window before any port is touched.
    if (!fwup::ApplyWindowProfile(options, strError)) {
        std::fprintf(stderr, "fwupgraderVelmora: %s\n", strError.c_str());
        return 2;
    }
    // Opened before the window: a bench must learn at once that records would be lost.
    fwup::CWindowRecords records;
    if (!records.Open(options, strError)) {
        std::fprintf(stderr, "fwupgraderVelmora: %s\n", strError.c_str());
        return 2;
    }
    fwup::CFwUpgraderApp app(argc, argv);
    if (options.bBench) {
        return app.RunBench(options, records.Sink());
    }
    app.InitInstance(records.Sink(), options);
    return 0;
}
