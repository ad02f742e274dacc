#include "device/CAttemptCounter.h"

#include <algorithm>

namespace fwup {

int CAttemptCounter::Next(const DeviceUnit& unit, const std::optional<std::string>& optSerial) {
    int nAttempt = optSerial ? ++m_attempts[*optSerial] : 1;
    const std::string strKey = unit.strConnector.empty() ? unit.strPortName : unit.strConnector;
    if (unit.nAttempt >= 2) {
        const auto it = m_lastAttempts.find(strKey);
        nAttempt = std::max(nAttempt, it != m_lastAttempts.end() ? it->second + 1 : unit.nAttempt);
        if (optSerial) {
            m_attempts[*optSerial] = nAttempt;
        }
    }
    m_lastAttempts[strKey] = nAttempt;
    return nAttempt;
}

} // namespace fwup
