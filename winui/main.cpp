// fwupgraderVelmora.exe: the firmware updater's native window.

#include "records/CUnitRecordLog.h"
#include "serial/WideText.h"
#include "winui/CFwUpgraderVelmoraDlg.h"
#include "winui/WindowOptions.h"

#include "ProductVersion.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// The command line as UTF-8 texts, without the program's name.
std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int nArgs = 0;
    if (LPWSTR* ppszArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nArgs)) {
        for (int i = 1; i < nArgs; ++i) {
            args.push_back(fwup::Utf8FromWide(ppszArgs[i]));
        }
        ::LocalFree(ppszArgs);
    }
    return args;
}

void ShowText(const std::string& strText, UINT nIcon) {
    ::MessageBoxW(nullptr, fwup::WideFromUtf8(strText).c_str(), L"fwupgraderVelmora",
                  MB_OK | nIcon);
}

} // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
    fwup::WindowOptions options;
    std::string strError;
    if (!fwup::ParseWindowOptions(Arguments(), options, strError)) {
        ShowText(strError + "\n\n" + fwup::WindowUsageText(), MB_ICONERROR);
        return 2;
    }
    if (options.bHelp) {
        ShowText(fwup::WindowUsageText(), MB_ICONINFORMATION);
        return 0;
    }
    if (options.bVersion) {
        ShowText(std::string("fwupgraderVelmora (") + fwup::kProductDescription + ") " +
                     fwup::kProductVersion,
                 MB_ICONINFORMATION);
        return 0;
    }

    // The common control classes the template uses (the progress bars).
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);

    // A bench that asked for records gets them or is told why not, before any unit runs.
    fwup::CUnitRecordLog records;
    if (!options.strRecordPath.empty() && !records.Open(options.strRecordPath, strError)) {
        ShowText(strError, MB_ICONERROR);
        return 2;
    }
    fwup::CFwUpgraderVelmoraDlg dlg(options, options.strRecordPath.empty() ? nullptr : &records);
    dlg.DoModal(hInstance);
    return dlg.TestExitCode();
}
