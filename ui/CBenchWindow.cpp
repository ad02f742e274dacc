#include "ui/CBenchWindow.h"

#include "ui/AppIcon.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/CProgressDelegate.h"
#include "ui/QtDialogs.h"

#include <QBrush>
#include <QColor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

namespace fwup {

namespace {

struct FieldEntry {
    BenchField eField;
    const char* pszName;  // object name after "field."
    const char* pszLabel; // the label before it
};

const FieldEntry kTopFields[] = {
    {BenchField::ImageName, "ImageName", "Image:"},
    {BenchField::ImageSize, "ImageSize", "Size:"},
    {BenchField::ImageDate, "ImageDate", "Date:"},
    {BenchField::ImageHash, "ImageHash", "SHA-256:"},
    {BenchField::Store, "Store", "Records:"},
    {BenchField::Station, "Station", "Station:"},
};

const FieldEntry kCounterFields[] = {
    {BenchField::Passed, "Passed", "Passed:"},
    {BenchField::Failed, "Failed", "Failed:"},
    {BenchField::Yield, "Yield", "First-pass yield:"},
    {BenchField::UnitsPerHour, "UnitsPerHour", "Units per hour:"},
    {BenchField::Elapsed, "Elapsed", "Elapsed:"},
    {BenchField::Status, "Status", "Bench:"},
};

const char* const kColumnTitles[kBenchColumnCount] = {
    "Slot", "Port", "Serial", "Version", "Stage", "Progress", "Result", "Seconds", "Attempt"};

// The result cell's background by tone; the cell's text says the same in words.
QBrush ToneBrush(BenchTone eTone) {
    switch (eTone) {
    case BenchTone::Busy:
        return QColor(0xd4, 0xe6, 0xfa);
    case BenchTone::Passed:
        return QColor(0xc6, 0xef, 0xc6);
    case BenchTone::Failed:
        return QColor(0xf6, 0xc0, 0xc0);
    case BenchTone::Retrying:
        return QColor(0xfa, 0xe3, 0xa8);
    case BenchTone::Idle:
        break;
    }
    return QBrush();
}

} // namespace

CBenchWindow::CBenchWindow(QWidget* pParent) : QDialog(pParent) {
    setWindowIcon(MakeAppIcon());
    CreateControls();
    IBenchView& view = *this;
    m_pModel = std::make_unique<CBenchWindowModel>(view, [this] {
        return QMetaObject::invokeMethod(this, "DrainModel", Qt::QueuedConnection);
    });
    CBenchWindowModel& model = *m_pModel;
    connect(m_buttons[BenchButton::Load], &QPushButton::clicked, this,
            [&model] { model.OnLoadBinaryFile(); });
    connect(m_buttons[BenchButton::Start], &QPushButton::clicked, this,
            [&model] { model.OnStart(); });
    connect(m_buttons[BenchButton::Stop], &QPushButton::clicked, this,
            [&model] { model.OnStop(); });
    connect(m_buttons[BenchButton::StopNow], &QPushButton::clicked, this,
            [&model] { model.OnStopNow(); });
    m_pTick = new QTimer(this);
    m_pTick->setInterval(kBenchTickMs);
    connect(m_pTick, &QTimer::timeout, this, [&model] { model.OnTick(); });
}

CBenchWindow::~CBenchWindow() {
    m_pTick->stop();
    m_pModel->Shutdown();
}

bool CBenchWindow::Init(const BenchOptions& options, std::string& strError) {
    if (!m_pModel->Init(options, strError)) {
        return false;
    }
    m_pTick->start();
    return true;
}

void CBenchWindow::CreateControls() {
    auto* pLayout = new QVBoxLayout(this);

    auto* pTop = new QGridLayout;
    int nIndex = 0;
    for (const FieldEntry& field : kTopFields) {
        auto* pLabel = new QLabel(QString::fromUtf8(field.pszLabel), this);
        auto* pValue = new QLabel(this);
        pValue->setTextFormat(Qt::PlainText); // a station "<b>x</b>" is text, never markup
        pValue->setObjectName(QStringLiteral("field.") + QString::fromUtf8(field.pszName));
        pValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
        pValue->setAccessibleName(QString::fromUtf8(field.pszLabel).chopped(1));
        pLabel->setBuddy(pValue);
        const int nRow = nIndex % 3;
        const int nCol = nIndex / 3 * 2;
        pTop->addWidget(pLabel, nRow, nCol);
        pTop->addWidget(pValue, nRow, nCol + 1);
        m_fields[field.eField] = pValue;
        ++nIndex;
    }
    pTop->setColumnStretch(1, 2);
    pTop->setColumnStretch(3, 1);
    auto* pLoad = new QPushButton(QStringLiteral("Load Binary File"), this);
    pLoad->setObjectName(QStringLiteral("load"));
    pTop->addWidget(pLoad, 0, 4);
    m_buttons[BenchButton::Load] = pLoad;
    pLayout->addLayout(pTop);

    auto* pButtons = new QHBoxLayout;
    const std::pair<BenchButton, const char*> buttonEntries[] = {
        {BenchButton::Start, "&Start"},
        {BenchButton::Stop, "S&top"},
        {BenchButton::StopNow, "Stop &now"}};
    const char* const buttonNames[] = {"start", "stop", "stopNow"};
    int nButton = 0;
    for (const auto& [eButton, pszText] : buttonEntries) {
        auto* pButton = new QPushButton(QString::fromUtf8(pszText), this);
        pButton->setObjectName(QString::fromUtf8(buttonNames[nButton++]));
        pButton->setAutoDefault(false); // Enter must not start or stop the bench
        pButtons->addWidget(pButton);
        m_buttons[eButton] = pButton;
    }
    pLoad->setAutoDefault(false);
    pButtons->addStretch(1);
    pLayout->addLayout(pButtons);

    m_pTable = new QTableWidget(0, kBenchColumnCount, this);
    m_pTable->setObjectName(QStringLiteral("slots"));
    m_pTable->setAccessibleName(QStringLiteral("Slots"));
    QStringList titles;
    for (const char* pszTitle : kColumnTitles) {
        titles << QString::fromUtf8(pszTitle);
    }
    m_pTable->setHorizontalHeaderLabels(titles);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->verticalHeader()->setVisible(false);
    m_pTable->horizontalHeader()->setSectionResizeMode(static_cast<int>(BenchColumn::Result),
                                                       QHeaderView::Stretch);
    m_pTable->setItemDelegateForColumn(static_cast<int>(BenchColumn::Progress),
                                       new CProgressDelegate(m_pTable));
    pLayout->addWidget(m_pTable, 3);

    auto* pCounters = new QHBoxLayout;
    for (const FieldEntry& field : kCounterFields) {
        auto* pLabel = new QLabel(QString::fromUtf8(field.pszLabel), this);
        auto* pValue = new QLabel(this);
        pValue->setTextFormat(Qt::PlainText); // a station "<b>x</b>" is text, never markup
        pValue->setObjectName(QStringLiteral("field.") + QString::fromUtf8(field.pszName));
        pValue->setAccessibleName(QString::fromUtf8(field.pszLabel).chopped(1));
        pLabel->setBuddy(pValue);
        pCounters->addWidget(pLabel);
        pCounters->addWidget(pValue);
        pCounters->addSpacing(12);
        m_fields[field.eField] = pValue;
    }
    pCounters->addStretch(1);
    pLayout->addLayout(pCounters);

    m_pLog = new QPlainTextEdit(this);
    m_pLog->setObjectName(QStringLiteral("log"));
    m_pLog->setAccessibleName(QStringLiteral("Log"));
    m_pLog->setReadOnly(true);
    pLayout->addWidget(m_pLog, 1);
    resize(960, 640);
}

// --- IBenchView ----------------------------------------------------------------------

void CBenchWindow::SetTitle(const std::string& strTitle) {
    setWindowTitle(QString::fromStdString(strTitle));
}

void CBenchWindow::SetField(BenchField eField, const std::string& strText) {
    m_fields.at(eField)->setText(QString::fromStdString(strText));
}

void CBenchWindow::EnableButton(BenchButton eButton, bool bEnable) {
    m_buttons.at(eButton)->setEnabled(bEnable);
}

void CBenchWindow::AddRow() {
    const int nRow = m_pTable->rowCount();
    m_pTable->insertRow(nRow);
    for (int nCol = 0; nCol < kBenchColumnCount; ++nCol) {
        m_pTable->setItem(nRow, nCol, new QTableWidgetItem);
    }
}

void CBenchWindow::SetCell(int nRow, BenchColumn eColumn, const std::string& strText) {
    m_pTable->item(nRow, static_cast<int>(eColumn))->setText(QString::fromStdString(strText));
}

void CBenchWindow::SetRowProgress(int nRow, int nPos) {
    m_pTable->item(nRow, static_cast<int>(BenchColumn::Progress))
        ->setData(CProgressDelegate::kProgressRole, nPos);
}

void CBenchWindow::SetRowTone(int nRow, BenchTone eTone) {
    m_pTable->item(nRow, static_cast<int>(BenchColumn::Result))->setBackground(ToneBrush(eTone));
}

void CBenchWindow::AppendLog(const std::string& strLines) {
    QScrollBar* pBar = m_pLog->verticalScrollBar();
    const bool bAtEnd = pBar->value() == pBar->maximum();
    QTextCursor cursor(m_pLog->document());
    cursor.movePosition(QTextCursor::End);
    QString strText = QString::fromStdString(strLines);
    if (strText.endsWith(QLatin1Char('\n'))) {
        strText.chop(1); // the document's last block stays the last line
    }
    if (!m_pLog->document()->isEmpty()) {
        strText.prepend(QLatin1Char('\n'));
    }
    cursor.insertText(strText);
    if (bAtEnd) {
        pBar->setValue(pBar->maximum()); // the newest line in view unless the operator scrolled up
    }
}

void CBenchWindow::DropLogLines(int nLines) {
    QTextCursor cursor(m_pLog->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, nLines);
    cursor.removeSelectedText();
}

bool CBenchWindow::AskYesNo(const std::string& strText) {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kAppName),
                    QString::fromStdString(strText), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void CBenchWindow::ShowMessage(const std::string& strText) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppName),
                    QString::fromStdString(strText), QMessageBox::Ok, this);
    box.exec();
}

std::optional<std::string> CBenchWindow::AskFirmwareFile() {
    return fwup::AskFirmwareFile(this);
}

void CBenchWindow::EndWindow() {
    QDialog::done(QDialog::Rejected);
}

std::string CBenchWindow::TextFromDevice(const std::string& strBytes) const {
    return fwup::TextFromDevice(strBytes);
}

// --- Window --------------------------------------------------------------------------

void CBenchWindow::reject() {
    m_pModel->OnClose();
}

void CBenchWindow::done(int nResult) {
    if (m_pModel->IsRunning()) {
        m_pModel->OnClose();
        return;
    }
    QDialog::done(nResult);
}

void CBenchWindow::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) {
        pEvent->accept(); // Enter does not end the bench; the close box and Esc do
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

} // namespace fwup
