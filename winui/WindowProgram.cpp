#include "winui/WindowProgram.h"

#include "serial/WideText.h"
#include "windowmodel/CWindowRecords.h"
#include "windowmodel/WindowTexts.h"
#include "winui/CBenchDlg.h"
#include "winui/RestartRegistration.h"
#include "winui/WindowOptions.h"

#include "ProductVersion.h"

#include <commctrl.h>
#include <shellapi.h>

namespace fwup {

namespace {

void ShowText(const std::string& strText, UINT nIcon) {
    ::MessageBoxW(nullptr, WideFromUtf8(strText).c_str(), WideFromUtf8(kTextProgramName).c_str(),
                  MB_OK | nIcon);
}

} // namespace

std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> args;
    int nArgs = 0;
    if (LPWSTR* ppszArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nArgs)) {
        for (int i = 1; i < nArgs; ++i) {
            args.push_back(Utf8FromWide(ppszArgs[i]));
        }
        ::LocalFree(ppszArgs);
    }
    return args;
}

int RunWindowProgram(HINSTANCE hInstance, const std::vector<std::string>& args,
                     const WindowHooks& hooks) {
    WindowOptions options;
    std::string strError;
    if (!ParseWindowOptions(args, options, strError)) {
        ShowText(strError + "\n\n" + WindowUsageText(), MB_ICONERROR);
        return 2;
    }
    if (options.bHelp) {
        ShowText(WindowUsageText(), MB_ICONINFORMATION);
        return 0;
    }
    if (options.bVersion) {
        ShowText(std::string("fwupgraderVelmora (") + kProductDescription + ") " + kProductVersion,
                 MB_ICONINFORMATION);
        return 0;
    }

    // The common control classes the templates use (the bars, the bench's table).
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&icc);
    // Either window: a crash or an update's reboot brings it back as it was started.
    RegisterForRestart();

    // Before the records: the profile may name the store, and a malformed or weak
    // one must stop the window before any port is touched.
    if (!ApplyWindowProfile(options.bench, strError)) {
        ShowText(strError, MB_ICONERROR);
        return 2;
    }
    // A bench that asked for records gets them or is told why not, before any unit
    // runs. Each window has a log of its own on the store (a window's end closes
    // its log), so the main window keeps recording after a bench it opened.
    const BenchOptions& bench = options.bench;
    const auto openRecords = [&](CWindowRecords& records) {
        std::string strOpenError;
        if (!records.Open(bench, strOpenError)) {
            ShowText(strOpenError, MB_ICONERROR);
            return false;
        }
        return true;
    };
    // From the main window, the bench starts with the image loaded there.
    const auto runBench = [&](HWND hOwner, const std::string& strImage) {
        BenchOptions benchOptions = bench;
        if (!strImage.empty() && !bench.IsImageLocked()) {
            benchOptions.strFirmwarePath = strImage;
        }
        CWindowRecords benchRecords;
        if (!openRecords(benchRecords)) {
            return false;
        }
        CBenchDlg benchDlg(benchOptions, benchRecords.Sink());
        if (hooks.fnPrepareBench) {
            hooks.fnPrepareBench(benchDlg);
        }
        std::string strBenchError;
        if (!benchDlg.DoModal(hInstance, hOwner, strBenchError)) {
            ShowText(strBenchError, MB_ICONERROR);
            return false;
        }
        return true;
    };
    if (bench.bBench) {
        return runBench(nullptr, std::string()) ? 0 : 2;
    }
    CWindowRecords records;
    if (!openRecords(records)) {
        return 2;
    }
    CFwUpgraderVelmoraDlg dlg(records.Sink());
    dlg.SetReadBack(bench.bVerify, bench.ExpectVersion());
    if (bench.optProfile) {
        dlg.SetStationProfile(*bench.optProfile, bench.strFirmwarePath);
    }
    dlg.SetBenchOpener(
        [&](HWND hOwner, const std::string& strImage) { runBench(hOwner, strImage); });
    if (hooks.fnPrepare) {
        hooks.fnPrepare(dlg);
    }
    dlg.DoModal(hInstance);
    return 0;
}

} // namespace fwup
