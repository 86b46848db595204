// Command ring, send loop and receive path.
#include "serialtop.h"

#include "framedecoder.h"
#include "frametext.h"
#include "modbuscodec.h"
#include "pausetimer.h"
#include "registermap.h"
#include "serialworker.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <utility>

using namespace RegisterMap;

namespace {
constexpr int kPauseBeforeSendMs = 5;
constexpr int kAckTimeoutMs = 1000;
constexpr int kMinFrameSize = 4; // address, function, CRC
// More than the longest answer plus the noise a line may put around it.
constexpr int kMaxPendingBytes = 1024;
} // namespace

bool SerialTop::_queueCmd(QByteArray request, bool needAck, QString textBefore, QString textAfter, int answerSize)
{
    // One slot stays free so a full ring never looks empty; a command that
    // does not fit is refused rather than overwriting one still pending.
    const int next = (queueWrite + 1) % kRingSize;
    if (next == queueRead) {
        lastFailure = RequestOutcome::failed(RequestOutcome::Failure::QueueFull, request);
        if (!overflowReported) {
            overflowReported = true;
            emit appendLog(describe(lastFailure));
        }
        emit requestFailed(lastFailure);
        return false;
    }

    CmdEntry &slot = cmdRing[queueWrite];
    slot.request = request;
    slot.needAck = needAck;
    slot.textBefore = textBefore;
    slot.textAfter = textAfter;
    slot.answerSize = answerSize;
    const quint64 id = nextCmdId++;
    cmdIds[queueWrite] = id;
    queueWrite = next;

    if (queueRunning)
        return false;
    queueRunning = true;
    loopOwnerId = id;
    loopOwnerAcked = false;
    _sendCmdWithAcknowledge();
    return loopOwnerAcked;
}

void SerialTop::sendRequest(const QByteArray &request, int expectedSize)
{
    prepareRequest(request, expectedSize);
    worker->sendData(curRequest);
    reportLine(FrameDecoder::request(curRequest));
}

void SerialTop::prepareRequest(const QByteArray &request, int expectedSize)
{
    // The answer is judged against this request from now on; bytes left
    // over from an earlier, refused or incomplete answer must not be glued
    // in front of it, nor may an earlier answer count for it.
    dropReceived(std::exchange(rxBuffer, QByteArray()), curRequest);
    curRequest = request;
    answerSize = expectedSize;
    echoAwaited = FrameDecoder::isBroadcast(request);
    ackReceived = false;
    pendingFailure = RequestOutcome();
}

void SerialTop::reportLine(const LineFrame &frame)
{
    if (frame.direction == LineFrame::Direction::Rx && worker)
        lineMonitor->record(frame, worker->lastReceived());
    else
        lineMonitor->record(frame);
    // The main log's byte dump, when asked for, shows the same frames.
    if (frame.direction == LineFrame::Direction::Tx ? logTxByteEn
                                                    : frame.direction == LineFrame::Direction::Rx && logRxByteEn)
        emit appendLog((frame.direction == LineFrame::Direction::Tx ? QStringLiteral("TxByte:") : QStringLiteral("RxByte:"))
                       + FrameText::hex(frame.bytes) + QLatin1Char(' '));
}

void SerialTop::dropReceived(const QByteArray &bytes, const QByteArray &request)
{
    if (!bytes.isEmpty())
        reportLine(FrameDecoder::dropped(bytes, request));
}

void SerialTop::reportTimeOut(const QByteArray &request)
{
    // What came for it is judged now; nothing of it can serve the next request.
    dropReceived(std::exchange(rxBuffer, QByteArray()), request);
    reportLine(FrameDecoder::timeOut(request));
}

LineFrame SerialTop::reportTaken(int at, int size, const QByteArray &request, QVector<RegisterValue> *taken)
{
    // What came before the answer had no request waiting for it: late or stray.
    if (at > 0)
        dropReceived(rxBuffer.left(at), QByteArray());
    LineFrame answer = FrameDecoder::answer(rxBuffer.mid(at, size), request, taken);
    reportLine(answer);
    // What follows an answer is noise.
    if (at + size < rxBuffer.size())
        dropReceived(rxBuffer.mid(at + size), QByteArray());
    rxBuffer.clear();
    return answer;
}

QDeadlineTimer SerialTop::lineQuietSince() const
{
    // Bytes that came after the last wait (late answers, noise) count too.
    QDeadlineTimer since = lastWaitEnded;
    const QDeadlineTimer received = worker->lastReceived();
    if (!received.isForever() && (since.isForever() || since < received))
        since = received;
    return since;
}

void SerialTop::pauseBeforeRequest(QEventLoop &loop, QTimer &timer)
{
    // The pause is silence on the line: it counts from the last frame, so
    // what the engine and its callers do after an answer falls within it.
    const QDeadlineTimer since = lineQuietSince();
    const QDeadlineTimer end =
        (since.isForever() ? QDeadlineTimer::current(Qt::PreciseTimer) : since) + kPauseBeforeSendMs;
    // Run even when the line has been quiet long enough: calls queued behind
    // the request (a disconnect, more requests) are taken before it is sent.
    // The time-out of the previous wait must not cut the pause short.
    timer.stop();
    pauseTimer->start(end);
    loop.exec();
    // An answer may end the pause early; its expiry must not end the next wait.
    pauseTimer->stop();
}

void SerialTop::awaitAnswer(QEventLoop &loop, QTimer &timer, int timeoutMs)
{
    timer.start(timeoutMs);
    // Writing the request may already have ended the exchange: the port
    // went away under it.
    if (worker->isOpen() && pendingFailure.ok())
        loop.exec();
    // An answer or refusal ended the wait when its last chunk came in;
    // otherwise the line is known quiet from now.
    const bool answered = ackReceived || pendingFailure.failure == RequestOutcome::Failure::Refused;
    lastWaitEnded = answered ? worker->lastReceived() : QDeadlineTimer::current(Qt::PreciseTimer);
}

void SerialTop::_sendCmdWithAcknowledge()
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    // A coarse timer may end a one-second wait 50 ms late, when an answer
    // late by as much would be taken for its request.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(pauseTimer, &PauseTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &SerialTop::_ack_Received, &loop, &QEventLoop::quit);
    connect(this, &SerialTop::_waitEnded, &loop, &QEventLoop::quit);

    for (;;) {
        if (queueRead == queueWrite)
            break;
        const CmdEntry entry = cmdRing[queueRead];
        const quint64 id = cmdIds[queueRead];

        bool answered = true;
        bool sent = false;
        if (entry.needAck) {
            if (!entry.textBefore.isEmpty())
                emit appendLog(entry.textBefore);
            ackReceived = false;
            if (resyncLine(loop, timer)) {
                pauseBeforeRequest(loop, timer);
                // The port may have gone during the pause.
                if (worker->isOpen()) {
                    sendRequest(entry.request, entry.answerSize);
                    sent = true;
                    awaitAnswer(loop, timer, kAckTimeoutMs);
                }
            }
            answered = ackReceived;
        } else if (worker->isOpen()) {
            // Nothing answers it, so no late answer can be taken for its own.
            sendRequest(entry.request, 0);
            awaitAnswer(loop, timer, kNoAckWaitMs);
        }

        if (!answered || !worker->isOpen()) {
            // Refused, unanswered or no port: the rest of the ring is dropped.
            queueWrite = 0;
            queueRead = 0;
            // A refusal or a lost port left its outcome; otherwise the port
            // was closed before sending, or the device stayed silent.
            RequestOutcome outcome = pendingFailure;
            pendingFailure = RequestOutcome();
            if (outcome.ok())
                outcome = RequestOutcome::failed(worker->isOpen() ? RequestOutcome::Failure::NoAnswer
                                                                  : RequestOutcome::Failure::PortClosed,
                                                 entry.request);
            if (outcome.failure == RequestOutcome::Failure::NoAnswer && sent) {
                reportTimeOut(curRequest);
                // The answer may still come: it belongs to no request now.
                answerSize = 0;
                noteUnanswered(curRequest);
            }
            lastFailure = outcome;
            const bool notSent = outcome.failure == RequestOutcome::Failure::PortClosed && !outcome.sent;
            if (!notSent || !notOpenReported)
                emit appendLog(describe(outcome));
            notOpenReported = notSent;
            emit requestFailed(outcome);
            break;
        }
        if (id == loopOwnerId)
            loopOwnerAcked = true;
        queueRead = (queueRead + 1) % kRingSize;
    }

    timer.stop();
    pauseTimer->stop();
    queueRunning = false;
    overflowReported = false;
    if (!deferredProcedures.isEmpty())
        QMetaObject::invokeMethod(this, "_runDeferred", Qt::QueuedConnection);
}

void SerialTop::noteUnanswered(const QByteArray &request)
{
    const qint64 now = engineClock.elapsed();
    // A device that holds an answer this long has dropped it.
    unanswered.erase(std::remove_if(unanswered.begin(), unanswered.end(),
                                    [now](const Unanswered &u) { return now - u.sentMs > kForgetUnansweredMs; }),
                     unanswered.end());
    unanswered.append({ModbusCodec::requestSignature(request), now});
}

bool SerialTop::mayBeLateAnswer(const QByteArray &signature) const
{
    return std::any_of(unanswered.cbegin(), unanswered.cend(),
                       [&signature](const Unanswered &u) { return u.signature == signature; });
}

QByteArray SerialTop::resyncRequest()
{
    // The connection probe's answer is its request, byte for byte: nothing
    // else the device sends looks like it, unless a probe is unanswered.
    const uint16_t off = 0;
    QByteArray probe = ModbusCodec::writeRequest(ModbusCodec::WriteSingleCoil, Coil::ConnectionProbe, &off, 1);
    if (!mayBeLateAnswer(ModbusCodec::requestSignature(probe)))
        return probe;
    // Then a read of the revision text, which every firmware has, with a
    // register count no unanswered read has: its answer's byte count names it.
    for (uint16_t count = 1; count <= Holding::RevisionLength; ++count) {
        QByteArray read = ModbusCodec::readRequest(ModbusCodec::ReadHoldingRegisters, Holding::Revision, count);
        if (!mayBeLateAnswer(ModbusCodec::requestSignature(read)))
            return read;
    }
    return QByteArray(); // every shape is still awaited: the device keeps nothing in step
}

bool SerialTop::resyncLine(QEventLoop &loop, QTimer &timer)
{
    if (unanswered.isEmpty())
        return true;
    lateByteCount = 0;
    bool inStep = false;
    for (int attempt = 0; attempt < kResyncAttempts && !inStep; ++attempt) {
        const QByteArray request = resyncRequest();
        if (request.isEmpty())
            break;
        pauseBeforeRequest(loop, timer);
        if (!worker->isOpen())
            break;
        resyncing = true;
        sendRequest(request, ModbusCodec::answerSize(request[1], int(ModbusCodec::bigEndian(request, 4, 2))));
        awaitAnswer(loop, timer, kAckTimeoutMs);
        resyncing = false;
        inStep = ackReceived;
        if (!inStep && worker->isOpen() && pendingFailure.ok()) {
            // Unanswered in time: its answer may come late as well.
            lateByteCount += rxBuffer.size();
            reportTimeOut(request);
            noteUnanswered(request);
        }
        answerSize = 0;
    }
    ackReceived = false;
    if (lateByteCount > 0)
        emit appendLog(tr("Поздний ответ отброшен: %1 байт").arg(lateByteCount));
    if (inStep)
        unanswered.clear();
    return inStep && worker->isOpen();
}

void SerialTop::_logRx(QByteArray data)
{
    rxBuffer.append(data);
    if (answerSize == 0)
        judgeUnclaimed();
    else if (rxBuffer.size() >= qMin(answerSize, ModbusCodec::kExceptionAnswerSize))
        _timeoutEndOfPack();
}

void SerialTop::judgeUnclaimed()
{
    if (echoAwaited) {
        // The device repeats the address reset as its own; nobody waits for
        // it, yet it is that broadcast's answer, not noise. At the line rate
        // it comes in pieces, held until it is whole or the next request goes.
        const int echo = rxBuffer.indexOf(curRequest);
        if (echo < 0) {
            // Bytes too old to start the echo go, so noise cannot grow the buffer without bound.
            const int excess = rxBuffer.size() - kMaxPendingBytes;
            if (excess > 0) {
                dropReceived(rxBuffer.left(excess), QByteArray());
                rxBuffer.remove(0, excess);
            }
            return;
        }
        echoAwaited = false;
        reportTaken(echo, curRequest.size(), curRequest, nullptr);
        return;
    }
    // Nothing awaits an answer: a late one, or noise.
    dropReceived(std::exchange(rxBuffer, QByteArray()), QByteArray());
}

void SerialTop::_timeoutEndOfPack()
{
    // Once the request in flight is settled, nothing more counts for it.
    const bool awaiting = answerSize > 0 && curRequest.size() >= kMinFrameSize && !ackReceived
                          && pendingFailure.ok();
    if (!awaiting) {
        judgeUnclaimed();
        return;
    }

    // The answer may stand anywhere in what has arrived: a transceiver that
    // switches direction, or a noisy line, leaves bytes before and after it.
    const char address = curRequest[0];
    const auto function = static_cast<uint8_t>(curRequest[1]);
    for (int at = 0; at + ModbusCodec::kExceptionAnswerSize <= rxBuffer.size(); ++at) {
        if (rxBuffer[at] != address)
            continue;
        const auto answerFunction = static_cast<uint8_t>(rxBuffer[at + 1]);
        const bool refusal = answerFunction == (function | ModbusCodec::kExceptionFlag);
        int size = 0;
        if (answerFunction == function)
            size = answerSize;
        else if (refusal)
            size = ModbusCodec::kExceptionAnswerSize;
        if (size == 0 || at + size > rxBuffer.size())
            continue;
        // Looked at in place: the answer is copied once, when it is taken.
        const QByteArray frame = QByteArray::fromRawData(rxBuffer.constData() + at, size);
        if (!ModbusCodec::crcValid(frame))
            continue;
        // An answer of the right length to another request is not this one's.
        if (!refusal && !ModbusCodec::answerFits(frame, curRequest))
            continue;
        // While resynchronising, a refusal proves the line in step only when
        // no unanswered request could have drawn it.
        if (resyncing && refusal
            && std::any_of(unanswered.cbegin(), unanswered.cend(), [function](const Unanswered &u) {
                   return !u.signature.isEmpty() && static_cast<uint8_t>(u.signature.at(0)) == function;
               }))
            continue;
        if (resyncing)
            lateByteCount += at;
        // Decoded once: the monitor's facts and the values taken here alike.
        takenValues.clear();
        const LineFrame answer = reportTaken(at, size, curRequest, resyncing || refusal ? nullptr : &takenValues);
        if (resyncing) {
            // The device answered in turn; this answer carries nothing asked for.
            ackReceived = true;
            emit _ack_Received();
        } else if (!refusal) {
            takeAnswer(answer);
        } else {
            takeRefusal(answer);
        }
        return;
    }

    // Bytes too old to start the answer are dropped, so noise cannot grow
    // the buffer without bound.
    const int excess = rxBuffer.size() - kMaxPendingBytes;
    if (excess > 0) {
        if (resyncing)
            lateByteCount += excess;
        dropReceived(rxBuffer.left(excess), QByteArray());
        rxBuffer.remove(0, excess);
    }
}

void SerialTop::takeAnswer(const LineFrame &answer)
{
    takeValues(answer);
    ackReceived = true;
    emit _ack_Received();
}

void SerialTop::takeRefusal(const LineFrame &refusal)
{
    pendingFailure = RequestOutcome::refused(curRequest, refusal.exceptionCode);
    emit _waitEnded();
}

void SerialTop::runProcedure(std::function<void()> procedure)
{
    if (queueRunning || procedureDepth > 0) {
        deferredProcedures.append(std::move(procedure));
        return;
    }
    ++procedureDepth;
    procedure();
    --procedureDepth;
    if (!deferredProcedures.isEmpty())
        QMetaObject::invokeMethod(this, "_runDeferred", Qt::QueuedConnection);
}

void SerialTop::_runDeferred()
{
    if (deferredProcedures.isEmpty() || queueRunning || procedureDepth > 0)
        return; // a later idle moment schedules another attempt
    runProcedure(deferredProcedures.takeFirst());
}

void SerialTop::pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
