#pragma once
// The updater window under test, shared by the window tests and the window's
// fault matrix: a private system root for simulated devices (CSimRig), a folder
// for firmware files, the operator's stand-in for modal dialogs, and the window,
// shown, with the protocol timings the test asks for. The helpers act as an
// operator would: through the controls, found by their template ids.

#include "CModalAnswerer.h"

#include "device/ProtocolTimings.h"
#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "windowmodel/ControlIds.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fwtest {

// Runs the event loop (not a sleep-and-poll) until pred holds or nTimeoutMs passed.
bool WaitUntil(const std::function<bool()>& pred, int nTimeoutMs);

class CWindowRig {
public:
    // FWUP_SYSROOT is set before the window fills its port list.
    explicit CWindowRig(const fwup::ProtocolTimings& timings);
    // Lets a manual run end, ends auto mode (unplugging the devices at its last
    // question), then deletes the window.
    ~CWindowRig();
    CWindowRig(const CWindowRig&) = delete;
    CWindowRig& operator=(const CWindowRig&) = delete;

    fwup::CFwUpgraderVelmoraDlg& Dlg() const { return *m_pDlg; }
    CModalAnswerer& Answerer() { return m_answerer; }

    // --- Devices ---------------------------------------------------------------
    // A device at strUsbPath with its own tty, serial "SN-<usb path>" and the boot
    // status 0x1A2B3C4D; its delays fit the tests' timings.
    fwsim::SimDeviceConfig DeviceConfig(fwsim::Personality eStart,
                                        const std::string& strUsbPath = "1-1") const;
    fwsim::CSimDevice& AddDevice(const fwsim::SimDeviceConfig& config);
    fwsim::CSimDevice& AddDevice(fwsim::Personality eStart, const std::string& strUsbPath = "1-1") {
        return AddDevice(DeviceConfig(eStart, strUsbPath));
    }
    std::vector<std::unique_ptr<fwsim::CSimDevice>>& Devices() { return m_devices; }
    // The listed name of the device's port; empty when it is not listed.
    QString PortNameOf(const fwsim::CSimDevice& device) const;

    // --- Files -------------------------------------------------------------------
    QString WriteFile(const QString& strName, const QByteArray& data) const;
    QString FilePath(const QString& strName) const { return m_files.filePath(strName); }

    // --- Controls ------------------------------------------------------------------
    template <class T> T* Ctl(int nId) const { return m_pDlg->findChild<T*>(QString::number(nId)); }
    // The text a control shows; the multi-line boxes with CR LF line breaks.
    QString Text(int nId) const;
    bool Enabled(int nId) const;

    // --- The operator ----------------------------------------------------------------
    // Opens the port list (which refills it) and picks strName.
    bool ChoosePort(const QString& strName);
    void Click(int nId);
    // Clicks Connect and waits for the connect step's answer.
    void ClickConnectAndWait(int nTimeoutMs = 30000);
    // "Load Binary File", the path typed into the open dialog (empty: cancel).
    void LoadByDialog(const QString& strPath);
    // Drags paths onto the centre of control nTargetId and drops them there.
    void Drop(int nTargetId, const QStringList& paths);

private:
    CSimRig m_sim;
    QTemporaryDir m_files;
    CModalAnswerer m_answerer;
    std::vector<std::unique_ptr<fwsim::CSimDevice>> m_devices;
    fwup::CFwUpgraderVelmoraDlg* m_pDlg = nullptr;
};

} // namespace fwtest
