// The frame decoder: any bytes as a request, any bytes as its answer, the
// verdict on any bytes dropped, and the monitor recording and counting it all.
#include "fuzzsupport.h"

#include "framedecoder.h"
#include "frametext.h"
#include "linemonitor.h"
#include "linesettings.h"
#include "linewording.h"

namespace {

void word(const LineFrame &frame)
{
    LineWording::describe(frame);
    FrameText::values(frame);
    frame.isPolling();
    // Values come from the frame's own bytes, two for each register at least.
    FUZZ_CHECK(frame.values.size() <= qMin(frame.valueCount, LineFrame::kValuesKept));
    FUZZ_CHECK(frame.valueCount <= qMax(frame.bytes.size() / 2, 1));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // REQUEST_LENGTH REQUEST... AT LENGTH RECEIVED...: a seed is a request
    // and its answer as they went over the line.
    const QByteArray input(reinterpret_cast<const char *>(bytes), int(size));
    const int requestLength = input.isEmpty() ? 0 : static_cast<uint8_t>(input[0]);
    const QByteArray request = input.mid(1, requestLength);
    const QByteArray where = input.mid(1 + requestLength, 2);
    const int at = where.size() > 0 ? static_cast<uint8_t>(where[0]) : 0;
    const int length = where.size() > 1 ? static_cast<uint8_t>(where[1]) : 0;
    const QByteArray received = input.mid(1 + requestLength + 2);

    word(FrameDecoder::request(request));
    // What the device object takes is what the monitor shows, as far as it keeps.
    QVector<RegisterValue> taken;
    const LineFrame answer = FrameDecoder::answer(received, request, &taken);
    word(answer);
    FUZZ_CHECK(taken.size() <= answer.valueCount + (answer.text.isNull() ? 0 : 1));

    LineMonitor monitor;
    QVector<LineFrame> frames;
    LineCounters counters;
    QObject::connect(&monitor, &LineMonitor::framesRecorded, [&frames](const QVector<LineFrame> &batch) { frames += batch; });
    QObject::connect(&monitor, &LineMonitor::countersChanged, [&counters](const LineCounters &c) { counters = c; });
    monitor.start(Line::kBaudRate);
    monitor.record(FrameDecoder::request(request));
    // The engine takes an answer only where it lies inside what arrived.
    if (at + length <= received.size())
        monitor.record(FrameDecoder::answer(received.mid(at, length), request));
    monitor.record(FrameDecoder::dropped(received, request));
    monitor.record(FrameDecoder::dropped(received, QByteArray()));
    monitor.record(FrameDecoder::timeOut(request));
    monitor.stop();
    for (const LineFrame &frame : qAsConst(frames))
        word(frame);
    LineWording::describeCounters(counters);
    FUZZ_CHECK(counters.requests == 1);
    FUZZ_CHECK(counters.timeOuts == 1);
    FUZZ_CHECK(counters.roundTrips == counters.answers + counters.refusals);
    return 0;
}
