#include "serial/DebugChannelPlatform.h"

#include "serial/WideText.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace fwup {

// Formatting every byte for a channel nobody reads costs an update real CPU, so
// the lines are made when a debugger is attached or FWUP_TRACE=1 asks for them
// (for a viewer such as DebugView).
bool DefaultDebugOutputWanted() {
    static const bool bAsked = [] {
        const char* psz = std::getenv("FWUP_TRACE");
        return psz != nullptr && std::strcmp(psz, "1") == 0;
    }();
    return bAsked || ::IsDebuggerPresent();
}

void DefaultDebugOutput(const std::string& line) {
    ::OutputDebugStringW(WideFromUtf8(line).c_str());
}

} // namespace fwup
