#pragma once
// The window benchmarks' wait: runs the Qt event loop until a condition holds.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>

namespace fwbench {

// Runs the event loop until pred holds or nTimeoutMs passed, looking every nTickMs.
inline bool RunUntil(const std::function<bool()>& pred, int nTimeoutMs, int nTickMs = 5) {
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (pred() || elapsed.elapsed() > nTimeoutMs) {
            loop.quit();
        }
    });
    tick.start(nTickMs);
    if (!pred()) {
        loop.exec();
    }
    return pred();
}

} // namespace fwbench
