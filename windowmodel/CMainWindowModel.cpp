#include "windowmodel/CMainWindowModel.h"

#include "device/FirmwareFile.h"
#include "device/UpdateOutcome.h"
#include "serial/Utf8Text.h"
#include "station/ImageVerdict.h"
#include "windowmodel/BoxText.h"
#include "windowmodel/WindowTexts.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace fwup {

namespace {

struct ControlStart {
    Control eControl;
    const char* pszText;
    bool bEnabled;
};

// Template 102's texts and enabled states, then the auto mode's two controls.
constexpr ControlStart kStart[] = {
    {Control::Upload, "UPLOAD", false}, // nothing to send yet
    {Control::Area, "", false},
    {Control::Port, "", true},
    {Control::Load, "Load Binary File", true},
    {Control::FileInfo, "", false},
    {Control::FilePath, "", false},
    {Control::AreaText, "", false},
    {Control::Log, "", false},
    {Control::Progress, "", false},
    {Control::DeviceState, "no device", true},
    {Control::Connect, "Connect", false},
    {Control::Serial, "", true},
    {Control::Status, "", false},
    {Control::AutoMode, "auto mode", true},
    {Control::AutoProgress, "", true},
};

bool LessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string NodeHint(const std::string& strNode) {
    return strNode.empty() ? std::string() : "device node: " + strNode;
}

} // namespace

CMainWindowModel::CMainWindowModel(IWindowView& view, std::function<bool()> fnWake)
    : m_view(view), m_gui(std::move(fnWake)), m_pRequest(std::make_unique<UpdateRequest>()) {}

CMainWindowModel::~CMainWindowModel() {
    Shutdown();
}

void CMainWindowModel::Init() {
    for (const ControlStart& row : kStart) {
        m_texts[row.eControl] = row.pszText;
        m_enabled[row.eControl] = row.bEnabled;
        m_view.SetControlText(row.eControl, row.pszText);
        m_view.EnableControl(row.eControl, row.bEnabled);
    }
    SetBar(Control::Progress, 0);
    SetBar(Control::AutoProgress, 0);
    SetMarquee(false);
    m_pSegments.reset();
    m_nBootInfo = -1;
    m_optVersion.reset();
    RefreshPortList();
    m_view.SetComboItems(Control::Area, {{"CODE", ""}});
    m_view.ChooseComboItem(Control::Area, 0);
    SelectArea("CODE");
    m_pRequest = std::make_unique<UpdateRequest>(); // no firmware path yet
    m_bCloseRequested = false;
    m_bAutoMode = false;
    m_bAutoStopped = true;
    m_bConnected = false;
    m_bAutoSwitchOn = false;
    m_pSession.reset();
}

// --- What the view shows ------------------------------------------------------------

std::string CMainWindowModel::DeviceText(const std::string& strBytes) const {
    return DisplayText(m_view.TextFromDevice(strBytes));
}

void CMainWindowModel::SetText(Control eControl, const std::string& strText) {
    m_texts[eControl] = strText;
    m_view.SetControlText(eControl, strText);
}

void CMainWindowModel::Enable(Control eControl, bool bEnable) {
    if (eControl == Control::Load && IsImageLocked()) {
        bEnable = false; // the locked profile's image is the only one
    }
    m_enabled[eControl] = bEnable;
    m_view.EnableControl(eControl, bEnable);
}

void CMainWindowModel::SetBar(Control eBar, int nPos) {
    m_bars[eBar] = nPos;
    m_view.SetProgress(eBar, nPos);
}

void CMainWindowModel::SetMarquee(bool bOn) {
    m_bMarquee = bOn;
    m_view.SetMarquee(Control::AutoProgress, bOn);
}

const std::string& CMainWindowModel::Text(Control eControl) const {
    static const std::string strNone;
    const auto it = m_texts.find(eControl);
    return it != m_texts.end() ? it->second : strNone;
}

bool CMainWindowModel::IsEnabled(Control eControl) const {
    const auto it = m_enabled.find(eControl);
    return it != m_enabled.end() && it->second;
}

int CMainWindowModel::Progress(Control eBar) const {
    const auto it = m_bars.find(eBar);
    return it != m_bars.end() ? it->second : 0;
}

const std::u16string& CMainWindowModel::BoxText(Control eBox) const {
    return eBox == Control::Log ? m_strLog : m_strFileInfo;
}

void CMainWindowModel::AppendBox(Control eBox, const std::string& strText) {
    std::u16string& strBox = eBox == Control::Log ? m_strLog : m_strFileInfo;
    const std::u16string strNew =
        KeepNewest(NormalizeLineBreaks(Utf16FromUtf8(strText)), kTextBoxCapacity);
    if (strNew.empty()) {
        return;
    }
    const size_t nDrop = CharsToDrop(strBox, strNew.size(), kTextBoxCapacity);
    strBox.erase(0, nDrop);
    strBox += strNew;
    m_view.EditBox(eBox, nDrop, strNew, CaretAfterAppend(strBox));
}

void CMainWindowModel::ClearBox(Control eBox) {
    std::u16string& strBox = eBox == Control::Log ? m_strLog : m_strFileInfo;
    const size_t nDrop = strBox.size();
    strBox.clear();
    m_view.EditBox(eBox, nDrop, std::u16string(), 0);
}

void CMainWindowModel::AddLog(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    const int nLength = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    std::string strText(nLength > 0 ? static_cast<size_t>(nLength) : 0, '\0');
    if (nLength > 0) {
        std::vsnprintf(strText.data(), strText.size() + 1, pszFormat, args);
    }
    va_end(args);
    AppendBox(Control::Log, strText);
}

void CMainWindowModel::SetStatusText(const std::string& strText) {
    SetText(Control::Status, strText);
}

void CMainWindowModel::UpdateWaitCursor(bool bWasOn) {
    if (IsWaitCursor() != bWasOn) {
        m_view.SetWaitCursor(IsWaitCursor());
    }
}

void CMainWindowModel::ShowBusyCursor() {
    const bool bWas = IsWaitCursor();
    ++m_nBusyCount;
    UpdateWaitCursor(bWas);
}

void CMainWindowModel::EndBusyCursor() {
    const bool bWas = IsWaitCursor();
    if (m_nBusyCount > 0) {
        --m_nBusyCount;
    }
    UpdateWaitCursor(bWas);
}

// --- Window --------------------------------------------------------------------------

bool CMainWindowModel::IsWorkBusy() const {
    return m_bManualRun || !m_bAutoStopped || m_bAutoMode;
}

void CMainWindowModel::OnCancel() {
    m_bCloseRequested = true;
    if (m_bAutoStopped && !m_bManualRun) {
        // A connect step still running is waited for when the window goes.
        m_view.EndDialog();
        return;
    }
    if (!m_bAutoStopped) {
        // The loop ends its cycle, then closes the window.
        Enable(Control::AutoMode, false);
        m_bAutoMode = false;
        StopAutoLoop();
    } else {
        // A manual run keeps using the port, the request and the controls: the
        // window closes when its job is over.
        SetStatusText("closing when the update is over ...");
    }
}

bool CMainWindowModel::OnOK() {
    if (m_bManualRun || !m_bAutoStopped) {
        OnCancel();
        return false;
    }
    return true;
}

// --- Area choice -------------------------------------------------------------------

void CMainWindowModel::OnAreaSelChange(const std::string& strName) {
    SelectArea(strName);
}

void CMainWindowModel::SelectArea(const std::string& strName) {
    m_strArea = strName;
    Enable(Control::AreaText, false);
    std::string strAreaText;
    if (const FirmwareArea* pRow = FindFirmwareArea(strName)) {
        if (std::string(pRow->pszName) == "CUSTOM") {
            Enable(Control::AreaText, true);
            m_dwAreaStart = 0;
            m_dwAreaSize = 0;
        } else {
            m_dwAreaStart = pRow->dwStart;
            m_dwAreaSize = pRow->dwSize;
            strAreaText = FormatAreaText(pRow->dwStart, pRow->dwSize);
        }
    }
    SetText(Control::AreaText, strAreaText);
}

// --- Connection panel ----------------------------------------------------------------

void CMainWindowModel::RefreshPortList() {
    m_ports = ScanPorts();
    // Sorted case-insensitively, as a sorted combo box keeps it.
    std::stable_sort(m_ports.begin(), m_ports.end(), [](const PortRecord& a, const PortRecord& b) {
        return LessNoCase(a.strName, b.strName);
    });
    std::vector<PortChoice> items;
    for (const PortRecord& port : m_ports) {
        items.push_back({port.strName, NodeHint(port.strDeviceNode)});
    }
    m_view.SetComboItems(Control::Port, items);
    m_strChosenPort.clear();
    m_view.SetPortHint(std::string());
}

void CMainWindowModel::OnPortSelChange(const std::optional<std::string>& optName) {
    m_strChosenPort = optName.value_or(std::string());
    std::string strHint;
    for (const PortRecord& port : m_ports) {
        if (optName && port.strName == *optName) {
            strHint = NodeHint(port.strDeviceNode);
        }
    }
    m_view.SetPortHint(strHint);
    // While auto mode owns the devices, or a connect step runs, the panel stays out of use.
    Enable(Control::Connect, optName.has_value() && !IsWorkBusy() && !m_bConnecting);
}

void CMainWindowModel::OnConnect() {
    if (m_bConnecting) {
        return;
    }
    const bool bConnect = !m_bConnected;
    if (bConnect) {
        const std::vector<std::string> names = EnumeratePorts();
        if (m_strChosenPort.empty() ||
            std::find(names.begin(), names.end(), m_strChosenPort) == names.end()) {
            // Gone (or nothing chosen): offer a fresh list instead.
            RefreshPortList();
            m_view.OpenPortList();
            return;
        }
    }
    // Connecting goes on in OnConnectFinished.
    SetConnection(bConnect);
}

void CMainWindowModel::ShowConnected(bool bConnected) {
    m_bConnected = bConnected;
    SetText(Control::Connect, bConnected ? "disconnect" : "Connect");
}

void CMainWindowModel::SetConnection(bool bConnect) {
    if (!bConnect) {
        m_nBootInfo = -1;
        m_optVersion.reset();
        SetText(Control::DeviceState, "no device");
        ShowConnected(false);
        Enable(Control::Port, true);
        Enable(Control::Upload, false);
        Enable(Control::Load, false);
        m_pSession.reset(); // closes the port
        return;
    }
    // The panel and auto mode are out of use until the step has answered.
    const bool bWas = IsWaitCursor();
    m_bConnecting = true;
    UpdateWaitCursor(bWas);
    Enable(Control::Port, false);
    Enable(Control::Connect, false);
    Enable(Control::AutoMode, false);
    if (!StartConnect(m_strChosenPort)) {
        // No thread for the step: as a port that does not open.
        ConnectResult result;
        OnConnectFinished(result);
    }
}

void CMainWindowModel::OnConnectFinished(ConnectResult& result) {
    const bool bWas = IsWaitCursor();
    m_bConnecting = false;
    UpdateWaitCursor(bWas);
    Enable(Control::Connect, true); // connecting does not change its enabled state
    Enable(Control::AutoMode, true);
    m_nBootInfo = result.nBootInfo;
    m_optVersion = result.optVersion;

    switch (result.eKind) {
    case ConnectKind::PortNotOpen:
        // The panel stays as it was: disconnected.
        if (!result.strCause.empty()) {
            AddLog("cause: %s\n", result.strCause.c_str());
        }
        Enable(Control::Port, true);
        m_view.ShowMessage(kTextPortWrong, BoxIcon::Information);
        return;
    case ConnectKind::NoAnswer:
        ShowConnected(false);
        SetText(Control::DeviceState, "no device");
        Enable(Control::Port, true);
        m_view.ShowMessage(kTextPortWrong, BoxIcon::Information);
        return;
    case ConnectKind::BootLoader:
        SetText(Control::DeviceState, BootVersionText(result.nBootInfo));
        break; // the serial number shown stays
    case ConnectKind::Application:
        SetText(Control::DeviceState, DeviceText(result.optVersion.value_or("")));
        SetText(Control::Serial, DeviceText(result.optSerial.value_or("")));
        break;
    }
    m_pSession = std::move(result.pSession);
    m_view.SetPortHint(NodeHint(result.strDeviceNode));
    ShowConnected(true);
    Enable(Control::Load, true);
    Enable(Control::Port, false);
    SetBar(Control::Progress, 0);
    AddLog("connected.\n");
    if (m_pSegments) {
        Enable(Control::Load, false);
        Enable(Control::Upload, true);
    }
}

// --- Firmware selection --------------------------------------------------------------

void CMainWindowModel::OnLoadBinaryFile() {
    if (IsWorkBusy()) {
        return; // the request belongs to the running job
    }
    if (const std::optional<std::string> optPath = m_view.AskFirmwareFile()) {
        SetFirmwareFile(*optPath);
    }
    AfterFileChosen();
}

bool CMainWindowModel::CanTakeDrop(Control eTarget) const {
    // A running job reads the request's path.
    return (eTarget == Control::FileInfo || eTarget == Control::FilePath) && !IsWorkBusy() &&
           !IsImageLocked();
}

bool CMainWindowModel::OnDropFiles(Control eTarget, const std::string& strPath) {
    if (IsImageLocked()) {
        AddLog("%s\n", ImageLockedText(m_optProfile->strPath).c_str());
        return false;
    }
    if (strPath.empty() || !CanTakeDrop(eTarget)) {
        return false;
    }
    // A drop loads like the button: the file shown is the file UPLOAD sends.
    SetFirmwareFile(strPath);
    AfterFileChosen();
    return true;
}

void CMainWindowModel::AfterFileChosen() {
    if (m_pSegments && IsConnected()) {
        Enable(Control::Upload, true);
        SetBar(Control::Progress, 0);
    }
}

int32_t CMainWindowModel::ShowFileInfo(const std::string& strPath) {
    FileFacts facts;
    if (!ReadFileFacts(strPath, facts)) {
        return -1;
    }
    ClearBox(Control::FileInfo);
    AppendBox(Control::FileInfo, "file name : " + facts.strName + facts.strExtension + "\n");
    AppendBox(Control::FileInfo, "file size : " + std::to_string(facts.nSize) + "\n");
    AppendBox(Control::FileInfo, "file date : " + facts.strDate + "\n");
    return facts.nSize;
}

void CMainWindowModel::SetReadBack(bool bVerify,
                                   const std::optional<std::string>& optExpectVersion) {
    m_pRequest->bVerify = bVerify;
    m_pRequest->optExpectVersion = optExpectVersion;
    if (optExpectVersion) {
        AddLog("expected version : %s\n", DeviceText(*optExpectVersion).c_str());
    }
}

void CMainWindowModel::SetStationProfile(const StationProfile& profile,
                                         const std::string& strImage) {
    m_optProfile = profile;
    if (IsImageLocked()) {
        Enable(Control::Load, false);
        AddLog("%s\n", ImageLockedText(profile.strPath).c_str());
    }
    if (!strImage.empty()) {
        SetFirmwareFile(strImage);
        AfterFileChosen();
    }
}

bool CMainWindowModel::JudgeUnderProfile(const std::string& strPath,
                                         std::string& strSignatureLine) {
    const ImageVerdict verdict = JudgeImage(strPath, *m_optProfile);
    if (!verdict.bAccepted) {
        AddLog("%s\ncause: %s\n", OutcomeText(OutcomeKind::InvalidFirmware),
               verdict.strCause.c_str());
        m_view.ShowMessage(std::string(OutcomeText(OutcomeKind::InvalidFirmware)) + "\n" +
                               verdict.strCause,
                           BoxIcon::Information);
        return false;
    }
    // The job loads the file again: it must be the bytes judged here.
    m_pRequest->strApprovedSha256 = verdict.strSha256;
    m_pRequest->optImageVersion = SignedVersionOf(verdict.signature);
    m_pRequest->optImageSigner = SignerOf(verdict.signature);
    strSignatureLine = SignatureLineText(verdict.signature);
    return true;
}

void CMainWindowModel::SetFirmwareFile(const std::string& strPath) {
    std::string strSignatureLine;
    if (m_optProfile && !JudgeUnderProfile(strPath, strSignatureLine)) {
        return; // never loaded, so never sent: the image before stays
    }
    SetText(Control::FilePath, strPath);
    const int32_t nSize = ShowFileInfo(strPath);
    if (nSize >= 0 && !strSignatureLine.empty()) {
        AppendBox(Control::FileInfo, strSignatureLine + "\n");
    }
    // Also when the file is refused below: the job checks it again.
    m_pRequest->strFirmwarePath = strPath;
    m_nFileSize = nSize;
    SelectArea(m_strArea);
    if (m_nFileSize == 0) {
        // An empty image would "succeed" without writing a byte: refused like a
        // missing file, which keeps the image loaded before.
        m_view.ShowMessage("Firmware File Not Found", BoxIcon::Information);
        return;
    }
    if (m_dwAreaStart == 0x8000) {
        m_dwAreaSize = static_cast<uint32_t>(m_nFileSize);
        if (m_nFileSize > kMaxFirmwareSize) {
            m_view.ShowMessage("Incompatible File", BoxIcon::Information);
            return;
        }
    } else if (m_dwAreaStart == 0) {
        m_dwAreaSize = static_cast<uint32_t>(m_nFileSize);
    }
    const ImageSegment* pSegment = ReadImageSegment(
        m_pSegments, strPath, kFlashAreaBase + m_dwAreaStart, static_cast<int32_t>(m_dwAreaSize),
        [this](const std::string& strText) { m_view.ShowMessage(strText, BoxIcon::None); });
    if (pSegment == nullptr) {
        m_view.ShowMessage("Firmware File Not Found", BoxIcon::Information);
    }
}

// --- Manual run ------------------------------------------------------------------------

void CMainWindowModel::OnUpload() {
    if (IsWorkBusy() || m_bConnecting || !m_pSession) {
        return;
    }
    // Out of use before the thread exists, so a second press cannot start a second run.
    Enable(Control::Upload, false);
    ShowBusyCursor();
    Enable(Control::Load, false);
    Enable(Control::Connect, false);
    Enable(Control::AutoMode, false); // the loop would share the request
    m_bManualRun = true;
    if (!m_manual.Start(m_pSession, *m_pRequest)) {
        // No thread: nothing happens, the buttons are as they were.
        m_bManualRun = false;
        EndBusyCursor();
        Enable(Control::Upload, true);
        Enable(Control::Connect, true);
        Enable(Control::AutoMode, true);
    }
}

void CMainWindowModel::OnManualRunFinished() {
    // The job has let the port go; the window follows.
    SetConnection(false);
    EndBusyCursor();
    m_bManualRun = false;
    Enable(Control::AutoMode, true);
    if (m_bCloseRequested && m_bAutoStopped) {
        m_view.EndDialog();
    }
}

// --- Status callback ---------------------------------------------------------------------

void CMainWindowModel::OnStatus(int nStage, const UpdateStatus& status) {
    switch (nStage) {
    case StageStart:
        m_nJobState = 2;
        break;
    case StageSuccess:
        AddLog("%s\n", status.strMessage.c_str());
        m_nJobState = 0;
        break;
    case StageMessage:
    case StageVerifying:
        AddLog("%s\n", status.strMessage.c_str());
        break;
    case StageConnecting:
        m_nJobState = 3;
        break;
    case StageUpdating:
        m_nJobState = 4;
        AddLog("updating device[%s] ...\n",
               status.optSerial ? DeviceText(*status.optSerial).c_str() : "unknown");
        ClearBox(Control::FileInfo);
        AppendBox(Control::FileInfo, "file name : " + status.strFileName + "\n");
        AppendBox(Control::FileInfo, "file size : " + std::to_string(status.nFileSize) + "\n");
        AppendBox(Control::FileInfo, "file date : " + status.strFileDate);
        break;
    case StageProgress:
        m_nJobState = 5;
        SetBar(Control::Progress, std::clamp(status.nProgress, 0, 100));
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

// --- Auto mode -----------------------------------------------------------------------------

void CMainWindowModel::SetControlsForAutoMode(bool bAuto) {
    if (bAuto) {
        // The loop owns devices and the request: keep the manual ways out of use.
        Enable(Control::Upload, false);
        Enable(Control::Load, false);
        Enable(Control::Connect, false);
        Enable(Control::Port, false);
    } else {
        Enable(Control::Port, true);
        Enable(Control::Load, m_bLoadBeforeAuto);
        Enable(Control::Connect, !m_strChosenPort.empty());
    }
}

void CMainWindowModel::ShowAutoSwitch(bool bOn) {
    m_bAutoSwitchOn = bOn;
    SetText(Control::AutoMode, bOn ? "cancel auto mode" : "auto mode");
}

void CMainWindowModel::OnAutoMode() {
    if (m_bAutoSwitchOn) {
        ShowAutoSwitch(false);
        if (!m_bAutoStopped) {
            Enable(Control::AutoMode, false);
            m_bAutoMode = false;
            StopAutoLoop();
        }
        return;
    }
    // At most one loop: a stopping loop must have ended; a manual run or a connect
    // step must not share the request or the device with one.
    if (!m_bAutoStopped || m_bManualRun || m_bConnecting) {
        return;
    }
    ShowAutoSwitch(true);
    m_bAutoMode = true;
    m_bAutoStopped = false;
    Enable(Control::AutoMode, false);
    if (IsConnected()) {
        SetConnection(false); // the loop opens the device's port itself
    }
    // Taken after the disconnection: "Load Binary File" stays out of use after it
    // until the next connection, also once auto mode is over.
    m_bLoadBeforeAuto = IsEnabled(Control::Load);
    SetControlsForAutoMode(true);
    if (!StartAutoLoop()) {
        // No loop: back to Off, so a close request does not wait for it.
        m_bAutoMode = false;
        m_bAutoStopped = true;
        ShowAutoSwitch(false);
        Enable(Control::AutoMode, true);
        SetControlsForAutoMode(false);
    }
}

void CMainWindowModel::OnAutoLoopStarted() {
    if (m_bAutoMode) {
        Enable(Control::AutoMode, true);
    }
}

void CMainWindowModel::OnAutoSearching() {
    SetStatusText("detecting device ...");
    // A switch-off or close since the loop's test keeps the button out of use.
    if (m_bAutoMode) {
        Enable(Control::AutoMode, true);
    }
    SetMarquee(false);
}

void CMainWindowModel::OnAutoNothingFound(int nSearchPos) {
    SetBar(Control::AutoProgress, nSearchPos);
}

void CMainWindowModel::OnAutoDeviceFound() {
    SetMarquee(true);
    SetBar(Control::AutoProgress, 100);
    Enable(Control::AutoMode, false);
    SetStatusText("updating device ...");
    m_nJobState = 1;
}

void CMainWindowModel::OnRemoveDeviceAsked() {
    m_view.ShowMessage("Remove the device", BoxIcon::None);
    AnswerRemove();
}

void CMainWindowModel::OnAutoLoopEnded() {
    SetMarquee(false);
    SetControlsForAutoMode(false);
    Enable(Control::AutoMode, true);
    m_bAutoStopped = true;
    if (m_bCloseRequested) {
        m_view.EndDialog();
    }
}

} // namespace fwup
