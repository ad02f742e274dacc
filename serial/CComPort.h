#pragma once
// CComPort: the only channel to the device. Opens a numbered port with the
// device's fixed line settings (115200 8N1, no flow control, DTR and RTS on),
// moves raw bytes, and traces every byte moved to the debug channel.
// Port numbers map to device nodes through port discovery (PortDiscovery.h).

#include "serial/PortOpenError.h"
#include "serial/SerialPlatform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fwup {

class CPortWatcher;
struct PortRecord;

struct PortRecord;

// The closed state of m_hComm.
inline constexpr intptr_t kClosedPortHandle = -1;

class CComPort {
public:
    // Stores the name and queue sizes (bytes), reads m_nPort from the name and
    // opens it at once. The object ends open or closed; callers test IsOpen().
    CComPort(const std::string& strDeviceName, uint32_t dwOutQueue, uint32_t dwInQueue);
    // A port made from a discovered record: its listed name and number, opened at
    // once through the record's node (no new scan). Callers test IsOpen().
    explicit CComPort(const PortRecord& record);
    ~CComPort(); // closes the port
    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    // Opens port nPort exclusively (no other open in this or another process,
    // root included) and applies and verifies the line settings. Returns the
    // handle, or kClosedPortHandle with the object closed and GetOpenError()
    // saying why. Sets m_nOpenedPort.
    intptr_t Open(int nPort);
    // Opens the node of a record (see Open(int)).
    intptr_t Open(const PortRecord& record);
    void Close();
    bool IsOpen() const { return m_hComm != kClosedPortHandle; }

    // Never waits. nBytes: in, bytes wanted; out, bytes received (0 on failure).
    // Returns 0 or an errno value; a hang-up (device gone) is EIO, never "no data".
    uint32_t Read(void* pBuffer, uint32_t& nBytes);
    // Waits up to dwTimeoutMs for the driver to take bytes. nBytes: in, bytes to
    // send; out, bytes written (fewer, or 0, when the reader does not read and the
    // time ran out: no error). Returns 0 or an errno value.
    uint32_t Write(const void* pBuffer, uint32_t& nBytes,
                   uint32_t dwTimeoutMs = kDefaultWriteTimeoutMs);

    // Blocks up to dwTimeoutMs for received data; true when a Read would return
    // data at once. A closed or hung-up port never has data: the call sleeps out
    // the time and returns false (the next Read reports the hang-up as EIO), so
    // callers that retry until their deadline never spin a core.
    bool WaitReadable(uint32_t dwTimeoutMs) const;

    // Bytes Read has delivered over the object's life (all opens): lets a caller
    // tell a silent line from one full of bytes that answered nothing.
    uint64_t BytesReceived() const { return m_totalBytesRead; }

    // The device name, or "COM<n>" when it is empty.
    std::string GetLabel() const;
    // The device node this object last opened (empty before the first open).
    const std::string& GetDeviceNode() const { return m_strDeviceNode; }
    const std::string& GetDeviceName() const { return m_strDeviceName; }
    int GetPortNumber() const { return m_nPort; }
    int GetOpenedPort() const { return m_nOpenedPort; }
    // Why the last open failed (problem None after a successful open).
    const PortOpenError& GetOpenError() const { return m_openError; }

    // The number that a listed name carries: "AT91 USB to Serial Converter (COM5)"
    // gives 5; 0 when it carries none. Case-sensitive, first occurrences. The one
    // reader of "COM<n>" in the product.
    static int PortNumberFromName(const std::string& strName);
    // The number of a bare port label: "COM5" gives 5; 0 for anything else
    // ("COM5x", "COM0", "com5", a listed name).
    static int PortNumberFromLabel(const std::string& strLabel);

    // The listing this port's tests and waits read: the watcher's (borrowed; it
    // outlives the port), so that many ports waiting at once do not each scan.
    // Null (the default): each test scans the ports itself.
    void SetPortWatcher(const CPortWatcher* pWatcher) { m_pWatcher = pWatcher; }
    // The ports as this port's tests see them: the watcher's listing or a scan.
    std::vector<PortRecord> ListPorts() const;
    // A mark to pass to HasLeftSince: this port's departures so far (0 without a watcher).
    uint64_t DepartureMark() const;
    // With a watcher: the port has left the list since the mark, even if it is
    // back already. Without one: false (only IsPresent can tell).
    bool HasLeftSince(uint64_t nMark) const;
    // Waits up to dwMs, less when the watcher sees the list change.
    void WaitForListChange(uint32_t dwMs) const;

    // Port discovery's tests and waits (PortDiscovery.cpp).
    // Some listed port matches this object by exact name or by number (compared
    // on the discovered records, names are not parsed again).
    bool IsPresent() const;
    // Polls every 100 ms until the port is present and opened or dwTimeoutMs
    // has passed; true when open at the end. Already open: true at once.
    bool WaitOpen(uint32_t dwTimeoutMs);
    // Closes and, with bWait and a device name, waits (unbounded, a few ms
    // between enumerations) until no listed port matches this object or, with a
    // watcher, until it has left the list once.
    void CloseAndWaitGone(bool bWait);
    // Close, pause 200 ms, then WaitOpen(5000). Callers test IsOpen().
    void Reopen();

private:
    const CPortWatcher* m_pWatcher = nullptr;
    intptr_t m_hComm = kClosedPortHandle;
    int m_nOpenedPort = 0;
    uint32_t m_dwInQueue = 0;
    uint32_t m_dwOutQueue = 0;
    std::string m_strDeviceName;
    int m_nPort = 0;
    std::string m_strDeviceNode;
    unsigned long long m_nDeviceId = 0; // identity of the open node, for the open-port registry
    PortOpenError m_openError;
    uint64_t m_totalBytesRead = 0;

    intptr_t OpenNode(const std::string& strNode);
};

// Writes bytes as trace lines "<prefix>xx xx ... \n", at most 16 bytes a line;
// nothing for zero bytes. Used for "Rx : " and "Tx : ".
void TraceBytes(const char* pszPrefix, const uint8_t* pData, uint32_t nCount);

} // namespace fwup
