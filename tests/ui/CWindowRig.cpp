#include "CWindowRig.h"

#include "serial/PortDiscovery.h"
#include "ui/CLogBox.h"

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <filesystem>
#include <stdexcept>

namespace fwtest {

namespace {

constexpr int kEndTimeoutMs = 120000; // a job at the product's timings, with margin

} // namespace

bool WaitUntil(const std::function<bool()>& pred, int nTimeoutMs) {
    if (pred()) {
        return true;
    }
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (pred() || elapsed.elapsed() > nTimeoutMs) {
            loop.quit();
        }
    });
    tick.start(5);
    loop.exec();
    return pred();
}

CWindowRig::CWindowRig(const fwup::ProtocolTimings& timings) {
    m_pDlg = new fwup::CFwUpgraderVelmoraDlg;
    m_pDlg->Model().SetProtocolTimings(timings);
    m_pDlg->show();
    if (!QTest::qWaitForWindowExposed(m_pDlg)) {
        throw std::runtime_error("the window was not shown");
    }
}

CWindowRig::~CWindowRig() {
    // A failed check may leave a worker busy; it must end before the window goes.
    WaitUntil(
        [this] { return !m_pDlg->Model().IsManualRunActive() && !m_pDlg->Model().IsConnecting(); },
        kEndTimeoutMs);
    if (!m_pDlg->Model().IsAutoStopped()) {
        m_answerer.pfnBeforeClose = [this](const SeenDialog&) {
            for (auto& pDevice : m_devices) {
                pDevice->Unplug();
            }
        };
        m_pDlg->close();
        WaitUntil([this] { return m_pDlg->Model().IsAutoStopped(); }, kEndTimeoutMs);
    }
    delete m_pDlg;
    m_devices.clear();
}

fwsim::SimDeviceConfig CWindowRig::DeviceConfig(fwsim::Personality eStart,
                                                const std::string& strUsbPath) const {
    fwsim::SimDeviceConfig config = m_sim.DeviceConfig(eStart, strUsbPath);
    config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(m_devices.size());
    config.strSerial = "SN-" + strUsbPath;
    config.dwBootStatus = 0x1A2B3C4D;
    return config;
}

fwsim::CSimDevice& CWindowRig::AddDevice(const fwsim::SimDeviceConfig& config) {
    m_devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
    if (!m_devices.back()->Start()) {
        throw std::runtime_error("simulated device did not start");
    }
    return *m_devices.back();
}

QString CWindowRig::PortNameOf(const fwsim::CSimDevice& device) const {
    const auto node = std::filesystem::path(device.DevicePath()).lexically_normal();
    for (const fwup::PortRecord& entry : fwup::ScanPorts()) {
        if (std::filesystem::path(entry.strDeviceNode).lexically_normal() == node) {
            return QString::fromStdString(entry.strName);
        }
    }
    return QString();
}

QString CWindowRig::WriteFile(const QString& strName, const QByteArray& data) const {
    const QString strPath = m_files.filePath(strName);
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        throw std::runtime_error("cannot write test file");
    }
    return strPath;
}

QString CWindowRig::Text(int nId) const {
    QWidget* p = Ctl<QWidget>(nId);
    if (auto* pButton = qobject_cast<QPushButton*>(p)) {
        return pButton->text();
    }
    if (auto* pLabel = qobject_cast<QLabel*>(p)) {
        return pLabel->text();
    }
    if (auto* pLine = qobject_cast<QLineEdit*>(p)) {
        return pLine->text();
    }
    if (auto* pCombo = qobject_cast<QComboBox*>(p)) {
        return pCombo->currentIndex() >= 0 ? pCombo->currentText() : QString();
    }
    if (auto* pBox = qobject_cast<fwup::CLogBox*>(p)) {
        return pBox->Text();
    }
    return QString();
}

bool CWindowRig::Enabled(int nId) const {
    return Ctl<QWidget>(nId)->isEnabled();
}

bool CWindowRig::ChoosePort(const QString& strName) {
    auto* pCombo = Ctl<QComboBox>(IDC_PORT);
    // A simulated reader may be restarting (its port away for a moment), as an
    // operator would see: open the list again until the port is in it.
    int nIndex = -1;
    WaitUntil(
        [&] {
            pCombo->showPopup();
            pCombo->hidePopup();
            nIndex = pCombo->findText(strName);
            return nIndex >= 0;
        },
        5000);
    if (nIndex < 0) {
        return false;
    }
    pCombo->setCurrentIndex(nIndex);
    emit pCombo->activated(nIndex);
    return true;
}

void CWindowRig::Click(int nId) {
    QTest::mouseClick(Ctl<QPushButton>(nId), Qt::LeftButton);
}

void CWindowRig::ClickConnectAndWait(int nTimeoutMs) {
    Click(IDC_CONNECT);
    WaitUntil([this] { return !m_pDlg->Model().IsConnecting(); }, nTimeoutMs);
}

void CWindowRig::LoadByDialog(const QString& strPath) {
    m_answerer.strFileToChoose = strPath;
    Click(IDC_LOAD);
    m_answerer.strFileToChoose.clear();
}

void CWindowRig::Drop(int nTargetId, const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& strPath : paths) {
        urls << QUrl::fromLocalFile(strPath);
    }
    mime.setUrls(urls);
    const QPointF pt = Ctl<QWidget>(nTargetId)->geometry().center();
    // As a drag arrives: enter, move over the target, drop.
    QDragEnterEvent enter(pt.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_pDlg, &enter);
    QDragMoveEvent move(pt.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_pDlg, &move);
    QDropEvent event(pt, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_pDlg, &event);
}

} // namespace fwtest
