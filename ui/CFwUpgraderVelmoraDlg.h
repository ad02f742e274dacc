#pragma once
// The main window (dialog template 102) as a Qt view of CMainWindowModel: the
// controls, their layout, the event wiring and what the model asks a view to do.
// The window's rules, texts and work are the model's. GUI thread only.
//
// Each control keeps its template id as its object name ("1000" for UPLOAD), by
// which tests and accessibility tools find it.

#include "windowmodel/BenchOptions.h"
#include "windowmodel/CMainWindowModel.h"
#include "windowmodel/IWindowView.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLineEdit;
class QMenu;
class QProgressBar;

namespace fwup {

class CLogBox;
class CPortComboBox;
class IRecordSink;

class CFwUpgraderVelmoraDlg : public QDialog, private IWindowView {
    Q_OBJECT
public:
    explicit CFwUpgraderVelmoraDlg(QWidget* pParent = nullptr);
    // Stops what still runs (a manual run at its next packet boundary, the auto
    // loop after its device) and joins the workers.
    ~CFwUpgraderVelmoraDlg() override;

    // The window's menu (right click) with the Bench and About entries.
    QMenu* SystemMenu() const { return m_pSystemMenu; }
    // A unit record for every later job (borrowed; null for none).
    void SetRecordSink(IRecordSink* pSink) { m_pModel->SetRecordSink(pSink); }
    // The window's options after the station profile (ApplyWindowProfile): the store
    // (a bench window opened from the menu writes there too), the profile's rules
    // and image. After SetRecordSink.
    void SetStartOptions(const BenchOptions& options);
    CMainWindowModel& Model() { return *m_pModel; }
    const CMainWindowModel& Model() const { return *m_pModel; }

    // A drop of files at ptClient (client coordinates): the first file goes to the
    // model when the point is over 1004 or 1005. True when the file was taken.
    bool OnDropFiles(const QPoint& ptClient, const QStringList& paths);
    void OnSysCommand(int nId);
    // "Bench...": the bench window in a process of its own, with this window's image and store.
    void OpenBench();

private slots:
    // The workers' reports, on the GUI thread. Woken by name: the wake then hands
    // no data of ours through Qt's event queue, and the model's locked queue is
    // the one hand-over a race detector sees.
    void DrainModel() { m_pModel->Drain(); }

public:
protected:
    void reject() override; // Esc and the close box
    void done(int nResult) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override; // Enter: the OK command
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dragMoveEvent(QDragMoveEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    void CreateControls();
    void ConnectSignals();
    QWidget* Widget(Control eControl) const;
    QWidget* ControlAt(const QPoint& ptClient) const; // also finds disabled controls
    std::optional<Control> ControlOf(const QWidget* pWidget) const;

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

    QComboBox* m_pArea = nullptr;     // 1001, hidden
    CPortComboBox* m_pPort = nullptr; // 1002
    QMenu* m_pSystemMenu = nullptr;
    QIcon m_hIcon;
    std::string m_strRecordStore;
    std::string m_strProfilePath; // --profile as given; the bench opened from here gets it
    std::string m_strExpectVersion; // --expect-version; the bench gets it too
    bool m_bVerify = true;          // false: --no-verify; the bench gets it too
    std::unique_ptr<CMainWindowModel> m_pModel;
};

} // namespace fwup
