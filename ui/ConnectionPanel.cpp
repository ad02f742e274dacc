// The connection panel: port choice, connect and disconnect, device identity.
// The connect step itself runs on the workflows' thread.

#include "serial/PortDiscovery.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/CPortComboBox.h"
#include "ui/CWorkflowController.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace fwup {

namespace {

QString NodeTip(const std::string& strNode) {
    return strNode.empty() ? QString()
                           : QStringLiteral("device node: %1").arg(QString::fromStdString(strNode));
}

} // namespace

void CFwUpgraderVelmoraDlg::RefreshPortList() {
    std::vector<PortRecord> ports = ScanPorts();
    // The list is kept sorted, case-insensitively, like a sorted combo box.
    std::stable_sort(ports.begin(), ports.end(), [](const PortRecord& a, const PortRecord& b) {
        return QString::fromLocal8Bit(a.strName).compare(QString::fromLocal8Bit(b.strName),
                                                         Qt::CaseInsensitive) < 0;
    });
    const QSignalBlocker blocker(m_pPort);
    m_pPort->clear();
    for (const PortRecord& entry : ports) {
        m_pPort->addItem(QString::fromLocal8Bit(entry.strName));
        m_pPort->setItemData(m_pPort->count() - 1, NodeTip(entry.strDeviceNode), Qt::ToolTipRole);
    }
    m_pPort->setCurrentIndex(-1);
    m_pPort->setToolTip(QString());
}

void CFwUpgraderVelmoraDlg::OnPortSelChange() {
    const int nIndex = m_pPort->currentIndex();
    m_pPort->setToolTip(nIndex >= 0 ? m_pPort->itemData(nIndex, Qt::ToolTipRole).toString()
                                    : QString());
    // While auto mode owns the devices, or a connect step runs, the panel stays out of use.
    m_pConnect->setEnabled(nIndex >= 0 && !IsWorkBusy() && !m_bConnecting);
}

bool CFwUpgraderVelmoraDlg::IsConnected() const {
    return m_pConnect->text() == QStringLiteral("disconnect");
}

void CFwUpgraderVelmoraDlg::OnConnect() {
    if (m_bConnecting) {
        return;
    }
    const bool bConnect = m_pConnect->text() == QStringLiteral("Connect");
    if (bConnect) {
        const std::string strChosen = m_pPort->currentIndex() >= 0
                                          ? m_pPort->currentText().toLocal8Bit().toStdString()
                                          : std::string();
        const std::vector<std::string> names = EnumeratePorts();
        if (std::find(names.begin(), names.end(), strChosen) == names.end()) {
            // Gone (or nothing chosen): offer a fresh list instead.
            RefreshPortList();
            m_pPort->showPopup();
            return;
        }
    }
    // Connecting goes on in OnConnectFinished.
    SetConnection(bConnect);
}

void CFwUpgraderVelmoraDlg::SetConnection(bool bConnect) {
    if (!bConnect) {
        m_nBootInfo = -1;
        m_optVersion.reset();
        m_pDeviceState->setText(QStringLiteral("no device"));
        m_pConnect->setText(QStringLiteral("Connect"));
        m_pPort->setEnabled(true);
        m_pUpload->setEnabled(false);
        m_pLoad->setEnabled(false);
        m_pSession.reset(); // closes the port
        return;
    }
    const QString strName = m_pPort->currentIndex() >= 0 ? m_pPort->currentText() : QString();
    // The panel and auto mode are out of use until the step has answered.
    m_bConnecting = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_pPort->setEnabled(false);
    m_pConnect->setEnabled(false);
    m_pAutoMode->setEnabled(false);
    if (!m_pWorkflows->StartConnect(strName.toLocal8Bit().toStdString(), m_timings)) {
        // No thread for the step: as a port that does not open.
        OnConnectFinished(std::make_shared<ConnectResult>());
    }
}

void CFwUpgraderVelmoraDlg::OnConnectFinished(const std::shared_ptr<ConnectResult>& pResult) {
    ConnectResult& result = *pResult;
    m_bConnecting = false;
    QApplication::restoreOverrideCursor();
    m_pConnect->setEnabled(true); // connecting does not change its enabled state
    m_pAutoMode->setEnabled(true);
    m_nBootInfo = result.nBootInfo;
    m_optVersion = result.optVersion;

    switch (result.eKind) {
    case ConnectKind::PortNotOpen:
        // The panel stays as it was: disconnected.
        if (!result.strCause.empty()) {
            AddLog("cause: %s\n", result.strCause.c_str());
        }
        m_pPort->setEnabled(true);
        MessageBox(QString::fromUtf8(kTextPortWrong), QMessageBox::Information);
        return;
    case ConnectKind::NoAnswer:
        m_pConnect->setText(QStringLiteral("Connect"));
        m_pDeviceState->setText(QStringLiteral("no device"));
        m_pPort->setEnabled(true);
        MessageBox(QString::fromUtf8(kTextPortWrong), QMessageBox::Information);
        return;
    case ConnectKind::BootLoader:
        m_pDeviceState->setText(QString::fromStdString(BootVersionText(result.nBootInfo)));
        break; // the serial number shown stays
    case ConnectKind::Application:
        m_pDeviceState->setText(QString::fromLocal8Bit(result.optVersion.value_or("").c_str()));
        m_pSerial->setText(QString::fromLocal8Bit(result.optSerial.value_or("").c_str()));
        break;
    }
    m_pSession = std::move(result.pSession);
    m_pPort->setToolTip(NodeTip(result.strDeviceNode));
    m_pConnect->setText(QStringLiteral("disconnect"));
    m_pLoad->setEnabled(true);
    m_pPort->setEnabled(false);
    m_pProgress->setValue(0);
    AddLog("connected.\n");
    if (m_pSegments) {
        m_pLoad->setEnabled(false);
        m_pUpload->setEnabled(true);
    }
}

} // namespace fwup
