#pragma once
// The application firmware's command library: a channel to the device's port and
// the wait for its ready line ("~e!ready,<text>\r\n").

#include "device/CDeviceLink.h"

#include <string>

namespace fwup {

// The port CGadgetLib talks through. Created and deleted by the update job.
struct GadgetChannel {
    CDeviceLink* pLink = nullptr; // not owned
};

class CGadgetLib {
public:
    CGadgetLib() = default;
    virtual ~CGadgetLib();
    CGadgetLib(const CGadgetLib&) = delete;
    CGadgetLib& operator=(const CGadgetLib&) = delete;

    // Attaches the channel (not owned) and returns WaitReady(); with no channel, "".
    std::string SetChannel(GadgetChannel* pChannel);
    // Listens up to the ready wait (5000 ms) for one line. Returns the text after "~e!ready," up to
    // its CR LF; a line without the banner without its CR LF; on a time-out whatever
    // arrived (possibly "").
    std::string WaitReady();

    GadgetChannel* m_pChannel = nullptr; // not owned
};

} // namespace fwup
