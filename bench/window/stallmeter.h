// The longest time the window could not react: shared by the window
// benchmarks.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <vector>

// Ticks of a short timer on the UI thread; the longest gap between two
// ticks is the longest time the window could not react to anything.
class StallMeter : public QObject {
public:
    StallMeter(const QElapsedTimer &clock, int intervalMs) : m_clock(clock)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMs);
        connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
    }
    void Start()
    {
        m_last = Now();
        m_timer.start();
    }
    void Stop()
    {
        Tick();
        m_timer.stop();
    }
    struct Gap {
        double from, to;
    };
    // Gaps over 20 ms, for --trace.
    const std::vector<Gap> &LongGaps() const { return m_gaps; }
    double Longest() const { return m_longest; }
    double LongestEndedAt() const { return m_longestEnd; }
    long Ticks() const { return m_ticks; }

private:
    double Now() const { return double(m_clock.nsecsElapsed()) / 1e6; }
    void Tick()
    {
        const double now = Now();
        if (now - m_last > 20)
            m_gaps.push_back({m_last, now});
        if (now - m_last > m_longest) {
            m_longest = now - m_last;
            m_longestEnd = now;
        }
        m_last = now;
        ++m_ticks;
    }

    const QElapsedTimer &m_clock;
    QTimer m_timer;
    double m_last = 0;
    double m_longest = 0;
    double m_longestEnd = 0;
    long m_ticks = 0;
    std::vector<Gap> m_gaps;
};
