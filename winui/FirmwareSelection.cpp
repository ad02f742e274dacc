// Firmware selection: the open-file dialog, drops on the file boxes, the checks.

#include "device/FirmwareFile.h"
#include "serial/WideText.h"
#include "winui/CFwUpgraderVelmoraDlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <iterator>

namespace fwup {

wchar_t g_szFileName[2000] = {};

bool CFwUpgraderVelmoraDlg::ChooseFirmwareFile() {
    g_szFileName[0] = L'\0';
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hWnd; // modal to the window, as on Linux
    ofn.lpstrFilter = L"Binary (*.bin)\0*.bin\0All (*.*)\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = g_szFileName;
    ofn.nMaxFile = static_cast<DWORD>(std::size(g_szFileName));
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER;
    return ::GetOpenFileNameW(&ofn) != FALSE && g_szFileName[0] != L'\0';
}

std::optional<std::wstring> CFwUpgraderVelmoraDlg::ChooseAndLoadFile() {
    std::optional<std::wstring> result;
    if (ChooseFirmwareFile()) {
        const std::wstring strPath = g_szFileName;
        SetFirmwareFile(strPath);
        result = strPath;
    }
    if (m_pSegments && IsConnected()) {
        ::EnableWindow(m_hUpload, TRUE);
        ::SendMessageW(m_hProgress, PBM_SETPOS, 0, 0);
    }
    return result;
}

void CFwUpgraderVelmoraDlg::OnLoadBinaryFile() {
    if (IsWorkBusy()) {
        return; // the request belongs to the running job
    }
    if (const std::optional<std::wstring> path = ChooseAndLoadFile()) {
        // Also when the window refused the file: the job checks it again.
        m_pRequest->strFirmwarePath = Utf8FromWide(*path);
    }
}

void CFwUpgraderVelmoraDlg::OnDropFiles(HDROP hDrop) {
    POINT ptDrop = {};
    ::DragQueryPoint(hDrop, &ptDrop);
    std::wstring strPath;
    const UINT nLength = ::DragQueryFileW(hDrop, 0, nullptr, 0);
    if (nLength > 0) {
        strPath.resize(nLength + 1);
        ::DragQueryFileW(hDrop, 0, strPath.data(), nLength + 1);
        strPath.resize(nLength);
    }
    ::DragFinish(hDrop);
    // Disabled controls count (both drop targets are disabled); hidden ones do not.
    HWND hTarget = ::ChildWindowFromPointEx(m_hWnd, ptDrop, CWP_SKIPINVISIBLE);
    if (strPath.empty() || (hTarget != m_hFileInfo && hTarget != m_hFilePath)) {
        return;
    }
    if (IsWorkBusy()) {
        return; // a running job reads the request's path
    }
    // A drop loads like the button: the file shown is the file UPLOAD sends.
    SetFirmwareFile(strPath);
    m_pRequest->strFirmwarePath = Utf8FromWide(strPath);
    if (m_pSegments && IsConnected()) {
        ::EnableWindow(m_hUpload, TRUE);
        ::SendMessageW(m_hProgress, PBM_SETPOS, 0, 0);
    }
}

void CFwUpgraderVelmoraDlg::SetFirmwareFile(const std::wstring& strPath) {
    ::SetWindowTextW(m_hFilePath, strPath.c_str());
    const int32_t nSize = ShowFileInfo(strPath);
    m_strFirmwarePath = strPath;
    m_nFileSize = nSize;
    SelectArea();
    if (m_nFileSize == 0) {
        // An empty image would "succeed" without writing a byte: refuse it as missing.
        m_pSegments.reset();
        MessageBox(L"Firmware File Not Found", MB_ICONINFORMATION);
        return;
    }
    if (m_dwAreaStart == 0x8000) {
        m_dwAreaSize = static_cast<uint32_t>(m_nFileSize);
        if (m_nFileSize > kMaxFirmwareSize) {
            MessageBox(L"Incompatible File", MB_ICONINFORMATION);
            return;
        }
    } else if (m_dwAreaStart == 0) {
        m_dwAreaSize = static_cast<uint32_t>(m_nFileSize);
    }
    const ImageSegment* pSegment = ReadImageSegment(
        m_pSegments, Utf8FromWide(m_strFirmwarePath), kFlashAreaBase + m_dwAreaStart,
        static_cast<int32_t>(m_dwAreaSize),
        [this](const std::string& strText) { MessageBox(WideFromUtf8(strText), 0); });
    if (pSegment == nullptr) {
        MessageBox(L"Firmware File Not Found", MB_ICONINFORMATION);
    }
}

} // namespace fwup
