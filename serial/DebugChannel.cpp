#include "serial/DebugChannel.h"

#include "serial/DebugChannelPlatform.h"

#include <mutex>

namespace fwup {

namespace {

std::mutex g_sinkMutex;
DebugSink g_sink;

} // namespace

void DebugOut(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    if (g_sink) {
        g_sink(line);
    } else if (DefaultDebugOutputWanted()) {
        DefaultDebugOutput(line);
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
    return static_cast<bool>(g_sink) || DefaultDebugOutputWanted();
}

} // namespace fwup
