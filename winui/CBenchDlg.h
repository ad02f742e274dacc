#pragma once
// The bench window (dialog template 103 of fwupgraderVelmora.rc) as a native
// Win32 view of CBenchWindowModel: the buttons and the close box wired to the
// model, the board (one tile per slot) or one list view row per slot with its
// bar drawn in the Progress cell, the counters and the log. F2 toggles board and
// table, Ctrl+Plus, Ctrl+Minus and Ctrl+0 scale them (kept per user in the
// registry); the system menu has the same and "Sound on failure". The rules,
// texts and work are the model's. Every method runs on the window's thread.

#include "windowmodel/BenchOptions.h"
#include "windowmodel/CBenchWindowModel.h"
#include "windowmodel/IBenchView.h"
#include "winui/CSlotBoardWnd.h"

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fwup {

class CBenchDlg : private IBenchView {
public:
    // pRecords (borrowed, may be null, outlives the window) gets one record per attempt.
    CBenchDlg(BenchOptions options, IRecordSink* pRecords);
    ~CBenchDlg() override;
    CBenchDlg(const CBenchDlg&) = delete;
    CBenchDlg& operator=(const CBenchDlg&) = delete;

    // Another program's hold on the window, for tests: fnShown runs once the
    // window is initialised, fnTimer gets every WM_TIMER that is not the window's
    // own (true: it was its timer).
    void SetHooks(std::function<void(HWND)> fnShown, std::function<bool(WPARAM)> fnTimer);
    // Shows the window modally over hOwner (may be null); returns when it has
    // ended and every reader with it. False, with strError, when the window could
    // not open (a malformed slots file).
    bool DoModal(HINSTANCE hInstance, HWND hOwner, std::string& strError);

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    bool OnInitDialog();
    void OnCommand(int nId, int nCode);
    LRESULT OnTableDraw(NMLVCUSTOMDRAW& draw) const;
    void DrawProgressCell(const NMLVCUSTOMDRAW& draw) const;
    void Layout(int cx, int cy);
    bool OnSysCommand(UINT nId); // true when it was one of the bench's entries
    void AddMenuEntries();
    void FitColumns(); // the table's font and columns at the scale
    HWND Item(int nId) const { return ::GetDlgItem(m_hWnd, nId); }
    HWND Table() const;

    // IBenchView
    void SetTitle(const std::string& strTitle) override;
    void SetField(BenchField eField, const std::string& strText) override;
    void EnableButton(BenchButton eButton, bool bEnable) override;
    void AddRow() override;
    void SetCell(int nRow, BenchColumn eColumn, const std::string& strText) override;
    void SetRowProgress(int nRow, int nPos) override;
    void SetRowTone(int nRow, BenchTone eTone) override;
    void SetCellTip(int nRow, BenchColumn eColumn, const std::string& strTip) override;
    void SetTile(int nRow, const BenchTile& tile) override;
    void ShowBoard(bool bBoard) override;
    void SetScale(int nPercent) override;
    void SetSoundOn(bool bOn) override;
    void PlayFailureSound() override;
    void AppendLog(const std::string& strLines) override;
    void DropLogLines(int nLines) override;
    bool AskYesNo(const std::string& strText) override;
    void ShowMessage(const std::string& strText) override;
    std::optional<std::string> AskFirmwareFile() override;
    void EndWindow() override;
    std::string TextFromDevice(const std::string& strBytes) const override;

    struct RowLook {
        int nProgress = 0; // or kNoBar
        BenchTone eTone = BenchTone::Idle;
        std::wstring strTip; // the row's info tip: its port's listed name
    };
    // A control's place at the start and how it follows the window's size: its
    // left/top edge moves by the growth times nMove, its size grows by nGrow (in
    // hundredths of the growth).
    struct Anchor {
        HWND hControl; // the labels share one id: they are told apart by handle
        RECT rc;
        int nMoveX, nMoveY, nGrowX, nGrowY;
    };

    BenchOptions m_options;
    IRecordSink* m_pRecords;
    std::function<void(HWND)> m_fnShown;
    std::function<bool(WPARAM)> m_fnTimer;
    HINSTANCE m_hInstance = nullptr;
    HWND m_hWnd = nullptr;
    std::string m_strInitError;
    std::vector<RowLook> m_rows; // what each row's bar and result colour show
    std::vector<Anchor> m_anchors;
    SIZE m_initialClient = {};
    CSlotBoardWnd m_board;
    HFONT m_hTableFont = nullptr; // the table's font at the scale; deleted with the window
    LOGFONTW m_dialogFont = {};   // the template's font: the scale's 100 %
    int m_nScalePercent = 100;
    std::unique_ptr<CBenchWindowModel> m_pModel;
};

} // namespace fwup
