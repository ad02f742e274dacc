// Auto mode: a loop thread that waits for the device's converter to appear,
// updates it, asks for it to be removed, and starts over.

#include "device/UpdateJob.h"
#include "serial/Clock.h"
#include "serial/PortDiscovery.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/ControlIds.h"

#include <QComboBox>

#include <system_error>

namespace fwup {

bool DescriptionMatches(const std::string& strPortName, const std::string& strWanted) {
    std::string strDescription = PortDescriptionFromName(strPortName);
    // The listed name keeps the blank in front of "(COMn)".
    while (!strDescription.empty() && strDescription.back() == ' ') {
        strDescription.pop_back();
    }
    return strDescription == strWanted;
}

void CFwUpgraderVelmoraDlg::SetControlsForAutoMode(bool bAuto) {
    RunOnUi([&] {
        if (bAuto) {
            // The loop owns devices and the request: keep the manual ways out of use.
            EnableControl(IDC_UPLOAD, false);
            EnableControl(IDC_LOAD, false);
            EnableControl(IDC_CONNECT, false);
            EnableControl(IDC_PORT, false);
        } else {
            EnableControl(IDC_PORT, true);
            EnableControl(IDC_LOAD, property("loadBeforeAuto").toBool());
            EnableControl(IDC_CONNECT,
                          static_cast<QComboBox*>(Control(IDC_PORT))->currentIndex() >= 0);
        }
    });
}

void CFwUpgraderVelmoraDlg::OnAutoMode() {
    if (ControlText(IDC_AUTO_MODE).contains(QStringLiteral("cancel"))) {
        SetControlText(IDC_AUTO_MODE, QStringLiteral("auto mode"));
        if (!m_bAutoStopped) {
            EnableControl(IDC_AUTO_MODE, false);
            m_bAutoMode = false;
        }
        return;
    }
    // At most one loop: a stopping loop must have ended, and a manual run
    // must not share the request with one.
    if (!m_bAutoStopped || m_bManualRun) {
        return;
    }
    SetControlText(IDC_AUTO_MODE, QStringLiteral("cancel auto mode"));
    m_bAutoMode = true;
    m_bAutoStopped = false;
    EnableControl(IDC_AUTO_MODE, false);
    setProperty("loadBeforeAuto", IsControlEnabled(IDC_LOAD));
    if (IsConnected()) {
        SetConnection(false); // the loop opens the device's port itself
    }
    SetControlsForAutoMode(true);
    if (m_pAutoThread.joinable()) {
        m_pAutoThread.join(); // the previous loop is past its last step
    }
    try {
        m_pAutoThread = std::thread([this] { AutoModeLoop(); });
    } catch (const std::system_error&) {
        // No loop: back to Off, so a close request does not wait for it.
        m_bAutoMode = false;
        m_bAutoStopped = true;
        SetControlText(IDC_AUTO_MODE, QStringLiteral("auto mode"));
        EnableControl(IDC_AUTO_MODE, true);
        SetControlsForAutoMode(false);
    }
}

void CFwUpgraderVelmoraDlg::AutoModeLoop() {
    const std::string strWanted = kConverterDescription;
    m_bAutoStopped = false;
    RunOnUi([this] {
        if (m_bAutoMode) {
            EnableControl(IDC_AUTO_MODE, true);
        }
    });
    int nSearchPos = 0;
    while (m_bAutoMode) {
        SetStatusText("detecting device ...");
        // Tested on the GUI thread, so a switch-off or close that came in since
        // the loop's test keeps the button disabled.
        RunOnUi([this] {
            if (m_bAutoMode) {
                EnableControl(IDC_AUTO_MODE, true);
            }
        });
        SetMarquee(IDC_AUTO_PROGRESS, false);

        std::string strFound;
        for (const std::string& strName : EnumeratePorts()) {
            if (DescriptionMatches(strName, strWanted)) {
                strFound = strName;
                break;
            }
        }
        if (strFound.empty()) {
            SetProgress(IDC_AUTO_PROGRESS, nSearchPos);
            nSearchPos += 10;
            if (nSearchPos > 100) {
                nSearchPos = 0;
            }
            SleepMs(100);
            continue;
        }

        SetMarquee(IDC_AUTO_PROGRESS, true);
        SetProgress(IDC_AUTO_PROGRESS, 100);
        EnableControl(IDC_AUTO_MODE, false);
        SetStatusText("updating device ...");
        {
            CDeviceSession session(strFound, m_timings);
            m_nJobState = 1;
            RunUpdate(session, *m_pRequest, this, &CFwUpgraderVelmoraDlg::OnStatusThunk);
            // The job ends every path with success or failure; a state still
            // above 0 here could never change, so it is not waited for.
            if (m_nJobState >= 1) {
                m_nJobState = -1;
            }
        }
        MessageBox(QStringLiteral("Remove the device"), QMessageBox::NoIcon);
        nSearchPos = 0;
    }
    RunOnUi([this] {
        SetMarquee(IDC_AUTO_PROGRESS, false);
        SetControlsForAutoMode(false);
        EnableControl(IDC_AUTO_MODE, true);
        m_bAutoStopped = true;
        if (m_bCloseRequested) {
            EndDialog();
        }
    });
}

} // namespace fwup
