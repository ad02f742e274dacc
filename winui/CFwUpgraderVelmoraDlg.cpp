#include "winui/CFwUpgraderVelmoraDlg.h"

#include "device/FirmwareFile.h"
#include "serial/WideText.h"
#include "winui/CAboutDlg.h"
#include "winui/CTestDriver.h"
#include "winui/WinText.h"
#include "winui/resource.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdarg>
#include <vector>

namespace fwup {

int g_nBusyCount = 0;
CFwUpgraderVelmoraDlg* g_pMainDlg = nullptr;

namespace {

// Posted to itself on activation: the focus the dialog gave back has arrived.
constexpr UINT WM_FOCUS_RESTORED = WM_APP + 2;

std::wstring WindowText(HWND hWnd) {
    const int nLength = ::GetWindowTextLengthW(hWnd);
    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    const int nRead = ::GetWindowTextW(hWnd, strText.data(), nLength + 1);
    strText.resize(static_cast<size_t>(nRead > 0 ? nRead : 0));
    return strText;
}

// The message boxes' caption: the program's file name without its extension,
// as the platform names an application that gives no name of its own.
const std::wstring& ProgramName() {
    static const std::wstring strName = [] {
        std::vector<wchar_t> path(MAX_PATH);
        DWORD nLength = 0;
        while ((nLength = ::GetModuleFileNameW(nullptr, path.data(),
                                               static_cast<DWORD>(path.size()))) == path.size() &&
               path.size() < 32768) {
            path.resize(path.size() * 2);
        }
        std::wstring strPath(path.data(), nLength);
        const size_t nSlash = strPath.find_last_of(L"\\/");
        std::wstring strFile = nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
        const size_t nDot = strFile.rfind(L'.');
        if (nDot != std::wstring::npos && nDot > 0) {
            strFile.erase(nDot);
        }
        return strFile.empty() ? std::wstring(L"fwupgraderVelmora") : strFile;
    }();
    return strName;
}

} // namespace

CFwUpgraderVelmoraDlg::CFwUpgraderVelmoraDlg(const WindowOptions& options, CUnitRecordLog* pRecords)
    : m_options(options), m_pRecords(pRecords) {}

CFwUpgraderVelmoraDlg::~CFwUpgraderVelmoraDlg() {
    // The window is gone and its workers joined (WM_DESTROY); this only frees.
    m_pWorkflows.reset();
    if (m_hIcon != nullptr) {
        ::DestroyIcon(m_hIcon);
    }
    if (m_hSmallIcon != nullptr) {
        ::DestroyIcon(m_hSmallIcon);
    }
    if (g_pMainDlg == this) {
        g_pMainDlg = nullptr;
    }
}

void CFwUpgraderVelmoraDlg::DoModal(HINSTANCE hInstance) {
    m_hInstance = hInstance;
    m_hIcon = static_cast<HICON>(::LoadImageW(hInstance, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                              IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                              ::GetSystemMetrics(SM_CYICON), 0));
    m_hSmallIcon = static_cast<HICON>(::LoadImageW(hInstance, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                   IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), 0));
    ::DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_FWUPGRADERVELMORA_DIALOG), nullptr,
                      DialogProc, reinterpret_cast<LPARAM>(this));
}

int CFwUpgraderVelmoraDlg::TestExitCode() const {
    return m_pTestDriver ? m_pTestDriver->ExitCode() : 0;
}

// --- Message routing -------------------------------------------------------------

INT_PTR CALLBACK CFwUpgraderVelmoraDlg::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam,
                                                   LPARAM lParam) {
    if (nMsg == WM_INITDIALOG) {
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        reinterpret_cast<CFwUpgraderVelmoraDlg*>(lParam)->m_hWnd = hWnd;
    }
    auto* pDlg = reinterpret_cast<CFwUpgraderVelmoraDlg*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    return pDlg != nullptr ? pDlg->HandleMessage(nMsg, wParam, lParam) : FALSE;
}

INT_PTR CFwUpgraderVelmoraDlg::HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE; // the platform puts the focus on the first control
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
        if (::IsIconic(m_hWnd)) {
            OnPaint();
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return TRUE;
    case WM_SETCURSOR:
        if (g_nBusyCount > 0 || m_bConnecting) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_ACTIVATE:
        // The dialog gives the focus back to its control after this message: that
        // is no new visit of the port list.
        if (LOWORD(wParam) != WA_INACTIVE) {
            m_bRestoringFocus = true;
            ::PostMessageW(m_hWnd, WM_FOCUS_RESTORED, 0, 0);
        }
        return FALSE;
    case WM_FOCUS_RESTORED:
        m_bRestoringFocus = false;
        return TRUE;
    case WM_WORKFLOW_REPORT: {
        std::unique_ptr<WorkflowReport> pReport = CWorkflowController::TakeReport(lParam);
        m_pWorkflows->Settle(*pReport);
        OnWorkflowReport(*pReport);
        return TRUE;
    }
    case WM_TIMER:
        return m_pTestDriver && m_pTestDriver->OnTimer(wParam) ? TRUE : FALSE;
    case WM_DESTROY:
        // Ended by EndDialog, which only comes when no run or loop is busy; a
        // connect step may still run and is waited for.
        m_pWorkflows->Shutdown();
        m_pSession.reset();
        return FALSE;
    default:
        return FALSE;
    }
}

void CFwUpgraderVelmoraDlg::OnCommand(int nId, int nCode) {
    switch (nId) {
    case IDC_PORT:
        if (nCode == CBN_DROPDOWN || (nCode == CBN_SETFOCUS && !m_bRestoringFocus)) {
            RefreshPortList();
        } else if (nCode == CBN_SELCHANGE) {
            OnPortSelChange();
        }
        break;
    case IDC_AREA:
        if (nCode == CBN_SELCHANGE) {
            OnAreaSelChange();
        }
        break;
    case IDC_UPLOAD:
    case IDC_LOAD:
    case IDC_CONNECT:
    case IDC_AUTO_MODE:
        if (nCode != BN_CLICKED) {
            break;
        }
        if (nId == IDC_UPLOAD) {
            OnUpload();
        } else if (nId == IDC_LOAD) {
            OnLoadBinaryFile();
        } else if (nId == IDC_CONNECT) {
            OnConnect();
        } else {
            OnAutoMode();
        }
        break;
    case IDOK:
        OnOK();
        break;
    case IDCANCEL:
        OnCancel();
        break;
    default:
        break;
    }
}

void CFwUpgraderVelmoraDlg::OnWorkflowReport(WorkflowReport& report) {
    switch (report.eKind) {
    case ReportKind::ConnectFinished:
        OnConnectFinished(*report.pConnect);
        break;
    case ReportKind::Stage:
        OnStatus(report.nStage, report.status);
        break;
    case ReportKind::RecordFailed:
        AddLog("%s\n", report.status.strMessage.c_str());
        break;
    case ReportKind::ManualRunFinished:
        OnManualRunFinished();
        break;
    case ReportKind::AutoLoopStarted:
        OnAutoLoopStarted();
        break;
    case ReportKind::AutoSearching:
        OnAutoSearching();
        break;
    case ReportKind::AutoNothingFound:
        OnAutoNothingFound(report.nSearchPos);
        break;
    case ReportKind::AutoDeviceFound:
        OnAutoDeviceFound();
        break;
    case ReportKind::RemoveDeviceAsked:
        OnRemoveDeviceAsked();
        break;
    case ReportKind::AutoLoopEnded:
        OnAutoLoopEnded();
        break;
    }
}

// --- Start-up ----------------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnInitDialog() {
    // The system menu: a separator, then the About entry.
    if (HMENU hSysMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t szAbout[128] = {};
        if (::LoadStringW(m_hInstance, IDS_ABOUTBOX, szAbout, 128) > 0) {
            ::AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(hSysMenu, MF_STRING, IDM_ABOUTBOX, szAbout);
        }
    }
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    g_pMainDlg = this;

    const auto item = [this](int nId) { return ::GetDlgItem(m_hWnd, nId); };
    m_hUpload = item(IDC_UPLOAD);
    m_hArea = item(IDC_AREA);
    m_hPort = item(IDC_PORT);
    m_hLoad = item(IDC_LOAD);
    m_hFileInfo = item(IDC_FILE_INFO);
    m_hFilePath = item(IDC_FILE_PATH);
    m_hAreaText = item(IDC_AREA_TEXT);
    m_hLog = item(IDC_LOG);
    m_hProgress = item(IDC_PROGRESS);
    m_hDeviceState = item(IDC_DEVICE_STATE);
    m_hConnect = item(IDC_CONNECT);
    m_hSerial = item(IDC_SERIAL);
    m_hStatus = item(IDC_STATUS);
    m_hAutoMode = item(IDC_AUTO_MODE);
    m_hAutoProgress = item(IDC_AUTO_PROGRESS);
    m_pWorkflows = std::make_unique<CWorkflowController>(m_hWnd, m_pRecords);
    if (m_pRecords != nullptr) {
        AddLog("Records go to %s\n", m_pRecords->StoreName().c_str());
    }

    m_pSegments.reset();
    m_nBootInfo = -1;
    m_optVersion.reset();
    ::EnableWindow(m_hUpload, FALSE);
    // Both boxes hold exactly what AppendText plans for.
    ::SendMessageW(m_hLog, EM_SETLIMITTEXT, kTextBoxCapacity, 0);
    ::SendMessageW(m_hFileInfo, EM_SETLIMITTEXT, kTextBoxCapacity, 0);

    RefreshPortList();
    ::SendMessageW(m_hArea, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"CODE"));
    ::SendMessageW(m_hPort, CB_SETCUEBANNER, 0, reinterpret_cast<LPARAM>(L"select comport"));
    ::SendMessageW(m_hArea, CB_SETCUEBANNER, 0, reinterpret_cast<LPARAM>(L"select area"));
    ::SendMessageW(m_hArea, CB_SETCURSEL, 0, 0);
    SelectArea();
    SetAutoMarquee(false);

    m_strFirmwarePath.clear();
    m_pRequest = std::make_unique<UpdateRequest>();
    m_bCloseRequested = false;
    m_bAutoMode = false;
    m_bAutoStopped = true;
    m_pSession.reset();
    const std::wstring strCaption = WindowText(m_hWnd) + L" v" + kAppVersion;
    ::SetWindowTextW(m_hWnd, strCaption.c_str());

    if (m_options.TestHookOn()) {
        m_pTestDriver = std::make_unique<CTestDriver>(m_hWnd, m_options);
        m_pTestDriver->Start();
    }
}

// --- Log and status ------------------------------------------------------------

void CFwUpgraderVelmoraDlg::AppendText(HWND hBox, const std::wstring& strText) {
    const std::wstring strNew = KeepNewest(NormalizeLineBreaks(strText), kTextBoxCapacity);
    if (strNew.empty()) {
        return;
    }
    std::wstring strBox = WindowText(hBox);
    const size_t nDrop = CharsToDrop(strBox, strNew.size(), kTextBoxCapacity);
    if (nDrop > 0) {
        ::SendMessageW(hBox, EM_SETSEL, 0, static_cast<LPARAM>(nDrop));
        ::SendMessageW(hBox, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
        strBox.erase(0, nDrop);
    }
    const auto nEnd = static_cast<WPARAM>(strBox.size());
    ::SendMessageW(hBox, EM_SETSEL, nEnd, static_cast<LPARAM>(nEnd));
    ::SendMessageW(hBox, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(strNew.c_str()));
    const auto nCaret = static_cast<WPARAM>(CaretAfterAppend(strBox + strNew));
    ::SendMessageW(hBox, EM_SETSEL, nCaret, static_cast<LPARAM>(nCaret));
    ::SendMessageW(hBox, EM_SCROLLCARET, 0, 0);
}

void CFwUpgraderVelmoraDlg::AddLog(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const std::string strText = FormatUtf8V(pszFormat, args);
    va_end(args);
    AppendText(m_hLog, WideFromUtf8(strText));
}

void CFwUpgraderVelmoraDlg::SetStatusText(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const std::string strText = FormatUtf8V(pszFormat, args);
    va_end(args);
    ::SetWindowTextW(m_hStatus, WideFromUtf8(strText).c_str());
}

int32_t CFwUpgraderVelmoraDlg::ShowFileInfo(const std::wstring& strPath) {
    FileFacts facts;
    if (!ReadFileFacts(Utf8FromWide(strPath), facts)) {
        return -1;
    }
    ::SetWindowTextW(m_hFileInfo, L"");
    AppendText(m_hFileInfo,
               WideFromUtf8("file name : " + facts.strName + facts.strExtension + "\n"));
    AppendText(m_hFileInfo, L"file size : " + std::to_wstring(facts.nSize) + L"\n");
    AppendText(m_hFileInfo, WideFromUtf8("file date : " + facts.strDate + "\n"));
    return facts.nSize;
}

void CFwUpgraderVelmoraDlg::MessageBox(const std::wstring& strText, UINT nIcon) {
    ::MessageBoxW(m_hWnd, strText.c_str(), ProgramName().c_str(), MB_OK | nIcon);
}

// --- Window --------------------------------------------------------------------

bool CFwUpgraderVelmoraDlg::OnSysCommand(UINT nId) {
    if ((nId & ~0xFu) == IDM_ABOUTBOX) {
        CAboutDlg::DoModal(m_hInstance, m_hWnd);
        return true;
    }
    return false; // Close, Move and the rest: the default handling
}

void CFwUpgraderVelmoraDlg::OnPaint() {
    // Minimised: the icon centred in the client area.
    PAINTSTRUCT ps;
    HDC hDc = ::BeginPaint(m_hWnd, &ps);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDc), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    const int x = (rc.right - rc.left - cxIcon + 1) / 2;
    const int y = (rc.bottom - rc.top - cyIcon + 1) / 2;
    ::DrawIcon(hDc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &ps);
}

void CFwUpgraderVelmoraDlg::OnCancel() {
    m_bCloseRequested = true;
    if (m_bAutoStopped && !m_bManualRun) {
        // A connect step still running is waited for when the window goes.
        EndDialog();
        return;
    }
    if (!m_bAutoStopped) {
        // The loop ends its cycle, then closes the window.
        ::EnableWindow(m_hAutoMode, FALSE);
        m_bAutoMode = false;
        m_pWorkflows->StopAutoLoop();
    } else {
        // A manual run keeps using the port, the request and the controls: the
        // window closes when its job is over.
        SetStatusText("closing when the update is over ...");
    }
}

void CFwUpgraderVelmoraDlg::OnOK() {
    // The Enter key's default ending: never while a worker is busy.
    if (m_bManualRun || !m_bAutoStopped) {
        OnCancel();
        return;
    }
    ::EndDialog(m_hWnd, IDOK);
}

void CFwUpgraderVelmoraDlg::EndDialog() {
    ::EndDialog(m_hWnd, IDCANCEL);
}

bool CFwUpgraderVelmoraDlg::IsWorkBusy() const {
    return m_bManualRun || !m_bAutoStopped || m_bAutoMode;
}

// --- Area choice -----------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnAreaSelChange() {
    SelectArea();
}

void CFwUpgraderVelmoraDlg::SelectArea() {
    std::string strName;
    const LRESULT nSel = ::SendMessageW(m_hArea, CB_GETCURSEL, 0, 0);
    if (nSel >= 0) {
        const LRESULT nLength = ::SendMessageW(m_hArea, CB_GETLBTEXTLEN, nSel, 0);
        std::wstring strEntry(static_cast<size_t>(nLength > 0 ? nLength : 0) + 1, L'\0');
        ::SendMessageW(m_hArea, CB_GETLBTEXT, nSel, reinterpret_cast<LPARAM>(strEntry.data()));
        strEntry.resize(static_cast<size_t>(nLength > 0 ? nLength : 0));
        strName = Utf8FromWide(strEntry);
    }
    ::EnableWindow(m_hAreaText, FALSE);
    std::string strAreaText;
    if (const FirmwareArea* pRow = FindFirmwareArea(strName)) {
        if (std::string(pRow->pszName) == "CUSTOM") {
            ::EnableWindow(m_hAreaText, TRUE);
            m_dwAreaStart = 0;
            m_dwAreaSize = 0;
        } else {
            m_dwAreaStart = pRow->dwStart;
            m_dwAreaSize = pRow->dwSize;
            strAreaText = FormatAreaText(pRow->dwStart, pRow->dwSize);
        }
    }
    ::SetWindowTextW(m_hAreaText, WideFromUtf8(strAreaText).c_str());
}

} // namespace fwup
