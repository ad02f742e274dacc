#include "ui/CFwUpgraderVelmoraDlg.h"

#include "ui/AppIcon.h"
#include "ui/CAboutDlg.h"
#include "ui/CLogBox.h"
#include "ui/CPortComboBox.h"
#include "ui/DialogUnits.h"
#include "ui/QtDialogs.h"
#include "windowmodel/BenchOptions.h"
#include "windowmodel/ControlIds.h"
#include "windowmodel/WindowTexts.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>

namespace fwup {

namespace {

enum class Kind { Button, Combo, MultiEdit, Edit, Progress, Static, StaticCentred, StaticSunken };

struct ControlTemplate {
    int nId; // -1: the "SN" label, the one control without an id
    Kind eKind;
    QRect rcDlu;
    bool bVisible;
    bool bEnabled;
};

// Template 102, in template (tab) order, then the auto mode's two controls in
// the free space of the right column under the progress bar. Their texts come
// from the model (Init), their names for screen readers from WindowTexts.
const ControlTemplate kTemplate[] = {
    {IDC_UPLOAD, Kind::Button, QRect(231, 18, 78, 23), true, true},
    {IDC_AREA, Kind::Combo, QRect(232, 59, 77, 54), false, false},
    {IDC_PORT, Kind::Combo, QRect(7, 7, 174, 30), true, true},
    {IDC_LOAD, Kind::Button, QRect(7, 34, 77, 14), true, true},
    {IDC_FILE_INFO, Kind::MultiEdit, QRect(7, 52, 208, 32), true, false},
    {IDC_FILE_PATH, Kind::Edit, QRect(7, 85, 302, 14), true, false},
    {IDC_AREA_TEXT, Kind::Edit, QRect(232, 71, 77, 13), false, false},
    {IDC_LOG, Kind::MultiEdit, QRect(7, 114, 302, 67), true, false},
    {IDC_PROGRESS, Kind::Progress, QRect(232, 44, 77, 7), true, false},
    {IDC_DEVICE_STATE, Kind::StaticCentred, QRect(231, 7, 78, 9), true, true},
    {IDC_CONNECT, Kind::Button, QRect(185, 7, 43, 12), true, false},
    {IDC_STATIC, Kind::Static, QRect(7, 22, 10, 8), true, true},
    {IDC_SERIAL, Kind::StaticSunken, QRect(25, 21, 60, 10), true, true},
    {IDC_STATUS, Kind::Edit, QRect(7, 100, 302, 14), true, false},
    {IDC_AUTO_MODE, Kind::Button, QRect(232, 55, 77, 14), true, true},
    {IDC_AUTO_PROGRESS, Kind::Progress, QRect(232, 72, 77, 7), true, true},
};

// A combo box's template height is that of its opened list; closed, it is one
// line high, like the Connect button beside it.
constexpr int kComboClosedDlu = 12;

} // namespace

CFwUpgraderVelmoraDlg::CFwUpgraderVelmoraDlg(QWidget* pParent) : QDialog(pParent) {
    m_hIcon = MakeAppIcon();
    CreateControls();
    // Workers' reports run here, on the GUI thread, as a queued call.
    IWindowView& view = *this;
    m_pModel = std::make_unique<CMainWindowModel>(view, [this] {
        return QMetaObject::invokeMethod(this, "DrainModel", Qt::QueuedConnection);
    });
    ConnectSignals();

    // The window's menu: a separator, the bench, then the About entry.
    m_pSystemMenu = new QMenu(this);
    m_pSystemMenu->addSeparator();
    QAction* pBench = m_pSystemMenu->addAction(QString::fromUtf8(kTextBenchEntry));
    pBench->setData(static_cast<int>(IDM_BENCH));
    QAction* pAbout = m_pSystemMenu->addAction(QString::fromUtf8(kTextAboutEntry));
    pAbout->setData(static_cast<int>(IDM_ABOUTBOX));
    connect(m_pSystemMenu, &QMenu::triggered, this,
            [this](QAction* pAction) { OnSysCommand(pAction->data().toInt()); });
    setWindowIcon(m_hIcon);
    m_pPort->setPlaceholderText(QString::fromUtf8(kTextPortCue));
    m_pArea->setPlaceholderText(QString::fromUtf8(kTextAreaCue));
    m_pModel->Init();
    setWindowTitle(QString::fromUtf8(MainWindowCaption()));
}

CFwUpgraderVelmoraDlg::~CFwUpgraderVelmoraDlg() {
    // done() refuses to end the window while a run or a loop is busy, so normally
    // nothing runs here any more; a connect step may, and is waited for.
    m_pModel->Shutdown();
}

void CFwUpgraderVelmoraDlg::CreateControls() {
    QFont dlgFont = font();
    dlgFont.setPointSize(9);
    setFont(dlgFont);
    setWindowTitle(QString::fromUtf8(kTextProductName));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
    setSizeGripEnabled(false);
    setAcceptDrops(true);
    const DialogBaseUnits units = BaseUnitsOf(dlgFont);
    resize(DluToPixels(QRect(0, 0, 316, 188), units).size());

    for (const ControlTemplate& t : kTemplate) {
        QWidget* pWidget = nullptr;
        const QString strText = QString::fromUtf8(
            t.nId == IDC_STATIC ? kTextSerialLabel : ""); // the model fills the rest
        QRect rc = DluToPixels(t.rcDlu, units);
        switch (t.eKind) {
        case Kind::Button: {
            auto* pButton = new QPushButton(strText, this);
            pButton->setAutoDefault(false);
            pWidget = pButton;
            break;
        }
        case Kind::Combo: {
            auto* pCombo = t.nId == IDC_PORT ? new CPortComboBox(this) : new QComboBox(this);
            pCombo->setMaxVisibleItems(10);
            pWidget = pCombo;
            rc.setHeight(DluToPixels(QRect(0, 0, 0, kComboClosedDlu), units).height());
            break;
        }
        case Kind::MultiEdit:
            pWidget = new CLogBox(t.nId == IDC_LOG, this);
            break;
        case Kind::Edit: {
            auto* pEdit = new QLineEdit(strText, this);
            pEdit->setReadOnly(true);
            pEdit->setAcceptDrops(false);
            pWidget = pEdit;
            break;
        }
        case Kind::Progress: {
            auto* pBar = new QProgressBar(this);
            pBar->setRange(0, 100);
            pBar->setValue(0);
            pBar->setTextVisible(false);
            pWidget = pBar;
            break;
        }
        case Kind::Static:
        case Kind::StaticCentred:
        case Kind::StaticSunken: {
            auto* pLabel = new QLabel(strText, this);
            pLabel->setTextFormat(Qt::PlainText);
            if (t.eKind == Kind::StaticCentred) {
                pLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            }
            if (t.eKind == Kind::StaticSunken) {
                pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            }
            pWidget = pLabel;
            break;
        }
        }
        pWidget->setGeometry(rc);
        pWidget->setVisible(t.bVisible);
        pWidget->setEnabled(t.bEnabled);
        pWidget->setObjectName(t.nId >= 0 ? QString::number(t.nId) : QStringLiteral("sn_label"));
        if (const char* pszName =
                t.nId >= 0 ? AccessibleName(static_cast<Control>(t.nId)) : nullptr) {
            pWidget->setAccessibleName(QString::fromUtf8(pszName));
        }
    }

    m_pArea = findChild<QComboBox*>(QString::number(IDC_AREA), Qt::FindDirectChildrenOnly);
    m_pPort = findChild<CPortComboBox*>(QString::number(IDC_PORT), Qt::FindDirectChildrenOnly);
}

void CFwUpgraderVelmoraDlg::ConnectSignals() {
    CMainWindowModel* pModel = m_pModel.get();
    connect(m_pPort, &CPortComboBox::dropDown, this, [pModel] { pModel->RefreshPortList(); });
    connect(m_pPort, &CPortComboBox::focusGained, this, [pModel] { pModel->RefreshPortList(); });
    connect(m_pPort, qOverload<int>(&QComboBox::activated), this, [this, pModel](int nIndex) {
        pModel->OnPortSelChange(
            nIndex >= 0 ? std::optional<std::string>(
                              m_pPort->itemData(nIndex, Qt::UserRole).toByteArray().toStdString())
                        : std::nullopt);
    });
    connect(m_pArea, qOverload<int>(&QComboBox::activated), this, [this, pModel](int nIndex) {
        pModel->OnAreaSelChange(nIndex >= 0 ? m_pArea->itemText(nIndex).toStdString() : "");
    });
    const auto button = [this](Control eControl) {
        return static_cast<QPushButton*>(Widget(eControl));
    };
    connect(button(Control::Upload), &QPushButton::clicked, this, [pModel] { pModel->OnUpload(); });
    connect(button(Control::Load), &QPushButton::clicked, this,
            [pModel] { pModel->OnLoadBinaryFile(); });
    connect(button(Control::Connect), &QPushButton::clicked, this,
            [pModel] { pModel->OnConnect(); });
    connect(button(Control::AutoMode), &QPushButton::clicked, this,
            [pModel] { pModel->OnAutoMode(); });
}

QWidget* CFwUpgraderVelmoraDlg::Widget(Control eControl) const {
    return findChild<QWidget*>(QString::number(static_cast<int>(eControl)),
                               Qt::FindDirectChildrenOnly);
}

std::optional<Control> CFwUpgraderVelmoraDlg::ControlOf(const QWidget* pWidget) const {
    bool bNumber = false;
    const int nId = pWidget != nullptr ? pWidget->objectName().toInt(&bNumber) : 0;
    return bNumber ? std::optional<Control>(static_cast<Control>(nId)) : std::nullopt;
}

// --- What the model shows ---------------------------------------------------------

void CFwUpgraderVelmoraDlg::SetControlText(Control eControl, const std::string& strText) {
    QWidget* pWidget = Widget(eControl);
    const QString str = QString::fromUtf8(strText);
    if (auto* pButton = qobject_cast<QPushButton*>(pWidget)) {
        pButton->setText(str);
    } else if (auto* pLabel = qobject_cast<QLabel*>(pWidget)) {
        pLabel->setText(str);
    } else if (auto* pEdit = qobject_cast<QLineEdit*>(pWidget)) {
        pEdit->setText(str);
        pEdit->setCursorPosition(0);
    }
}

void CFwUpgraderVelmoraDlg::EnableControl(Control eControl, bool bEnable) {
    Widget(eControl)->setEnabled(bEnable);
}

void CFwUpgraderVelmoraDlg::SetProgress(Control eBar, int nPos) {
    static_cast<QProgressBar*>(Widget(eBar))->setValue(nPos);
}

void CFwUpgraderVelmoraDlg::SetMarquee(Control eBar, bool bOn) {
    static_cast<QProgressBar*>(Widget(eBar))->setRange(0, bOn ? 0 : 100);
}

void CFwUpgraderVelmoraDlg::EditBox(Control eBox, size_t nDropFront,
                                    const std::u16string& strAppend, size_t) {
    // The box puts its caret on its last line that holds text itself.
    static_cast<CLogBox*>(Widget(eBox))
        ->Edit(static_cast<qsizetype>(nDropFront), QString::fromStdU16String(strAppend));
}

void CFwUpgraderVelmoraDlg::SetComboItems(Control eCombo, const std::vector<PortChoice>& items) {
    auto* pCombo = static_cast<QComboBox*>(Widget(eCombo));
    const QSignalBlocker blocker(pCombo);
    pCombo->clear();
    for (const PortChoice& item : items) {
        pCombo->addItem(QString::fromUtf8(item.strName), QByteArray::fromStdString(item.strName));
        if (!item.strHint.empty()) {
            pCombo->setItemData(pCombo->count() - 1, QString::fromUtf8(item.strHint),
                                Qt::ToolTipRole);
        }
    }
    pCombo->setCurrentIndex(-1);
}

void CFwUpgraderVelmoraDlg::ChooseComboItem(Control eCombo, int nIndex) {
    static_cast<QComboBox*>(Widget(eCombo))->setCurrentIndex(nIndex);
}

void CFwUpgraderVelmoraDlg::SetPortHint(const std::string& strHint) {
    m_pPort->setToolTip(QString::fromUtf8(strHint));
}

void CFwUpgraderVelmoraDlg::OpenPortList() {
    m_pPort->showPopup();
}

void CFwUpgraderVelmoraDlg::ShowMessage(const std::string& strText, BoxIcon eIcon) {
    QMessageBox box(eIcon == BoxIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon,
                    QString::fromUtf8(kTextProgramName), QString::fromUtf8(strText),
                    QMessageBox::Ok, this);
    box.exec();
}

void CFwUpgraderVelmoraDlg::SetWaitCursor(bool bOn) {
    if (bOn) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

std::optional<std::string> CFwUpgraderVelmoraDlg::AskFirmwareFile() {
    return fwup::AskFirmwareFile(this);
}

void CFwUpgraderVelmoraDlg::EndDialog() {
    QDialog::done(QDialog::Rejected);
}

std::string CFwUpgraderVelmoraDlg::TextFromDevice(const std::string& strBytes) const {
    return fwup::TextFromDevice(strBytes);
}

// --- Window --------------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnSysCommand(int nId) {
    if ((nId & ~0xF) == IDM_BENCH) {
        OpenBench();
        return;
    }
    if ((nId & ~0xF) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    }
}

void CFwUpgraderVelmoraDlg::SetStartOptions(const BenchOptions& options) {
    m_strRecordStore = options.strRecordStore;
    m_strProfilePath = options.strProfilePath;
    m_strExpectVersion = options.strExpectVersion;
    m_bVerify = options.bVerify;
    m_pModel->SetReadBack(options.bVerify, options.ExpectVersion());
    if (options.optProfile) {
        m_pModel->SetStationProfile(*options.optProfile, options.strFirmwarePath);
    }
}

void CFwUpgraderVelmoraDlg::OpenBench() {
    // A process of its own: the bench's readers, records and window live and end
    // apart from this window's connection and auto mode.
    QStringList args{QStringLiteral("--bench")};
    if (!m_strProfilePath.empty()) {
        args << QStringLiteral("--profile") << QFile::decodeName(m_strProfilePath.c_str());
    }
    if (!m_strExpectVersion.empty()) {
        args << QStringLiteral("--expect-version") << QString::fromStdString(m_strExpectVersion);
    }
    if (!m_bVerify) {
        args << QStringLiteral("--no-verify");
    }
    // A locked profile gives the bench its image itself.
    if (m_pModel->HasImage() && !m_pModel->IsImageLocked()) {
        args << QStringLiteral("--file") << QFile::decodeName(m_pModel->FirmwarePath().c_str());
    }
    QProcess bench;
    bench.setProgram(QCoreApplication::applicationFilePath());
    bench.setArguments(args);
    if (!m_strRecordStore.empty()) {
        // In the child's environment, not its command line: any user can read
        // a process's arguments, a password in the store among them.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kRecordStoreVariable),
                           QString::fromStdString(m_strRecordStore));
        bench.setProcessEnvironment(environment);
    }
    if (!bench.startDetached()) {
        m_pModel->AddLog("%s", kTextBenchNotStarted);
    }
}

void CFwUpgraderVelmoraDlg::contextMenuEvent(QContextMenuEvent* pEvent) {
    m_pSystemMenu->popup(pEvent->globalPos());
    pEvent->accept();
}

void CFwUpgraderVelmoraDlg::reject() {
    m_pModel->OnCancel();
}

void CFwUpgraderVelmoraDlg::done(int nResult) {
    // Also the Enter key's default ending: never while a worker is busy.
    if (m_pModel->OnOK()) {
        QDialog::done(nResult);
    }
}

void CFwUpgraderVelmoraDlg::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) {
        // A focused button takes Enter as a click; elsewhere Enter is the OK
        // command, which ends the window (through done()'s guard).
        if (auto* pButton = qobject_cast<QPushButton*>(focusWidget())) {
            pButton->click();
        } else {
            done(QDialog::Accepted);
        }
        pEvent->accept();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

// --- Drops -----------------------------------------------------------------------

QWidget* CFwUpgraderVelmoraDlg::ControlAt(const QPoint& ptClient) const {
    // Disabled controls count (both drop targets are disabled); hidden ones do
    // not. Later controls lie on top.
    QWidget* pFound = nullptr;
    for (QWidget* pWidget : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!pWidget->isWindow() && !pWidget->isHidden() &&
            pWidget->geometry().contains(ptClient)) {
            pFound = pWidget;
        }
    }
    return pFound;
}

void CFwUpgraderVelmoraDlg::dragEnterEvent(QDragEnterEvent* pEvent) {
    if (pEvent->mimeData()->hasUrls()) {
        pEvent->acceptProposedAction();
    }
}

void CFwUpgraderVelmoraDlg::dragMoveEvent(QDragMoveEvent* pEvent) {
    const std::optional<Control> optTarget = ControlOf(ControlAt(pEvent->position().toPoint()));
    if (pEvent->mimeData()->hasUrls() && optTarget && m_pModel->CanTakeDrop(*optTarget)) {
        pEvent->acceptProposedAction();
    } else {
        pEvent->ignore();
    }
}

void CFwUpgraderVelmoraDlg::dropEvent(QDropEvent* pEvent) {
    QStringList paths;
    for (const QUrl& url : pEvent->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    if (OnDropFiles(pEvent->position().toPoint(), paths)) {
        pEvent->acceptProposedAction();
    } else {
        pEvent->ignore();
    }
}

bool CFwUpgraderVelmoraDlg::OnDropFiles(const QPoint& ptClient, const QStringList& paths) {
    const std::optional<Control> optTarget = ControlOf(ControlAt(ptClient));
    return !paths.isEmpty() && optTarget &&
           m_pModel->OnDropFiles(*optTarget, QFile::encodeName(paths.constFirst()).toStdString());
}

} // namespace fwup
