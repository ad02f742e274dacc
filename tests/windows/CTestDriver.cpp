#include "tests/windows/CTestDriver.h"

#include "tests/windows/DriverSupport.h"

#include "serial/WideText.h"
#include "windowmodel/ControlIds.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

namespace fwup {

namespace {

constexpr UINT_PTR kTimerId = 0x7E57;
constexpr UINT kTickMs = 10;
// Common dialog control ids: the file type list, the file name box of the
// explorer-style dialog and of the old style.
constexpr int kFileTypeList = 0x470;
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;
// The text of a message box.
constexpr int kMessageBoxText = 0xFFFF;

std::wstring ClassOf(HWND hWnd) {
    wchar_t szClass[64] = {};
    ::GetClassNameW(hWnd, szClass, 64);
    return szClass;
}

std::wstring ComboEntry(HWND hCombo, LRESULT nIndex) {
    const LRESULT nLength = ::SendMessageW(hCombo, CB_GETLBTEXTLEN, nIndex, 0);
    if (nLength < 0) {
        return std::wstring();
    }
    std::wstring strEntry(static_cast<size_t>(nLength) + 1, L'\0');
    ::SendMessageW(hCombo, CB_GETLBTEXT, nIndex, reinterpret_cast<LPARAM>(strEntry.data()));
    strEntry.resize(static_cast<size_t>(nLength));
    return strEntry;
}

// True when strBox holds strLine as a whole line.
bool HasLine(const std::wstring& strBox, const std::wstring& strLine) {
    for (size_t nFrom = 0; nFrom <= strBox.size();) {
        size_t nEnd = strBox.find(L"\r\n", nFrom);
        if (nEnd == std::wstring::npos) {
            nEnd = strBox.size();
        }
        if (strBox.compare(nFrom, nEnd - nFrom, strLine) == 0) {
            return true;
        }
        nFrom = nEnd + 2;
    }
    return false;
}

struct ControlExpectation {
    int nId;
    const wchar_t* pszClass;
    const wchar_t* pszText; // nullptr: not compared
    bool bVisible;
    bool bEnabled;
};

// Dialog 102 (and the auto mode's two controls) as the window has just opened.
const ControlExpectation kInitialControls[] = {
    {IDC_UPLOAD, L"Button", L"UPLOAD", true, false},
    {IDC_AREA, L"ComboBox", nullptr, false, false},
    {IDC_PORT, L"ComboBox", nullptr, true, true},
    {IDC_LOAD, L"Button", L"Load Binary File", true, true},
    {IDC_FILE_INFO, L"Edit", L"", true, false},
    {IDC_FILE_PATH, L"Edit", L"", true, false},
    {IDC_AREA_TEXT, L"Edit", L"0x008000(176128)", false, false},
    {IDC_LOG, L"Edit", L"", true, false},
    {IDC_PROGRESS, L"msctls_progress32", nullptr, true, false},
    {IDC_DEVICE_STATE, L"Static", L"no device", true, true},
    {IDC_CONNECT, L"Button", L"Connect", true, false},
    {IDC_SERIAL, L"Static", L"", true, true},
    {IDC_STATUS, L"Edit", L"", true, false},
    {IDC_AUTO_MODE, L"Button", L"auto mode", true, true},
    {IDC_AUTO_PROGRESS, L"msctls_progress32", nullptr, true, true},
};

} // namespace

CTestDriver::CTestDriver(HWND hDlg, const TestHookOptions& options)
    : m_hDlg(hDlg), m_options(options), m_strFile(WideFromUtf8(options.strTestFile)) {}

void CTestDriver::Start() {
    m_dwStepStart = m_dwLastTick = ::GetTickCount();
    ::SetTimer(m_hDlg, kTimerId, kTickMs, nullptr);
}

bool CTestDriver::OnTimer(WPARAM nTimerId) {
    if (nTimerId != kTimerId) {
        return false;
    }
    const DWORD dwNow = ::GetTickCount();
    const DWORD dwGap = dwNow - m_dwLastTick;
    m_dwLastTick = dwNow;
    if (m_eStep == Step::WaitConnected && dwGap > m_dwGapConnect) {
        m_dwGapConnect = dwGap;
    } else if ((m_eStep == Step::WaitUpdated || m_eStep == Step::WaitRemoveBox) &&
               dwGap > m_dwGapUpdate) {
        m_dwGapUpdate = dwGap;
    }
    if (!m_bInTick) {
        m_bInTick = true;
        Tick();
        m_bInTick = false;
    }
    return true;
}

void CTestDriver::GoTo(Step eStep) {
    m_eStep = eStep;
    m_dwStepStart = ::GetTickCount();
}

bool CTestDriver::WithinLimit(DWORD dwLimitMs, const char* pszWaitingFor) {
    if (::GetTickCount() - m_dwStepStart <= dwLimitMs) {
        return true;
    }
    Fail(std::string("gave up after ") + std::to_string(dwLimitMs) + " ms waiting for " +
         pszWaitingFor);
    return false;
}

void CTestDriver::Note(const std::string& strLine) {
    m_lines.push_back(strLine);
}

void CTestDriver::Check(bool bHeld, const std::string& strWhat) {
    Note(std::string(bHeld ? "ok:   " : "FAIL: ") + strWhat);
    if (!bHeld) {
        ++m_nFailures;
    }
}

void CTestDriver::Fail(const std::string& strWhy) {
    Check(false, strWhy);
    GoTo(Step::Report);
}

bool CTestDriver::CloseUnexpectedBox() {
    HWND hBox = FindOwnedDialog(m_hDlg);
    if (hBox == nullptr) {
        return false;
    }
    const std::string strText = Utf8TextOf(::GetDlgItem(hBox, kMessageBoxText));
    ::PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    Fail("a message box came up: \"" + Utf8TextOf(hBox) + "\": " + strText);
    return true;
}

void CTestDriver::Tick() {
    const auto clickIfEnabled = [this](int nId, const char* pszName, Step eNext) {
        HWND hButton = Item(nId);
        if (!::IsWindowEnabled(hButton)) {
            Fail(std::string(pszName) + " is not enabled when the operator would press it");
            return;
        }
        ::PostMessageW(hButton, BM_CLICK, 0, 0);
        GoTo(eNext);
    };
    switch (m_eStep) {
    case Step::CheckWindow:
        if (!::IsWindowVisible(m_hDlg)) {
            WithinLimit(10000, "the window to show");
            return;
        }
        CheckTemplate();
        GoTo(m_options.bTestAuto ? Step::DropFile : Step::OpenAbout);
        return;
    case Step::OpenAbout:
        // What choosing the system menu's entry sends.
        ::PostMessageW(m_hDlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        GoTo(Step::CloseAbout);
        return;
    case Step::CloseAbout: {
        HWND hAbout = FindOwnedDialog(m_hDlg);
        if (hAbout == nullptr) {
            WithinLimit(5000, "the About box");
            return;
        }
        Check(TextOf(hAbout) == L"VelgoFWUp", "About box caption: " + Utf8TextOf(hAbout));
        Check(TextOf(::GetDlgItem(hAbout, IDC_ABOUT_VERSION)) == L"Version 2.0.0.1, (C) 2026",
              "About box second line: " + Utf8TextOf(::GetDlgItem(hAbout, IDC_ABOUT_VERSION)));
        ::PostMessageW(::GetDlgItem(hAbout, IDOK), BM_CLICK, 0, 0);
        GoTo(Step::OpenBench);
        return;
    }
    case Step::OpenBench:
        if (FindOwnedDialog(m_hDlg) != nullptr) {
            WithinLimit(5000, "the About box to close");
            return;
        }
        ::PostMessageW(m_hDlg, WM_SYSCOMMAND, IDM_BENCH, 0);
        GoTo(Step::CloseBench);
        return;
    case Step::CloseBench: {
        // Opened without an image: idle, so its close box ends it without a question.
        HWND hBench = FindOwnedDialog(m_hDlg);
        if (hBench == nullptr) {
            WithinLimit(10000, "the bench window from the system menu");
            return;
        }
        Check(TextOf(hBench) == L"VelgoFWUp bench", "bench window caption: " + Utf8TextOf(hBench));
        ::PostMessageW(hBench, WM_SYSCOMMAND, SC_CLOSE, 0);
        GoTo(Step::ChoosePort);
        return;
    }
    case Step::ChoosePort:
        if (FindOwnedDialog(m_hDlg) != nullptr) {
            WithinLimit(5000, "the bench window to close");
            return;
        }
        ChoosePort();
        return;
    case Step::WaitConnected:
        if (CloseUnexpectedBox()) {
            return;
        }
        if (TextOf(Item(IDC_CONNECT)) != L"disconnect") {
            WithinLimit(40000, "Connect's answer");
            return;
        }
        Note("connected in " + std::to_string(::GetTickCount() - m_dwStepStart) +
             " ms: device state \"" + Utf8TextOf(Item(IDC_DEVICE_STATE)) + "\", SN \"" +
             Utf8TextOf(Item(IDC_SERIAL)) + "\"");
        Check(HasLine(TextOf(Item(IDC_LOG)), L"connected."), "the log says connected.");
        Check(TextOf(Item(IDC_DEVICE_STATE)) != L"no device", "the device state shows the device");
        Check(::IsWindowEnabled(Item(IDC_LOAD)) && !::IsWindowEnabled(Item(IDC_PORT)),
              "connected: Load Binary File usable, the port list not");
        GoTo(Step::DropFile);
        return;
    case Step::DropFile:
        DropFile();
        return;
    case Step::WaitDropped:
        if (CloseUnexpectedBox()) {
            return;
        }
        if (TextOf(Item(IDC_FILE_PATH)) != m_strFile) {
            WithinLimit(5000, "the dropped file in the path box");
            return;
        }
        Check(TextOf(Item(IDC_FILE_INFO)).rfind(L"file name : ", 0) == 0,
              "the drop described the file: " + Utf8TextOf(Item(IDC_FILE_INFO)));
        if (m_options.bTestAuto) {
            Check(!::IsWindowEnabled(Item(IDC_UPLOAD)),
                  "disconnected, the drop left UPLOAD out of use");
            GoTo(Step::ClickAuto);
        } else {
            Check(::IsWindowEnabled(Item(IDC_UPLOAD)) != FALSE, "the drop made UPLOAD usable");
            GoTo(Step::LoadFile);
        }
        return;
    case Step::LoadFile:
        // The path box is emptied so the dialog's choice shows anew.
        ::SetWindowTextW(Item(IDC_FILE_PATH), L"");
        clickIfEnabled(IDC_LOAD, "Load Binary File", Step::ChooseInDialog);
        return;
    case Step::ChooseInDialog: {
        HWND hOpen = FindOwnedDialog(m_hDlg);
        if (hOpen == nullptr) {
            WithinLimit(15000, "the open-file dialog");
            return;
        }
        ChooseInDialog(hOpen);
        return;
    }
    case Step::WaitLoaded:
        if (FindOwnedDialog(m_hDlg) != nullptr) {
            if (TextOf(Item(IDC_FILE_PATH)) == m_strFile) {
                CloseUnexpectedBox(); // the file was taken, but a box complains
            } else {
                WithinLimit(10000, "the open-file dialog to take the file");
            }
            return;
        }
        Check(TextOf(Item(IDC_FILE_PATH)) == m_strFile,
              "the open-file dialog's file in the path box: " + Utf8TextOf(Item(IDC_FILE_PATH)));
        GoTo(Step::Upload);
        return;
    case Step::Upload:
        clickIfEnabled(IDC_UPLOAD, "UPLOAD", Step::WaitUpdated);
        return;
    case Step::WaitUpdated: {
        if (CloseUnexpectedBox()) {
            return;
        }
        // The run is over when the window has let the device go.
        if (TextOf(Item(IDC_CONNECT)) != L"Connect") {
            WithinLimit(120000, "the update to end");
            return;
        }
        const std::wstring strLog = TextOf(Item(IDC_LOG));
        m_bPassed = HasLine(strLog, L"FW Update Successful!");
        Note("update ended after " + std::to_string(::GetTickCount() - m_dwStepStart) + " ms");
        Check(m_bPassed, "the log says FW Update Successful!");
        Check(strLog.find(L"updating device[") != std::wstring::npos,
              "the log names the device being updated");
        Check(::SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0) == 100,
              "the progress bar stands at 100");
        Check(TextOf(Item(IDC_DEVICE_STATE)) == L"no device" &&
                  !::IsWindowEnabled(Item(IDC_UPLOAD)) && ::IsWindowEnabled(Item(IDC_PORT)),
              "after the run: no device, UPLOAD out of use, the port list usable");
        GoTo(Step::Report);
        return;
    }
    case Step::ClickAuto:
        clickIfEnabled(IDC_AUTO_MODE, "auto mode", Step::WaitRemoveBox);
        return;
    case Step::WaitRemoveBox: {
        if (TextOf(Item(IDC_STATUS)) == L"updating device ...") {
            m_bSawUpdating = true;
        }
        HWND hBox = FindOwnedDialog(m_hDlg);
        if (hBox == nullptr) {
            WithinLimit(60000, "\"Remove the device\"");
            return;
        }
        if (TextOf(::GetDlgItem(hBox, kMessageBoxText)) != L"Remove the device") {
            CloseUnexpectedBox();
            return;
        }
        AnswerRemoveBox(hBox);
        return;
    }
    case Step::WaitUnplugged: {
        if (!FileExists(".unplugged")) {
            WithinLimit(30000, "the device to be unplugged");
            return;
        }
        HWND hBox = FindOwnedDialog(m_hDlg);
        if (hBox == nullptr) {
            Fail("\"Remove the device\" went away by itself");
            return;
        }
        ::PostMessageW(::GetDlgItem(hBox, IDOK), BM_CLICK, 0, 0);
        GoTo(Step::WaitSearching);
        return;
    }
    case Step::WaitSearching:
        if (CloseUnexpectedBox()) {
            return;
        }
        if (TextOf(Item(IDC_STATUS)) != L"detecting device ..." ||
            !::IsWindowEnabled(Item(IDC_AUTO_MODE))) {
            WithinLimit(20000, "auto mode to search again");
            return;
        }
        Check(TextOf(Item(IDC_AUTO_MODE)) == L"cancel auto mode",
              "searching again, the button reads " + Utf8TextOf(Item(IDC_AUTO_MODE)));
        clickIfEnabled(IDC_AUTO_MODE, "cancel auto mode", Step::WaitAutoOff);
        return;
    case Step::WaitAutoOff:
        if (CloseUnexpectedBox()) {
            return;
        }
        if (TextOf(Item(IDC_AUTO_MODE)) != L"auto mode" ||
            !::IsWindowEnabled(Item(IDC_AUTO_MODE))) {
            WithinLimit(10000, "auto mode to end");
            return;
        }
        Note("auto mode ended " + std::to_string(::GetTickCount() - m_dwStepStart) +
             " ms after it was switched off");
        Check(::IsWindowEnabled(Item(IDC_PORT)) && ::IsWindowEnabled(Item(IDC_LOAD)) &&
                  !::IsWindowEnabled(Item(IDC_UPLOAD)),
              "after auto mode: the port list and Load Binary File usable, UPLOAD not");
        GoTo(Step::Report);
        return;
    case Step::Report:
        if (CloseUnexpectedBox()) {
            return; // Fail has come back here; the box is going
        }
        WriteReport();
        GoTo(m_options.strTestReport.empty() ? Step::Close : Step::WaitAck);
        return;
    case Step::WaitAck: {
        if (!FileExists(".done")) {
            if (::GetTickCount() - m_dwStepStart > 60000) {
                GoTo(Step::Close); // nobody answers: close anyway
            }
            return;
        }
        GoTo(Step::Close);
        return;
    }
    case Step::Close:
        // What the system menu's Close sends.
        ::PostMessageW(m_hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        GoTo(Step::Done);
        return;
    case Step::Done:
        // A window that will not close (a run that does not end) is not waited for forever.
        if (::GetTickCount() - m_dwStepStart > 15000) {
            ::ExitProcess(1);
        }
        return;
    }
}

void CTestDriver::CheckTemplate() {
    Check(TextOf(m_hDlg) == L"VelgoFWUp v1.1", "caption: " + Utf8TextOf(m_hDlg));
    HMENU hMenu = ::GetSystemMenu(m_hDlg, FALSE);
    const int nItems = hMenu != nullptr ? ::GetMenuItemCount(hMenu) : 0;
    wchar_t szAbout[128] = {};
    wchar_t szBench[128] = {};
    if (nItems >= 3) {
        ::GetMenuStringW(hMenu, static_cast<UINT>(nItems - 1), szAbout, 128, MF_BYPOSITION);
        ::GetMenuStringW(hMenu, static_cast<UINT>(nItems - 2), szBench, 128, MF_BYPOSITION);
    }
    Check(nItems >= 3 && ::GetMenuItemID(hMenu, nItems - 1) == IDM_ABOUTBOX &&
              std::wstring(szAbout) == L"About VelgoFWUp(&A)..." &&
              ::GetMenuItemID(hMenu, nItems - 2) == IDM_BENCH &&
              std::wstring(szBench) == L"Bench..." &&
              (::GetMenuState(hMenu, static_cast<UINT>(nItems - 3), MF_BYPOSITION) &
               MF_SEPARATOR) != 0,
          "the system menu ends with a separator, " + Utf8FromWide(szBench) + " and " +
              Utf8FromWide(szAbout));
    // Registered for restart with the program's own arguments. Wine 8 keeps no
    // registration (E_NOTIMPL); there the test script reads Wine's trace of the call.
    wchar_t szRestart[RESTART_MAX_CMD_LINE] = {};
    DWORD dwRestartChars = RESTART_MAX_CMD_LINE;
    DWORD dwRestartFlags = 0;
    const HRESULT hrRestart = ::GetApplicationRestartSettings(::GetCurrentProcess(), szRestart,
                                                              &dwRestartChars, &dwRestartFlags);
    if (hrRestart == E_NOTIMPL) {
        Note("note: the platform does not report restart registrations");
    } else {
        const std::wstring strLine = ::GetCommandLineW();
        const std::wstring strArgs = szRestart;
        Check(SUCCEEDED(hrRestart) && dwRestartFlags == 0 &&
                  strArgs.rfind(L"--test-port ", 0) == 0 && strLine.size() > strArgs.size() &&
                  strLine.compare(strLine.size() - strArgs.size(), strArgs.size(), strArgs) == 0,
              "registered for restart with its own arguments: " + Utf8FromWide(strArgs));
    }
    for (const ControlExpectation& e : kInitialControls) {
        HWND hControl = Item(e.nId);
        const std::string strId = std::to_string(e.nId);
        if (hControl == nullptr) {
            Check(false, "control " + strId + " exists");
            continue;
        }
        const bool bClass = ::lstrcmpiW(ClassOf(hControl).c_str(), e.pszClass) == 0;
        // With --record the log's first line says where the records go.
        const std::wstring strText =
            e.nId == IDC_LOG && !m_options.strRecordPath.empty()
                ? L"Records go to " + WideFromUtf8(m_options.strRecordPath) + L"\r\n"
                : std::wstring(e.pszText != nullptr ? e.pszText : L"");
        const bool bText = e.pszText == nullptr || TextOf(hControl) == strText;
        const bool bVisible = (::IsWindowVisible(hControl) != FALSE) == e.bVisible;
        const bool bEnabled = (::IsWindowEnabled(hControl) != FALSE) == e.bEnabled;
        Check(bClass && bText && bVisible && bEnabled,
              "control " + strId + " " + Utf8FromWide(ClassOf(hControl)) + " \"" +
                  Utf8TextOf(hControl) + "\"" + (bVisible ? "" : " (visibility)") +
                  (bEnabled ? "" : " (enabled state)"));
    }
}

void CTestDriver::ChoosePort() {
    HWND hPort = Item(IDC_PORT);
    // Opening the list refills it (CBN_DROPDOWN), as the operator's click does.
    ::SendMessageW(hPort, CB_SHOWDROPDOWN, TRUE, 0);
    ::SendMessageW(hPort, CB_SHOWDROPDOWN, FALSE, 0);
    const std::wstring strWanted = L"(" + WideFromUtf8(m_options.strTestPort) + L")";
    const LRESULT nCount = ::SendMessageW(hPort, CB_GETCOUNT, 0, 0);
    std::string strListed;
    LRESULT nFound = -1;
    for (LRESULT i = 0; i < nCount; ++i) {
        const std::wstring strEntry = ComboEntry(hPort, i);
        strListed += (strListed.empty() ? "" : ", ") + Utf8FromWide(strEntry);
        if (nFound < 0 && strEntry.size() >= strWanted.size() &&
            strEntry.compare(strEntry.size() - strWanted.size(), strWanted.size(), strWanted) ==
                0) {
            nFound = i;
        }
    }
    Note("port list: " + strListed);
    if (nFound < 0) {
        Fail(m_options.strTestPort + " is not in the port list");
        return;
    }
    // The choice, and the notification a choice in the list sends.
    ::SendMessageW(hPort, CB_SETCURSEL, static_cast<WPARAM>(nFound), 0);
    ::SendMessageW(m_hDlg, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(hPort));
    HWND hConnect = Item(IDC_CONNECT);
    if (!::IsWindowEnabled(hConnect)) {
        Fail("Connect is not enabled after a port was chosen");
        return;
    }
    ::PostMessageW(hConnect, BM_CLICK, 0, 0);
    GoTo(Step::WaitConnected);
}

void CTestDriver::DropFile() {
    // The HDROP the shell hands a window: DROPFILES, then the wide paths, each
    // ending in a zero, the list ending in another. The window frees it (DragFinish).
    RECT rc;
    ::GetWindowRect(Item(IDC_FILE_PATH), &rc);
    ::MapWindowPoints(nullptr, m_hDlg, reinterpret_cast<POINT*>(&rc), 2);
    const size_t nBytes = sizeof(DROPFILES) + (m_strFile.size() + 2) * sizeof(wchar_t);
    HGLOBAL hDrop = ::GlobalAlloc(GHND, nBytes);
    if (hDrop == nullptr) {
        Fail("no memory for the drop");
        return;
    }
    auto* pFiles = static_cast<DROPFILES*>(::GlobalLock(hDrop));
    pFiles->pFiles = sizeof(DROPFILES);
    pFiles->pt.x = (rc.left + rc.right) / 2;
    pFiles->pt.y = (rc.top + rc.bottom) / 2;
    pFiles->fNC = FALSE;
    pFiles->fWide = TRUE;
    auto* pszPaths =
        reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(pFiles) + sizeof(DROPFILES));
    std::wmemcpy(pszPaths, m_strFile.c_str(), m_strFile.size() + 1);
    ::GlobalUnlock(hDrop);
    if (!::PostMessageW(m_hDlg, WM_DROPFILES, reinterpret_cast<WPARAM>(hDrop), 0)) {
        ::GlobalFree(hDrop);
        Fail("the drop could not be posted");
        return;
    }
    GoTo(Step::WaitDropped);
}

void CTestDriver::ChooseInDialog(HWND hOpen) {
    HWND hTypes = ::GetDlgItem(hOpen, kFileTypeList);
    std::string strTypes;
    const LRESULT nTypes = hTypes != nullptr ? ::SendMessageW(hTypes, CB_GETCOUNT, 0, 0) : 0;
    for (LRESULT i = 0; i < nTypes; ++i) {
        strTypes += (i == 0 ? "" : " / ") + Utf8FromWide(ComboEntry(hTypes, i));
    }
    const LRESULT nChosenType = hTypes != nullptr ? ::SendMessageW(hTypes, CB_GETCURSEL, 0, 0) : -1;
    Check(strTypes == "Binary (*.bin) / All (*.*)" && nChosenType == 0,
          "open-file dialog \"" + Utf8TextOf(hOpen) + "\", file types " + strTypes +
              ", the first chosen");
    HWND hName = ::GetDlgItem(hOpen, kFileNameCombo);
    if (hName == nullptr) {
        hName = ::GetDlgItem(hOpen, kFileNameEdit);
    }
    if (hName == nullptr) {
        Fail("the open-file dialog has no file name box");
        ::PostMessageW(hOpen, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    // What typing the path and pressing Open does.
    ::SetWindowTextW(hName, m_strFile.c_str());
    ::PostMessageW(hOpen, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(hOpen, IDOK)));
    GoTo(Step::WaitLoaded);
}

void CTestDriver::AnswerRemoveBox(HWND hBox) {
    const std::wstring strLog = TextOf(Item(IDC_LOG));
    m_bPassed = HasLine(strLog, L"FW Update Successful!");
    Note("\"Remove the device\" after " + std::to_string(::GetTickCount() - m_dwStepStart) +
         " ms, caption \"" + Utf8TextOf(hBox) + "\"");
    Check(m_bPassed, "the log says FW Update Successful!");
    Check(m_bSawUpdating, "the status line read \"updating device ...\" during the job");
    Check(TextOf(Item(IDC_AUTO_MODE)) == L"cancel auto mode" &&
              !::IsWindowEnabled(Item(IDC_AUTO_MODE)),
          "while the box is up: \"cancel auto mode\", out of use");
    Check(!::IsWindowEnabled(Item(IDC_UPLOAD)) && !::IsWindowEnabled(Item(IDC_CONNECT)) &&
              !::IsWindowEnabled(Item(IDC_PORT)) && !::IsWindowEnabled(Item(IDC_LOAD)),
          "auto mode keeps UPLOAD, Connect, the port list and Load Binary File out of use");
    // The operator takes the device away before answering.
    const std::wstring strMarker = WideFromUtf8(m_options.strTestReport + ".unplug");
    if (FILE* pFile = ::_wfopen(strMarker.c_str(), L"wb")) {
        std::fclose(pFile);
    }
    GoTo(Step::WaitUnplugged);
}

bool CTestDriver::FileExists(const char* pszSuffix) const {
    const std::wstring strPath = WideFromUtf8(m_options.strTestReport + pszSuffix);
    return ::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CTestDriver::WriteReport() {
    Note("largest gap between 10 ms timer ticks: " + std::to_string(m_dwGapConnect) +
         " ms while connecting, " + std::to_string(m_dwGapUpdate) + " ms while updating");
    Note("status line: " + Utf8TextOf(Item(IDC_STATUS)));
    Note("file description:\n" + Utf8TextOf(Item(IDC_FILE_INFO)));
    Note("log:\n" + Utf8TextOf(Item(IDC_LOG)));
    Note(ExitCode() == 0 ? "verdict: pass" : "verdict: FAIL");
    if (m_options.strTestReport.empty()) {
        return;
    }
    if (!WriteReportFile(m_options.strTestReport, m_lines)) {
        ++m_nFailures;
    }
}

} // namespace fwup
