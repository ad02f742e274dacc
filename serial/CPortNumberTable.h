#pragma once
// Process-wide COM numbers per physical connector (USB device path plus
// interface), numbered from 1 in order of first sight and kept for the life of
// the process, so a device that restarts under another tty name keeps its number.

#include <map>
#include <mutex>
#include <string>

namespace fwup {

class CPortNumberTable {
public:
    static CPortNumberTable& Instance();

    // The number of strConnector; a new one is assigned on first sight.
    int NumberFor(const std::string& strConnector);
    // The number strConnector has or would get, without assigning it.
    int PeekNumber(const std::string& strConnector) const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, int> m_numbers;
    int m_nNext = 1;
};

} // namespace fwup
