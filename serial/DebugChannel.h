#pragma once
// The developer trace: byte traces and block lines. Never the window's log.
// One process-wide sink; by default lines go to stderr only when FWUP_TRACE=1
// (Windows: to OutputDebugStringW when FWUP_TRACE=1 or a debugger is attached).

#include <functional>
#include <string>

namespace fwup {

using DebugSink = std::function<void(const std::string& line)>;

// Emits one line (the caller ends it with "\n" where it wants one). Thread-safe.
void DebugOut(const std::string& line);

// Installs a sink for every later line; an empty sink restores the default.
// Returns the previous sink so tests can put it back.
DebugSink SetDebugSink(DebugSink sink);

// True when a sink is installed or FWUP_TRACE=1, so callers may skip formatting.
bool DebugChannelActive();

} // namespace fwup
