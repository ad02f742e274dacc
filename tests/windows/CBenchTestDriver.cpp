#include "tests/windows/CBenchTestDriver.h"

#include "tests/windows/DriverSupport.h"

#include "serial/WideText.h"
#include "windowmodel/ControlIds.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <utility>

namespace fwup {

namespace {

constexpr UINT_PTR kTimerId = 0x7E58;
constexpr UINT kTickMs = 10;
constexpr int kMessageBoxText = 0xFFFF; // the text of a message box
// The table's columns as the operator reads them.
constexpr int kSlot = 0, kPort = 1, kSerial = 2, kProgress = 5, kResult = 6, kAttempt = 8;

// Count of lines of strBoard (the board's text, "SLOT: WORD" a line) whose word is strWord.
int TilesSaying(const std::wstring& strBoard, const std::wstring& strWord) {
    int nCount = 0;
    for (size_t nAt = strBoard.find(L": " + strWord + L"\n"); nAt != std::wstring::npos;
         nAt = strBoard.find(L": " + strWord + L"\n", nAt + 1)) {
        ++nCount;
    }
    return nCount;
}

// A key as the operator presses it, through the window's modal loop.
void PressKey(HWND hDlg, UINT nKey) {
    const HWND hFocus = ::GetFocus();
    ::PostMessageW(hFocus != nullptr ? hFocus : hDlg, WM_KEYDOWN, nKey, 1);
}

// The leading number of a text ("42 %" -> 42); -1 when it has none.
long LeadingNumber(const std::wstring& strText) {
    wchar_t* pEnd = nullptr;
    const long nValue = std::wcstol(strText.c_str(), &pEnd, 10);
    return pEnd == strText.c_str() ? -1 : nValue;
}

} // namespace

CBenchTestDriver::CBenchTestDriver(HWND hDlg, BenchHookOptions options)
    : m_hDlg(hDlg), m_options(std::move(options)) {}

void CBenchTestDriver::Start() {
    m_dwStepStart = m_dwLastTick = ::GetTickCount();
    ::SetTimer(m_hDlg, kTimerId, kTickMs, nullptr);
}

bool CBenchTestDriver::OnTimer(WPARAM nTimerId) {
    if (nTimerId != kTimerId) {
        return false;
    }
    const DWORD dwNow = ::GetTickCount();
    if (m_dwStarted != 0 && m_eStep <= Step::WaitPassed && dwNow - m_dwLastTick > m_dwGapRunning) {
        m_dwGapRunning = dwNow - m_dwLastTick;
    }
    m_dwLastTick = dwNow;
    if (!m_bInTick) { // a tick that opened a modal loop is not re-entered
        m_bInTick = true;
        Tick();
        m_bInTick = false;
    }
    return true;
}

void CBenchTestDriver::GoTo(Step eStep) {
    m_eStep = eStep;
    m_dwStepStart = ::GetTickCount();
}

bool CBenchTestDriver::WithinLimit(DWORD dwLimitMs, const char* pszWaitingFor) {
    if (::GetTickCount() - m_dwStepStart <= dwLimitMs) {
        return true;
    }
    Fail(std::string("no ") + pszWaitingFor + " within " + std::to_string(dwLimitMs) + " ms");
    return false;
}

void CBenchTestDriver::Check(bool bHeld, const std::string& strWhat) {
    Note((bHeld ? "ok: " : "FAILED: ") + strWhat);
    if (!bHeld) {
        ++m_nFailures;
    }
}

void CBenchTestDriver::Fail(const std::string& strWhy) {
    Check(false, strWhy);
    WriteReport();
    GoTo(Step::WaitAck);
}

void CBenchTestDriver::Note(const std::string& strLine) {
    m_lines.push_back(strLine);
}

bool CBenchTestDriver::CloseUnexpectedBox() {
    const HWND hBox = FindOwnedDialog(m_hDlg);
    if (hBox == nullptr) {
        return false;
    }
    const std::string strText = Utf8TextOf(::GetDlgItem(hBox, kMessageBoxText));
    // No is the safe answer to a question, OK the only one to a message.
    const int nAnswer = ::GetDlgItem(hBox, IDNO) != nullptr ? IDNO : IDOK;
    ::PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(nAnswer, BN_CLICKED), 0);
    Fail("a message box came up: \"" + Utf8TextOf(hBox) + "\": " + strText);
    return true;
}

int CBenchTestDriver::Rows() const {
    return static_cast<int>(::SendMessageW(Item(IDC_BENCH_TABLE), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring CBenchTestDriver::Cell(int nRow, int nColumn) const {
    wchar_t szText[256] = {};
    ListView_GetItemText(Item(IDC_BENCH_TABLE), nRow, nColumn, szText, 256);
    return szText;
}

void CBenchTestDriver::Tick() {
    const auto click = [this](int nId, const char* pszName) {
        Check(::IsWindowEnabled(Item(nId)) != FALSE, std::string(pszName) + " is enabled");
        ::PostMessageW(Item(nId), BM_CLICK, 0, 0);
    };
    switch (m_eStep) {
    case Step::CheckWindow: {
        if (!::IsWindowVisible(m_hDlg)) {
            WithinLimit(5000, "visible window");
            return;
        }
        const std::wstring strTitle =
            L"VelgoFWUp bench \u2014 " + WideFromUtf8(m_options.strImageName);
        Check(TextOf(m_hDlg) == strTitle, "title: " + Utf8TextOf(m_hDlg));
        Check(TextOf(Item(IDC_BENCH_IMAGE_NAME)) == WideFromUtf8(m_options.strImageName),
              "image name: " + Utf8TextOf(Item(IDC_BENCH_IMAGE_NAME)));
        Check(!::IsWindowEnabled(Item(IDC_BENCH_STOP)) &&
                  !::IsWindowEnabled(Item(IDC_BENCH_STOP_NOW)),
              "idle: Stop and Stop now disabled");
        // The board first; readers already seated wait there before Start.
        Check(::IsWindowVisible(Item(IDC_BENCH_BOARD)) && !::IsWindowVisible(Item(IDC_BENCH_TABLE)),
              "the board is shown, the table not");
        Check(TilesSaying(TextOf(Item(IDC_BENCH_BOARD)), L"WAITING") == Rows(),
              "every seated reader WAITING before Start: " + Utf8TextOf(Item(IDC_BENCH_BOARD)));
        click(IDC_BENCH_START, "Start");
        m_dwStarted = ::GetTickCount();
        GoTo(Step::WaitBar);
        return;
    }
    case Step::WaitBar: {
        if (CloseUnexpectedBox()) {
            return;
        }
        // A reader under way: the close box must ask, and No must leave it running.
        for (int nRow = 0; nRow < Rows(); ++nRow) {
            const long nPos = LeadingNumber(Cell(nRow, kProgress));
            if (nPos > 0 && nPos < 100) {
                Note("row " + std::to_string(nRow + 1) + " at " + std::to_string(nPos) +
                     " %: the close box pressed");
                Check(::IsWindowEnabled(Item(IDC_BENCH_STOP)) &&
                          !::IsWindowEnabled(Item(IDC_BENCH_START)),
                      "running: Stop enabled, Start not");
                ::PostMessageW(m_hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
                GoTo(Step::WaitQuestion);
                return;
            }
        }
        if (LeadingNumber(TextOf(Item(IDC_BENCH_PASSED))) >= m_options.nReaders) {
            Fail("every reader passed before a bar was seen under way");
            return;
        }
        WithinLimit(60000, "bar under way");
        return;
    }
    case Step::WaitQuestion: {
        const HWND hBox = FindOwnedDialog(m_hDlg);
        if (hBox == nullptr) {
            WithinLimit(5000, "question on closing with readers in flight");
            return;
        }
        Note("closing asks: " + Utf8TextOf(::GetDlgItem(hBox, kMessageBoxText)));
        const bool bYesNo =
            ::GetDlgItem(hBox, IDYES) != nullptr && ::GetDlgItem(hBox, IDNO) != nullptr;
        Check(bYesNo, "the question offers Yes and No");
        ::PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(bYesNo ? IDNO : IDOK, BN_CLICKED), 0);
        GoTo(Step::WaitPassed);
        return;
    }
    case Step::WaitPassed:
        if (CloseUnexpectedBox()) {
            return;
        }
        if (!::IsWindow(m_hDlg) || !::IsWindowVisible(m_hDlg)) {
            Fail("the window went away after No");
            return;
        }
        if (LeadingNumber(TextOf(Item(IDC_BENCH_PASSED))) < m_options.nReaders) {
            WithinLimit(120000, "pass of every reader");
            return;
        }
        Note("every reader passed " + std::to_string(::GetTickCount() - m_dwStarted) +
             " ms after Start");
        CheckRows();
        Check(TilesSaying(TextOf(Item(IDC_BENCH_BOARD)), L"PASS") == m_options.nReaders,
              "every tile says PASS: " + Utf8TextOf(Item(IDC_BENCH_BOARD)));
        PressKey(m_hDlg, VK_F2);
        GoTo(Step::WaitTable);
        return;
    case Step::WaitTable:
        if (!::IsWindowVisible(Item(IDC_BENCH_TABLE))) {
            WithinLimit(5000, "table after F2");
            return;
        }
        Check(!::IsWindowVisible(Item(IDC_BENCH_BOARD)), "F2: the table instead of the board");
        PressKey(m_hDlg, VK_F2); // the board again, for the screenshot
        click(IDC_BENCH_STOP, "Stop");
        GoTo(Step::WaitStopped);
        return;
    case Step::WaitStopped:
        if (CloseUnexpectedBox()) {
            return;
        }
        if (!::IsWindowEnabled(Item(IDC_BENCH_START))) {
            WithinLimit(30000, "end of the loop after Stop");
            return;
        }
        Check(!::IsWindowEnabled(Item(IDC_BENCH_STOP)), "stopped: Start enabled, Stop not");
        {
            DWORD dwFrom = 0, dwTo = 0;
            ::SendMessageW(Item(IDC_BENCH_LOG), EM_GETSEL, reinterpret_cast<WPARAM>(&dwFrom),
                           reinterpret_cast<LPARAM>(&dwTo));
            Check(dwFrom == dwTo, "stopped: no text of the log selected (" +
                                      std::to_string(dwFrom) + " to " + std::to_string(dwTo) + ")");
        }
        m_bPassed = true;
        WriteReport();
        GoTo(Step::WaitAck);
        return;
    case Step::WaitAck: {
        // The caller takes its screenshot, then says so; without a report file there is no caller.
        const std::wstring strDone = WideFromUtf8(m_options.strTestReport) + L".done";
        if (!m_options.strTestReport.empty() &&
            ::GetFileAttributesW(strDone.c_str()) == INVALID_FILE_ATTRIBUTES &&
            WithinLimit(60000, "acknowledgement of the report")) {
            return;
        }
        if (FindOwnedDialog(m_hDlg) != nullptr) {
            CloseUnexpectedBox();
            return;
        }
        ::PostMessageW(m_hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        GoTo(Step::Done);
        return;
    }
    case Step::Done: {
        // Units were counted: closing asks, No the default; Yes ends the window.
        const HWND hBox = FindOwnedDialog(m_hDlg);
        if (hBox == nullptr) {
            return;
        }
        const HWND hNo = ::GetDlgItem(hBox, IDNO);
        Check(hNo != nullptr && (::GetWindowLongW(hNo, GWL_STYLE) & BS_DEFPUSHBUTTON) != 0,
              "closing asks, No the default: " + Utf8TextOf(::GetDlgItem(hBox, kMessageBoxText)));
        ::PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(hNo != nullptr ? IDYES : IDOK, BN_CLICKED), 0);
        GoTo(Step::Closed);
        return;
    }
    case Step::Closed:
        if (CloseUnexpectedBox()) {
            ++m_nFailures;
        }
        return;
    }
}

void CBenchTestDriver::CheckRows() {
    const int nRows = Rows();
    Check(nRows == m_options.nReaders, "rows: " + std::to_string(nRows));
    std::set<std::wstring> slots;
    std::set<std::wstring> serials;
    std::set<std::wstring> expectedSlots;
    std::set<std::wstring> expectedSerials;
    for (int nRow = 0; nRow < nRows; ++nRow) {
        std::string strRow = "row " + std::to_string(nRow + 1) + ":";
        for (int nColumn = 0; nColumn <= kAttempt; ++nColumn) {
            strRow += " [" + Utf8FromWide(Cell(nRow, nColumn)) + "]";
        }
        Note(strRow);
        slots.insert(Cell(nRow, kSlot));
        serials.insert(Cell(nRow, kSerial));
        Check(!Cell(nRow, kPort).empty() && !Cell(nRow, kResult).empty(),
              "row " + std::to_string(nRow + 1) + " names its port and its result");
        Check(LeadingNumber(Cell(nRow, kProgress)) == 100,
              "row " + std::to_string(nRow + 1) + " bar at 100 %");
        Check(Cell(nRow, kAttempt) == L"1", "row " + std::to_string(nRow + 1) + " first attempt");
    }
    // Without a slots file slots are numbered as first seen; the simulator numbers
    // its readers' serials from SN00000001.
    for (int k = 1; k <= m_options.nReaders; ++k) {
        expectedSlots.insert(L"Slot " + std::to_wstring(k));
        wchar_t szSerial[16] = {};
        std::swprintf(szSerial, 16, L"SN%08d", k);
        expectedSerials.insert(szSerial);
    }
    Check(slots == expectedSlots, "slots are Slot 1 .. Slot N");
    Check(serials == expectedSerials, "each simulated reader's serial shown once");
    Check(LeadingNumber(TextOf(Item(IDC_BENCH_FAILED))) == 0,
          "failed: " + Utf8TextOf(Item(IDC_BENCH_FAILED)));
}

void CBenchTestDriver::WriteReport() {
    Note("largest gap between 10 ms timer ticks while readers ran: " +
         std::to_string(m_dwGapRunning) + " ms");
    for (const int nId :
         {IDC_BENCH_PASSED, IDC_BENCH_FAILED, IDC_BENCH_YIELD, IDC_BENCH_UNITS_PER_HOUR,
          IDC_BENCH_ELAPSED, IDC_BENCH_STATUS, IDC_BENCH_RECORD}) {
        Note("field " + std::to_string(nId) + ": " + Utf8TextOf(Item(nId)));
    }
    Note("log:\n" + Utf8TextOf(Item(IDC_BENCH_LOG)));
    Note(ExitCode() == 0 ? "verdict: pass" : "verdict: FAIL");
    if (!WriteReportFile(m_options.strTestReport, m_lines)) {
        ++m_nFailures;
    }
}

} // namespace fwup
