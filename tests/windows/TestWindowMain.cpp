// fwupgraderVelmora-test.exe: the native window built from the same library as
// the shipped one, with CTestDriver working it through its own controls. Its
// own options (--test-port, --test-file, --test-report, --test-auto) come
// first out of the command line; the rest are the window's.

#include "tests/windows/CTestDriver.h"
#include "winui/WindowProgram.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
    fwup::TestHookOptions hook;
    std::vector<std::string> rest;
    const std::vector<std::string> args = fwup::CommandLineArguments();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string* pValue = args[i] == "--test-port"     ? &hook.strTestPort
                              : args[i] == "--test-file"   ? &hook.strTestFile
                              : args[i] == "--test-report" ? &hook.strTestReport
                                                           : nullptr;
        if (args[i] == "--record" && i + 1 < args.size()) {
            hook.strRecordPath = args[i + 1]; // the window takes it as well
        }
        if (args[i] == "--test-auto") {
            hook.bTestAuto = true;
        } else if (pValue != nullptr && i + 1 < args.size()) {
            *pValue = args[++i];
        } else {
            rest.push_back(args[i]);
        }
    }
    // The driver and its caller meet through files next to the report.
    if (hook.strTestPort.empty() || hook.strTestFile.empty() ||
        (hook.bTestAuto && hook.strTestReport.empty())) {
        ::MessageBoxW(nullptr, L"needs --test-port and --test-file (--test-auto: --test-report)",
                      L"fwupgraderVelmora-test", MB_OK | MB_ICONERROR);
        return 2;
    }
    std::unique_ptr<fwup::CTestDriver> pDriver;
    const int nCode =
        fwup::RunWindowProgram(hInstance, rest, [&](fwup::CFwUpgraderVelmoraDlg& dlg) {
            dlg.SetHooks(
                [&](HWND hWnd) {
                    pDriver = std::make_unique<fwup::CTestDriver>(hWnd, hook);
                    pDriver->Start();
                },
                [&](WPARAM nTimerId) { return pDriver && pDriver->OnTimer(nTimerId); });
        });
    if (nCode != 0) {
        return nCode;
    }
    return pDriver ? pDriver->ExitCode() : 1;
}
