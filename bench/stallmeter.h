#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Lateness of a 10 ms timer in the window thread: how long the window
// could not react while the device worked.
class StallMeter
{
public:
    StallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0)
                worstNs = qMax(worstNs, now - last - kIntervalMs * 1000000);
            last = now;
        });
        clock.start();
        timer.start(kIntervalMs);
    }
    double worstMs() const { return worstNs / 1e6; }

private:
    static constexpr int kIntervalMs = 10;
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 worstNs = 0;
};
