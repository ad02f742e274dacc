#include "serial/DebugChannelPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fwup {

bool DefaultDebugOutputWanted() {
    static const bool bOn = [] {
        const char* psz = std::getenv("FWUP_TRACE");
        return psz != nullptr && std::strcmp(psz, "1") == 0;
    }();
    return bOn;
}

void DefaultDebugOutput(const std::string& line) {
    std::fputs(line.c_str(), stderr);
}

} // namespace fwup
