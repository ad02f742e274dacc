// The manual update run: UPLOAD starts one worker that runs the update job on
// the connected port and disconnects the window afterwards.

#include "device/UpdateJob.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/ControlIds.h"

#include <QApplication>

#include <system_error>

namespace fwup {

void CFwUpgraderVelmoraDlg::ShowWaitCursor() {
    RunOnUi([] { QApplication::setOverrideCursor(Qt::WaitCursor); });
}

void CFwUpgraderVelmoraDlg::EndWaitCursor() {
    RunOnUi([] { QApplication::restoreOverrideCursor(); });
}

void CFwUpgraderVelmoraDlg::OnUpload() {
    if (IsWorkBusy() || !m_pSession) {
        return;
    }
    // Disabled before the thread exists, so a second press cannot start a second run.
    EnableControl(IDC_UPLOAD, false);
    JoinWorker();
    m_bManualRun = true;
    try {
        m_pWorkerThread = std::thread([this] { UploadWorker(); });
    } catch (const std::system_error&) {
        // No thread: nothing happens, the buttons stay as they were.
        m_bManualRun = false;
        EnableControl(IDC_UPLOAD, true);
    }
}

void CFwUpgraderVelmoraDlg::UploadWorker() {
    if (g_nBusyCount.fetch_add(1) == 0) {
        ShowWaitCursor();
    }
    EnableControl(IDC_UPLOAD, false);
    EnableControl(IDC_LOAD, false);
    EnableControl(IDC_CONNECT, false);
    EnableControl(IDC_AUTO_MODE, false); // the loop would share the request

    if (m_pSession) {
        RunUpdate(*m_pSession, *m_pRequest, this, &CFwUpgraderVelmoraDlg::OnStatusThunk);
    }
    SetConnection(false);

    int nBusy = g_nBusyCount.load();
    while (nBusy > 0 && !g_nBusyCount.compare_exchange_weak(nBusy, nBusy - 1)) {
    }
    if (nBusy == 1) {
        EndWaitCursor();
    }
    RunOnUi([this] {
        m_bManualRun = false;
        EnableControl(IDC_AUTO_MODE, true);
        if (m_bCloseRequested && m_bAutoStopped) {
            EndDialog();
        }
    });
    // Reap this thread from the GUI thread once it has returned.
    PostToUi([this] { JoinWorker(); });
}

void CFwUpgraderVelmoraDlg::JoinWorker() {
    // Only a worker that has left its run is joined: it is at its return.
    if (m_pWorkerThread.joinable() && !m_bManualRun) {
        m_pWorkerThread.join();
    }
}

} // namespace fwup
