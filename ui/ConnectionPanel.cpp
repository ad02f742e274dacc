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
    std::vector<PortEntry> ports = ScanPorts();
    // The list is kept sorted, case-insensitively, like a sorted combo box.
    std::stable_sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) {
        return QString::fromLocal8Bit(a.strName).compare(QString::fromLocal8Bit(b.strName),
                                                         Qt::CaseInsensitive) < 0;
    });
    const QSignalBlocker blocker(pCombo);
    pCombo->clear();
    for (const PortEntry& entry : ports) {
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
            m_pszVersion = nullptr;
            SetControlText(IDC_DEVICE_STATE, QStringLiteral("no device"));
            SetControlText(IDC_CONNECT, QStringLiteral("Connect"));
            EnableControl(IDC_PORT, true);
            EnableControl(IDC_UPLOAD, false);
            EnableControl(IDC_LOAD, false);
            m_pPort.reset();
            return;
        }
        auto* pCombo = static_cast<QComboBox*>(Control(IDC_PORT));
        const QString strName = pCombo->currentIndex() >= 0 ? pCombo->currentText() : QString();
        m_pPort = std::make_unique<CComPort>(strName.toLocal8Bit().toStdString(), 1024, 20480);
        if (!m_pPort->IsOpen()) {
            m_pPort.reset();
            MessageBox(QString::fromUtf8(kTextPortWrong), QMessageBox::Information);
            return;
        }
        pCombo->setToolTip(NodeTip(m_pPort->GetDeviceNode()));
        ReadDeviceInfo();
        if (m_nBootInfo != -1 || m_pszVersion != nullptr) {
            AddLog("connected.\n");
        }
    });
}

void CFwUpgraderVelmoraDlg::ReadDeviceInfo() {
    const CWaitCursor waitCursor;
    m_pPort->Reopen();
    if (!m_pPort->IsOpen()) {
        m_pPort.reset();
        MessageBox(QString::fromUtf8(kTextPortWrong), QMessageBox::Information);
        return;
    }
    std::string strSerial;
    bool bSerial = false;
    {
        // No job can be running here (the panel is out of use during runs and
        // auto mode); try_to_lock keeps the GUI thread from ever waiting on one.
        std::unique_lock<std::recursive_mutex> lock(DeviceProtocolMutex(), std::try_to_lock);
        CDeviceLink link(m_pPort.get());
        uint32_t dwValue = 0;
        int nResult = -1;
        if (lock.owns_lock()) {
            nResult = PingBootLoader(link, dwValue);
            if (nResult != 0) {
                nResult = PingBootLoader(link, dwValue);
            }
        }
        m_nBootInfo = nResult == 0 ? static_cast<int32_t>(dwValue) : -1;
        m_pszVersion = nullptr;
        if (m_nBootInfo == -1 && lock.owns_lock()) {
            // The reply buffer is shared process-wide: keep a copy.
            if (const char* pszVersion = QueryVersion(link)) {
                m_strVersionText = pszVersion;
                m_pszVersion = m_strVersionText.c_str();
                if (const char* pszSerial = QuerySerial(link)) {
                    strSerial = pszSerial;
                    bSerial = true;
                }
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
    } else if (m_pszVersion != nullptr) {
        SetControlText(IDC_DEVICE_STATE, QString::fromLocal8Bit(m_pszVersion));
        SetControlText(IDC_SERIAL, bSerial ? QString::fromLocal8Bit(strSerial.c_str()) : QString());
    } else {
        MessageBox(QString::fromUtf8(kTextPortWrong), QMessageBox::Information);
        m_pPort.reset();
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
