// The connection panel: port choice, connect and disconnect, device identity.
// The connect step itself runs on the workflows' thread.

#include "serial/PortDiscovery.h"
#include "serial/WideText.h"
#include "winui/CFwUpgraderVelmoraDlg.h"
#include "winui/WinText.h"

#include <commctrl.h>

#include <algorithm>

namespace fwup {

void CFwUpgraderVelmoraDlg::RefreshPortList() {
    // The combo box sorts the names itself (CBS_SORT); afterwards none is chosen.
    ::SendMessageW(m_hPort, CB_RESETCONTENT, 0, 0);
    for (const std::string& strName : EnumeratePorts()) {
        ::SendMessageW(m_hPort, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(WideFromUtf8(strName).c_str()));
    }
}

std::wstring CFwUpgraderVelmoraDlg::ChosenPort() const {
    const LRESULT nSel = ::SendMessageW(m_hPort, CB_GETCURSEL, 0, 0);
    if (nSel < 0) {
        return std::wstring();
    }
    const LRESULT nLength = ::SendMessageW(m_hPort, CB_GETLBTEXTLEN, nSel, 0);
    if (nLength <= 0) {
        return std::wstring();
    }
    std::wstring strName(static_cast<size_t>(nLength) + 1, L'\0');
    ::SendMessageW(m_hPort, CB_GETLBTEXT, nSel, reinterpret_cast<LPARAM>(strName.data()));
    strName.resize(static_cast<size_t>(nLength));
    return strName;
}

void CFwUpgraderVelmoraDlg::OnPortSelChange() {
    const bool bChosen = ::SendMessageW(m_hPort, CB_GETCURSEL, 0, 0) >= 0;
    // While auto mode owns the devices, or a connect step runs, the panel stays out of use.
    ::EnableWindow(m_hConnect, bChosen && !IsWorkBusy() && !m_bConnecting);
}

bool CFwUpgraderVelmoraDlg::IsConnected() const {
    wchar_t szCaption[32] = {};
    ::GetWindowTextW(m_hConnect, szCaption, 32);
    return std::wstring(szCaption) == L"disconnect";
}

void CFwUpgraderVelmoraDlg::OnConnect() {
    if (m_bConnecting) {
        return;
    }
    wchar_t szCaption[32] = {};
    ::GetWindowTextW(m_hConnect, szCaption, 32);
    const bool bConnect = std::wstring(szCaption) == L"Connect";
    if (bConnect) {
        const std::string strChosen = Utf8FromWide(ChosenPort());
        const std::vector<std::string> names = EnumeratePorts();
        if (std::find(names.begin(), names.end(), strChosen) == names.end()) {
            // Gone (or nothing chosen): offer a fresh list instead.
            RefreshPortList();
            ::SendMessageW(m_hPort, CB_SHOWDROPDOWN, TRUE, 0);
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
        ::SetWindowTextW(m_hDeviceState, L"no device");
        ::SetWindowTextW(m_hConnect, L"Connect");
        ::EnableWindow(m_hPort, TRUE);
        ::EnableWindow(m_hUpload, FALSE);
        ::EnableWindow(m_hLoad, FALSE);
        m_pSession.reset(); // closes the port
        return;
    }
    const std::string strName = Utf8FromWide(ChosenPort());
    // The panel and auto mode are out of use until the step has answered.
    m_bConnecting = true;
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    ::EnableWindow(m_hPort, FALSE);
    ::EnableWindow(m_hConnect, FALSE);
    ::EnableWindow(m_hAutoMode, FALSE);
    if (!m_pWorkflows->StartConnect(strName, m_timings)) {
        // No thread for the step: as a port that does not open.
        ConnectResult result;
        OnConnectFinished(result);
    }
}

void CFwUpgraderVelmoraDlg::OnConnectFinished(ConnectResult& result) {
    m_bConnecting = false;
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    ::EnableWindow(m_hConnect, TRUE); // connecting does not change its enabled state
    ::EnableWindow(m_hAutoMode, TRUE);
    m_nBootInfo = result.nBootInfo;
    m_optVersion = result.optVersion;

    switch (result.eKind) {
    case ConnectKind::PortNotOpen:
        // The panel stays as it was: disconnected.
        if (!result.strCause.empty()) {
            AddLog("cause: %s\n", result.strCause.c_str());
        }
        ::EnableWindow(m_hPort, TRUE);
        MessageBox(WideFromUtf8(kTextPortWrong), MB_ICONINFORMATION);
        return;
    case ConnectKind::NoAnswer:
        ::SetWindowTextW(m_hConnect, L"Connect");
        ::SetWindowTextW(m_hDeviceState, L"no device");
        ::EnableWindow(m_hPort, TRUE);
        MessageBox(WideFromUtf8(kTextPortWrong), MB_ICONINFORMATION);
        return;
    case ConnectKind::BootLoader:
        ::SetWindowTextW(m_hDeviceState, WideFromUtf8(BootVersionText(result.nBootInfo)).c_str());
        break; // the serial number shown stays
    case ConnectKind::Application:
        ::SetWindowTextW(m_hDeviceState, WideFromDevice(result.optVersion.value_or("")).c_str());
        ::SetWindowTextW(m_hSerial, WideFromDevice(result.optSerial.value_or("")).c_str());
        break;
    }
    m_pSession = std::move(result.pSession);
    ::SetWindowTextW(m_hConnect, L"disconnect");
    ::EnableWindow(m_hLoad, TRUE);
    ::EnableWindow(m_hPort, FALSE);
    ::SendMessageW(m_hProgress, PBM_SETPOS, 0, 0);
    AddLog("connected.\n");
    if (m_pSegments) {
        ::EnableWindow(m_hLoad, FALSE);
        ::EnableWindow(m_hUpload, TRUE);
    }
}

} // namespace fwup
