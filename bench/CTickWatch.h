#pragma once
// CTickWatch: the GUI thread's responsiveness, seen by a 10 ms timer: the largest
// delay of a tick past its due time, and the number of ticks, since Reset().

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

namespace fwbench {

constexpr int kTickMs = 10;

class CTickWatch {
public:
    CTickWatch() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 nNow = m_clock.nsecsElapsed();
            m_nMaxLateNs = std::max(m_nMaxLateNs, nNow - m_nLastNs - kTickMs * 1000000LL);
            m_nLastNs = nNow;
            ++m_nTicks;
        });
        m_clock.start();
        m_timer.start(kTickMs);
    }
    void Reset() {
        m_nLastNs = m_clock.nsecsElapsed();
        m_nMaxLateNs = 0;
        m_nTicks = 0;
    }
    // Also counts the time since the last tick, which a blocked loop has not yet seen.
    double MaxLateMs() const {
        const qint64 nOpen = m_clock.nsecsElapsed() - m_nLastNs - kTickMs * 1000000LL;
        return static_cast<double>(std::max(m_nMaxLateNs, nOpen)) / 1e6;
    }
    long Ticks() const { return m_nTicks; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_nLastNs = 0;
    qint64 m_nMaxLateNs = 0;
    long m_nTicks = 0;
};

} // namespace fwbench
