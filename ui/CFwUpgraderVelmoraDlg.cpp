#include "ui/CFwUpgraderVelmoraDlg.h"

#include "records/CUnitRecordLog.h"

#include "device/FirmwareFile.h"
#include "ui/AppIcon.h"
#include "ui/CAboutDlg.h"
#include "ui/CLogBox.h"
#include "ui/CPortComboBox.h"
#include "ui/CWorkflowController.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"

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
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>

#include <cstdarg>

namespace fwup {

int g_nBusyCount = 0;
CFwUpgraderVelmoraDlg* g_pMainDlg = nullptr;

namespace {

enum class Kind { Button, Combo, MultiEdit, Edit, Progress, Static, StaticCentred, StaticSunken };

struct ControlTemplate {
    int nId; // -1: no id
    Kind eKind;
    const char* pszText;
    QRect rcDlu;
    bool bVisible;
    bool bEnabled;
};

// Template 102, in template (tab) order, then the auto mode's two controls in
// the free space of the right column under the progress bar.
const ControlTemplate kTemplate[] = {
    {IDC_UPLOAD, Kind::Button, "UPLOAD", QRect(231, 18, 78, 23), true, true},
    {IDC_AREA, Kind::Combo, "", QRect(232, 59, 77, 54), false, false},
    {IDC_PORT, Kind::Combo, "", QRect(7, 7, 174, 30), true, true},
    {IDC_LOAD, Kind::Button, "Load Binary File", QRect(7, 34, 77, 14), true, true},
    {IDC_FILE_INFO, Kind::MultiEdit, "", QRect(7, 52, 208, 32), true, false},
    {IDC_FILE_PATH, Kind::Edit, "", QRect(7, 85, 302, 14), true, false},
    {IDC_AREA_TEXT, Kind::Edit, "", QRect(232, 71, 77, 13), false, false},
    {IDC_LOG, Kind::MultiEdit, "", QRect(7, 114, 302, 67), true, false},
    {IDC_PROGRESS, Kind::Progress, "", QRect(232, 44, 77, 7), true, false},
    {IDC_DEVICE_STATE, Kind::StaticCentred, "no device", QRect(231, 7, 78, 9), true, true},
    {IDC_CONNECT, Kind::Button, "Connect", QRect(185, 7, 43, 12), true, false},
    {-1, Kind::Static, "SN", QRect(7, 22, 10, 8), true, true},
    {IDC_SERIAL, Kind::StaticSunken, "", QRect(25, 21, 60, 10), true, true},
    {IDC_STATUS, Kind::Edit, "", QRect(7, 100, 302, 14), true, false},
    {IDC_AUTO_MODE, Kind::Button, "auto mode", QRect(232, 55, 77, 14), true, true},
    {IDC_AUTO_PROGRESS, Kind::Progress, "", QRect(232, 72, 77, 7), true, true},
};

// A combo box's template height is that of its opened list; closed, it is one
// line high, like the Connect button beside it.
constexpr int kComboClosedDlu = 12;

} // namespace

CFwUpgraderVelmoraDlg::CFwUpgraderVelmoraDlg(QWidget* pParent)
    : QDialog(pParent), m_pWorkflows(std::make_unique<CWorkflowController>()) {
    m_hIcon = MakeAppIcon();
    CreateControls();
    ConnectSignals();
    OnInitDialog();
}

void CFwUpgraderVelmoraDlg::SetRecordLog(CUnitRecordLog* pRecords) {
    m_pWorkflows->SetRecordLog(pRecords);
    if (pRecords != nullptr) {
        AddLog("Records go to %s\n", pRecords->StoreName().c_str());
        // Spooled or lost records are told from the records' writer thread.
        pRecords->SetNoticeSink([this](const std::string& strNotice) {
            QMetaObject::invokeMethod(
                this, [this, strNotice] { AddLog("%s\n", strNotice.c_str()); },
                Qt::QueuedConnection);
        });
    }
}

CFwUpgraderVelmoraDlg::~CFwUpgraderVelmoraDlg() {
    // done() refuses to end the window while a run or a loop is busy, so normally
    // nothing runs here any more; a connect step may, and is waited for.
    m_pWorkflows->Shutdown();
    if (g_pMainDlg == this) {
        g_pMainDlg = nullptr;
    }
}

void CFwUpgraderVelmoraDlg::CreateControls() {
    QFont dlgFont = font();
    dlgFont.setPointSize(9);
    setFont(dlgFont);
    setWindowTitle(QStringLiteral("VelgoFWUp"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
    setSizeGripEnabled(false);
    setAcceptDrops(true);
    const DialogBaseUnits units = BaseUnitsOf(dlgFont);
    resize(DluToPixels(QRect(0, 0, 316, 188), units).size());

    for (const ControlTemplate& t : kTemplate) {
        QWidget* pWidget = nullptr;
        const QString strText = QString::fromUtf8(t.pszText);
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
    }

    const auto child = [this](auto* pTyped, const QString& strName) {
        return findChild<std::remove_pointer_t<decltype(pTyped)>*>(strName,
                                                                   Qt::FindDirectChildrenOnly);
    };
    const auto id = [](int nId) { return QString::number(nId); };
    m_pUpload = child(m_pUpload, id(IDC_UPLOAD));
    m_pArea = child(m_pArea, id(IDC_AREA));
    m_pPort = child(m_pPort, id(IDC_PORT));
    m_pLoad = child(m_pLoad, id(IDC_LOAD));
    m_pFileInfo = child(m_pFileInfo, id(IDC_FILE_INFO));
    m_pFilePath = child(m_pFilePath, id(IDC_FILE_PATH));
    m_pAreaText = child(m_pAreaText, id(IDC_AREA_TEXT));
    m_pLog = child(m_pLog, id(IDC_LOG));
    m_pProgress = child(m_pProgress, id(IDC_PROGRESS));
    m_pDeviceState = child(m_pDeviceState, id(IDC_DEVICE_STATE));
    m_pConnect = child(m_pConnect, id(IDC_CONNECT));
    m_pSnLabel = child(m_pSnLabel, QStringLiteral("sn_label"));
    m_pSerial = child(m_pSerial, id(IDC_SERIAL));
    m_pStatus = child(m_pStatus, id(IDC_STATUS));
    m_pAutoMode = child(m_pAutoMode, id(IDC_AUTO_MODE));
    m_pAutoProgress = child(m_pAutoProgress, id(IDC_AUTO_PROGRESS));
}

void CFwUpgraderVelmoraDlg::ConnectSignals() {
    connect(m_pPort, &CPortComboBox::dropDown, this, &CFwUpgraderVelmoraDlg::RefreshPortList);
    connect(m_pPort, &CPortComboBox::focusGained, this, &CFwUpgraderVelmoraDlg::RefreshPortList);
    connect(m_pPort, qOverload<int>(&QComboBox::activated), this,
            &CFwUpgraderVelmoraDlg::OnPortSelChange);
    connect(m_pArea, qOverload<int>(&QComboBox::activated), this,
            &CFwUpgraderVelmoraDlg::OnAreaSelChange);
    connect(m_pUpload, &QPushButton::clicked, this, &CFwUpgraderVelmoraDlg::OnUpload);
    connect(m_pLoad, &QPushButton::clicked, this, &CFwUpgraderVelmoraDlg::OnLoadBinaryFile);
    connect(m_pConnect, &QPushButton::clicked, this, &CFwUpgraderVelmoraDlg::OnConnect);
    connect(m_pAutoMode, &QPushButton::clicked, this, &CFwUpgraderVelmoraDlg::OnAutoMode);

    CWorkflowController* pFlows = m_pWorkflows.get();
    connect(pFlows, &CWorkflowController::connectFinished, this,
            &CFwUpgraderVelmoraDlg::OnConnectFinished);
    connect(pFlows, &CWorkflowController::stageReported, this, &CFwUpgraderVelmoraDlg::OnStatus);
    connect(pFlows, &CWorkflowController::manualRunFinished, this,
            &CFwUpgraderVelmoraDlg::OnManualRunFinished);
    connect(pFlows, &CWorkflowController::autoLoopStarted, this,
            &CFwUpgraderVelmoraDlg::OnAutoLoopStarted);
    connect(pFlows, &CWorkflowController::autoSearching, this,
            &CFwUpgraderVelmoraDlg::OnAutoSearching);
    connect(pFlows, &CWorkflowController::autoNothingFound, this,
            &CFwUpgraderVelmoraDlg::OnAutoNothingFound);
    connect(pFlows, &CWorkflowController::autoDeviceFound, this,
            &CFwUpgraderVelmoraDlg::OnAutoDeviceFound);
    connect(pFlows, &CWorkflowController::removeDeviceAsked, this,
            &CFwUpgraderVelmoraDlg::OnRemoveDeviceAsked);
    connect(pFlows, &CWorkflowController::autoLoopEnded, this,
            &CFwUpgraderVelmoraDlg::OnAutoLoopEnded);
}

void CFwUpgraderVelmoraDlg::OnInitDialog() {
    // The window's menu: a separator, then the About entry.
    m_pSystemMenu = new QMenu(this);
    m_pSystemMenu->addSeparator();
    QAction* pAbout = m_pSystemMenu->addAction(QStringLiteral("About VelgoFWUp(&A)..."));
    pAbout->setData(static_cast<int>(IDM_ABOUTBOX));
    connect(m_pSystemMenu, &QMenu::triggered, this,
            [this](QAction* pAction) { OnSysCommand(pAction->data().toInt()); });

    setWindowIcon(m_hIcon);
    g_pMainDlg = this;
    m_pSegments.reset();
    m_nBootInfo = -1;
    m_optVersion.reset();
    m_pUpload->setEnabled(false);

    RefreshPortList();
    m_pArea->addItem(QStringLiteral("CODE"));
    m_pPort->setPlaceholderText(QStringLiteral("select comport"));
    m_pArea->setPlaceholderText(QStringLiteral("select area"));
    m_pArea->setCurrentIndex(0);
    SelectArea();

    m_strFirmwarePath.clear();
    m_pRequest = std::make_unique<UpdateRequest>();
    m_bCloseRequested = false;
    m_bAutoMode = false;
    m_bAutoStopped = true;
    m_pSession.reset();
    setWindowTitle(windowTitle() + QStringLiteral(" v") + QString::fromUtf8(kAppVersion));
}

// --- Log and status ------------------------------------------------------------

void CFwUpgraderVelmoraDlg::AddLog(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const QString strText = QString::vasprintf(pszFormat, args);
    va_end(args);
    m_pLog->AppendText(strText);
}

void CFwUpgraderVelmoraDlg::SetStatusText(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const QString strText = QString::vasprintf(pszFormat, args);
    va_end(args);
    m_pStatus->setText(strText);
    m_pStatus->setCursorPosition(0);
}

int32_t CFwUpgraderVelmoraDlg::ShowFileInfo(const QString& strPath) {
    FileFacts facts;
    if (!ReadFileFacts(QFile::encodeName(strPath).toStdString(), facts)) {
        return -1;
    }
    const QString strName = QFile::decodeName(QByteArray::fromStdString(facts.strName));
    const QString strExt = QFile::decodeName(QByteArray::fromStdString(facts.strExtension));
    m_pFileInfo->SetText(QString());
    m_pFileInfo->AppendText(QStringLiteral("file name : %1%2\n").arg(strName, strExt));
    m_pFileInfo->AppendText(QStringLiteral("file size : %1\n").arg(facts.nSize));
    m_pFileInfo->AppendText(
        QStringLiteral("file date : %1\n").arg(QString::fromStdString(facts.strDate)));
    return facts.nSize;
}

void CFwUpgraderVelmoraDlg::MessageBox(const QString& strText, QMessageBox::Icon eIcon) {
    QMessageBox box(eIcon, QString::fromUtf8(kAppName), strText, QMessageBox::Ok, this);
    box.exec();
}

// --- Window --------------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnSysCommand(int nId) {
    if ((nId & ~0xF) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    }
}

void CFwUpgraderVelmoraDlg::contextMenuEvent(QContextMenuEvent* pEvent) {
    m_pSystemMenu->popup(pEvent->globalPos());
    pEvent->accept();
}

void CFwUpgraderVelmoraDlg::OnCancel() {
    m_bCloseRequested = true;
    if (m_bAutoStopped && !m_bManualRun) {
        // A connect step still running is waited for when the window goes.
        EndDialog();
        return;
    }
    if (!m_bAutoStopped) {
        // The loop ends its cycle, then closes the window.
        m_pAutoMode->setEnabled(false);
        m_bAutoMode = false;
        m_pWorkflows->StopAutoLoop();
    } else {
        // A manual run keeps using the port, the request and the controls: the
        // window closes when its job is over.
        SetStatusText("closing when the update is over ...");
    }
}

void CFwUpgraderVelmoraDlg::reject() {
    OnCancel();
}

void CFwUpgraderVelmoraDlg::done(int nResult) {
    // Also the Enter key's default ending: never while a worker is busy.
    if (m_bManualRun || !m_bAutoStopped) {
        OnCancel();
        return;
    }
    QDialog::done(nResult);
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

void CFwUpgraderVelmoraDlg::EndDialog() {
    QDialog::done(QDialog::Rejected);
}

bool CFwUpgraderVelmoraDlg::IsWorkBusy() const {
    return m_bManualRun || !m_bAutoStopped || m_bAutoMode;
}

// --- Area choice -----------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnAreaSelChange() {
    SelectArea();
}

void CFwUpgraderVelmoraDlg::SelectArea() {
    const QString strName = m_pArea->currentIndex() >= 0 ? m_pArea->currentText() : QString();
    m_pAreaText->setEnabled(false);
    QString strAreaText;
    if (const FirmwareArea* pRow = FindFirmwareArea(strName.toStdString())) {
        if (std::string(pRow->pszName) == "CUSTOM") {
            m_pAreaText->setEnabled(true);
            m_dwAreaStart = 0;
            m_dwAreaSize = 0;
        } else {
            m_dwAreaStart = pRow->dwStart;
            m_dwAreaSize = pRow->dwSize;
            strAreaText = QString::fromStdString(FormatAreaText(pRow->dwStart, pRow->dwSize));
        }
    }
    m_pAreaText->setText(strAreaText);
    m_pAreaText->setCursorPosition(0);
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
    QWidget* pTarget = ControlAt(pEvent->position().toPoint());
    if (pEvent->mimeData()->hasUrls() && pTarget != nullptr &&
        (pTarget == m_pFileInfo || pTarget == m_pFilePath) && !IsWorkBusy()) {
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

} // namespace fwup
