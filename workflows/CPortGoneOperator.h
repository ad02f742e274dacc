#pragma once
// CPortGoneOperator: an operator without a button. "Remove the device" is
// answered once the device's port is no longer listed: the operator has
// unplugged it. A front end without a window (the command line) uses it.

#include "workflows/IOperator.h"

#include <cstdint>

namespace fwup {

class CPortGoneOperator : public IOperator {
public:
    // Looks at the ports every nPollMs milliseconds. A reader restarts after its
    // download, so its port may be away for a moment when asked: it is waited for
    // up to nReturnMs (the wait for a port to appear) before absence counts,
    // unless the job's read-back has waited for it already.
    explicit CPortGoneOperator(uint32_t nPollMs = 100, uint32_t nReturnMs = 7000)
        : m_nPollMs(nPollMs), m_nReturnMs(nReturnMs) {}

    // Returns once no listed port is the unit's (after it was seen again, or after
    // nReturnMs without it), or once the loop is stopped.
    void AskToRemove(const DeviceUnit& unit, const CAutoLoop& loop) override;

private:
    uint32_t m_nPollMs;
    uint32_t m_nReturnMs;
};

} // namespace fwup
