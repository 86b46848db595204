#pragma once

#include "modbuscodec.h"

#include <QByteArray>

#include <cstdint>
#include <random>

// A whole number drawn evenly from min to max, both included; min == max
// is a fixed value.
struct DrawRange
{
    int min = 0;
    int max = 0;
};

// Which requests and answers the line spoils, each fault on every Nth event
// (0 = never). Requests count every frame handed to the device; answers
// count every answer the device gives.
struct LineFaults
{
    int drop = 0;           // request lost: neither applied nor answered
    int silentAfter = 0;    // every request after the first N is lost (0 = never)
    int exception = 0;      // request refused with an exception, not applied
    int corrupt = 0;        // answer with a bad CRC
    int split = 0;          // answer in two chunks with a gap between them
    int stray = 0;          // stray bytes on the line before the answer
    int vanishAfter = 0;    // the line closes when request N + 1 comes (0 = never)
    int late = 0;           // answer held back past the master's time-out
    // How long after its request a late answer comes, in ms: past the
    // master's one-second time-out, within its quiet interval after it.
    DrawRange lateMs{1050, 1050};
    // Seeds the one generator every drawn fault takes its numbers from, so
    // the same seed and the same traffic give the same faults.
    uint64_t seed = 0;
};

class FaultPlan
{
public:
    enum class RequestFate { Serve, Drop, Refuse, Vanish };

    struct AnswerShape
    {
        QByteArray stray;       // sent before the answer
        QByteArray head;        // the answer, or its first chunk when split
        QByteArray tail;        // the second chunk; empty unless split
        int delayMs = 0;        // held back this long beyond the reply delay
    };

    // Code of the exception that stands in for the real answer.
    static constexpr uint8_t kRefusalCode = ModbusCodec::DeviceFailure;
    static constexpr int kSplitGapMs = 5;

    // What the plan has done so far. `lost` counts the requests that got no
    // answer a correct master can accept (dropped, refused, or answered with
    // a bad CRC), each request once however many faults hit it: the most
    // answers a client can have lost to the line.
    struct Tally
    {
        long dropped = 0;
        long refused = 0;
        long corrupt = 0;
        long stray = 0;
        long split = 0;
        long late = 0;
        long lost = 0;
    };

    explicit FaultPlan(const LineFaults &faults) : faults(faults), random(faults.seed) {}

    RequestFate nextRequest();
    AnswerShape nextAnswer(const QByteArray &answer);
    const Tally &tally() const { return counts; }

private:
    static bool due(int every, long count) { return every > 0 && count % every == 0; }
    int draw(const DrawRange &range);

    LineFaults faults;
    std::mt19937_64 random;
    long requests = 0;
    long answers = 0;
    bool refusing = false;      // the answer being shaped stands in for a refused request
    Tally counts;
};
