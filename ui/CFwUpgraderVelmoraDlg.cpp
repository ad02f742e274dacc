#include "ui/CFwUpgraderVelmoraDlg.h"

#include "device/FirmwareFile.h"
#include "serial/PortDiscovery.h"
#include "ui/AppIcon.h"
#include "ui/CAboutDlg.h"
#include "ui/CPortComboBox.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>

namespace fwup {

std::atomic<int> g_nBusyCount{0};
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

CFwUpgraderVelmoraDlg::CFwUpgraderVelmoraDlg(QWidget* pParent) : QDialog(pParent) {
    m_hIcon = MakeAppIcon();
    CreateControls();
    OnInitDialog();
}

void CFwUpgraderVelmoraDlg::RunUiCalls() {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(m_uiCallsMutex);
            if (m_uiCalls.empty()) {
                return;
            }
            call = std::move(m_uiCalls.front());
            m_uiCalls.pop_front();
        }
        call();
    }
}

CFwUpgraderVelmoraDlg::~CFwUpgraderVelmoraDlg() {
    // The window cannot end while a run or a loop is busy (done() refuses), so
    // these threads are at their end or never started.
    m_bAutoMode = false;
    if (m_pWorkerThread.joinable()) {
        m_pWorkerThread.join();
    }
    if (m_pAutoThread.joinable()) {
        m_pAutoThread.join();
    }
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
        case Kind::Button:
            pWidget = new QPushButton(strText, this);
            static_cast<QPushButton*>(pWidget)->setAutoDefault(false);
            break;
        case Kind::Combo: {
            auto* pCombo = t.nId == IDC_PORT ? new CPortComboBox(this) : new QComboBox(this);
            pCombo->setMaxVisibleItems(10);
            pWidget = pCombo;
            rc.setHeight(DluToPixels(QRect(0, 0, 0, kComboClosedDlu), units).height());
            break;
        }
        case Kind::MultiEdit: {
            auto* pEdit = new QPlainTextEdit(this);
            pEdit->setReadOnly(true);
            pEdit->setLineWrapMode(t.nId == IDC_LOG ? QPlainTextEdit::WidgetWidth
                                                    : QPlainTextEdit::NoWrap);
            pEdit->setVerticalScrollBarPolicy(t.nId == IDC_LOG ? Qt::ScrollBarAlwaysOn
                                                               : Qt::ScrollBarAsNeeded);
            pEdit->setAcceptDrops(false);
            // A narrow margin lets the 32-unit description box show its three lines.
            pEdit->document()->setDocumentMargin(2);
            pWidget = pEdit;
            m_mapBoxText[t.nId] = QString();
            break;
        }
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
        if (t.nId >= 0) {
            pWidget->setObjectName(QString::number(t.nId));
            pWidget->setProperty("controlId", t.nId);
            m_mapControls[t.nId] = pWidget;
        } else {
            pWidget->setObjectName(QStringLiteral("sn_label"));
        }
    }

    auto* pPort = static_cast<CPortComboBox*>(Control(IDC_PORT));
    connect(pPort, &CPortComboBox::dropDown, this, &CFwUpgraderVelmoraDlg::RefreshPortList);
    connect(pPort, &CPortComboBox::focusGained, this, &CFwUpgraderVelmoraDlg::RefreshPortList);
    connect(pPort, qOverload<int>(&QComboBox::activated), this,
            &CFwUpgraderVelmoraDlg::OnPortSelChange);
    connect(static_cast<QComboBox*>(Control(IDC_AREA)), qOverload<int>(&QComboBox::activated), this,
            &CFwUpgraderVelmoraDlg::OnAreaSelChange);
    connect(static_cast<QPushButton*>(Control(IDC_UPLOAD)), &QPushButton::clicked, this,
            &CFwUpgraderVelmoraDlg::OnUpload);
    connect(static_cast<QPushButton*>(Control(IDC_LOAD)), &QPushButton::clicked, this,
            &CFwUpgraderVelmoraDlg::OnLoadBinaryFile);
    connect(static_cast<QPushButton*>(Control(IDC_CONNECT)), &QPushButton::clicked, this,
            &CFwUpgraderVelmoraDlg::OnConnect);
    connect(static_cast<QPushButton*>(Control(IDC_AUTO_MODE)), &QPushButton::clicked, this,
            &CFwUpgraderVelmoraDlg::OnAutoMode);
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
    EnableControl(IDC_UPLOAD, false);

    auto* pPort = static_cast<QComboBox*>(Control(IDC_PORT));
    auto* pArea = static_cast<QComboBox*>(Control(IDC_AREA));
    RefreshPortList();
    pArea->addItem(QStringLiteral("CODE"));
    pPort->setPlaceholderText(QStringLiteral("select comport"));
    pArea->setPlaceholderText(QStringLiteral("select area"));
    pArea->setCurrentIndex(0);
    SelectArea();

    m_strFirmwarePath.clear();
    m_pRequest = std::make_unique<UpdateRequest>();
    m_bCloseRequested = false;
    m_bAutoMode = false;
    m_bAutoStopped = true;
    m_pSession.reset();
    setWindowTitle(windowTitle() + QStringLiteral(" v") + QString::fromUtf8(kAppVersion));
}

QWidget* CFwUpgraderVelmoraDlg::Control(int nId) const {
    const auto it = m_mapControls.find(nId);
    return it == m_mapControls.end() ? nullptr : it->second;
}

// --- Control operations ------------------------------------------------------

void CFwUpgraderVelmoraDlg::EnableControl(int nId, bool bEnable) {
    RunOnUi([&] {
        if (QWidget* p = Control(nId)) {
            p->setEnabled(bEnable);
        }
    });
}

void CFwUpgraderVelmoraDlg::SetControlText(int nId, const QString& strText) {
    RunOnUi([&] {
        QWidget* p = Control(nId);
        if (auto* pButton = qobject_cast<QPushButton*>(p)) {
            pButton->setText(strText);
        } else if (auto* pLabel = qobject_cast<QLabel*>(p)) {
            pLabel->setText(strText);
        } else if (auto* pLine = qobject_cast<QLineEdit*>(p)) {
            pLine->setText(strText);
            pLine->setCursorPosition(0);
        } else if (qobject_cast<QPlainTextEdit*>(p)) {
            static_cast<QPlainTextEdit*>(p)->clear();
            m_mapBoxText[nId].clear();
            if (!strText.isEmpty()) {
                AppendTextUi(nId, strText);
            }
        }
    });
}

QString CFwUpgraderVelmoraDlg::ControlText(int nId) {
    QString strText;
    RunOnUi([&] {
        QWidget* p = Control(nId);
        if (auto* pButton = qobject_cast<QPushButton*>(p)) {
            strText = pButton->text();
        } else if (auto* pLabel = qobject_cast<QLabel*>(p)) {
            strText = pLabel->text();
        } else if (auto* pLine = qobject_cast<QLineEdit*>(p)) {
            strText = pLine->text();
        } else if (auto* pCombo = qobject_cast<QComboBox*>(p)) {
            strText = pCombo->currentIndex() >= 0 ? pCombo->currentText() : QString();
        } else if (m_mapBoxText.count(nId) != 0) {
            strText = m_mapBoxText[nId];
        }
    });
    return strText;
}

bool CFwUpgraderVelmoraDlg::IsControlEnabled(int nId) {
    bool bEnabled = false;
    RunOnUi([&] {
        if (QWidget* p = Control(nId)) {
            bEnabled = p->isEnabled();
        }
    });
    return bEnabled;
}

void CFwUpgraderVelmoraDlg::SetProgress(int nId, int nPos) {
    RunOnUi([&] {
        if (auto* pBar = qobject_cast<QProgressBar*>(Control(nId))) {
            pBar->setValue(nPos);
        }
    });
}

void CFwUpgraderVelmoraDlg::SetMarquee(int nId, bool bOn) {
    RunOnUi([&] {
        if (auto* pBar = qobject_cast<QProgressBar*>(Control(nId))) {
            pBar->setRange(0, bOn ? 0 : 100);
        }
    });
}

void CFwUpgraderVelmoraDlg::MessageBox(const QString& strText, QMessageBox::Icon eIcon) {
    RunOnUi([&] {
        QMessageBox box(eIcon, QString::fromUtf8(kAppName), strText, QMessageBox::Ok, this);
        box.exec();
    });
}

// --- Window ------------------------------------------------------------------

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
        EndDialog();
        return;
    }
    if (!m_bAutoStopped) {
        // The loop ends its cycle, then closes the window.
        EnableControl(IDC_AUTO_MODE, false);
        m_bAutoMode = false;
        m_bAutoStopped = false;
    } else {
        // A manual run keeps using the port, the request and the controls: the
        // worker closes the window when its job is over.
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

// --- Area choice -------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnAreaSelChange() {
    SelectArea();
}

void CFwUpgraderVelmoraDlg::SelectArea() {
    auto* pArea = static_cast<QComboBox*>(Control(IDC_AREA));
    const QString strName = pArea->currentIndex() >= 0 ? pArea->currentText() : QString();
    EnableControl(IDC_AREA_TEXT, false);
    QString strAreaText;
    if (const FirmwareArea* pRow = FindFirmwareArea(strName.toStdString())) {
        if (std::string(pRow->pszName) == "CUSTOM") {
            EnableControl(IDC_AREA_TEXT, true);
            m_dwAreaStart = 0;
            m_dwAreaSize = 0;
        } else {
            m_dwAreaStart = pRow->dwStart;
            m_dwAreaSize = pRow->dwSize;
            strAreaText = QString::fromStdString(FormatAreaText(pRow->dwStart, pRow->dwSize));
        }
    }
    SetControlText(IDC_AREA_TEXT, strAreaText);
}

// --- Drops -------------------------------------------------------------------

int CFwUpgraderVelmoraDlg::ControlIdAt(const QPoint& ptClient) const {
    // Disabled controls count (both drop targets are disabled); hidden ones do
    // not. Later controls lie on top.
    int nFound = 0;
    for (const auto& [nId, pWidget] : m_mapControls) {
        if (!pWidget->isHidden() && pWidget->geometry().contains(ptClient)) {
            nFound = nId;
        }
    }
    return nFound;
}

void CFwUpgraderVelmoraDlg::dragEnterEvent(QDragEnterEvent* pEvent) {
    if (pEvent->mimeData()->hasUrls()) {
        pEvent->acceptProposedAction();
    }
}

void CFwUpgraderVelmoraDlg::dragMoveEvent(QDragMoveEvent* pEvent) {
    const int nId = ControlIdAt(pEvent->position().toPoint());
    if (pEvent->mimeData()->hasUrls() && (nId == IDC_FILE_INFO || nId == IDC_FILE_PATH) &&
        !IsWorkBusy()) {
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
