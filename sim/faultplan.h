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

// When a fault fires: on every Nth event, or on each event at random with
// a given chance. A whole number converts to "every Nth".
struct FaultRate
{
    FaultRate(int every = 0) : every(every) {}
    static FaultRate withChance(double chance)
    {
        FaultRate rate;
        rate.chance = chance;
        rate.drawn = true;
        return rate;
    }

    int every = 0;          // every Nth event (0 = never), unless drawn
    double chance = 0;      // the probability of each event, when drawn
    bool drawn = false;
};

// Which requests and answers the line spoils. Requests count every frame
// handed to the device; answers count every answer the device gives.
struct LineFaults
{
    FaultRate drop;         // request lost: neither applied nor answered
    int silentAfter = 0;    // every request after the first N is lost (0 = never)
    FaultRate exception;    // request refused with an exception, not applied
    FaultRate corrupt;      // answer with a bad CRC
    FaultRate split;        // answer in two chunks with a gap between them
    FaultRate stray;        // stray bytes on the line before the answer
    int vanishAfter = 0;    // the line closes when request N + 1 comes (0 = never)
    FaultRate late;         // answer held back past the master's time-out
    // How long after its request a late answer comes, in ms: past the
    // master's one-second time-out, within its quiet interval after it.
    DrawRange lateMs{1050, 1050};
    // Bytes in a split answer's first chunk; 0 cuts it in the middle.
    // Always at least one byte in each chunk.
    DrawRange splitAt;
    // How many random stray bytes; 0 sends the fixed 00 ff.
    DrawRange strayBytes;
    // Wait before each answer, in ms.
    DrawRange replyDelayMs;
    // Seeds the one generator every drawn fault takes its numbers from, so
    // the same seed, options and requests give the same faults.
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
        int delayMs = 0;        // held back this long: the reply delay, and the lateness if late
        int lateMs = 0;         // the lateness alone, 0 unless late
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
    // Whether a fault fires on the count-th event. The decisions for one
    // event are all drawn, in a fixed order, before any is acted on.
    bool fires(const FaultRate &rate, long count);
    int draw(const DrawRange &range);
    double chance();

    LineFaults faults;
    std::mt19937_64 random;
    long requests = 0;
    long answers = 0;
    bool refusing = false;      // the answer being shaped stands in for a refused request
    Tally counts;
};
