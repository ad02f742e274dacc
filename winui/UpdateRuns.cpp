// The window's side of the update workflows: UPLOAD's manual run, the auto
// mode's button and bar, and the status callback that turns every job's stage
// reports into log lines, the file description and the progress bar.

#include "serial/WideText.h"
#include "winui/CFwUpgraderVelmoraDlg.h"
#include "winui/WinText.h"

#include <commctrl.h>

#include <algorithm>

namespace fwup {

// --- Manual run ------------------------------------------------------------------

void CFwUpgraderVelmoraDlg::ShowBusyCursor() {
    if (g_nBusyCount++ == 0) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    }
}

void CFwUpgraderVelmoraDlg::EndBusyCursor() {
    if (g_nBusyCount > 0 && --g_nBusyCount == 0) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW)); // the next cursor query decides again
    }
}

void CFwUpgraderVelmoraDlg::OnUpload() {
    if (IsWorkBusy() || m_bConnecting || !m_pSession) {
        return;
    }
    // Out of use before the thread exists, so a second press cannot start a second run.
    ::EnableWindow(m_hUpload, FALSE);
    ShowBusyCursor();
    ::EnableWindow(m_hLoad, FALSE);
    ::EnableWindow(m_hConnect, FALSE);
    ::EnableWindow(m_hAutoMode, FALSE); // the loop would share the request
    m_bManualRun = true;
    if (!m_pWorkflows->StartManualRun(m_pSession, *m_pRequest)) {
        // No thread: nothing happens, the buttons are as they were.
        m_bManualRun = false;
        EndBusyCursor();
        ::EnableWindow(m_hUpload, TRUE);
        ::EnableWindow(m_hConnect, TRUE);
        ::EnableWindow(m_hAutoMode, TRUE);
    }
}

void CFwUpgraderVelmoraDlg::OnManualRunFinished() {
    // The job has let the port go; the window follows.
    SetConnection(false);
    EndBusyCursor();
    m_bManualRun = false;
    ::EnableWindow(m_hAutoMode, TRUE);
    if (m_bCloseRequested && m_bAutoStopped) {
        EndDialog();
    }
}

// --- Status callback ---------------------------------------------------------------

void CFwUpgraderVelmoraDlg::OnStatus(int nStage, const UpdateStatus& status) {
    switch (nStage) {
    case StageStart:
        m_nJobState = 2;
        break;
    case StageSuccess:
        AddLog("%s\n", status.strMessage.c_str());
        m_nJobState = 0;
        break;
    case StageMessage:
        AddLog("%s\n", status.strMessage.c_str());
        break;
    case StageConnecting:
        m_nJobState = 3;
        break;
    case StageUpdating:
        m_nJobState = 4;
        AppendText(m_hLog, L"updating device[" +
                               (status.optSerial ? WideFromDevice(*status.optSerial)
                                                 : std::wstring(L"unknown")) +
                               L"] ...\n");
        ::SetWindowTextW(m_hFileInfo, L"");
        AppendText(m_hFileInfo, L"file name : " + WideFromUtf8(status.strFileName) + L"\n");
        AppendText(m_hFileInfo, L"file size : " + std::to_wstring(status.nFileSize) + L"\n");
        AppendText(m_hFileInfo, L"file date : " + WideFromUtf8(status.strFileDate));
        break;
    case StageProgress:
        m_nJobState = 5;
        ::SendMessageW(m_hProgress, PBM_SETPOS, std::clamp(status.nProgress, 0, 100), 0);
        break;
    case StageFailure:
        AddLog("%s\n", status.strMessage.c_str());
        if (!status.strCause.empty()) {
            AddLog("cause: %s\n", status.strCause.c_str());
        }
        m_nJobState = -1;
        break;
    default:
        break; // unknown stages change nothing
    }
}

// --- Auto mode -----------------------------------------------------------------------

void CFwUpgraderVelmoraDlg::SetAutoMarquee(bool bOn) {
    // A bar with the marquee style shows no position: the style goes with the marquee.
    const LONG_PTR nStyle = ::GetWindowLongPtrW(m_hAutoProgress, GWL_STYLE);
    if (bOn) {
        ::SetWindowLongPtrW(m_hAutoProgress, GWL_STYLE, nStyle | PBS_MARQUEE);
        ::SendMessageW(m_hAutoProgress, PBM_SETMARQUEE, TRUE, 50);
    } else {
        ::SendMessageW(m_hAutoProgress, PBM_SETMARQUEE, FALSE, 10);
        ::SetWindowLongPtrW(m_hAutoProgress, GWL_STYLE,
                            nStyle & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    }
    ::InvalidateRect(m_hAutoProgress, nullptr, TRUE);
}

void CFwUpgraderVelmoraDlg::SetControlsForAutoMode(bool bAuto) {
    if (bAuto) {
        // The loop owns devices and the request: keep the manual ways out of use.
        ::EnableWindow(m_hUpload, FALSE);
        ::EnableWindow(m_hLoad, FALSE);
        ::EnableWindow(m_hConnect, FALSE);
        ::EnableWindow(m_hPort, FALSE);
    } else {
        ::EnableWindow(m_hPort, TRUE);
        ::EnableWindow(m_hLoad, m_bLoadBeforeAuto);
        ::EnableWindow(m_hConnect, ::SendMessageW(m_hPort, CB_GETCURSEL, 0, 0) >= 0);
    }
}

void CFwUpgraderVelmoraDlg::OnAutoMode() {
    wchar_t szCaption[32] = {};
    ::GetWindowTextW(m_hAutoMode, szCaption, 32);
    if (std::wstring(szCaption).find(L"cancel") != std::wstring::npos) {
        ::SetWindowTextW(m_hAutoMode, L"auto mode");
        if (!m_bAutoStopped) {
            ::EnableWindow(m_hAutoMode, FALSE);
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
    ::SetWindowTextW(m_hAutoMode, L"cancel auto mode");
    m_bAutoMode = true;
    m_bAutoStopped = false;
    ::EnableWindow(m_hAutoMode, FALSE);
    m_bLoadBeforeAuto = ::IsWindowEnabled(m_hLoad) != FALSE;
    if (IsConnected()) {
        SetConnection(false); // the loop opens the device's port itself
    }
    SetControlsForAutoMode(true);
    if (!m_pWorkflows->StartAutoLoop(*m_pRequest, m_timings)) {
        // No loop: back to Off, so a close request does not wait for it.
        m_bAutoMode = false;
        m_bAutoStopped = true;
        ::SetWindowTextW(m_hAutoMode, L"auto mode");
        ::EnableWindow(m_hAutoMode, TRUE);
        SetControlsForAutoMode(false);
    }
}

void CFwUpgraderVelmoraDlg::OnAutoLoopStarted() {
    if (m_bAutoMode) {
        ::EnableWindow(m_hAutoMode, TRUE);
    }
}

void CFwUpgraderVelmoraDlg::OnAutoSearching() {
    SetStatusText("detecting device ...");
    // A switch-off or close since the loop's test keeps the button out of use.
    if (m_bAutoMode) {
        ::EnableWindow(m_hAutoMode, TRUE);
    }
    SetAutoMarquee(false);
}

void CFwUpgraderVelmoraDlg::OnAutoNothingFound(int nSearchPos) {
    ::SendMessageW(m_hAutoProgress, PBM_SETPOS, nSearchPos, 0);
}

void CFwUpgraderVelmoraDlg::OnAutoDeviceFound() {
    SetAutoMarquee(true);
    ::SendMessageW(m_hAutoProgress, PBM_SETPOS, 100, 0);
    ::EnableWindow(m_hAutoMode, FALSE);
    SetStatusText("updating device ...");
    m_nJobState = 1;
}

void CFwUpgraderVelmoraDlg::OnRemoveDeviceAsked() {
    MessageBox(L"Remove the device", 0);
    m_pWorkflows->AnswerRemove();
}

void CFwUpgraderVelmoraDlg::OnAutoLoopEnded() {
    SetAutoMarquee(false);
    SetControlsForAutoMode(false);
    ::EnableWindow(m_hAutoMode, TRUE);
    m_bAutoStopped = true;
    if (m_bCloseRequested) {
        EndDialog();
    }
}

} // namespace fwup
