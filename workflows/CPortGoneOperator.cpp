#include "workflows/CPortGoneOperator.h"

#include "serial/Clock.h"
#include "workflows/CAutoLoop.h"

namespace fwup {

void CPortGoneOperator::AskToRemove(const DeviceUnit& unit, const CAutoLoop& loop) {
    // Absence right after the job is the reader's restart, not its removal,
    // unless the read-back has already waited for the reader to come back.
    const uint32_t dwStart = GetTickCount();
    while (!loop.StopRequested() && !loop.ReturnWaited() && !IsUnitListed(unit) &&
           TicksSince(dwStart) < m_nReturnMs) {
        SleepMs(m_nPollMs);
    }
    while (!loop.StopRequested() && IsUnitListed(unit)) {
        SleepMs(m_nPollMs);
    }
}

} // namespace fwup
