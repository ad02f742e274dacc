#pragma once
// The main window (dialog template 102 of fwupgraderVelmora.rc) as a native
// Win32 view of CMainWindowModel: the dialog's messages wired to the model, and
// what the model asks a view to do. The window's rules, texts and work are the
// model's. Every method runs on the window's thread.

#include "windowmodel/CMainWindowModel.h"
#include "windowmodel/IWindowView.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace fwup {

class CFwUpgraderVelmoraDlg : private IWindowView {
public:
    // pRecords (borrowed, may be null) gets one record per finished job.
    explicit CFwUpgraderVelmoraDlg(IRecordSink* pRecords);
    ~CFwUpgraderVelmoraDlg() override;
    CFwUpgraderVelmoraDlg(const CFwUpgraderVelmoraDlg&) = delete;
    CFwUpgraderVelmoraDlg& operator=(const CFwUpgraderVelmoraDlg&) = delete;

    // Opens the bench window modally over this one (its system menu's "Bench..."),
    // given this window and its loaded image's path (empty: none); without it the
    // entry is not offered.
    void SetBenchOpener(std::function<void(HWND, const std::string&)> fnOpenBench);
    // The station profile that applies (ApplyWindowProfile) and its image, given to
    // the model when the window starts. Before DoModal.
    void SetStationProfile(const StationProfile& profile, const std::string& strImage);
    // The jobs' read-back (CMainWindowModel::SetReadBack), given to the model when
    // the window starts. Before DoModal.
    void SetReadBack(bool bVerify, const std::optional<std::string>& optExpectVersion) {
        m_bVerify = bVerify;
        m_optExpectVersion = optExpectVersion;
    }
    // Another program's hold on the window, for tests: fnShown runs once the
    // window is initialised, fnTimer gets every WM_TIMER (true: it was its timer).
    void SetHooks(std::function<void(HWND)> fnShown, std::function<bool(WPARAM)> fnTimer);
    // Shows the window modally; returns when it has ended (and its workers with it).
    void DoModal(HINSTANCE hInstance);

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int nId, int nCode);
    bool OnSysCommand(UINT nId);
    void OnPaint();
    void OnDropFiles(HDROP hDrop);
    HWND Item(Control eControl) const;
    std::optional<std::string> ComboChoice(HWND hCombo) const; // none when nothing is chosen

    // IWindowView
    void SetControlText(Control eControl, const std::string& strText) override;
    void EnableControl(Control eControl, bool bEnable) override;
    void SetProgress(Control eBar, int nPos) override;
    void SetMarquee(Control eBar, bool bOn) override;
    void EditBox(Control eBox, size_t nDropFront, const std::u16string& strAppend,
                 size_t nCaret) override;
    void SetComboItems(Control eCombo, const std::vector<PortChoice>& items) override;
    void ChooseComboItem(Control eCombo, int nIndex) override;
    void SetPortHint(const std::string& strHint) override;
    void OpenPortList() override;
    void ShowMessage(const std::string& strText, BoxIcon eIcon) override;
    void SetWaitCursor(bool bOn) override;
    std::optional<std::string> AskFirmwareFile() override;
    void EndDialog() override;
    std::string TextFromDevice(const std::string& strBytes) const override;

    IRecordSink* m_pRecords;
    std::function<void(HWND)> m_fnShown;
    std::function<bool(WPARAM)> m_fnTimer;
    HINSTANCE m_hInstance = nullptr;
    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    bool m_bRestoringFocus = false; // activation gives the focus back: no new visit
    std::function<void(HWND, const std::string&)> m_fnOpenBench;
    std::optional<StationProfile> m_optProfile;
    std::string m_strProfileImage;
    bool m_bVerify = true;
    std::optional<std::string> m_optExpectVersion;
    std::unique_ptr<CMainWindowModel> m_pModel;
};

} // namespace fwup
