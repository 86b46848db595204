#include "simserver.h"

#include "devicemodel.h"

#include <cerrno>
#include <cstdio>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {
constexpr int64_t kNsPerMs = 1000000;
// Three and a half character times of silence end a frame on a real line.
constexpr int64_t kFrameEndNs = SimServer::kByteNs * 7 / 2;
}

SimServer::SimServer(int masterFd, DeviceModel &model, const LineConfig &config, QObject *parent)
    : QObject(parent),
      fd(masterFd),
      model(model),
      config(config),
      faults(config.faults),
      readNotifier(masterFd, QSocketNotifier::Read)
{
    clock.start();
    silenceTimer.setSingleShot(true);
    silenceTimer.setInterval(kSilenceMs);
    wakeFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    wakeNotifier = new QSocketNotifier(wakeFd, QSocketNotifier::Read, this);
    connect(wakeNotifier, &QSocketNotifier::activated, this, [this] {
        uint64_t expirations;
        while (::read(wakeFd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
        }
        pump();
    });
    connect(&readNotifier, &QSocketNotifier::activated, this, &SimServer::receive);
    connect(&silenceTimer, &QTimer::timeout, this, &SimServer::lineQuiet);
}

SimServer::~SimServer()
{
    wakeNotifier->setEnabled(false);
    ::close(wakeFd);
}

void SimServer::receive()
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            const int64_t now = nowNs();
            // The client wrote the bytes at once; on a real line they follow
            // one another at the baud rate.
            rxWireEndNs = config.lineRate ? qMax(rxWireEndNs, now) + n * kByteNs : now;
            take(assembler.feed(QByteArray(chunk, static_cast<int>(n))), rxWireEndNs);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The slave side is held open, so this should not happen; stop
            // listening rather than spin on the error.
            std::perror("zetra-sim: read");
            readNotifier.setEnabled(false);
        }
        break;
    }
    if (assembler.pending())
        silenceTimer.start();
    else
        silenceTimer.stop();
}

void SimServer::lineQuiet()
{
    take(assembler.silence(), config.lineRate ? rxWireEndNs : nowNs());
}

void SimServer::take(const QVector<FrameAssembler::Piece> &pieces, int64_t readyNs)
{
    for (const FrameAssembler::Piece &piece : pieces) {
        if (piece.kind == FrameAssembler::Piece::Ignored) {
            log("skip", piece.bytes);
            continue;
        }
        log("rx", piece.bytes);
        serve(piece.bytes, config.lineRate ? readyNs + kFrameEndNs : readyNs);
    }
}

void SimServer::serve(const QByteArray &request, int64_t readyNs)
{
    QByteArray answer;
    switch (faults.nextRequest()) {
    case FaultPlan::RequestFate::Drop:
        note("request dropped");
        return;
    case FaultPlan::RequestFate::Vanish:
        readNotifier.setEnabled(false);
        emit lineVanished();
        return;
    case FaultPlan::RequestFate::Refuse:
        note("request refused");
        answer = ModbusCodec::exceptionAnswer(static_cast<uint8_t>(request[1]), FaultPlan::kRefusalCode);
        break;
    case FaultPlan::RequestFate::Serve: {
        const std::optional<QByteArray> reply = model.handle(request);
        if (!reply) {
            note("no answer");
            return;
        }
        answer = *reply;
        break;
    }
    }

    const FaultPlan::AnswerShape shape = faults.nextAnswer(answer);
    const int64_t earliest = readyNs + shape.delayMs * kNsPerMs;
    if (shape.lateMs > 0 && config.verbose)
        std::fprintf(stderr, "# answer late by %d ms\n", shape.lateMs);
    if (!shape.stray.isEmpty()) {
        log("stray", shape.stray);
        send(shape.stray, earliest);
    }
    log("tx", shape.head + shape.tail);
    send(shape.head, earliest);
    if (!shape.tail.isEmpty())
        send(shape.tail, earliest, FaultPlan::kSplitGapMs * kNsPerMs);
}

void SimServer::send(const QByteArray &bytes, int64_t earliestNs, int64_t gapNs)
{
    out.push_back({bytes, earliestNs, gapNs});
    if (out.size() == 1)
        pump();
}

void SimServer::pump()
{
    while (!out.empty()) {
        Segment &segment = out.front();
        const int64_t now = nowNs();
        if (segmentStartNs < 0)
            segmentStartNs = qMax(segment.earliestNs, lineFreeNs + segment.gapNs);
        if (now < segmentStartNs) {
            wakeAfter(segmentStartNs - now);
            return;
        }

        const int64_t wireEndNs = segmentStartNs + (config.lineRate ? segment.bytes.size() * kByteNs : 0);
        int due = segment.bytes.size();
        if (config.answerHoldMs > 0) {
            // The adapter keeps what came in until its timer runs out.
            const int64_t releaseNs = wireEndNs + config.answerHoldMs * kNsPerMs;
            if (now < releaseNs) {
                wakeAfter(releaseNs - now);
                return;
            }
        } else if (config.lineRate) {
            // A byte reaches the client once its last stop bit is through.
            due = static_cast<int>(qMin<int64_t>(due, (now - segmentStartNs) / kByteNs));
        }
        if (due > segmentWritten) {
            writeOut(segment.bytes.mid(segmentWritten, due - segmentWritten));
            segmentWritten = due;
        }
        if (segmentWritten < segment.bytes.size()) {
            const int64_t next = segmentStartNs + (segmentWritten + 1) * kByteNs;
            wakeAfter(next - now);
            return;
        }
        // The wire is free once the bytes are through, held or not.
        lineFreeNs = config.lineRate || config.answerHoldMs > 0 ? wireEndNs : now;
        segmentStartNs = -1;
        segmentWritten = 0;
        out.pop_front();
    }
}

void SimServer::wakeAfter(int64_t ns)
{
    itimerspec expiry{};
    ns = qMax<int64_t>(ns, 1000);
    expiry.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    expiry.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    ::timerfd_settime(wakeFd, 0, &expiry, nullptr);
}

void SimServer::writeOut(const QByteArray &bytes)
{
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += static_cast<int>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // Nobody reads the port and its buffer is full: on a real line
            // these bytes would be lost too.
            note("output lost: nobody is reading");
            return;
        }
    }
}

void SimServer::log(const char *tag, const QByteArray &bytes) const
{
    if (config.verbose)
        std::fprintf(stderr, "%s %s\n", tag, bytes.toHex(' ').constData());
}

void SimServer::note(const char *text) const
{
    if (config.verbose)
        std::fprintf(stderr, "# %s\n", text);
}
