// The window's side of the update workflows: UPLOAD's manual run, the auto
// mode's button and bar, and the status callback that turns every job's stage
// reports into log lines, the file description and the progress bar.

#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/CLogBox.h"
#include "ui/CPortComboBox.h"
#include "ui/CWorkflowController.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace fwup {

// --- Manual run ------------------------------------------------------------------

void CFwUpgraderVelmoraDlg::ShowBusyCursor() {
    if (g_nBusyCount++ == 0) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
}

void CFwUpgraderVelmoraDlg::EndBusyCursor() {
    if (g_nBusyCount > 0 && --g_nBusyCount == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void CFwUpgraderVelmoraDlg::OnUpload() {
    if (IsWorkBusy() || m_bConnecting || !m_pSession) {
        return;
    }
    // Out of use before the thread exists, so a second press cannot start a second run.
    m_pUpload->setEnabled(false);
    ShowBusyCursor();
    m_pLoad->setEnabled(false);
    m_pConnect->setEnabled(false);
    m_pAutoMode->setEnabled(false); // the loop would share the request
    m_bManualRun = true;
    if (!m_pWorkflows->StartManualRun(m_pSession, *m_pRequest)) {
        // No thread: nothing happens, the buttons are as they were.
        m_bManualRun = false;
        EndBusyCursor();
        m_pUpload->setEnabled(true);
        m_pConnect->setEnabled(true);
        m_pAutoMode->setEnabled(true);
    }
}

void CFwUpgraderVelmoraDlg::OnManualRunFinished() {
    // The job has let the port go; the window follows.
    SetConnection(false);
    EndBusyCursor();
    m_bManualRun = false;
    m_pAutoMode->setEnabled(true);
    if (m_bCloseRequested && m_bAutoStopped) {
        EndDialog();
    }
}

// --- Status callback ---------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnStatus(int nStage, const UpdateStatus& status) {
    const auto Utf8 = [](const std::string& str) {
        return QString::fromLocal8Bit(str.c_str()).toUtf8();
    };
    switch (nStage) {
    case StageStart:
        m_nJobState = 2;
        break;
    case StageSuccess:
        AddLog("%s\n", Utf8(status.strMessage).constData());
        m_nJobState = 0;
        break;
    case StageMessage:
        AddLog("%s\n", Utf8(status.strMessage).constData());
        break;
    case StageConnecting:
        m_nJobState = 3;
        break;
    case StageUpdating:
        m_nJobState = 4;
        AddLog("updating device[%s] ...\n", Utf8(status.optSerial.value_or("unknown")).constData());
        m_pFileInfo->SetText(QString());
        m_pFileInfo->AppendText(QStringLiteral("file name : %1\n")
                                    .arg(QString::fromLocal8Bit(status.strFileName.c_str())));
        m_pFileInfo->AppendText(QStringLiteral("file size : %1\n").arg(status.nFileSize));
        m_pFileInfo->AppendText(QStringLiteral("file date : %1")
                                    .arg(QString::fromLocal8Bit(status.strFileDate.c_str())));
        break;
    case StageProgress:
        m_nJobState = 5;
        m_pProgress->setValue(std::clamp(status.nProgress, 0, 100));
        break;
    case StageFailure:
        AddLog("%s\n", Utf8(status.strMessage).constData());
        if (!status.strCause.empty()) {
            AddLog("cause: %s\n", Utf8(status.strCause).constData());
        }
        m_nJobState = -1;
        break;
    default:
        break; // unknown stages change nothing
    }
}

// --- Auto mode -----------------------------------------------------------------------

void CFwUpgraderVelmoraDlg::SetControlsForAutoMode(bool bAuto) {
    if (bAuto) {
        // The loop owns devices and the request: keep the manual ways out of use.
        m_pUpload->setEnabled(false);
        m_pLoad->setEnabled(false);
        m_pConnect->setEnabled(false);
        m_pPort->setEnabled(false);
    } else {
        m_pPort->setEnabled(true);
        m_pLoad->setEnabled(m_bLoadBeforeAuto);
        m_pConnect->setEnabled(m_pPort->currentIndex() >= 0);
    }
}

void CFwUpgraderVelmoraDlg::OnAutoMode() {
    if (m_pAutoMode->text().contains(QStringLiteral("cancel"))) {
        m_pAutoMode->setText(QStringLiteral("auto mode"));
        if (!m_bAutoStopped) {
            m_pAutoMode->setEnabled(false);
            m_bAutoMode = false;
            m_pWorkflows->StopAutoLoop();
        }
        return;
    }
    // At most one loop: a stopping loop must have ended; a manual run or a connect
    // step must not share the request or the device with one.
    if (!m_bAutoStopped || m_bManualRun || m_bConnecting) {
        return;
    }
    m_pAutoMode->setText(QStringLiteral("cancel auto mode"));
    m_bAutoMode = true;
    m_bAutoStopped = false;
    m_pAutoMode->setEnabled(false);
    m_bLoadBeforeAuto = m_pLoad->isEnabled();
    if (IsConnected()) {
        SetConnection(false); // the loop opens the device's port itself
    }
    SetControlsForAutoMode(true);
    if (!m_pWorkflows->StartAutoLoop(*m_pRequest, m_timings)) {
        // No loop: back to Off, so a close request does not wait for it.
        m_bAutoMode = false;
        m_bAutoStopped = true;
        m_pAutoMode->setText(QStringLiteral("auto mode"));
        m_pAutoMode->setEnabled(true);
        SetControlsForAutoMode(false);
    }
}

void CFwUpgraderVelmoraDlg::OnAutoLoopStarted() {
    if (m_bAutoMode) {
        m_pAutoMode->setEnabled(true);
    }
}

void CFwUpgraderVelmoraDlg::OnAutoSearching() {
    SetStatusText("detecting device ...");
    // A switch-off or close since the loop's test keeps the button out of use.
    if (m_bAutoMode) {
        m_pAutoMode->setEnabled(true);
    }
    m_pAutoProgress->setRange(0, 100); // marquee off
}

void CFwUpgraderVelmoraDlg::OnAutoNothingFound(int nSearchPos) {
    m_pAutoProgress->setValue(nSearchPos);
}

void CFwUpgraderVelmoraDlg::OnAutoDeviceFound(const DeviceUnit&) {
    m_pAutoProgress->setRange(0, 0); // marquee on
    m_pAutoProgress->setValue(100);
    m_pAutoMode->setEnabled(false);
    SetStatusText("updating device ...");
    m_nJobState = 1;
}

void CFwUpgraderVelmoraDlg::OnRemoveDeviceAsked(const DeviceUnit&) {
    MessageBox(QStringLiteral("Remove the device"), QMessageBox::NoIcon);
    m_pWorkflows->AnswerRemove();
}

void CFwUpgraderVelmoraDlg::OnAutoLoopEnded() {
    m_pAutoProgress->setRange(0, 100);
    SetControlsForAutoMode(false);
    m_pAutoMode->setEnabled(true);
    m_bAutoStopped = true;
    if (m_bCloseRequested) {
        EndDialog();
    }
}

} // namespace fwup
