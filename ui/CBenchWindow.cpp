#include "ui/CBenchWindow.h"

#include "ui/AppIcon.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/CProgressDelegate.h"
#include "ui/CSlotBoard.h"
#include "ui/QtDialogs.h"
#include "windowmodel/WindowTexts.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

namespace fwup {

namespace {

// Three rows of two columns on top, one row of counters under the table.
constexpr BenchField kTopFields[] = {BenchField::ImageName, BenchField::ImageSize,
                                     BenchField::ImageDate, BenchField::ImageHash,
                                     BenchField::Store,     BenchField::Station};
constexpr BenchField kCounterFields[] = {BenchField::Passed,  BenchField::Failed,
                                         BenchField::Yield,   BenchField::UnitsPerHour,
                                         BenchField::Elapsed, BenchField::Status};

// Where the user's bench scale is kept (per user, as Qt keeps settings).
constexpr const char* kScaleKey = "bench/scale";

QSettings UserSettings() {
    return QSettings(QStringLiteral("fwupgrader"), QStringLiteral("fwupgraderVelmora"));
}

// The result cell's background by tone; the cell's text says the same in words.
QBrush ToneBrush(BenchTone eTone) {
    const std::optional<uint32_t> optRgb = BenchToneRgb(eTone);
    return optRgb ? QBrush(QColor(static_cast<QRgb>(*optRgb))) : QBrush();
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
    connect(m_buttons[BenchButton::ResetCounters], &QPushButton::clicked, this,
            [&model] { model.OnResetCounters(); });
    m_pTick = new QTimer(this);
    m_pTick->setInterval(kBenchTickMs);
    connect(m_pTick, &QTimer::timeout, this, [&model] { model.OnTick(); });
    CreateMenuAndKeys();
}

CBenchWindow::~CBenchWindow() {
    m_pTick->stop();
    m_pModel->Shutdown();
}

bool CBenchWindow::Init(const BenchOptions& options, std::string& strError) {
    if (!m_pModel->Init(options, strError)) {
        return false;
    }
    m_pModel->RestoreScale(UserSettings().value(QString::fromUtf8(kScaleKey), 100).toInt());
    m_pTick->start();
    return true;
}

void CBenchWindow::CreateControls() {
    auto* pLayout = new QVBoxLayout(this);

    // A field: its label and its value, named by the field's key ("field.Passed").
    const auto makeField = [this](BenchField eField) {
        auto* pLabel = new QLabel(QString::fromUtf8(BenchFieldLabel(eField)), this);
        auto* pValue = new QLabel(this);
        pValue->setTextFormat(Qt::PlainText); // a station "<b>x</b>" is text, never markup
        pValue->setObjectName(QStringLiteral("field.") + QString::fromUtf8(BenchFieldKey(eField)));
        pValue->setAccessibleName(QString::fromStdString(BenchFieldName(eField)));
        pLabel->setBuddy(pValue);
        m_fields[eField] = pValue;
        return std::pair<QLabel*, QLabel*>(pLabel, pValue);
    };
    auto* pTop = new QGridLayout;
    int nIndex = 0;
    for (const BenchField eField : kTopFields) {
        auto [pLabel, pValue] = makeField(eField);
        pValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
        const int nRow = nIndex % 3;
        const int nCol = nIndex / 3 * 2;
        pTop->addWidget(pLabel, nRow, nCol);
        pTop->addWidget(pValue, nRow, nCol + 1);
        ++nIndex;
    }
    pTop->setColumnStretch(1, 2);
    pTop->setColumnStretch(3, 1);
    auto* pLoad = new QPushButton(QString::fromUtf8(BenchButtonText(BenchButton::Load)), this);
    pLoad->setObjectName(QStringLiteral("load"));
    pTop->addWidget(pLoad, 0, 4);
    m_buttons[BenchButton::Load] = pLoad;
    pLayout->addLayout(pTop);

    auto* pButtons = new QHBoxLayout;
    const std::pair<BenchButton, const char*> buttonEntries[] = {
        {BenchButton::Start, "start"},
        {BenchButton::Stop, "stop"},
        {BenchButton::StopNow, "stopNow"},
        {BenchButton::ResetCounters, "resetCounters"}};
    for (const auto& [eButton, pszName] : buttonEntries) {
        auto* pButton = new QPushButton(QString::fromUtf8(BenchButtonText(eButton)), this);
        pButton->setObjectName(QString::fromUtf8(pszName));
        pButton->setAutoDefault(false); // Enter must not start or stop the bench
        pButtons->addWidget(pButton);
        m_buttons[eButton] = pButton;
    }
    pLoad->setAutoDefault(false);
    pButtons->addStretch(1);
    pLayout->addLayout(pButtons);

    m_pTable = new QTableWidget(0, kBenchColumnCount, this);
    m_pTable->setObjectName(QStringLiteral("slots"));
    m_pTable->setAccessibleName(QString::fromUtf8(kTextBenchTableName));
    QStringList titles;
    for (int nColumn = 0; nColumn < kBenchColumnCount; ++nColumn) {
        titles << QString::fromUtf8(BenchColumnTitle(static_cast<BenchColumn>(nColumn)));
    }
    m_pTable->setHorizontalHeaderLabels(titles);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->verticalHeader()->setVisible(false);
    m_pTable->horizontalHeader()->setSectionResizeMode(static_cast<int>(BenchColumn::Result),
                                                       QHeaderView::Stretch);
    m_pTable->setItemDelegateForColumn(static_cast<int>(BenchColumn::Progress),
                                       new CProgressDelegate(m_pTable));
    if (m_pTable->font().pointSizeF() > 0) {
        m_tablePointSize = m_pTable->font().pointSizeF();
    }
    m_pBoard = new CSlotBoard(this);
    m_pBoard->setAccessibleName(QString::fromUtf8(kTextBoardName));
    m_pMiddle = new QStackedWidget(this);
    m_pMiddle->addWidget(m_pBoard);
    m_pMiddle->addWidget(m_pTable);
    pLayout->addWidget(m_pMiddle, 4);

    auto* pCounters = new QHBoxLayout;
    for (const BenchField eField : kCounterFields) {
        auto [pLabel, pValue] = makeField(eField);
        pCounters->addWidget(pLabel);
        pCounters->addWidget(pValue);
        pCounters->addSpacing(12);
    }
    pCounters->addStretch(1);
    pLayout->addLayout(pCounters);

    m_pLog = new QPlainTextEdit(this);
    m_pLog->setObjectName(QStringLiteral("log"));
    m_pLog->setAccessibleName(QString::fromUtf8(kTextLogName));
    m_pLog->setReadOnly(true);
    pLayout->addWidget(m_pLog, 1);
    resize(1280, 720); // the board wants room; a smaller screen's window manager fits it
}

void CBenchWindow::CreateMenuAndKeys() {
    CBenchWindowModel& model = *m_pModel;
    m_pMenu = new QMenu(this);
    const auto entry = [this](const char* pszText, const QKeySequence& keys, auto fn) {
        const QString strText = QString::fromUtf8(pszText).section(QLatin1Char('\t'), 0, 0);
        QAction* pAction = m_pMenu->addAction(strText, this, fn);
        pAction->setShortcut(keys);
        pAction->setShortcutContext(Qt::WindowShortcut);
        addAction(pAction); // the keys work without the menu open
        return pAction;
    };
    entry(kTextBoardOrTable, QKeySequence(Qt::Key_F2), [&model] { model.OnToggleBoard(); });
    m_pMenu->addSeparator();
    QAction* pLarger = entry(kTextLarger, QKeySequence::ZoomIn, [&model] { model.OnScaleStep(1); });
    // Ctrl+= too: on many keyboards '+' needs Shift.
    pLarger->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    entry(kTextSmaller, QKeySequence::ZoomOut, [&model] { model.OnScaleStep(-1); });
    entry(kTextNormalSize, QKeySequence(Qt::CTRL | Qt::Key_0), [&model] { model.OnScaleStep(0); });
    m_pMenu->addSeparator();
    m_pSound = m_pMenu->addAction(QString::fromUtf8(kTextSoundOnFailure), this,
                                  [&model] { model.OnToggleSound(); });
    m_pSound->setCheckable(true);
}

void CBenchWindow::contextMenuEvent(QContextMenuEvent* pEvent) {
    m_pMenu->popup(pEvent->globalPos());
    pEvent->accept();
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

void CBenchWindow::SetCellTip(int nRow, BenchColumn eColumn, const std::string& strTip) {
    m_pTable->item(nRow, static_cast<int>(eColumn))->setToolTip(QString::fromStdString(strTip));
}

void CBenchWindow::SetTile(int nRow, const BenchTile& tile) {
    m_pBoard->SetTile(nRow, tile);
}

void CBenchWindow::ShowBoard(bool bBoard) {
    m_pMiddle->setCurrentWidget(bBoard ? static_cast<QWidget*>(m_pBoard) : m_pTable);
}

void CBenchWindow::SetScale(int nPercent) {
    m_pBoard->SetScale(nPercent);
    QFont font = m_pTable->font();
    font.setPointSizeF(std::max(6.0, m_tablePointSize * nPercent / 100));
    m_pTable->setFont(font);
    m_pTable->horizontalHeader()->setFont(font);
    // Widths from samples, not from the cells: measuring 64 rows at every change
    // would cost the GUI thread more than the bars do.
    const QFontMetrics metrics(font);
    for (int nColumn = 0; nColumn < kBenchColumnCount; ++nColumn) {
        if (nColumn == static_cast<int>(BenchColumn::Result)) {
            continue; // it takes the rest
        }
        const QString strTitle =
            QString::fromUtf8(BenchColumnTitle(static_cast<BenchColumn>(nColumn)));
        const QString strSample = QString::fromUtf8(BenchColumnSample(nColumn));
        m_pTable->setColumnWidth(nColumn, std::max(metrics.horizontalAdvance(strTitle),
                                                   metrics.horizontalAdvance(strSample)) +
                                              metrics.height());
    }
    m_pTable->verticalHeader()->setDefaultSectionSize(metrics.height() * 3 / 2);
    UserSettings().setValue(QString::fromUtf8(kScaleKey), nPercent);
}

void CBenchWindow::SetSoundOn(bool bOn) {
    m_pSound->setChecked(bOn);
}

void CBenchWindow::PlayFailureSound() {
    QApplication::beep();
}

void CBenchWindow::AddRow() {
    const int nRow = m_pTable->rowCount();
    m_pTable->insertRow(nRow);
    for (int nCol = 0; nCol < kBenchColumnCount; ++nCol) {
        m_pTable->setItem(nRow, nCol, new QTableWidgetItem);
    }
    m_pBoard->AddTile();
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
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kTextProgramName),
                    QString::fromStdString(strText), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void CBenchWindow::ShowMessage(const std::string& strText) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kTextProgramName),
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
