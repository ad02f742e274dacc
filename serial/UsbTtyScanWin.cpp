// Windows: the present devices of SetupAPI's ports class with their hardware id,
// friendly name and port name; where that class lists no COM port (Wine lists
// none), the ports of the system's serial port map.
#include "serial/UsbTtyScan.h"

#include "serial/ComPortNames.h"
#include "serial/WideText.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <type_traits>

namespace fwup {

namespace {

// The setup class of COM and LPT ports.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Properties are read into 300 bytes: a name of 150 characters or more is left out.
constexpr DWORD kPropertyChars = 150;

constexpr const char* kDefaultDescription = "USB Serial Device";

struct DeviceSetCloser {
    void operator()(HDEVINFO hSet) const { ::SetupDiDestroyDeviceInfoList(hSet); }
};
using DeviceSet = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceSetCloser>;

struct KeyCloser {
    void operator()(HKEY hKey) const { ::RegCloseKey(hKey); }
};
using RegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

std::string DevicePathFor(int nPort) {
    return "\\\\.\\COM" + std::to_string(nPort);
}

// A text property up to its first zero; false when the device lacks it or it does not fit.
bool ReadTextProperty(HDEVINFO hSet, SP_DEVINFO_DATA& info, DWORD dwProperty,
                      std::wstring& strOut) {
    wchar_t szBuffer[kPropertyChars] = {};
    DWORD dwType = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(hSet, &info, dwProperty, &dwType,
                                             reinterpret_cast<BYTE*>(szBuffer), sizeof szBuffer,
                                             nullptr)) {
        return false;
    }
    strOut.assign(szBuffer, ::wcsnlen(szBuffer, kPropertyChars));
    return true;
}

// A short REG_SZ value of an open key; empty when missing or too long.
std::wstring ReadShortText(HKEY hKey, const wchar_t* pszValue) {
    wchar_t szBuffer[64] = {};
    DWORD dwType = 0;
    DWORD cbData = sizeof szBuffer - sizeof(wchar_t);
    if (::RegQueryValueExW(hKey, pszValue, nullptr, &dwType, reinterpret_cast<BYTE*>(szBuffer),
                           &cbData) != ERROR_SUCCESS ||
        dwType != REG_SZ) {
        return {};
    }
    return std::wstring(szBuffer, ::wcsnlen(szBuffer, cbData / sizeof(wchar_t)));
}

// The "PortName" the ports class installer gave the device ("COM5").
std::wstring ReadPortName(HDEVINFO hSet, SP_DEVINFO_DATA& info) {
    const HKEY hKey =
        ::SetupDiOpenDevRegKey(hSet, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (hKey == nullptr || hKey == INVALID_HANDLE_VALUE) {
        return {};
    }
    RegistryKey key(hKey);
    return ReadShortText(hKey, L"PortName");
}

std::string InstanceId(HDEVINFO hSet, SP_DEVINFO_DATA& info) {
    wchar_t szId[512] = {};
    if (!::SetupDiGetDeviceInstanceIdW(hSet, &info, szId, 512, nullptr)) {
        return {};
    }
    return Utf8FromWide(szId);
}

std::vector<UsbTty> ScanPortsClass() {
    std::vector<UsbTty> ports;
    const HDEVINFO hSet = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (hSet == INVALID_HANDLE_VALUE) {
        return ports;
    }
    DeviceSet set(hSet);
    for (DWORD dwIndex = 0;; ++dwIndex) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!::SetupDiEnumDeviceInfo(hSet, dwIndex, &info)) {
            break;
        }
        std::wstring strHardwareId;
        std::wstring strFriendly;
        if (!ReadTextProperty(hSet, info, SPDRP_HARDWAREID, strHardwareId) ||
            !ReadTextProperty(hSet, info, SPDRP_FRIENDLYNAME, strFriendly)) {
            continue;
        }
        const FriendlyNameParts parts = SplitFriendlyName(Utf8FromWide(strFriendly));
        // The installer's port name is what "\\.\COMn" opens; the friendly name only shows it.
        int nPort = ComNumberFromPortName(Utf8FromWide(ReadPortName(hSet, info)));
        if (nPort == 0) {
            nPort = parts.nPort;
        }
        if (nPort == 0) {
            continue; // printer ports share the class
        }
        UsbTty tty;
        tty.strTty = "COM" + std::to_string(nPort);
        tty.strDescription =
            parts.strDescription.empty() ? kDefaultDescription : parts.strDescription;
        tty.strConnector = InstanceId(hSet, info);
        if (tty.strConnector.empty()) {
            tty.strConnector = Utf8FromWide(strHardwareId);
        }
        tty.strNode = DevicePathFor(nPort);
        tty.nPort = nPort;
        ports.push_back(std::move(tty));
    }
    return ports;
}

// The serial port map names the ports Wine is configured with whether their
// device is there or not; a port whose device path resolves to nothing (Wine:
// ERROR_BAD_DEV_TYPE; Windows: ERROR_FILE_NOT_FOUND) is not present.
bool DevicePathResolves(int nPort) {
    const std::wstring strPath = WideFromUtf8(DevicePathFor(nPort));
    if (::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD dwError = ::GetLastError();
    return dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND &&
           dwError != ERROR_BAD_DEV_TYPE;
}

std::vector<UsbTty> ScanSerialPortMap() {
    std::vector<UsbTty> ports;
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                        &hKey) != ERROR_SUCCESS) {
        return ports;
    }
    RegistryKey key(hKey);
    for (DWORD dwIndex = 0;; ++dwIndex) {
        wchar_t szEntry[256] = {};
        DWORD cchEntry = 256;
        wchar_t szPort[32] = {};
        DWORD cbPort = sizeof szPort - sizeof(wchar_t);
        DWORD dwType = 0;
        const LONG nResult = ::RegEnumValueW(hKey, dwIndex, szEntry, &cchEntry, nullptr, &dwType,
                                             reinterpret_cast<BYTE*>(szPort), &cbPort);
        if (nResult == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (nResult != ERROR_SUCCESS || dwType != REG_SZ) {
            continue;
        }
        const int nPort = ComNumberFromPortName(
            Utf8FromWide(std::wstring(szPort, ::wcsnlen(szPort, cbPort / sizeof(wchar_t)))));
        if (nPort == 0 || !DevicePathResolves(nPort)) {
            continue;
        }
        UsbTty tty;
        tty.strTty = "COM" + std::to_string(nPort);
        tty.strDescription = kDefaultDescription;
        tty.strConnector = Utf8FromWide(szEntry);
        tty.strNode = DevicePathFor(nPort);
        tty.nPort = nPort;
        ports.push_back(std::move(tty));
    }
    std::sort(ports.begin(), ports.end(),
              [](const UsbTty& a, const UsbTty& b) { return a.nPort < b.nPort; });
    return ports;
}

} // namespace

std::vector<UsbTty> ScanUsbTtys(const std::string& /*strRoot*/) {
    std::vector<UsbTty> ports = ScanPortsClass();
    if (ports.empty()) {
        ports = ScanSerialPortMap();
    }
    return ports;
}

} // namespace fwup
