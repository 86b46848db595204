#pragma once

#include "framedecoder.h"
#include "linecounters.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

// The device object's recorder of the line: the request engine hands it
// each frame with its verdict already made (LineFrame::kind); it stamps the
// time and the round-trip, counts, and hands the frames on in batches, so
// that neither the line nor a window pays per frame. Lives in the device
// thread.
class LineMonitor : public QObject
{
    Q_OBJECT
public:
    explicit LineMonitor(QObject *parent = nullptr);

    // Monotonic milliseconds, the clock of every frame's time.
    static double clockMs();

    // A new connection: counters from zero; baud gives the wire time that
    // separates a request's hand-over from its end on the line.
    void start(int baudRate);
    // The connection ended: everything recorded goes out now.
    void stop();

    // Stamps the frame now, or at receivedAt: when its last byte came in,
    // which is when it happened on the line rather than when it was judged.
    void record(const LineFrame &frame, const QDeadlineTimer &receivedAt = QDeadlineTimer(QDeadlineTimer::Forever));

    // Hands out whatever is recorded and the counters at once.
    void flush();

    const LineCounters &counters() const { return totals; }

    static constexpr int kBatchMs = 50;

signals:
    void framesRecorded(QVector<LineFrame> frames);
    void countersChanged(LineCounters counters);

private:
    LineCounters totals;
    QVector<LineFrame> batch;
    QTimer batchTimer;
    double msPerByte = 0;
    double requestEndMs = 0;  // when the request in flight left the wire
    bool countersDirty = false;
};
