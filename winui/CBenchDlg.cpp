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
constexpr int kButtonIds[] = {IDC_BENCH_LOAD, IDC_BENCH_START, IDC_BENCH_STOP, IDC_BENCH_STOP_NOW};
static_assert(std::size(kButtonIds) == static_cast<size_t>(BenchButton::StopNow) + 1);

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
        return FALSE;
    }
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
                                                  LVS_EX_DOUBLEBUFFER);
    // The template holds the layout; every text comes from the window model.
    for (const LabelPlace& label : kLabels) {
        ::SetDlgItemTextW(m_hWnd, label.nId, WideFromUtf8(BenchFieldLabel(label.eField)).c_str());
    }
    for (const BenchButton eButton :
         {BenchButton::Load, BenchButton::Start, BenchButton::Stop, BenchButton::StopNow}) {
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
    ::FrameRect(hDc, &rcBar, ::GetSysColorBrush(COLOR_BTNSHADOW));
    RECT rcFill = rcBar;
    ::InflateRect(&rcFill, -1, -1);
    const int nPos = std::clamp(m_rows[static_cast<size_t>(nRow)].nProgress, 0, 100);
    rcFill.right = rcFill.left + (rcFill.right - rcFill.left) * nPos / 100;
    if (rcFill.right > rcFill.left) {
        const HBRUSH hFill = ::CreateSolidBrush(RGB(6, 176, 37));
        ::FillRect(hDc, &rcFill, hFill);
        ::DeleteObject(hFill);
    }
    // The cell's own text ("42 %") over the bar, for those who read rather than look.
    wchar_t szText[32] = {};
    ListView_GetItemText(hTable, nRow, draw.iSubItem, szText, 32);
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
