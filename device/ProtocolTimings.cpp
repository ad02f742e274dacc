#include "device/ProtocolTimings.h"

#include <algorithm>

namespace fwup {

ProtocolTimings ProtocolTimings::Scaled(uint32_t nFactor) {
    ProtocolTimings t;
    if (nFactor <= 1) {
        return t;
    }
    for (uint32_t* p :
         {&t.nCommandMs, &t.nReadyMs, &t.nBootPauseMs, &t.nBootReturnMs, &t.nDetectOpenMs,
          &t.nPacketMs, &t.nHandshakeMs, &t.nGoneAfterMs, &t.nVerifyMs}) {
        *p = std::max<uint32_t>(1, *p / nFactor);
    }
    return t;
}

} // namespace fwup
