// The connection panel: port choice, connect and disconnect, device identity.

#include "device/CDeviceLink.h"
#include "device/CommandProtocol.h"
#include "serial/PortDiscovery.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/ControlIds.h"

#include <QApplication>
#include <QComboBox>

#include <algorithm>
#include <mutex>

namespace fwup {

namespace {

// The counted wait cursor for the length of one scope (GUI thread).
class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

QString NodeTip(const std::string& strNode) {
    return strNode.empty() ? QString()
                           : QStringLiteral("device node: %1").arg(QString::fromStdString(strNode));
}

} // namespace

void CFwUpgraderVelmoraDlg::RefreshPortList() {
    auto* pCombo = static_cast<QComboBox*>(Control(IDC_PORT));
    std::vector<PortRecord> ports = ScanPorts();
    // The list is kept sorted, case-insensitively, like a sorted combo box.
    std::stable_sort(ports.begin(), ports.end(), [](const PortRecord& a, const PortRecord& b) {
        return QString::fromLocal8Bit(a.strName).compare(QString::fromLocal8Bit(b.strName),
                                                         Qt::CaseInsensitive) < 0;
    });
    const QSignalBlocker blocker(pCombo);
    pCombo->clear();
    for (const PortRecord& entry : ports) {
        pCombo->addItem(QString::fromLocal8Bit(entry.strName));
        pCombo->setItemData(pCombo->count() - 1, NodeTip(entry.strDeviceNode), Qt::ToolTipRole);
    }
    pCombo->setCurrentIndex(-1);
    pCombo->setToolTip(QString());
}

void CFwUpgraderVelmoraDlg::OnPortSelChange() {
    auto* pCombo = static_cast<QComboBox*>(Control(IDC_PORT));
    const int nIndex = pCombo->currentIndex();
    pCombo->setToolTip(nIndex >= 0 ? pCombo->itemData(nIndex, Qt::ToolTipRole).toString()
                                   : QString());
    // While auto mode owns the devices the panel stays out of use.
    EnableControl(IDC_CONNECT, nIndex >= 0 && !IsWorkBusy());
}

bool CFwUpgraderVelmoraDlg::IsConnected() {
    return ControlText(IDC_CONNECT) == QStringLiteral("disconnect");
}

void CFwUpgraderVelmoraDlg::OnConnect() {
    const bool bConnect = ControlText(IDC_CONNECT) == QStringLiteral("Connect");
    if (bConnect) {
        auto* pCombo = static_cast<QComboBox*>(Control(IDC_PORT));
        const std::string strChosen = pCombo->currentIndex() >= 0
                                          ? pCombo->currentText().toLocal8Bit().toStdString()
                                          : std::string();
        const std::vector<std::string> names = EnumeratePorts();
        if (std::find(names.begin(), names.end(), strChosen) == names.end()) {
            // Gone (or nothing chosen): offer a fresh list instead.
            RefreshPortList();
            pCombo->showPopup();
            return;
        }
    }
    SetConnection(bConnect);
    if (IsConnected()) {
        EnableControl(IDC_LOAD, true);
        if (m_pSegments) {
            EnableControl(IDC_LOAD, false);
            EnableControl(IDC_UPLOAD, true);
        }
    }
}

void CFwUpgraderVelmoraDlg::SetConnection(bool bConnect) {
    RunOnUi([&] {
        const CWaitCursor waitCursor;
        if (!bConnect) {
            m_nBootInfo = -1;
            m_optVersion.reset();
            SetControlText(IDC_DEVICE_STATE, QStringLiteral("no device"));
            SetControlText(IDC_CONNECT, QStringLiteral("Connect"));
            EnableControl(IDC_PORT, true);
            EnableControl(IDC_UPLOAD, false);
            EnableControl(IDC_LOAD, false);
            m_pSession.reset();
            return;
        }
        auto* pCombo = static_cast<QComboBox*>(Control(IDC_PORT));
        const QString strName = pCombo->currentIndex() >= 0 ? pCombo->currentText() : QString();
        m_pSession =
            std::make_unique<CDeviceSession>(strName.toLocal8Bit().toStdString(), m_timings);
        if (!m_pSession->Port().IsOpen()) {
            LogOpenProblem();
            m_pSession.reset();
            MessageBox(QString::fromUtf8(kTextPortWrong), QMessageBox::Information);
            return;
        }
        pCombo->setToolTip(NodeTip(m_pSession->Port().GetDeviceNode()));
        ReadDeviceInfo();
        if (m_nBootInfo != -1 || m_optVersion) {
            AddLog("connected.\n");
        }
    });
}

void CFwUpgraderVelmoraDlg::LogOpenProblem() {
    const std::string strCause = DescribeOpenError(m_pSession->Port().GetOpenError());
    if (!strCause.empty()) {
        AddLog("cause: %s\n", strCause.c_str());
    }
}

void CFwUpgraderVelmoraDlg::ReadDeviceInfo() {
    const CWaitCursor waitCursor;
    CComPort& port = m_pSession->Port();
    port.Reopen();
    if (!port.IsOpen()) {
        LogOpenProblem();
        m_pSession.reset();
        MessageBox(QString::fromUtf8(kTextPortWrong), QMessageBox::Information);
        return;
    }
    std::optional<std::string> optSerial;
    {
        // No job can be running here: the panel is out of use during runs and auto mode.
        CDeviceLink& link = m_pSession->Link();
        uint32_t dwValue = 0;
        int nResult = PingBootLoader(link, dwValue);
        if (nResult != 0) {
            nResult = PingBootLoader(link, dwValue);
        }
        m_nBootInfo = nResult == 0 ? static_cast<int32_t>(dwValue) : -1;
        m_optVersion.reset();
        if (m_nBootInfo == -1) {
            m_optVersion = QueryVersion(link);
            if (m_optVersion) {
                optSerial = QuerySerial(link);
            }
        }
    }
    if (m_nBootInfo != -1) {
        const uint32_t v = static_cast<uint32_t>(m_nBootInfo);
        SetControlText(IDC_DEVICE_STATE,
                       QString::asprintf("boot v%i.%i.%i.%i", static_cast<int>((v >> 24) & 0xF),
                                         static_cast<int>((v >> 16) & 0xF),
                                         static_cast<int>((v >> 8) & 0xF),
                                         static_cast<int>(v & 0xF)));
    } else if (m_optVersion) {
        SetControlText(IDC_DEVICE_STATE, QString::fromLocal8Bit(m_optVersion->c_str()));
        SetControlText(IDC_SERIAL,
                       optSerial ? QString::fromLocal8Bit(optSerial->c_str()) : QString());
    } else {
        MessageBox(QString::fromUtf8(kTextPortWrong), QMessageBox::Information);
        m_pSession.reset();
        SetControlText(IDC_CONNECT, QStringLiteral("Connect"));
        SetControlText(IDC_DEVICE_STATE, QStringLiteral("no device"));
        EnableControl(IDC_PORT, true);
        return;
    }
    SetControlText(IDC_CONNECT, QStringLiteral("disconnect"));
    EnableControl(IDC_LOAD, true);
    EnableControl(IDC_PORT, false);
    SetProgress(IDC_PROGRESS, 0);
}

} // namespace fwup
