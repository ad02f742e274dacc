#include "winui/CBenchDlg.h"

#include "serial/WideText.h"
#include "windowmodel/ControlIds.h"
#include "windowmodel/WindowTexts.h"
#include "winui/WinText.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace fwup {

namespace {

// Posted by the model's workers: run what they queued.
constexpr UINT WM_MODEL_DRAIN = WM_APP + 1;
// The model's tick (coalesced bars, elapsed time).
constexpr UINT_PTR kTickTimerId = 1;
// Posted by the key filter: wParam one of the bench's menu entries.
constexpr UINT WM_BENCH_KEY = WM_APP + 2;
// Where the user's bench scale is kept.
constexpr wchar_t kSettingsKey[] = L"Software\\fwupgrader\\fwupgraderVelmora";
constexpr wchar_t kScaleValue[] = L"BenchScale";
// The table's font at 100 %: a little larger than the template's, read from a step back.
constexpr int kTableFontPercent = 125;

// The bench's keys, seen in the modal loop before the focused control takes them
// (a dialog's own procedure never gets WM_KEYDOWN): F2, Ctrl++, Ctrl+-, Ctrl+0.
LRESULT CALLBACK BenchKeyFilter(int nCode, WPARAM wParam, LPARAM lParam) {
    const auto* pMsg = reinterpret_cast<const MSG*>(lParam);
    if (nCode == MSGF_DIALOGBOX && pMsg->message == WM_KEYDOWN) {
        const HWND hRoot = ::GetAncestor(pMsg->hwnd, GA_ROOT);
        const bool bCtrl = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
        UINT nEntry = 0;
        if (pMsg->wParam == VK_F2 && !bCtrl) {
            nEntry = IDM_BENCH_BOARD;
        } else if (bCtrl && (pMsg->wParam == VK_OEM_PLUS || pMsg->wParam == VK_ADD)) {
            nEntry = IDM_BENCH_LARGER;
        } else if (bCtrl && (pMsg->wParam == VK_OEM_MINUS || pMsg->wParam == VK_SUBTRACT)) {
            nEntry = IDM_BENCH_SMALLER;
        } else if (bCtrl && (pMsg->wParam == '0' || pMsg->wParam == VK_NUMPAD0)) {
            nEntry = IDM_BENCH_NORMAL;
        }
        if (nEntry != 0 && hRoot != nullptr && ::GetDlgItem(hRoot, IDC_BENCH_BOARD) != nullptr) {
            ::PostMessageW(hRoot, WM_BENCH_KEY, nEntry, 0);
            return 1; // taken
        }
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

// The key filter for as long as the bench's modal loop runs.
class CKeyFilter {
public:
    CKeyFilter()
        : m_hHook(
              ::SetWindowsHookExW(WH_MSGFILTER, BenchKeyFilter, nullptr, ::GetCurrentThreadId())) {}
    ~CKeyFilter() {
        if (m_hHook != nullptr) {
            ::UnhookWindowsHookEx(m_hHook);
        }
    }
    CKeyFilter(const CKeyFilter&) = delete;
    CKeyFilter& operator=(const CKeyFilter&) = delete;

private:
    HHOOK m_hHook;
};

int LoadScale() {
    DWORD dwValue = 100;
    DWORD dwSize = sizeof dwValue;
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, kScaleValue, RRF_RT_REG_DWORD, nullptr,
                       &dwValue, &dwSize) != ERROR_SUCCESS) {
        return 100;
    }
    return static_cast<int>(dwValue);
}

void SaveScale(int nPercent) {
    HKEY hKey = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &hKey, nullptr) != ERROR_SUCCESS) {
        return; // not kept: the next bench starts at 100 %
    }
    const auto dwValue = static_cast<DWORD>(nPercent);
    ::RegSetValueExW(hKey, kScaleValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                     sizeof dwValue);
    ::RegCloseKey(hKey);
}

// Each column's width in dialog units, in BenchColumn's order.
constexpr int kColumnWidthsDu[kBenchColumnCount] = {36, 84, 48, 34, 40, 52, 52, 32, 32};

// The labels the template has room for, each before its field.
struct LabelPlace {
    int nId;
    BenchField eField;
};
constexpr LabelPlace kLabels[] = {
    {IDC_BENCH_LABEL_IMAGE, BenchField::ImageName},
    {IDC_BENCH_LABEL_RECORD, BenchField::Store},
    {IDC_BENCH_LABEL_STATION, BenchField::Station},
    {IDC_BENCH_LABEL_PASSED, BenchField::Passed},
    {IDC_BENCH_LABEL_FAILED, BenchField::Failed},
    {IDC_BENCH_LABEL_YIELD, BenchField::Yield},
    {IDC_BENCH_LABEL_UNITS_PER_HOUR, BenchField::UnitsPerHour},
    {IDC_BENCH_LABEL_ELAPSED, BenchField::Elapsed},
};

// Each field's control, in BenchField's order.
constexpr int kFieldIds[] = {IDC_BENCH_IMAGE_NAME,     IDC_BENCH_IMAGE_SIZE, IDC_BENCH_IMAGE_DATE,
                             IDC_BENCH_IMAGE_SHA,      IDC_BENCH_RECORD,     IDC_BENCH_STATION,
                             IDC_BENCH_PASSED,         IDC_BENCH_FAILED,     IDC_BENCH_YIELD,
                             IDC_BENCH_UNITS_PER_HOUR, IDC_BENCH_ELAPSED,    IDC_BENCH_STATUS};
static_assert(std::size(kFieldIds) == static_cast<size_t>(BenchField::Status) + 1);

int FieldId(BenchField eField) {
    return kFieldIds[static_cast<size_t>(eField)];
}

// Each button's control, in BenchButton's order.
constexpr int kButtonIds[] = {IDC_BENCH_LOAD, IDC_BENCH_START, IDC_BENCH_STOP, IDC_BENCH_STOP_NOW,
                              IDC_BENCH_RESET_COUNTERS};
static_assert(std::size(kButtonIds) == static_cast<size_t>(BenchButton::ResetCounters) + 1);

int ButtonId(BenchButton eButton) {
    return kButtonIds[static_cast<size_t>(eButton)];
}

// The result cell's background; the cell's text says the same in words.
COLORREF ToneColour(BenchTone eTone) {
    const std::optional<uint32_t> optRgb = BenchToneRgb(eTone);
    return optRgb ? RGB(*optRgb >> 16, (*optRgb >> 8) & 0xff, *optRgb & 0xff) : CLR_DEFAULT;
}

// The model's '\n' lines as the edit control's CR LF lines.
std::wstring EditLines(const std::string& strLines) {
    std::wstring strWide;
    for (const wchar_t ch : WideFromUtf8(strLines)) {
        if (ch == L'\n') {
            strWide += L'\r';
        }
        strWide += ch;
    }
    return strWide;
}

} // namespace

CBenchDlg::CBenchDlg(BenchOptions options, IRecordSink* pRecords)
    : m_options(std::move(options)), m_pRecords(pRecords) {}

CBenchDlg::~CBenchDlg() {
    // The window is gone and the loop joined (WM_DESTROY); this only frees.
    m_pModel.reset();
}

void CBenchDlg::SetHooks(std::function<void(HWND)> fnShown, std::function<bool(WPARAM)> fnTimer) {
    m_fnShown = std::move(fnShown);
    m_fnTimer = std::move(fnTimer);
}

bool CBenchDlg::DoModal(HINSTANCE hInstance, HWND hOwner, std::string& strError) {
    m_hInstance = hInstance;
    m_strInitError.clear();
    const CKeyFilter keys;
    const INT_PTR nResult = ::DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_BENCH_DIALOG), hOwner,
                                              DialogProc, reinterpret_cast<LPARAM>(this));
    if (nResult == -1) {
        strError = "the bench window could not be created (error " +
                   std::to_string(::GetLastError()) + ")";
        return false;
    }
    strError = m_strInitError;
    return m_strInitError.empty();
}

// --- Message routing -------------------------------------------------------------

INT_PTR CALLBACK CBenchDlg::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_INITDIALOG) {
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        reinterpret_cast<CBenchDlg*>(lParam)->m_hWnd = hWnd;
    }
    auto* pDlg = reinterpret_cast<CBenchDlg*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    return pDlg != nullptr ? pDlg->HandleMessage(nMsg, wParam, lParam) : FALSE;
}

INT_PTR CBenchDlg::HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_INITDIALOG:
        if (!OnInitDialog()) {
            ::EndDialog(m_hWnd, IDABORT);
        }
        return TRUE;
    case WM_COMMAND:
        if (m_pModel) {
            OnCommand(LOWORD(wParam), HIWORD(wParam));
        }
        return TRUE;
    case WM_NOTIFY: {
        auto* pHeader = reinterpret_cast<NMHDR*>(lParam);
        if (pHeader->idFrom == IDC_BENCH_TABLE && pHeader->code == NM_CUSTOMDRAW) {
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT,
                                OnTableDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(lParam)));
            return TRUE;
        }
        if (pHeader->idFrom == IDC_BENCH_TABLE && pHeader->code == LVN_GETINFOTIPW) {
            auto* pTip = reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
            if (pTip->iItem >= 0 && static_cast<size_t>(pTip->iItem) < m_rows.size() &&
                pTip->cchTextMax > 0) {
                const std::wstring& strTip = m_rows[static_cast<size_t>(pTip->iItem)].strTip;
                const size_t nCount =
                    std::min(strTip.size(), static_cast<size_t>(pTip->cchTextMax - 1));
                std::copy_n(strTip.c_str(), nCount, pTip->pszText);
                pTip->pszText[nCount] = L'\0';
            }
            return TRUE;
        }
        return FALSE;
    }
    case WM_SYSCOMMAND:
        return m_pModel && OnSysCommand(static_cast<UINT>(wParam)) ? TRUE : FALSE;
    case WM_BENCH_KEY:
        if (m_pModel) {
            OnSysCommand(static_cast<UINT>(wParam));
        }
        return TRUE;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            Layout(LOWORD(lParam), HIWORD(lParam));
        }
        return TRUE;
    case WM_GETMINMAXINFO:
        if (m_initialClient.cx > 0) {
            // Never smaller than the template: the controls would overlap.
            RECT rc = {0, 0, m_initialClient.cx, m_initialClient.cy};
            ::AdjustWindowRectEx(&rc, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)),
                                 FALSE,
                                 static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
            auto* pInfo = reinterpret_cast<MINMAXINFO*>(lParam);
            pInfo->ptMinTrackSize = {rc.right - rc.left, rc.bottom - rc.top};
        }
        return TRUE;
    case WM_MODEL_DRAIN:
        if (m_pModel) {
            m_pModel->Drain();
        }
        return TRUE;
    case WM_TIMER:
        if (wParam == kTickTimerId) {
            if (m_pModel) {
                m_pModel->OnTick();
            }
            return TRUE;
        }
        return m_fnTimer && m_fnTimer(wParam) ? TRUE : FALSE;
    case WM_DESTROY:
        ::KillTimer(m_hWnd, kTickTimerId);
        if (m_hTableFont != nullptr) {
            ::SendMessageW(Table(), WM_SETFONT, 0, FALSE);
            ::DeleteObject(m_hTableFont);
            m_hTableFont = nullptr;
        }
        // Ended by EndWindow, when no reader is in flight; this joins the loop's
        // thread and waits for the last record.
        if (m_pModel) {
            m_pModel->Shutdown();
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void CBenchDlg::OnCommand(int nId, int nCode) {
    if (nCode != BN_CLICKED && nId != IDCANCEL) {
        return;
    }
    switch (nId) {
    case IDC_BENCH_LOAD:
        m_pModel->OnLoadBinaryFile();
        break;
    case IDC_BENCH_START:
        m_pModel->OnStart();
        break;
    case IDC_BENCH_STOP:
        m_pModel->OnStop();
        break;
    case IDC_BENCH_STOP_NOW:
        m_pModel->OnStopNow();
        break;
    case IDC_BENCH_RESET_COUNTERS:
        m_pModel->OnResetCounters();
        break;
    case IDCANCEL:
        // The close box and Esc: the model asks first while readers are in flight.
        m_pModel->OnClose();
        break;
    default:
        break; // Enter without a default button: nothing
    }
}

// --- Start-up ----------------------------------------------------------------------

bool CBenchDlg::OnInitDialog() {
    if (HICON hIcon = ::LoadIconW(m_hInstance, MAKEINTRESOURCEW(IDR_MAINFRAME))) {
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hIcon));
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hIcon));
    }
    // The model keeps the log bounded; the box takes whatever it holds.
    ::SendMessageW(Item(IDC_BENCH_LOG), EM_SETLIMITTEXT, 0, 0);

    const HWND hTable = Table();
    ListView_SetExtendedListViewStyle(hTable, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES |
                                                  LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP);
    if (const HFONT hFont = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0))) {
        ::GetObjectW(hFont, sizeof m_dialogFont, &m_dialogFont);
    }
    // The template holds the layout; every text comes from the window model.
    for (const LabelPlace& label : kLabels) {
        ::SetDlgItemTextW(m_hWnd, label.nId, WideFromUtf8(BenchFieldLabel(label.eField)).c_str());
    }
    for (const BenchButton eButton : {BenchButton::Load, BenchButton::Start, BenchButton::Stop,
                                      BenchButton::StopNow, BenchButton::ResetCounters}) {
        ::SetDlgItemTextW(m_hWnd, ButtonId(eButton),
                          WideFromUtf8(BenchButtonText(eButton)).c_str());
    }
    for (int nColumn = 0; nColumn < kBenchColumnCount; ++nColumn) {
        std::wstring strTitle = WideFromUtf8(BenchColumnTitle(static_cast<BenchColumn>(nColumn)));
        RECT rcWidth = {0, 0, kColumnWidthsDu[nColumn], 0};
        ::MapDialogRect(m_hWnd, &rcWidth);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
        column.fmt =
            nColumn == static_cast<int>(BenchColumn::Progress) ? LVCFMT_CENTER : LVCFMT_LEFT;
        column.cx = rcWidth.right;
        column.pszText = strTitle.data();
        column.iSubItem = nColumn;
        ::SendMessageW(hTable, LVM_INSERTCOLUMNW, static_cast<WPARAM>(nColumn),
                       reinterpret_cast<LPARAM>(&column));
    }

    // How each control follows the window's size: the table and the log take the
    // growth (the table most of the height), what lies below the table moves down.
    RECT rcClient;
    ::GetClientRect(m_hWnd, &rcClient);
    m_initialClient = {rcClient.right, rcClient.bottom};
    RECT rcTable;
    ::GetWindowRect(hTable, &rcTable);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rcTable), 2);
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild != nullptr;
         hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        Anchor anchor = {hChild, {}, 0, 0, 0, 0};
        ::GetWindowRect(hChild, &anchor.rc);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&anchor.rc), 2);
        if (hChild == hTable) {
            anchor.nGrowX = 100;
            anchor.nGrowY = 70;
        } else if (hChild == Item(IDC_BENCH_LOG)) {
            anchor = {hChild, anchor.rc, 0, 70, 100, 30};
        } else if (anchor.rc.top >= rcTable.bottom) {
            anchor.nMoveY = 70;
        } else {
            continue; // the top rows keep their place
        }
        m_anchors.push_back(anchor);
    }

    // The board lies over the table's place and follows the window as the table does.
    if (m_board.Create(m_hInstance, m_hWnd, IDC_BENCH_BOARD, rcTable)) {
        ::SetWindowTextW(m_board.Handle(), L"");
        m_anchors.push_back({m_board.Handle(), rcTable, 0, 0, 100, 70});
    }
    AddMenuEntries();

    IBenchView& view = *this;
    const HWND hWnd = m_hWnd;
    m_pModel = std::make_unique<CBenchWindowModel>(
        view, [hWnd] { return ::PostMessageW(hWnd, WM_MODEL_DRAIN, 0, 0) != FALSE; });
    m_pModel->SetRecordSink(m_pRecords);
    if (!m_pModel->Init(m_options, m_strInitError)) {
        if (m_strInitError.empty()) {
            m_strInitError = "the bench window could not start";
        }
        return false;
    }
    m_pModel->RestoreScale(LoadScale());
    // Larger than the template: the board is read from a step back. Most of the
    // work area, centred; WM_SIZE lays the controls out.
    RECT rcWork = {};
    if (::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0) && rcWork.right - rcWork.left > 0) {
        const int cx = (rcWork.right - rcWork.left) * 9 / 10;
        const int cy = (rcWork.bottom - rcWork.top) * 9 / 10;
        ::SetWindowPos(m_hWnd, nullptr, rcWork.left + (rcWork.right - rcWork.left - cx) / 2,
                       rcWork.top + (rcWork.bottom - rcWork.top - cy) / 2, cx, cy,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::SetTimer(m_hWnd, kTickTimerId, static_cast<UINT>(kBenchTickMs), nullptr);
    if (m_fnShown) {
        m_fnShown(m_hWnd);
    }
    return true;
}

void CBenchDlg::Layout(int cx, int cy) {
    if (m_initialClient.cx <= 0) {
        return; // before WM_INITDIALOG has measured the template
    }
    const int dx = std::max(0, cx - static_cast<int>(m_initialClient.cx));
    const int dy = std::max(0, cy - static_cast<int>(m_initialClient.cy));
    HDWP hDefer = ::BeginDeferWindowPos(static_cast<int>(m_anchors.size()));
    for (const Anchor& anchor : m_anchors) {
        if (hDefer == nullptr) {
            break;
        }
        hDefer = ::DeferWindowPos(hDefer, anchor.hControl, nullptr,
                                  anchor.rc.left + dx * anchor.nMoveX / 100,
                                  anchor.rc.top + dy * anchor.nMoveY / 100,
                                  anchor.rc.right - anchor.rc.left + dx * anchor.nGrowX / 100,
                                  anchor.rc.bottom - anchor.rc.top + dy * anchor.nGrowY / 100,
                                  SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (hDefer != nullptr) {
        ::EndDeferWindowPos(hDefer);
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

HWND CBenchDlg::Table() const {
    return Item(IDC_BENCH_TABLE);
}

void CBenchDlg::AddMenuEntries() {
    const HMENU hMenu = ::GetSystemMenu(m_hWnd, FALSE);
    if (hMenu == nullptr) {
        return;
    }
    ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    const std::pair<UINT, const char*> entries[] = {{IDM_BENCH_BOARD, kTextBoardOrTable},
                                                    {IDM_BENCH_LARGER, kTextLarger},
                                                    {IDM_BENCH_SMALLER, kTextSmaller},
                                                    {IDM_BENCH_NORMAL, kTextNormalSize},
                                                    {IDM_BENCH_SOUND, kTextSoundOnFailure}};
    for (const auto& [nId, pszText] : entries) {
        ::AppendMenuW(hMenu, MF_STRING, nId, WideFromUtf8(pszText).c_str());
    }
}

bool CBenchDlg::OnSysCommand(UINT nId) {
    switch (nId & 0xFFF0u) {
    case IDM_BENCH_BOARD:
        m_pModel->OnToggleBoard();
        return true;
    case IDM_BENCH_LARGER:
        m_pModel->OnScaleStep(1);
        return true;
    case IDM_BENCH_SMALLER:
        m_pModel->OnScaleStep(-1);
        return true;
    case IDM_BENCH_NORMAL:
        m_pModel->OnScaleStep(0);
        return true;
    case IDM_BENCH_SOUND:
        m_pModel->OnToggleSound();
        return true;
    default:
        return false;
    }
}

void CBenchDlg::FitColumns() {
    LOGFONTW font = m_dialogFont;
    font.lfHeight = font.lfHeight * kTableFontPercent / 100 * m_nScalePercent / 100;
    const HFONT hFont = ::CreateFontIndirectW(&font);
    if (hFont == nullptr) {
        return;
    }
    const HWND hTable = Table();
    ::SendMessageW(hTable, WM_SETFONT, reinterpret_cast<WPARAM>(hFont), TRUE);
    if (m_hTableFont != nullptr) {
        ::DeleteObject(m_hTableFont);
    }
    m_hTableFont = hFont;
    // Each column as wide as its title, its usual content and its template width
    // at the scale, so that no title is cut ("Seconds").
    const HDC hDc = ::GetDC(hTable);
    const HGDIOBJ hOld = ::SelectObject(hDc, hFont);
    for (int nColumn = 0; nColumn < kBenchColumnCount; ++nColumn) {
        int nText = 0;
        for (const char* pszText :
             {BenchColumnTitle(static_cast<BenchColumn>(nColumn)), BenchColumnSample(nColumn)}) {
            const std::wstring strText = WideFromUtf8(pszText);
            SIZE size = {};
            ::GetTextExtentPoint32W(hDc, strText.c_str(), static_cast<int>(strText.size()), &size);
            nText = std::max(nText, static_cast<int>(size.cx));
        }
        RECT rcWidth = {0, 0, kColumnWidthsDu[nColumn], 0};
        ::MapDialogRect(m_hWnd, &rcWidth);
        const int nWidth =
            std::max(nText + 16, static_cast<int>(rcWidth.right) * kTableFontPercent / 100 *
                                     m_nScalePercent / 100);
        ListView_SetColumnWidth(hTable, nColumn, nWidth);
    }
    ::SelectObject(hDc, hOld);
    ::ReleaseDC(hTable, hDc);
}

// --- The table's drawing --------------------------------------------------------------

LRESULT CBenchDlg::OnTableDraw(NMLVCUSTOMDRAW& draw) const {
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        const auto nRow = static_cast<size_t>(draw.nmcd.dwItemSpec);
        if (draw.iSubItem == static_cast<int>(BenchColumn::Progress) && nRow < m_rows.size()) {
            DrawProgressCell(draw);
            return CDRF_SKIPDEFAULT;
        }
        // The colours set for one cell stay for the next: every cell sets its own.
        draw.clrText = CLR_DEFAULT;
        draw.clrTextBk =
            draw.iSubItem == static_cast<int>(BenchColumn::Result) && nRow < m_rows.size()
                ? ToneColour(m_rows[nRow].eTone)
                : CLR_DEFAULT;
        if (draw.clrTextBk != CLR_DEFAULT) {
            draw.clrText = RGB(0, 0, 0); // readable on the light tones whatever the theme
        }
        return CDRF_NEWFONT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void CBenchDlg::DrawProgressCell(const NMLVCUSTOMDRAW& draw) const {
    const HWND hTable = Table();
    const int nRow = static_cast<int>(draw.nmcd.dwItemSpec);
    RECT rcCell = {};
    ListView_GetSubItemRect(hTable, nRow, draw.iSubItem, LVIR_BOUNDS, &rcCell);
    const HDC hDc = draw.nmcd.hdc;
    ::FillRect(hDc, &rcCell, ::GetSysColorBrush(COLOR_WINDOW));
    RECT rcBar = rcCell;
    ::InflateRect(&rcBar, -3, -3);
    if (rcBar.right <= rcBar.left || rcBar.bottom <= rcBar.top) {
        return;
    }
    wchar_t szText[64] = {};
    ListView_GetItemText(hTable, nRow, draw.iSubItem, szText, 64);
    const RowLook& look = m_rows[static_cast<size_t>(nRow)];
    if (look.nProgress < 0) {
        // Finished without passing: the outcome in words, on its colour, not a
        // bar stopped part way.
        const HBRUSH hTone = ::CreateSolidBrush(ToneColour(look.eTone));
        ::FillRect(hDc, &rcCell,
                   look.eTone != BenchTone::Idle ? hTone : ::GetSysColorBrush(COLOR_WINDOW));
        ::DeleteObject(hTone);
        const int nOldMode = ::SetBkMode(hDc, TRANSPARENT);
        const COLORREF clrOld = ::SetTextColor(hDc, RGB(0, 0, 0));
        ::DrawTextW(hDc, szText, -1, &rcBar, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        ::SetTextColor(hDc, clrOld);
        ::SetBkMode(hDc, nOldMode);
        return;
    }
    ::FrameRect(hDc, &rcBar, ::GetSysColorBrush(COLOR_BTNSHADOW));
    RECT rcFill = rcBar;
    ::InflateRect(&rcFill, -1, -1);
    const int nPos = std::clamp(look.nProgress, 0, 100);
    rcFill.right = rcFill.left + (rcFill.right - rcFill.left) * nPos / 100;
    if (rcFill.right > rcFill.left) {
        const HBRUSH hFill = ::CreateSolidBrush(RGB(6, 176, 37));
        ::FillRect(hDc, &rcFill, hFill);
        ::DeleteObject(hFill);
    }
    // The cell's own text ("42 %") over the bar, for those who read rather than look.
    const int nOldMode = ::SetBkMode(hDc, TRANSPARENT);
    const COLORREF clrOld = ::SetTextColor(hDc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::DrawTextW(hDc, szText, -1, &rcBar, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::SetTextColor(hDc, clrOld);
    ::SetBkMode(hDc, nOldMode);
}

// --- What the model shows -------------------------------------------------------------

void CBenchDlg::SetTitle(const std::string& strTitle) {
    ::SetWindowTextW(m_hWnd, WideFromUtf8(strTitle).c_str());
}

void CBenchDlg::SetField(BenchField eField, const std::string& strText) {
    ::SetWindowTextW(Item(FieldId(eField)), WideFromUtf8(strText).c_str());
}

void CBenchDlg::EnableButton(BenchButton eButton, bool bEnable) {
    const HWND hButton = Item(ButtonId(eButton));
    if (!bEnable && ::GetFocus() == hButton) {
        // A disabled button keeps no focus: the keyboard would be stuck.
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
        if (::GetFocus() == Item(IDC_BENCH_LOG)) {
            // The dialog selects an edit's whole text as it takes the focus: the
            // log would turn blue after every Stop.
            ::SendMessageW(Item(IDC_BENCH_LOG), EM_SETSEL, static_cast<WPARAM>(-1), 0);
        }
    }
    ::EnableWindow(hButton, bEnable ? TRUE : FALSE);
}

void CBenchDlg::AddRow() {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(m_rows.size());
    item.pszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(Table(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    m_rows.push_back(RowLook());
    m_board.AddTile();
}

void CBenchDlg::SetCell(int nRow, BenchColumn eColumn, const std::string& strText) {
    const std::wstring strWide = WideFromUtf8(strText);
    LVITEMW item = {};
    item.iSubItem = static_cast<int>(eColumn);
    item.pszText = const_cast<wchar_t*>(strWide.c_str());
    ::SendMessageW(Table(), LVM_SETITEMTEXTW, static_cast<WPARAM>(nRow),
                   reinterpret_cast<LPARAM>(&item));
}

void CBenchDlg::SetRowProgress(int nRow, int nPos) {
    if (nRow < 0 || static_cast<size_t>(nRow) >= m_rows.size() ||
        m_rows[static_cast<size_t>(nRow)].nProgress == nPos) {
        return;
    }
    m_rows[static_cast<size_t>(nRow)].nProgress = nPos;
    // Only the cell: 64 rows' bars each tick cost no more than their cells.
    RECT rcCell = {};
    if (ListView_GetSubItemRect(Table(), nRow, static_cast<int>(BenchColumn::Progress), LVIR_BOUNDS,
                                &rcCell)) {
        ::InvalidateRect(Table(), &rcCell, FALSE);
    }
}

void CBenchDlg::SetRowTone(int nRow, BenchTone eTone) {
    if (nRow < 0 || static_cast<size_t>(nRow) >= m_rows.size()) {
        return;
    }
    m_rows[static_cast<size_t>(nRow)].eTone = eTone;
    ListView_RedrawItems(Table(), nRow, nRow);
}

void CBenchDlg::SetCellTip(int nRow, BenchColumn eColumn, const std::string& strTip) {
    if (eColumn == BenchColumn::Port && nRow >= 0 && static_cast<size_t>(nRow) < m_rows.size()) {
        m_rows[static_cast<size_t>(nRow)].strTip = WideFromUtf8(strTip);
    }
}

void CBenchDlg::SetTile(int nRow, const BenchTile& tile) {
    m_board.SetTile(nRow, tile);
}

void CBenchDlg::ShowBoard(bool bBoard) {
    const HWND hTable = Table();
    if (!bBoard && ::GetFocus() == m_board.Handle()) {
        ::SetFocus(hTable);
    }
    ::ShowWindow(m_board.Handle(), bBoard ? SW_SHOW : SW_HIDE);
    ::ShowWindow(hTable, bBoard ? SW_HIDE : SW_SHOW);
}

void CBenchDlg::SetScale(int nPercent) {
    m_nScalePercent = nPercent;
    m_board.SetScale(nPercent);
    FitColumns();
    SaveScale(nPercent);
}

void CBenchDlg::SetSoundOn(bool bOn) {
    if (const HMENU hMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        ::CheckMenuItem(hMenu, IDM_BENCH_SOUND, MF_BYCOMMAND | (bOn ? MF_CHECKED : MF_UNCHECKED));
    }
}

void CBenchDlg::PlayFailureSound() {
    ::MessageBeep(MB_ICONHAND);
}

void CBenchDlg::AppendLog(const std::string& strLines) {
    const HWND hLog = Item(IDC_BENCH_LOG);
    const auto nEnd = static_cast<WPARAM>(::GetWindowTextLengthW(hLog));
    ::SendMessageW(hLog, EM_SETSEL, nEnd, static_cast<LPARAM>(nEnd));
    ::SendMessageW(hLog, EM_REPLACESEL, FALSE,
                   reinterpret_cast<LPARAM>(EditLines(strLines).c_str()));
    ::SendMessageW(hLog, EM_SCROLLCARET, 0, 0);
}

void CBenchDlg::DropLogLines(int nLines) {
    // The log does not wrap (it scrolls sideways), so its lines are the model's.
    const HWND hLog = Item(IDC_BENCH_LOG);
    const LRESULT nCut = ::SendMessageW(hLog, EM_LINEINDEX, static_cast<WPARAM>(nLines), 0);
    if (nCut < 0) {
        ::SetWindowTextW(hLog, L"");
        return;
    }
    ::SendMessageW(hLog, EM_SETSEL, 0, nCut);
    ::SendMessageW(hLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    const auto nEnd = static_cast<WPARAM>(::GetWindowTextLengthW(hLog));
    ::SendMessageW(hLog, EM_SETSEL, nEnd, static_cast<LPARAM>(nEnd));
    ::SendMessageW(hLog, EM_SCROLLCARET, 0, 0);
}

bool CBenchDlg::AskYesNo(const std::string& strText) {
    return ::MessageBoxW(m_hWnd, WideFromUtf8(strText).c_str(), ProgramName().c_str(),
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void CBenchDlg::ShowMessage(const std::string& strText) {
    ::MessageBoxW(m_hWnd, WideFromUtf8(strText).c_str(), ProgramName().c_str(), MB_OK);
}

std::optional<std::string> CBenchDlg::AskFirmwareFile() {
    return AskFirmwareFileDialog(m_hWnd);
}

void CBenchDlg::EndWindow() {
    ::EndDialog(m_hWnd, IDCANCEL);
}

std::string CBenchDlg::TextFromDevice(const std::string& strBytes) const {
    return Utf8FromWide(WideFromDevice(strBytes));
}

} // namespace fwup
