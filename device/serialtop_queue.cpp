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
constexpr int kNoAckWaitMs = 100;
constexpr int kMinFrameSize = 4; // address, function, CRC
} // namespace

bool SerialTop::_queueCmd(QByteArray request, bool needAck, QString textBefore, QString textAfter, int answerSize)
{
    // One slot stays free so a full ring never looks empty; a command that
    // does not fit is refused rather than overwriting one still pending.
    const int next = (queueWrite + 1) % kRingSize;
    if (next == queueRead) {
        if (!overflowReported) {
            overflowReported = true;
            emit appendLog(tr("Очередь команд переполнена, команда отброшена"));
        }
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

    auto send = [this](const CmdEntry &entry) {
        // The answer is judged against this request from now on; bytes left
        // over from an earlier, refused or incomplete answer must not be
        // glued in front of it, nor may an earlier answer count for it.
        curRequest = entry.request;
        answerSize = entry.answerSize;
        rxBuffer.clear();
        ackReceived = false;
        worker->sendData(curRequest);
    };

    for (;;) {
        if (queueRead == queueWrite)
            break;
        const CmdEntry entry = cmdRing[queueRead];
        const quint64 id = cmdIds[queueRead];

        if (logTxByteEn)
            emit appendLog(QStringLiteral("TxByte:") + hexDump(entry.request));

        if (entry.needAck) {
            if (!entry.textBefore.isEmpty())
                emit appendLog(entry.textBefore);
            ackReceived = false;
            timer.start(kPauseBeforeSendMs);
            loop.exec();
            timer.start(kAckTimeoutMs);
            send(entry);
            loop.exec();
            if (!ackReceived) {
                queueWrite = 0;
                queueRead = 0;
                const QString reason = tr("Нет ответа от устройства");
                emit appendLog(reason);
                emit requestFailed(reason);
                break;
            }
        } else {
            timer.start(kNoAckWaitMs);
            send(entry);
            loop.exec();
        }
        if (id == loopOwnerId)
            loopOwnerAcked = entry.needAck ? ackReceived : true;
        queueRead = (queueRead + 1) % kRingSize;
    }

    timer.stop();
    queueRunning = false;
    overflowReported = false;
    if (!deferredProcedures.isEmpty())
        QMetaObject::invokeMethod(this, "_runDeferred", Qt::QueuedConnection);
}

void SerialTop::_logRx(QByteArray data)
{
    rxBuffer.append(data);
    if (rxBuffer.size() >= answerSize)
        _timeoutEndOfPack();
}

void SerialTop::_timeoutEndOfPack()
{
    const QByteArray frame = rxBuffer;
    rxBuffer.clear();

    if (logRxByteEn)
        emit appendLog(QStringLiteral("RxByte:") + hexDump(frame));

    if (frame.size() < kMinFrameSize || curRequest.size() < kMinFrameSize || !ModbusCodec::crcValid(frame)
        || frame[0] != curRequest[0] || frame[1] != curRequest[1])
        return;

    const auto func = static_cast<uint8_t>(frame[1]);
    if (func == ModbusCodec::ReadHoldingRegisters || func == ModbusCodec::ReadInputRegisters) {
        const auto start = static_cast<uint16_t>(ModbusCodec::bigEndian(curRequest, 2, 2));
        const int count = static_cast<int>(ModbusCodec::bigEndian(curRequest, 4, 2));
        if (func == ModbusCodec::ReadHoldingRegisters)
            decodeHoldingAnswer(frame, start, count);
        else
            decodeInputAnswer(frame, start, count);
    }

    emit _ack_Received();
    ackReceived = true;
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
