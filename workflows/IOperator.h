#pragma once
// The operator at the bench, as the auto loop sees them: after each device's job
// the loop asks for the device to be taken off and waits for the answer.

#include "device/DeviceUnit.h"

namespace fwup {

class CAutoLoop;

class IOperator {
public:
    virtual ~IOperator() = default;

    // Called on the loop's thread after each device's job; returns once the
    // operator has answered (the window: its "Remove the device" box was closed;
    // the command line: the device's port has gone). May return early once
    // loop.StopRequested(). A device still attached afterwards is updated again.
    virtual void AskToRemove(const DeviceUnit& unit, const CAutoLoop& loop) = 0;
};

} // namespace fwup
