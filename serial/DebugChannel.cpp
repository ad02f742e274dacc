#include "serial/DebugChannel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace fwup {

namespace {

std::mutex g_sinkMutex;
DebugSink g_sink;

bool TraceToStderr() {
    static const bool bOn = [] {
        const char* psz = std::getenv("FWUP_TRACE");
        return psz != nullptr && std::strcmp(psz, "1") == 0;
    }();
    return bOn;
}

} // namespace

void DebugOut(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    if (g_sink) {
        g_sink(line);
    } else if (TraceToStderr()) {
        std::fputs(line.c_str(), stderr);
    }
}

DebugSink SetDebugSink(DebugSink sink) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    DebugSink previous = std::move(g_sink);
    g_sink = std::move(sink);
    return previous;
}

bool DebugChannelActive() {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    return static_cast<bool>(g_sink) || TraceToStderr();
}

} // namespace fwup
