#include "device/BootLoaderVersion.h"

#include <cstdio>

namespace fwup {

std::string BootLoaderVersion(int32_t nBootInfo) {
    const auto v = static_cast<uint32_t>(nBootInfo);
    char szText[32];
    std::snprintf(szText, sizeof szText, "%u.%u.%u.%u", (v >> 24) & 0xF, (v >> 16) & 0xF,
                  (v >> 8) & 0xF, v & 0xF);
    return szText;
}

} // namespace fwup
