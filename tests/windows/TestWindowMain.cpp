// fwupgraderVelmora-test.exe: the native windows built from the same library as
// the shipped ones, with a driver working them through their own controls. Its
// own options (--test-port, --test-file, --test-report, --test-auto,
// --test-readers) come first out of the command line; the rest are the
// window's. With --bench the bench window's driver (CBenchTestDriver) runs,
// else the main window's (CTestDriver).

#include "tests/windows/CBenchTestDriver.h"
#include "tests/windows/CTestDriver.h"
#include "winui/WindowProgram.h"

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
    fwup::TestHookOptions hook;
    fwup::BenchHookOptions benchHook;
    bool bBench = false;
    std::string strReaders;
    std::vector<std::string> rest;
    const std::vector<std::string> args = fwup::CommandLineArguments();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string* pValue = args[i] == "--test-port"      ? &hook.strTestPort
                              : args[i] == "--test-file"    ? &hook.strTestFile
                              : args[i] == "--test-report"  ? &hook.strTestReport
                              : args[i] == "--test-readers" ? &strReaders
                                                            : nullptr;
        // The window takes these as well.
        if (args[i] == "--record" && i + 1 < args.size()) {
            hook.strRecordPath = args[i + 1];
        }
        if (args[i] == "--file" && i + 1 < args.size()) {
            const std::string& strPath = args[i + 1];
            benchHook.strImageName = strPath.substr(strPath.find_last_of("\\/") + 1);
        }
        bBench = bBench || args[i] == "--bench";
        if (args[i] == "--test-auto") {
            hook.bTestAuto = true;
        } else if (pValue != nullptr && i + 1 < args.size()) {
            *pValue = args[++i];
        } else {
            rest.push_back(args[i]);
        }
    }
    benchHook.strTestReport = hook.strTestReport;
    benchHook.nReaders = std::atoi(strReaders.c_str());
    // The drivers and their caller meet through files next to the report.
    const bool bUsable = bBench ? !benchHook.strTestReport.empty() && benchHook.nReaders > 0 &&
                                      !benchHook.strImageName.empty()
                                : !hook.strTestPort.empty() && !hook.strTestFile.empty() &&
                                      (!hook.bTestAuto || !hook.strTestReport.empty());
    if (!bUsable) {
        ::MessageBoxW(nullptr,
                      L"needs --test-port and --test-file (--test-auto: --test-report), or "
                      L"--bench with --file, --test-report and --test-readers N",
                      L"fwupgraderVelmora-test", MB_OK | MB_ICONERROR);
        return 2;
    }
    std::unique_ptr<fwup::CTestDriver> pDriver;
    std::unique_ptr<fwup::CBenchTestDriver> pBenchDriver;
    fwup::WindowHooks hooks;
    hooks.fnPrepare = [&](fwup::CFwUpgraderVelmoraDlg& dlg) {
        dlg.SetHooks(
            [&](HWND hWnd) {
                pDriver = std::make_unique<fwup::CTestDriver>(hWnd, hook);
                pDriver->Start();
            },
            [&](WPARAM nTimerId) { return pDriver && pDriver->OnTimer(nTimerId); });
    };
    // The main window's driver opens the bench window too, and closes it itself.
    if (bBench) {
        hooks.fnPrepareBench = [&](fwup::CBenchDlg& dlg) {
            dlg.SetHooks(
                [&](HWND hWnd) {
                    pBenchDriver = std::make_unique<fwup::CBenchTestDriver>(hWnd, benchHook);
                    pBenchDriver->Start();
                },
                [&](WPARAM nTimerId) { return pBenchDriver && pBenchDriver->OnTimer(nTimerId); });
        };
    }
    const int nCode = fwup::RunWindowProgram(hInstance, rest, hooks);
    if (nCode != 0) {
        return nCode;
    }
    if (bBench) {
        return pBenchDriver ? pBenchDriver->ExitCode() : 1;
    }
    return pDriver ? pDriver->ExitCode() : 1;
}
