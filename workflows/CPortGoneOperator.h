#pragma once
// CPortGoneOperator: an operator without a button. "Remove the device" is
// answered once the device's port is no longer listed: the operator has
// unplugged it. A front end without a window (the command line) uses it.

#include "workflows/IOperator.h"

#include <cstdint>

namespace fwup {

class CPortGoneOperator : public IOperator {
public:
    // Looks at the ports every nPollMs milliseconds.
    explicit CPortGoneOperator(uint32_t nPollMs = 100) : m_nPollMs(nPollMs) {}

    // Returns once no listed port is the unit's, or once the loop is stopped.
    void AskToRemove(const DeviceUnit& unit, const CAutoLoop& loop) override;

private:
    uint32_t m_nPollMs;
};

} // namespace fwup
