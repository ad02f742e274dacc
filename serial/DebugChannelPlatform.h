#pragma once
// Internal: where the debug channel's lines go when no sink is installed, one
// platform per source (Linux: stderr; Windows: OutputDebugStringW).

#include <string>

namespace fwup {

// True when default lines have a listener, so callers may skip formatting.
bool DefaultDebugOutputWanted();
// Emits one line on the platform's channel.
void DefaultDebugOutput(const std::string& line);

} // namespace fwup
