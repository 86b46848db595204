#include "faultplan.h"

namespace {
// Bytes a disturbed line typically shows: idle-high glitches and a break.
const QByteArray kStrayBytes = QByteArray::fromHex("00ff");
}

FaultPlan::RequestFate FaultPlan::nextRequest()
{
    ++requests;
    refusing = false;
    const bool drop = fires(faults.drop, requests);
    const bool refuse = fires(faults.exception, requests);
    if (faults.vanishAfter > 0 && requests > faults.vanishAfter)
        return RequestFate::Vanish;
    if (drop || (faults.silentAfter > 0 && requests > faults.silentAfter)) {
        ++counts.dropped;
        ++counts.lost;
        return RequestFate::Drop;
    }
    if (refuse) {
        ++counts.refused;
        ++counts.lost;
        refusing = true;
        return RequestFate::Refuse;
    }
    return RequestFate::Serve;
}

FaultPlan::AnswerShape FaultPlan::nextAnswer(const QByteArray &answer)
{
    ++answers;
    AnswerShape shape;
    shape.head = answer;
    bool spoiled = false;
    shape.delayMs = draw(faults.replyDelayMs);
    // Stray bytes cost a correct master nothing: it finds the answer behind them.
    if (fires(faults.stray, answers)) {
        const int count = draw(faults.strayBytes);
        if (count == 0) {
            shape.stray = kStrayBytes;
        } else {
            shape.stray.resize(count);
            for (char &byte : shape.stray)
                byte = static_cast<char>(random() & 0xFF);
        }
        ++counts.stray;
    }
    if (fires(faults.corrupt, answers) && !shape.head.isEmpty()) {
        shape.head[shape.head.size() - 1] = static_cast<char>(shape.head.back() ^ 0x5A);
        ++counts.corrupt;
        spoiled = true;
    }
    if (fires(faults.split, answers) && shape.head.size() > 1) {
        const int drawn = draw(faults.splitAt);
        const int cut = drawn == 0 ? shape.head.size() / 2 : qBound(1, drawn, shape.head.size() - 1);
        shape.tail = shape.head.mid(cut);
        shape.head.truncate(cut);
        ++counts.split;
    }
    if (fires(faults.late, answers)) {
        shape.lateMs = draw(faults.lateMs);
        shape.delayMs += shape.lateMs;
        ++counts.late;
        spoiled = true;
    }
    // A refused request is already counted as lost.
    if (spoiled && !refusing)
        ++counts.lost;
    return shape;
}

bool FaultPlan::fires(const FaultRate &rate, long count)
{
    if (rate.drawn)
        return chance() < rate.chance;
    return rate.every > 0 && count % rate.every == 0;
}

int FaultPlan::draw(const DrawRange &range)
{
    // A fixed value takes nothing from the generator. The standard
    // distributions differ between libraries; this sum does not, so a seed
    // replays the same run wherever the simulator was built.
    if (range.min >= range.max)
        return range.min;
    const uint64_t span = uint64_t(range.max - range.min) + 1;
    return range.min + int(random() % span);
}

double FaultPlan::chance()
{
    // The top 53 bits as a fraction in [0, 1): 1.0 always fires, 0.0 never.
    return double(random() >> 11) * (1.0 / 9007199254740992.0);
}
