#pragma once
// The bench window as a Qt view of CBenchWindowModel: many readers at once, one
// table row per slot. The window's rules, texts and work are the model's. GUI
// thread only.
//
// Object names for tests and accessibility tools: the fields "field.ImageName",
// "field.Passed", ... (BenchField's names), the buttons "load", "start", "stop",
// "stopNow", the board "board", the table "slots" and the log "log". F2 toggles
// board and table, Ctrl+Plus, Ctrl+Minus and Ctrl+0 scale them (kept in the
// user's settings); the context menu has the same and "Sound on failure".

#include "windowmodel/BenchOptions.h"
#include "windowmodel/CBenchWindowModel.h"
#include "windowmodel/IBenchView.h"

#include <QDialog>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QStackedWidget;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace fwup {

class IRecordSink;

class CBenchWindow : public QDialog, private IBenchView {
    Q_OBJECT
public:
    explicit CBenchWindow(QWidget* pParent = nullptr);
    // Readers in flight stop at their next packet boundary; joins the loop.
    ~CBenchWindow() override;

    // Before Init: where records go (borrowed; null: none).
    void SetRecordSink(IRecordSink* pSink) { m_pModel->SetRecordSink(pSink); }
    // The model's start (see CBenchWindowModel::Init); false: the window must not open.
    bool Init(const BenchOptions& options, std::string& strError);

    CBenchWindowModel& Model() { return *m_pModel; }
    QMenu* Menu() const { return m_pMenu; }
    const CBenchWindowModel& Model() const { return *m_pModel; }

private slots:
    // The workers' reports, on the GUI thread; woken by name, as the main window's.
    void DrainModel() { m_pModel->Drain(); }

protected:
    void reject() override;          // Esc and the close box
    void done(int nResult) override; // never while readers are in flight
    void keyPressEvent(QKeyEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private:
    void CreateControls();
    void CreateMenuAndKeys();

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

    std::map<BenchField, QLabel*> m_fields;
    std::map<BenchButton, QPushButton*> m_buttons;
    QTableWidget* m_pTable = nullptr;
    class CSlotBoard* m_pBoard = nullptr;
    QStackedWidget* m_pMiddle = nullptr; // the board or the table
    QMenu* m_pMenu = nullptr;
    QAction* m_pSound = nullptr;
    double m_tablePointSize = 9; // the table's font at 100 %, in points
    QPlainTextEdit* m_pLog = nullptr;
    QTimer* m_pTick = nullptr;
    std::unique_ptr<CBenchWindowModel> m_pModel;
};

} // namespace fwup
