// Command ring, send loop and receive path.
#include "serialtop.h"

#include "modbuscodec.h"
#include "registermap.h"
#include "serialworker.h"

#include <QEventLoop>
#include <QTimer>

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

void SerialTop::_sendCmdWithAcknowledge()
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // the 5 ms pause is a large share of every exchange
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &SerialTop::_ack_Received, &loop, &QEventLoop::quit);
    connect(this, &SerialTop::_waitEnded, &loop, &QEventLoop::quit);

    auto send = [this](const CmdEntry &entry) {
        // The answer is judged against this request from now on; bytes left
        // over from an earlier, refused or incomplete answer must not be
        // glued in front of it, nor may an earlier answer count for it.
        dumpReceived(rxBuffer);
        lineMonitor->dropped(rxBuffer, curRequest);
        curRequest = entry.request;
        answerSize = entry.answerSize;
        rxBuffer.clear();
        ackReceived = false;
        pendingFailure = RequestOutcome();
        worker->sendData(curRequest);
        lineMonitor->sent(curRequest);
    };

    for (;;) {
        if (queueRead == queueWrite)
            break;
        const CmdEntry entry = cmdRing[queueRead];
        const quint64 id = cmdIds[queueRead];

        if (logTxByteEn)
            emit appendLog(QStringLiteral("TxByte:") + hexDump(entry.request));

        bool answered = true;
        if (entry.needAck) {
            if (!entry.textBefore.isEmpty())
                emit appendLog(entry.textBefore);
            ackReceived = false;
            timer.start(kPauseBeforeSendMs);
            loop.exec();
            settleLine();
            // The port may have gone during the pause.
            if (worker->isOpen()) {
                timer.start(kAckTimeoutMs);
                send(entry);
                loop.exec();
            }
            answered = ackReceived;
        } else if (worker->isOpen()) {
            settleLine();
            timer.start(kNoAckWaitMs);
            send(entry);
            loop.exec();
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
            if (outcome.failure == RequestOutcome::Failure::NoAnswer) {
                // What came for it is judged now; nothing of it can serve the next request.
                lineMonitor->dropped(rxBuffer, curRequest);
                dumpReceived(rxBuffer);
                rxBuffer.clear();
                lineMonitor->timedOut(curRequest);
                // The answer may still come: it belongs to no request now.
                answerSize = 0;
                lineMustSettle = true;
                lastArrivalMs = engineClock.elapsed();
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
    queueRunning = false;
    overflowReported = false;
    if (!deferredProcedures.isEmpty())
        QMetaObject::invokeMethod(this, "_runDeferred", Qt::QueuedConnection);
}

void SerialTop::settleLine()
{
    if (!lineMustSettle)
        return;
    lineMustSettle = false;
    // Whatever arrives until the line has been quiet for a while answers a
    // request that already timed out; it is dropped, never delivered.
    settling = true;
    lateBytes.clear();
    const qint64 startMs = engineClock.elapsed();
    for (;;) {
        const qint64 now = engineClock.elapsed();
        const qint64 quietFor = now - lastArrivalMs;
        if (quietFor >= kQuietAfterTimeoutMs || now - startMs >= kMaxSettleMs || !worker->isOpen())
            break;
        pause(static_cast<int>(kQuietAfterTimeoutMs - quietFor));
    }
    settling = false;
    if (!lateBytes.isEmpty()) {
        emit appendLog(tr("Поздний ответ отброшен: %1 байт").arg(lateBytes.size()));
        lineMonitor->unclaimed(lateBytes);
    }
}

void SerialTop::_logRx(QByteArray data)
{
    lastArrivalMs = engineClock.elapsed();
    if (settling || answerSize == 0) {
        // Nothing awaits an answer: a late one, or noise.
        dumpReceived(data);
        rxBuffer.clear();
        if (settling)
            lateBytes += data; // judged whole once the line is quiet
        else
            lineMonitor->unclaimed(data);
        return;
    }
    rxBuffer.append(data);
    if (rxBuffer.size() >= qMin(answerSize, ModbusCodec::kExceptionAnswerSize))
        _timeoutEndOfPack();
}

void SerialTop::_timeoutEndOfPack()
{
    // Once the request in flight is settled, nothing more counts for it.
    const bool awaiting = answerSize > 0 && curRequest.size() >= kMinFrameSize && !ackReceived
                          && pendingFailure.ok();
    if (!awaiting) {
        dumpReceived(rxBuffer);
        lineMonitor->unclaimed(rxBuffer);
        rxBuffer.clear();
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
        int size = 0;
        if (answerFunction == function)
            size = answerSize;
        else if (answerFunction == (function | ModbusCodec::kExceptionFlag))
            size = ModbusCodec::kExceptionAnswerSize;
        if (size == 0 || at + size > rxBuffer.size())
            continue;
        const QByteArray frame = rxBuffer.mid(at, size);
        if (!ModbusCodec::crcValid(frame))
            continue;
        dumpReceived(rxBuffer.left(at + size));
        lineMonitor->taken(rxBuffer, at, size, curRequest);
        rxBuffer.clear(); // what follows an answer is noise
        if (size == answerSize && answerFunction == function)
            takeAnswer(frame);
        else
            takeRefusal(frame);
        return;
    }

    // Bytes too old to start the answer are dropped, so noise cannot grow
    // the buffer without bound.
    const int excess = rxBuffer.size() - kMaxPendingBytes;
    if (excess > 0) {
        dumpReceived(rxBuffer.left(excess));
        lineMonitor->dropped(rxBuffer.left(excess), QByteArray());
        rxBuffer.remove(0, excess);
    }
}

void SerialTop::takeAnswer(const QByteArray &frame)
{
    const auto func = static_cast<uint8_t>(frame[1]);
    if (func == ModbusCodec::ReadHoldingRegisters || func == ModbusCodec::ReadInputRegisters) {
        const auto start = static_cast<uint16_t>(ModbusCodec::bigEndian(curRequest, 2, 2));
        const int count = static_cast<int>(ModbusCodec::bigEndian(curRequest, 4, 2));
        if (func == ModbusCodec::ReadHoldingRegisters)
            decodeHoldingAnswer(frame, start, count);
        else
            decodeInputAnswer(frame, start, count);
    }
    ackReceived = true;
    emit _ack_Received();
}

void SerialTop::takeRefusal(const QByteArray &frame)
{
    pendingFailure = RequestOutcome::refused(curRequest, static_cast<uint8_t>(frame[2]));
    emit _waitEnded();
}

void SerialTop::dumpReceived(const QByteArray &bytes)
{
    if (logRxByteEn && !bytes.isEmpty())
        emit appendLog(QStringLiteral("RxByte:") + hexDump(bytes));
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

QString SerialTop::hexDump(const QByteArray &bytes) const
{
    QString text;
    text.reserve(bytes.size() * 3);
    for (char byte : bytes)
        text += QStringLiteral("%1 ").arg(static_cast<uint8_t>(byte), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}
