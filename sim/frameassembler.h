#pragma once

#include <QByteArray>
#include <QVector>

// Cuts the received byte stream into request frames. A real slave finds the
// end of a frame by silence on the line; a pseudo-terminal keeps no timing,
// so a frame ends where its function code says it does, and silence only
// ends whatever is left. Bytes that make no frame are dropped one at a time
// until a frame checks out again.
class FrameAssembler
{
public:
    // Program blocks longer than this are taken for garbage, not waited for.
    static constexpr int kMaxBlockData = 1024;

    struct Piece
    {
        enum Kind { Request, Ignored } kind;
        QByteArray bytes;
    };

    // Takes the bytes that arrived; returns the frames for the device and
    // the bytes dropped on the way, in line order.
    QVector<Piece> feed(const QByteArray &bytes);
    // The line went quiet: what is left is one frame only if it checks out
    // as a whole (a function without a length rule, or a short program
    // block, is the device's to judge); everything else is dropped.
    QVector<Piece> silence();

    bool pending() const { return !buffer.isEmpty(); }

private:
    QVector<Piece> cut(bool quiet);

    QByteArray buffer;
};
