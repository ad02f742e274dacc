#include "workflows/CPortGoneOperator.h"

#include "serial/Clock.h"
#include "workflows/CAutoLoop.h"

namespace fwup {

void CPortGoneOperator::AskToRemove(const DeviceUnit& unit, const CAutoLoop& loop) {
    while (!loop.StopRequested() && IsUnitListed(unit)) {
        SleepMs(m_nPollMs);
    }
}

} // namespace fwup
