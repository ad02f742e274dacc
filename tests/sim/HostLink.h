#pragma once
// The host's side of a simulated port for tests: the published device node
// opened with plain POSIX calls and raw termios, as any terminal program would,
// independent of the product's port class.

#include <cstdint>
#include <string>
#include <vector>

namespace fwsim::test {

class HostLink {
public:
    HostLink() = default;
    ~HostLink();
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    bool Open(const std::string& strPath);
    void Close();
    int Fd() const { return m_hFd; }

    bool Write(const std::vector<uint8_t>& bytes);
    bool Write(const std::string& strText);
    // Up to nCount bytes, waiting at most nTimeoutMs in total; fewer on time-out.
    std::vector<uint8_t> Read(size_t nCount, int nTimeoutMs);
    // Bytes up to and including the first CR LF; "" on time-out.
    std::string ReadLine(int nTimeoutMs);
    // One device packet: the 8-byte header and the payload words it announces
    // (none when byte 0 is 0x40). Empty on time-out.
    std::vector<uint8_t> ReadPacket(int nTimeoutMs);
    // True when nothing arrives for nMs.
    bool Silent(int nMs);

private:
    int m_hFd = -1;
};

// Polls until the path exists (or no longer exists) or nTimeoutMs passed.
bool WaitForPath(const std::string& strPath, bool bPresent, int nTimeoutMs);

} // namespace fwsim::test
