#include "linemonitor.h"

#include "linesettings.h"

#include <QElapsedTimer>

#include <utility>

LineMonitor::LineMonitor(QObject *parent)
    : QObject(parent)
    , batchTimer(this)
{
    qRegisterMetaType<LineFrame>();
    qRegisterMetaType<LineCounters>();
    qRegisterMetaType<QVector<LineFrame>>();
    batchTimer.setSingleShot(true);
    batchTimer.setInterval(kBatchMs);
    connect(&batchTimer, &QTimer::timeout, this, &LineMonitor::flush);
}

double LineMonitor::clockMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.nsecsElapsed() / 1e6;
}

void LineMonitor::start(int baudRate)
{
    flush();
    totals = LineCounters();
    totals.startedMs = clockMs();
    msPerByte = baudRate > 0 ? Line::kBitsPerByte * 1000.0 / baudRate : 0;
    countersDirty = true;
    flush();
}

void LineMonitor::stop()
{
    flush();
}

void LineMonitor::record(const LineFrame &frame, const QDeadlineTimer &receivedAt)
{
    batch.append(frame);
    LineFrame &kept = batch.last();
    kept.timeMs = clockMs();
    if (!receivedAt.isForever())
        kept.timeMs -= qMax<qint64>(0, QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs() - receivedAt.deadlineNSecs()) / 1e6;
    switch (kept.kind) {
    case LineFrame::Kind::Request:
    case LineFrame::Kind::Broadcast:
        // The wire, not the port driver, says when the request ended.
        requestEndMs = kept.timeMs + msPerByte * kept.bytes.size();
        break;
    case LineFrame::Kind::Answer:
    case LineFrame::Kind::Refusal:
        // A pseudo-terminal has no wire: its answer may come before a real
        // request would have ended.
        kept.roundTripMs = qMax(0.0, kept.timeMs - requestEndMs);
        break;
    default:
        break;
    }
    // Bytes cut from what the port handed over may hold on to its whole
    // read buffer (kilobytes); a frame kept for long holds its own bytes.
    if (kept.bytes.capacity() > kept.bytes.size() + 64)
        kept.bytes = QByteArray(kept.bytes.constData(), kept.bytes.size());
    totals.count(kept);
    countersDirty = true;
    if (kept.kind == LineFrame::Kind::PortError)
        flush();
    else if (!batchTimer.isActive())
        batchTimer.start();
}

void LineMonitor::flush()
{
    batchTimer.stop();
    if (!batch.isEmpty())
        emit framesRecorded(std::exchange(batch, QVector<LineFrame>()));
    if (countersDirty) {
        countersDirty = false;
        emit countersChanged(totals);
    }
}
