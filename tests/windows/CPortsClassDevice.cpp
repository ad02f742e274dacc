#include "tests/windows/CPortsClassDevice.h"

#include "serial/WideText.h"

#include <windows.h>

#include <setupapi.h>

#include <cwchar>

namespace fwtest {

namespace {

constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Instance ids of test devices start with this enumerator.
constexpr const wchar_t* kEnumerator = L"FWUPTEST";

bool SetTextProperty(HDEVINFO hSet, SP_DEVINFO_DATA& info, DWORD dwProperty,
                     const std::wstring& strValue, bool bMulti) {
    std::wstring strData = strValue;
    strData.push_back(L'\0');
    if (bMulti) {
        strData.push_back(L'\0');
    }
    return ::SetupDiSetDeviceRegistryPropertyW(
        hSet, &info, dwProperty, reinterpret_cast<const BYTE*>(strData.c_str()),
        static_cast<DWORD>(strData.size() * sizeof(wchar_t)));
}

// Removes the registered devices whose instance id is strId, or every test device.
int RemoveDevices(const std::wstring& strId) {
    const HDEVINFO hSet = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, 0);
    if (hSet == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int nRemoved = 0;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!::SetupDiEnumDeviceInfo(hSet, dwIndex, &info)) {
            break;
        }
        wchar_t szId[512] = {};
        if (!::SetupDiGetDeviceInstanceIdW(hSet, &info, szId, 512, nullptr)) {
            continue;
        }
        const bool bMatch = strId.empty()
                                ? ::_wcsnicmp(szId, kEnumerator, ::wcslen(kEnumerator)) == 0
                                : ::_wcsicmp(szId, strId.c_str()) == 0;
        if (bMatch && ::SetupDiRemoveDevice(hSet, &info)) {
            ++nRemoved;
        }
    }
    ::SetupDiDestroyDeviceInfoList(hSet);
    return nRemoved;
}

} // namespace

CPortsClassDevice::CPortsClassDevice(const std::string& strInstance,
                                     const std::string& strFriendlyName,
                                     const std::string& strPortName,
                                     const std::string& strHardwareId) {
    // enumerator \ device \ instance: the three levels the device tree is read in.
    const std::wstring strId =
        std::wstring(kEnumerator) + L"\\FWUP_READER\\" + fwup::WideFromUtf8(strInstance);
    m_strInstanceId = fwup::Utf8FromWide(strId);
    const HDEVINFO hSet = ::SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    if (hSet == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    bool bOk =
        ::SetupDiCreateDeviceInfoW(hSet, strId.c_str(), &kPortsClass, nullptr, nullptr, 0, &info) &&
        ::SetupDiRegisterDeviceInfo(hSet, &info, 0, nullptr, nullptr, nullptr);
    if (bOk) {
        m_bRegistered = true; // from here on the destructor removes it
        bOk = SetTextProperty(hSet, info, SPDRP_FRIENDLYNAME, fwup::WideFromUtf8(strFriendlyName),
                              false) &&
              (strHardwareId.empty() || SetTextProperty(hSet, info, SPDRP_HARDWAREID,
                                                        fwup::WideFromUtf8(strHardwareId), true));
    }
    if (bOk && !strPortName.empty()) {
        const HKEY hKey = ::SetupDiCreateDevRegKeyW(hSet, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                                    nullptr, nullptr);
        const std::wstring strPort = fwup::WideFromUtf8(strPortName);
        bOk = hKey != INVALID_HANDLE_VALUE &&
              ::RegSetValueExW(
                  hKey, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(strPort.c_str()),
                  static_cast<DWORD>((strPort.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        if (hKey != INVALID_HANDLE_VALUE) {
            ::RegCloseKey(hKey);
        }
    }
    ::SetupDiDestroyDeviceInfoList(hSet);
    if (!bOk && m_bRegistered) {
        RemoveDevices(strId);
        m_bRegistered = false;
    }
}

CPortsClassDevice::~CPortsClassDevice() {
    if (m_bRegistered && !m_bKeep) {
        RemoveDevices(fwup::WideFromUtf8(m_strInstanceId));
    }
}

int CPortsClassDevice::Remove(const std::string& strInstance) {
    return RemoveDevices(std::wstring(kEnumerator) + L"\\FWUP_READER\\" +
                         fwup::WideFromUtf8(strInstance));
}

int CPortsClassDevice::RemoveAll() {
    return RemoveDevices(L"");
}

} // namespace fwtest
