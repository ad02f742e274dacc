#include "winui/WindowProgram.h"

#include "records/CUnitRecordLog.h"
#include "serial/WideText.h"
#include "windowmodel/CRecordLogSink.h"
#include "winui/WindowOptions.h"

#include "ProductVersion.h"

#include <commctrl.h>
#include <shellapi.h>

namespace fwup {

namespace {

void ShowText(const std::string& strText, UINT nIcon) {
    ::MessageBoxW(nullptr, WideFromUtf8(strText).c_str(), L"fwupgraderVelmora", MB_OK | nIcon);
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
                     const std::function<void(CFwUpgraderVelmoraDlg&)>& fnPrepare) {
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

    // The common control classes the template uses (the progress bars).
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);

    // A bench that asked for records gets them or is told why not, before any unit runs.
    CUnitRecordLog records;
    if (!options.strRecordPath.empty() && !records.Open(options.strRecordPath, strError)) {
        ShowText(strError, MB_ICONERROR);
        return 2;
    }
    CRecordLogSink sink(records);
    CFwUpgraderVelmoraDlg dlg(records.IsOpen() ? &sink : nullptr);
    if (fnPrepare) {
        fnPrepare(dlg);
    }
    dlg.DoModal(hInstance);
    return 0;
}

} // namespace fwup
