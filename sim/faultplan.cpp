#include "faultplan.h"

namespace {
// Bytes a disturbed line typically shows: idle-high glitches and a break.
const QByteArray kStrayBytes = QByteArray::fromHex("00ff");
}

FaultPlan::RequestFate FaultPlan::nextRequest()
{
    ++requests;
    refusing = false;
    if (faults.vanishAfter > 0 && requests > faults.vanishAfter)
        return RequestFate::Vanish;
    if (due(faults.drop, requests) || (faults.silentAfter > 0 && requests > faults.silentAfter)) {
        ++counts.dropped;
        ++counts.lost;
        return RequestFate::Drop;
    }
    if (due(faults.exception, requests)) {
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
    // Stray bytes cost a correct master nothing: it finds the answer behind them.
    if (due(faults.stray, answers)) {
        shape.stray = kStrayBytes;
        ++counts.stray;
    }
    if (due(faults.corrupt, answers) && !shape.head.isEmpty()) {
        shape.head[shape.head.size() - 1] = static_cast<char>(shape.head.back() ^ 0x5A);
        ++counts.corrupt;
        spoiled = true;
    }
    if (due(faults.split, answers) && shape.head.size() > 1) {
        const int cut = shape.head.size() / 2;
        shape.tail = shape.head.mid(cut);
        shape.head.truncate(cut);
        ++counts.split;
    }
    if (due(faults.late, answers)) {
        shape.delayMs = draw(faults.lateMs);
        ++counts.late;
        spoiled = true;
    }
    // A refused request is already counted as lost.
    if (spoiled && !refusing)
        ++counts.lost;
    return shape;
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
