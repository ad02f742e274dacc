#include "winui/CFwUpgraderVelmoraDlg.h"

#include "serial/WideText.h"
#include "windowmodel/BoxText.h"
#include "windowmodel/ControlIds.h"
#include "windowmodel/WindowTexts.h"
#include "winui/CAboutDlg.h"
#include "winui/WinText.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <vector>

namespace fwup {

namespace {

// Posted to itself on activation: the focus the dialog gave back has arrived.
constexpr UINT WM_FOCUS_RESTORED = WM_APP + 2;
// Posted by the model's workers: run what they queued.
constexpr UINT WM_MODEL_DRAIN = WM_APP + 1;

std::wstring WideFromUtf16(const std::u16string& strText) {
    return std::wstring(strText.begin(), strText.end()); // both UTF-16 here
}

} // namespace

CFwUpgraderVelmoraDlg::CFwUpgraderVelmoraDlg(IRecordSink* pRecords) : m_pRecords(pRecords) {}

CFwUpgraderVelmoraDlg::~CFwUpgraderVelmoraDlg() {
    // The window is gone and its workers joined (WM_DESTROY); this only frees.
    m_pModel.reset();
    if (m_hIcon != nullptr) {
        ::DestroyIcon(m_hIcon);
    }
    if (m_hSmallIcon != nullptr) {
        ::DestroyIcon(m_hSmallIcon);
    }
}

void CFwUpgraderVelmoraDlg::SetBenchOpener(
    std::function<void(HWND, const std::string&)> fnOpenBench) {
    m_fnOpenBench = std::move(fnOpenBench);
}

void CFwUpgraderVelmoraDlg::SetStationProfile(const StationProfile& profile,
                                              const std::string& strImage) {
    m_optProfile = profile;
    m_strProfileImage = strImage;
}

void CFwUpgraderVelmoraDlg::SetHooks(std::function<void(HWND)> fnShown,
                                     std::function<bool(WPARAM)> fnTimer) {
    m_fnShown = std::move(fnShown);
    m_fnTimer = std::move(fnTimer);
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

INT_PTR CFwUpgraderVelmoraDlg::HandleMessage(UINT nMsg, WPARAM wParam, LPARAM) {
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
        if (m_pModel && m_pModel->IsWaitCursor()) {
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
    case WM_MODEL_DRAIN:
        m_pModel->Drain();
        return TRUE;
    case WM_TIMER:
        return m_fnTimer && m_fnTimer(wParam) ? TRUE : FALSE;
    case WM_DESTROY:
        // Ended by EndDialog, which only comes when no run or loop is busy; a
        // connect step may still run and is waited for.
        m_pModel->Shutdown();
        return FALSE;
    default:
        return FALSE;
    }
}

void CFwUpgraderVelmoraDlg::OnCommand(int nId, int nCode) {
    switch (nId) {
    case IDC_PORT:
        if (nCode == CBN_DROPDOWN || (nCode == CBN_SETFOCUS && !m_bRestoringFocus)) {
            m_pModel->RefreshPortList();
        } else if (nCode == CBN_SELCHANGE) {
            m_pModel->OnPortSelChange(ComboChoice(Item(Control::Port)));
        }
        break;
    case IDC_AREA:
        if (nCode == CBN_SELCHANGE) {
            m_pModel->OnAreaSelChange(ComboChoice(Item(Control::Area)).value_or(""));
        }
        break;
    case IDC_UPLOAD:
        if (nCode == BN_CLICKED) {
            m_pModel->OnUpload();
        }
        break;
    case IDC_LOAD:
        if (nCode == BN_CLICKED) {
            m_pModel->OnLoadBinaryFile();
        }
        break;
    case IDC_CONNECT:
        if (nCode == BN_CLICKED) {
            m_pModel->OnConnect();
        }
        break;
    case IDC_AUTO_MODE:
        if (nCode == BN_CLICKED) {
            m_pModel->OnAutoMode();
        }
        break;
    case IDOK:
        // The Enter key's default ending: never while a worker is busy.
        if (m_pModel->OnOK()) {
            ::EndDialog(m_hWnd, IDOK);
        }
        break;
    case IDCANCEL:
        m_pModel->OnCancel();
        break;
    default:
        break;
    }
}

// --- Start-up ----------------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnInitDialog() {
    // The system menu: a separator, the bench window's entry, then the About entry.
    if (HMENU hSysMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        ::AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
        if (m_fnOpenBench) {
            ::AppendMenuW(hSysMenu, MF_STRING, IDM_BENCH, WideFromUtf8(kTextBenchEntry).c_str());
        }
        ::AppendMenuW(hSysMenu, MF_STRING, IDM_ABOUTBOX, WideFromUtf8(kTextAboutEntry).c_str());
    }
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    // Both boxes hold exactly what the model plans for.
    ::SendMessageW(Item(Control::Log), EM_SETLIMITTEXT, kTextBoxCapacity, 0);
    ::SendMessageW(Item(Control::FileInfo), EM_SETLIMITTEXT, kTextBoxCapacity, 0);
    ::SendMessageW(Item(Control::Port), CB_SETCUEBANNER, 0,
                   reinterpret_cast<LPARAM>(WideFromUtf8(kTextPortCue).c_str()));
    ::SendMessageW(Item(Control::Area), CB_SETCUEBANNER, 0,
                   reinterpret_cast<LPARAM>(WideFromUtf8(kTextAreaCue).c_str()));

    IWindowView& view = *this;
    const HWND hWnd = m_hWnd;
    m_pModel = std::make_unique<CMainWindowModel>(
        view, [hWnd] { return ::PostMessageW(hWnd, WM_MODEL_DRAIN, 0, 0) != FALSE; });
    m_pModel->Init();
    m_pModel->SetRecordSink(m_pRecords);
    m_pModel->SetReadBack(m_bVerify, m_optExpectVersion);
    if (m_optProfile) {
        m_pModel->SetStationProfile(*m_optProfile, m_strProfileImage);
    }
    ::SetWindowTextW(m_hWnd, WideFromUtf8(MainWindowCaption()).c_str());
    if (m_fnShown) {
        m_fnShown(m_hWnd);
    }
}

// --- Window --------------------------------------------------------------------

bool CFwUpgraderVelmoraDlg::OnSysCommand(UINT nId) {
    if ((nId & ~0xFu) == IDM_ABOUTBOX) {
        CAboutDlg::DoModal(m_hInstance, m_hWnd);
        return true;
    }
    if ((nId & ~0xFu) == IDM_BENCH && m_fnOpenBench) {
        if (m_pModel->HoldsReader()) {
            ShowMessage(kTextBenchRefused, BoxIcon::Information);
        } else {
            m_fnOpenBench(m_hWnd, m_pModel->HasImage() ? m_pModel->FirmwarePath() : std::string());
        }
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

void CFwUpgraderVelmoraDlg::OnDropFiles(HDROP hDrop) {
    POINT ptDrop = {};
    ::DragQueryPoint(hDrop, &ptDrop);
    std::wstring strPath;
    const UINT nLength = ::DragQueryFileW(hDrop, 0, nullptr, 0);
    if (nLength > 0) {
        strPath.resize(nLength + 1);
        ::DragQueryFileW(hDrop, 0, strPath.data(), nLength + 1);
        strPath.resize(nLength);
    }
    ::DragFinish(hDrop);
    // Disabled controls count (both drop targets are disabled); hidden ones do not.
    HWND hTarget = ::ChildWindowFromPointEx(m_hWnd, ptDrop, CWP_SKIPINVISIBLE);
    if (hTarget != nullptr && hTarget != m_hWnd) {
        m_pModel->OnDropFiles(static_cast<Control>(::GetDlgCtrlID(hTarget)), Utf8FromWide(strPath));
    }
}

HWND CFwUpgraderVelmoraDlg::Item(Control eControl) const {
    return ::GetDlgItem(m_hWnd, static_cast<int>(eControl));
}

std::optional<std::string> CFwUpgraderVelmoraDlg::ComboChoice(HWND hCombo) const {
    const LRESULT nSel = ::SendMessageW(hCombo, CB_GETCURSEL, 0, 0);
    if (nSel < 0) {
        return std::nullopt;
    }
    const LRESULT nLength = ::SendMessageW(hCombo, CB_GETLBTEXTLEN, nSel, 0);
    std::wstring strEntry(static_cast<size_t>(nLength > 0 ? nLength : 0) + 1, L'\0');
    ::SendMessageW(hCombo, CB_GETLBTEXT, nSel, reinterpret_cast<LPARAM>(strEntry.data()));
    strEntry.resize(static_cast<size_t>(nLength > 0 ? nLength : 0));
    return Utf8FromWide(strEntry);
}

// --- What the model shows -------------------------------------------------------------

void CFwUpgraderVelmoraDlg::SetControlText(Control eControl, const std::string& strText) {
    switch (eControl) {
    case Control::Port:
    case Control::Area:
    case Control::Progress:
    case Control::AutoProgress:
        return; // no text of their own
    default:
        ::SetWindowTextW(Item(eControl), WideFromUtf8(strText).c_str());
    }
}

void CFwUpgraderVelmoraDlg::EnableControl(Control eControl, bool bEnable) {
    ::EnableWindow(Item(eControl), bEnable ? TRUE : FALSE);
}

void CFwUpgraderVelmoraDlg::SetProgress(Control eBar, int nPos) {
    ::SendMessageW(Item(eBar), PBM_SETPOS, static_cast<WPARAM>(nPos), 0);
}

void CFwUpgraderVelmoraDlg::SetMarquee(Control eBar, bool bOn) {
    // A bar with the marquee style shows no position: the style goes with the marquee.
    const HWND hBar = Item(eBar);
    const LONG_PTR nStyle = ::GetWindowLongPtrW(hBar, GWL_STYLE);
    if (bOn) {
        ::SetWindowLongPtrW(hBar, GWL_STYLE, nStyle | PBS_MARQUEE);
        ::SendMessageW(hBar, PBM_SETMARQUEE, TRUE, 50);
    } else {
        ::SendMessageW(hBar, PBM_SETMARQUEE, FALSE, 10);
        ::SetWindowLongPtrW(hBar, GWL_STYLE, nStyle & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    }
    ::InvalidateRect(hBar, nullptr, TRUE);
}

void CFwUpgraderVelmoraDlg::EditBox(Control eBox, size_t nDropFront,
                                    const std::u16string& strAppend, size_t nCaret) {
    const HWND hBox = Item(eBox);
    if (nDropFront >= static_cast<size_t>(::GetWindowTextLengthW(hBox))) {
        ::SetWindowTextW(hBox, L"");
    } else if (nDropFront > 0) {
        ::SendMessageW(hBox, EM_SETSEL, 0, static_cast<LPARAM>(nDropFront));
        ::SendMessageW(hBox, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    if (!strAppend.empty()) {
        const auto nEnd = static_cast<WPARAM>(::GetWindowTextLengthW(hBox));
        ::SendMessageW(hBox, EM_SETSEL, nEnd, static_cast<LPARAM>(nEnd));
        ::SendMessageW(hBox, EM_REPLACESEL, FALSE,
                       reinterpret_cast<LPARAM>(WideFromUtf16(strAppend).c_str()));
    }
    ::SendMessageW(hBox, EM_SETSEL, nCaret, static_cast<LPARAM>(nCaret));
    ::SendMessageW(hBox, EM_SCROLLCARET, 0, 0);
}

void CFwUpgraderVelmoraDlg::SetComboItems(Control eCombo, const std::vector<PortChoice>& items) {
    // The port list sorts itself (CBS_SORT); afterwards none is chosen.
    const HWND hCombo = Item(eCombo);
    ::SendMessageW(hCombo, CB_RESETCONTENT, 0, 0);
    for (const PortChoice& item : items) {
        ::SendMessageW(hCombo, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(WideFromUtf8(item.strName).c_str()));
    }
}

void CFwUpgraderVelmoraDlg::ChooseComboItem(Control eCombo, int nIndex) {
    ::SendMessageW(Item(eCombo), CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

void CFwUpgraderVelmoraDlg::SetPortHint(const std::string&) {
    // The dialog has no tooltips; a port's name already says which it is.
}

void CFwUpgraderVelmoraDlg::OpenPortList() {
    ::SendMessageW(Item(Control::Port), CB_SHOWDROPDOWN, TRUE, 0);
}

void CFwUpgraderVelmoraDlg::ShowMessage(const std::string& strText, BoxIcon eIcon) {
    ::MessageBoxW(m_hWnd, WideFromUtf8(strText).c_str(), ProgramName().c_str(),
                  MB_OK | (eIcon == BoxIcon::Information ? MB_ICONINFORMATION : 0));
}

void CFwUpgraderVelmoraDlg::SetWaitCursor(bool bOn) {
    // WM_SETCURSOR keeps it while the model says so.
    ::SetCursor(::LoadCursorW(nullptr, bOn ? IDC_WAIT : IDC_ARROW));
}

std::optional<std::string> CFwUpgraderVelmoraDlg::AskFirmwareFile() {
    return AskFirmwareFileDialog(m_hWnd); // modal to the window, as on Linux
}

void CFwUpgraderVelmoraDlg::EndDialog() {
    ::EndDialog(m_hWnd, IDCANCEL);
}

std::string CFwUpgraderVelmoraDlg::TextFromDevice(const std::string& strBytes) const {
    return Utf8FromWide(WideFromDevice(strBytes));
}

} // namespace fwup
