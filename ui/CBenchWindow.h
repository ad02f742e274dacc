#pragma once
// The bench window as a Qt view of CBenchWindowModel: many readers at once, one
// table row per slot. The window's rules, texts and work are the model's. GUI
// thread only.
//
// Object names for tests and accessibility tools: the fields "field.ImageName",
// "field.Passed", ... (BenchField's names), the buttons "load", "start", "stop",
// "stopNow", the table "slots" and the log "log".

#include "windowmodel/BenchOptions.h"
#include "windowmodel/CBenchWindowModel.h"
#include "windowmodel/IBenchView.h"

#include <QDialog>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <string>

class QLabel;
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
    const CBenchWindowModel& Model() const { return *m_pModel; }

private slots:
    // The workers' reports, on the GUI thread; woken by name, as the main window's.
    void DrainModel() { m_pModel->Drain(); }

protected:
    void reject() override;          // Esc and the close box
    void done(int nResult) override; // never while readers are in flight
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void CreateControls();

    // IBenchView
    void SetTitle(const std::string& strTitle) override;
    void SetField(BenchField eField, const std::string& strText) override;
    void EnableButton(BenchButton eButton, bool bEnable) override;
    void AddRow() override;
    void SetCell(int nRow, BenchColumn eColumn, const std::string& strText) override;
    void SetRowProgress(int nRow, int nPos) override;
    void SetRowTone(int nRow, BenchTone eTone) override;
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
    QPlainTextEdit* m_pLog = nullptr;
    QTimer* m_pTick = nullptr;
    std::unique_ptr<CBenchWindowModel> m_pModel;
};

} // namespace fwup
