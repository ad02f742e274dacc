// Windows serial ports through kernel32's comm calls on "\\.\COMn".
#include "serial/SerialPlatform.h"

#include "serial/DcbLineSettings.h"
#include "serial/WideText.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace fwup {

namespace {

// What hNative points at. A wait that blocks can only learn that data has come
// by reading it (ReadFile with a total time-out), so the byte it took in waits
// here for the next read.
struct OpenPort {
    HANDLE hComm = INVALID_HANDLE_VALUE;
    std::wstring strKey; // the open-port registry's key
    bool bHasByte = false;
    uint8_t byLookAhead = 0;
};

// Windows itself refuses a second open of a port; Wine does not, so the ports
// open in this process are kept here too.
std::mutex g_openMutex;
std::set<std::wstring> g_openPorts;

// Reads return at once with what has arrived; a write never waits longer than
// the default write time-out (each write sets its own, see SerialWrite).
constexpr COMMTIMEOUTS kImmediateReads{MAXDWORD, 0, 0, 0, kDefaultWriteTimeoutMs};

// Longest single blocking read of a wait. Under Wine a blocking read on a pty
// whose other end has closed keeps the server busy until it times out, so a
// vanished device costs at most this much CPU before the next check sees it.
constexpr uint32_t kWaitSliceMs = 100;

using SteadyClock = std::chrono::steady_clock;

OpenPort* PortOf(const SerialHandle& handle) {
    return handle.hNative == -1 ? nullptr : reinterpret_cast<OpenPort*>(handle.hNative);
}

std::wstring RegistryKey(const std::wstring& strPath) {
    std::wstring strKey = strPath;
    std::transform(strKey.begin(), strKey.end(), strKey.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return strKey;
}

uint32_t LastError() {
    return static_cast<uint32_t>(::GetLastError());
}

// SetupComm, the line settings read back, and immediate-return reads.
uint32_t ConfigureLine(HANDLE hComm, uint32_t dwInQueue, uint32_t dwOutQueue) {
    if (!::SetupComm(hComm, dwInQueue, dwOutQueue)) {
        return LastError();
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(hComm, &dcb)) {
        return LastError();
    }
    ApplyLineSettings(dcb);
    if (!::SetCommState(hComm, &dcb)) {
        return LastError();
    }
    DCB readBack{};
    readBack.DCBlength = sizeof readBack;
    if (!::GetCommState(hComm, &readBack)) {
        return LastError();
    }
    if (!LineSettingsHold(readBack)) {
        return ERROR_INVALID_PARAMETER;
    }
    COMMTIMEOUTS timeouts = kImmediateReads;
    if (!::SetCommTimeouts(hComm, &timeouts)) {
        return LastError();
    }
    // What the device sent before anyone listened (a banner, line noise) is no
    // reply to anything this program will ask.
    ::PurgeComm(hComm, PURGE_RXCLEAR);
    return 0;
}

// A port whose device has gone fails ClearCommError (Wine: ERROR_NOT_READY;
// Windows: the removed driver's error), while its reads may still succeed empty.
uint32_t VanishedError(HANDLE hComm, COMSTAT* pStat = nullptr) {
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(hComm, &dwErrors, &stat)) {
        const uint32_t dwError = LastError();
        return dwError != 0 ? dwError : ERROR_NOT_READY;
    }
    if (pStat != nullptr) {
        *pStat = stat;
    }
    return 0;
}

enum class SliceResult { kByte, kNothing, kFailed };

// Blocks up to dwMs for one byte and keeps it as the look-ahead.
SliceResult ReadOneByteWithin(OpenPort& port, uint32_t dwMs) {
    COMMTIMEOUTS waitForFirst{MAXDWORD, MAXDWORD, dwMs, 0, kDefaultWriteTimeoutMs};
    if (!::SetCommTimeouts(port.hComm, &waitForFirst)) {
        return SliceResult::kFailed;
    }
    uint8_t byRead = 0;
    DWORD dwGot = 0;
    const BOOL bRead = ::ReadFile(port.hComm, &byRead, 1, &dwGot, nullptr);
    COMMTIMEOUTS immediate = kImmediateReads;
    const BOOL bRestored = ::SetCommTimeouts(port.hComm, &immediate);
    if (bRead && dwGot == 1) {
        port.bHasByte = true;
        port.byLookAhead = byRead;
        return SliceResult::kByte;
    }
    return bRead && bRestored ? SliceResult::kNothing : SliceResult::kFailed;
}

} // namespace

void ApplyLineSettings(DCB& dcb) {
    dcb.BaudRate = CBR_115200;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
}

bool LineSettingsHold(const DCB& actual) {
    return actual.BaudRate == CBR_115200 && actual.ByteSize == 8 && actual.Parity == NOPARITY &&
           actual.StopBits == ONESTOPBIT && actual.fOutxCtsFlow == 0 && actual.fOutxDsrFlow == 0 &&
           actual.fOutX == 0 && actual.fInX == 0 && actual.fDtrControl != DTR_CONTROL_HANDSHAKE &&
           actual.fRtsControl != RTS_CONTROL_HANDSHAKE;
}

uint32_t SerialOpen(const std::string& strNode, uint32_t dwInQueue, uint32_t dwOutQueue,
                    SerialHandle& handle) {
    handle = SerialHandle{};
    auto pPort = std::make_unique<OpenPort>();
    const std::wstring strPath = WideFromUtf8(strNode);
    pPort->strKey = RegistryKey(strPath);
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        if (!g_openPorts.insert(pPort->strKey).second) {
            return ERROR_ACCESS_DENIED; // what Windows answers for a port open elsewhere
        }
    }
    auto unregister = [&pPort] {
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_openPorts.erase(pPort->strKey);
    };
    // No sharing: Windows refuses the port to every other opener while we hold it.
    pPort->hComm = ::CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (pPort->hComm == INVALID_HANDLE_VALUE) {
        const uint32_t dwError = LastError();
        unregister();
        return dwError;
    }
    const uint32_t dwError = ConfigureLine(pPort->hComm, dwInQueue, dwOutQueue);
    if (dwError != 0) {
        ::CloseHandle(pPort->hComm);
        unregister();
        return dwError;
    }
    handle.hNative = reinterpret_cast<intptr_t>(pPort.release());
    return 0;
}

void SerialClose(SerialHandle& handle) {
    std::unique_ptr<OpenPort> pPort(PortOf(handle));
    if (!pPort) {
        return;
    }
    ::CloseHandle(pPort->hComm);
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_openPorts.erase(pPort->strKey);
    }
    handle = SerialHandle{};
}

uint32_t SerialRead(const SerialHandle& handle, void* pBuffer, uint32_t& nBytes) {
    OpenPort* pPort = PortOf(handle);
    if (pPort == nullptr) {
        nBytes = 0;
        return ERROR_INVALID_HANDLE;
    }
    if (nBytes == 0) {
        return 0;
    }
    auto* pOut = static_cast<uint8_t*>(pBuffer);
    uint32_t nTaken = 0;
    if (pPort->bHasByte) {
        pOut[nTaken++] = pPort->byLookAhead;
        pPort->bHasByte = false;
    }
    DWORD dwGot = 0;
    if (nTaken < nBytes &&
        !::ReadFile(pPort->hComm, pOut + nTaken, nBytes - nTaken, &dwGot, nullptr)) {
        const uint32_t dwError = LastError();
        if (nTaken == 0) {
            nBytes = 0;
            return dwError;
        }
        dwGot = 0; // hand out the byte already taken; the next read meets the failure again
    }
    nTaken += dwGot;
    if (nTaken == 0) {
        // Under Wine reads stay successful and empty after the device has gone.
        const uint32_t dwError = VanishedError(pPort->hComm);
        nBytes = 0;
        return dwError;
    }
    nBytes = nTaken;
    return 0;
}

uint32_t SerialWrite(const SerialHandle& handle, const void* pBuffer, uint32_t& nBytes,
                     uint32_t dwTimeoutMs) {
    OpenPort* pPort = PortOf(handle);
    if (pPort == nullptr) {
        nBytes = 0;
        return ERROR_INVALID_HANDLE;
    }
    // The write's whole time-out goes into the constant (0 there would mean none):
    // a reader that stops reading returns the write with fewer bytes instead of
    // holding it. Reads keep returning at once.
    COMMTIMEOUTS timeouts = kImmediateReads;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = std::max<uint32_t>(dwTimeoutMs, 1);
    if (!::SetCommTimeouts(pPort->hComm, &timeouts)) {
        nBytes = 0;
        return LastError();
    }
    DWORD dwWritten = 0;
    const BOOL bWritten = ::WriteFile(pPort->hComm, pBuffer, nBytes, &dwWritten, nullptr);
    nBytes = dwWritten;
    return bWritten ? 0 : LastError();
}

bool SerialWaitReadable(const SerialHandle& handle, uint32_t dwTimeoutMs) {
    OpenPort* pPort = PortOf(handle);
    if (pPort == nullptr) {
        return false;
    }
    if (pPort->bHasByte) {
        return true;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(dwTimeoutMs);
    for (;;) {
        COMSTAT stat{};
        if (VanishedError(pPort->hComm, &stat) != 0) {
            // Nothing will ever arrive on a vanished port; sleep instead of spinning.
            std::this_thread::sleep_until(deadline);
            return false;
        }
        if (stat.cbInQue > 0) {
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
                .count();
        if (left <= 0) {
            return false;
        }
        const uint32_t dwSlice = static_cast<uint32_t>(std::min<long long>(left, kWaitSliceMs));
        const auto sliceEnd = SteadyClock::now() + std::chrono::milliseconds(dwSlice);
        switch (ReadOneByteWithin(*pPort, dwSlice)) {
        case SliceResult::kByte:
            return true;
        case SliceResult::kFailed:
            // A failing call could fail again at once: keep the loop off the CPU.
            std::this_thread::sleep_until(std::min(sliceEnd, deadline));
            break;
        case SliceResult::kNothing:
            if (SteadyClock::now() + std::chrono::milliseconds(5) < sliceEnd) {
                // An empty read that came back early is no wait either.
                std::this_thread::sleep_until(std::min(sliceEnd, deadline));
            }
            break;
        }
    }
}

SerialOpenFault ClassifyOpenError(uint32_t dwError) {
    switch (dwError) {
    case 0:
        return SerialOpenFault::kNone;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
    case ERROR_INVALID_FUNCTION: // a name with no serial device behind it (Wine: a vanished port)
        return SerialOpenFault::kNoSuchPort;
    case ERROR_ACCESS_DENIED: // COM ports carry no per-user rights: this is another holder
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return SerialOpenFault::kHeldElsewhere;
    default:
        return SerialOpenFault::kOther;
    }
}

std::string SerialErrorText(uint32_t dwError) {
    wchar_t* pszText = nullptr;
    const DWORD nChars = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, dwError, 0, reinterpret_cast<wchar_t*>(&pszText), 0, nullptr);
    std::wstring strText = nChars > 0 && pszText != nullptr ? std::wstring(pszText, nChars) : L"";
    ::LocalFree(pszText);
    while (!strText.empty() && (strText.back() == L'\n' || strText.back() == L'\r' ||
                                strText.back() == L' ' || strText.back() == L'.')) {
        strText.pop_back();
    }
    if (strText.empty()) {
        return "error " + std::to_string(dwError);
    }
    return Utf8FromWide(strText);
}

} // namespace fwup
