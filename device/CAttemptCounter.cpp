#include "device/CAttemptCounter.h"

#include <algorithm>

namespace fwup {

namespace {

std::string ConnectorKey(const DeviceUnit& unit) {
    return unit.strConnector.empty() ? unit.strPortName : unit.strConnector;
}

} // namespace

int CAttemptCounter::Peek(const DeviceUnit& unit,
                          const std::optional<std::string>& optSerial) const {
    int nAttempt = 1;
    if (optSerial) {
        const auto it = m_attempts.find(*optSerial);
        nAttempt = it != m_attempts.end() ? it->second + 1 : 1;
    }
    if (unit.nAttempt >= 2) {
        const auto it = m_lastAttempts.find(ConnectorKey(unit));
        nAttempt = std::max(nAttempt, it != m_lastAttempts.end() ? it->second + 1 : unit.nAttempt);
    }
    return nAttempt;
}

int CAttemptCounter::Next(const DeviceUnit& unit, const std::optional<std::string>& optSerial) {
    const int nAttempt = Peek(unit, optSerial);
    if (optSerial) {
        m_attempts[*optSerial] = nAttempt;
    }
    m_lastAttempts[ConnectorKey(unit)] = nAttempt;
    return nAttempt;
}

} // namespace fwup
