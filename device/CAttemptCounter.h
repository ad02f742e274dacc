#pragma once
// CAttemptCounter: which attempt a finished job was, the one rule for the unit
// records and the windows, so that a window's attempt number is its record's.

#include "device/DeviceUnit.h"

#include <map>
#include <optional>
#include <string>

namespace fwup {

class CAttemptCounter {
public:
    // The attempt of the job that just ended on unit, whose serial is optSerial
    // (none: not learnt). Jobs on one serial count 1, 2, ... in this counter's
    // life, a re-plugged unit's too; a retry (unit.nAttempt >= 2) follows its
    // unit's previous job, also when one of them did not learn the serial. Call
    // once per ended job, in the order the jobs of one unit ended. Not thread-safe.
    int Next(const DeviceUnit& unit, const std::optional<std::string>& optSerial);
    // What Next would say now, without counting: a running job's number.
    int Peek(const DeviceUnit& unit, const std::optional<std::string>& optSerial) const;

private:
    std::map<std::string, int> m_attempts;     // jobs per serial
    std::map<std::string, int> m_lastAttempts; // the last job's attempt per connector
};

} // namespace fwup
