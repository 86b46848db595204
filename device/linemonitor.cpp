#include "linemonitor.h"

#include "deviceparameters.h"
#include "linesettings.h"
#include "modbuscodec.h"
#include "registermap.h"

#include <QElapsedTimer>
#include <QStringList>

#include <utility>

using namespace RegisterMap;
using ModbusCodec::bigEndian;

namespace {

constexpr int kReadDataOffset = 3;     // address, function, byte count
constexpr int kWriteDataOffset = 7;    // address, function, first, count, byte count
constexpr int kCrcSize = 2;
constexpr int kMinFrameSize = 4;
// The longest frame Modbus RTU allows; no answer is longer.
constexpr int kMaxFrameSize = 256;

bool isFloatPair(bool holding, uint16_t adr)
{
    if (!holding)
        return adr == Input::Period || adr == Input::Distance
               || (adr >= Input::RawDataFirst && adr <= Input::RawDataLast && (adr - Input::RawDataFirst) % 2 == 0);
    for (const DeviceParameters::Parameter &parameter : DeviceParameters::all())
        if (parameter.holding == adr)
            return parameter.kind == DeviceParameters::Kind::Float;
    return false;
}

bool isLongPair(bool holding, uint16_t adr)
{
    return !holding && (adr == Input::SelfTestVerdict || adr == Input::FlashStatus);
}

// Registers first..first+count-1 as the register map reads them, from the
// big-endian words at data[offset...]; stops where the bytes end.
void decodeRegisters(LineFrame &frame, bool holding, const QByteArray &data, int offset, uint16_t first, int count)
{
    const int available = (data.size() - kCrcSize - offset) / 2;
    const int n = qMin(count, qMax(available, 0));
    frame.values.reserve(qMin(n, LineDecoder::kValuesWorded));
    int k = 0;
    while (k < n) {
        const auto adr = static_cast<uint16_t>(first + k);
        if (holding && adr == Holding::Revision && n - k >= Holding::RevisionLength) {
            QString text;
            for (int i = 0; i < Holding::RevisionLength; ++i)
                text += QChar(static_cast<uint8_t>(data[offset + 2 * (k + i) + 1]));
            while (text.endsWith(QChar(0)))
                text.chop(1);
            frame.text = text;
            k += Holding::RevisionLength;
            continue;
        }
        LineValue value;
        value.address = adr;
        const bool pair = k + 1 < n && (isFloatPair(holding, adr) || isLongPair(holding, adr));
        if (pair) {
            const uint32_t bits = bigEndian(data, offset + 2 * k, 4);
            value.width = 2;
            value.type = isFloatPair(holding, adr) ? LineValue::Type::Float : LineValue::Type::Long;
            value.value = value.type == LineValue::Type::Float ? double(ModbusCodec::floatFromBits(bits)) : double(bits);
        } else {
            value.value = bigEndian(data, offset + 2 * k, 2);
        }
        if (frame.valueCount++ < LineDecoder::kValuesWorded)
            frame.values.append(value);
        k += value.width;
    }
}

bool isKnownFunction(uint8_t function)
{
    switch (function & ~ModbusCodec::kExceptionFlag) {
    case ModbusCodec::ReadCoils:
    case ModbusCodec::ReadHoldingRegisters:
    case ModbusCodec::ReadInputRegisters:
    case ModbusCodec::WriteSingleCoil:
    case ModbusCodec::WriteSingleRegister:
    case ModbusCodec::WriteMultipleRegisters:
    case ModbusCodec::ProgramBlock:
        return true;
    default:
        return false;
    }
}

// Whether bytes hold a whole frame with a good CRC from the slave: an
// answer that came when nothing awaited it.
bool holdsSlaveFrame(const QByteArray &bytes)
{
    for (int at = 0; at + kMinFrameSize <= bytes.size(); ++at) {
        if (static_cast<uint8_t>(bytes[at]) != Line::kSlaveAddress || !isKnownFunction(bytes[at + 1]))
            continue;
        // The CRC runs along, so each start costs one pass, no longer than
        // a frame can be: a second of noise full of likely starts must not
        // cost the device thread a second of its own.
        uint16_t crc = 0xFFFF;
        const int last = qMin(bytes.size(), at + kMaxFrameSize);
        for (int end = at; end < last; ++end) {
            crc ^= static_cast<uint8_t>(bytes[end]);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
            if (crc == 0 && end + 1 - at >= kMinFrameSize)
                return true;
        }
    }
    return false;
}

// Whether bytes hold an answer of the request's shape (address, function,
// length) whose CRC is wrong.
bool holdsCorruptAnswer(const QByteArray &bytes, const QByteArray &request)
{
    if (request.size() < kMinFrameSize)
        return false;
    const auto function = static_cast<uint8_t>(request[1]);
    const bool read = function == ModbusCodec::ReadCoils || function == ModbusCodec::ReadHoldingRegisters
                      || function == ModbusCodec::ReadInputRegisters;
    const int quantity = read && request.size() >= 6 ? int(bigEndian(request, 4, 2)) : 1;
    const int size = ModbusCodec::answerSize(function, quantity);
    for (int at = 0; at + ModbusCodec::kExceptionAnswerSize <= bytes.size(); ++at) {
        if (bytes[at] != request[0])
            continue;
        const auto answerFunction = static_cast<uint8_t>(bytes[at + 1]);
        const int length = answerFunction == function                                   ? size
                           : answerFunction == (function | ModbusCodec::kExceptionFlag) ? ModbusCodec::kExceptionAnswerSize
                                                                                        : 0;
        if (length > 0 && at + length <= bytes.size() && !ModbusCodec::crcValid(bytes.mid(at, length)))
            return true;
    }
    return false;
}

QString plural(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString values(const LineFrame &frame)
{
    QString text = LineDecoder::describeValues(frame);
    if (frame.valueCount > LineDecoder::kValuesWorded)
        text += QStringLiteral(" (%1 values)").arg(frame.valueCount);
    return text;
}

QString coil(uint16_t number)
{
    const QString name = LineDecoder::coilName(number);
    return name.isEmpty() ? QStringLiteral("coil %1").arg(number) : QStringLiteral("coil %1 (%2)").arg(number).arg(name);
}

QString coilState(const LineFrame &frame)
{
    const bool on = !frame.values.isEmpty() && frame.values.first().value != 0;
    return QStringLiteral("%1 = %2").arg(coil(frame.first), on ? QStringLiteral("on") : QStringLiteral("off"));
}

QString block(const LineFrame &frame)
{
    return QStringLiteral("@0x%1, %2 bytes").arg(frame.blockAddress, 8, 16, QLatin1Char('0')).arg(frame.blockSize);
}

QString range(const LineFrame &frame)
{
    return frame.count > 1 ? QStringLiteral("%1–%2").arg(frame.first).arg(frame.first + frame.count - 1)
                           : QString::number(frame.first);
}

} // namespace

bool LineFrame::isPolling() const
{
    return (kind == Kind::Request || kind == Kind::Answer) && function == ModbusCodec::ReadInputRegisters
           && count == 2 && (first == Input::Distance || first == Input::Period);
}

namespace LineDecoder {

LineFrame request(const QByteArray &bytes)
{
    LineFrame frame;
    frame.direction = LineFrame::Direction::Tx;
    frame.kind = LineFrame::Kind::Request;
    frame.bytes = bytes;
    if (bytes.size() < kMinFrameSize)
        return frame;
    frame.address = static_cast<uint8_t>(bytes[0]);
    frame.function = static_cast<uint8_t>(bytes[1]);
    if (frame.address == ModbusCodec::kBroadcastAddress && frame.function == ModbusCodec::ResetAddress) {
        frame.kind = LineFrame::Kind::Broadcast;
        return frame;
    }
    const bool whole = bytes.size() >= 8;
    switch (frame.function) {
    case ModbusCodec::ReadCoils:
    case ModbusCodec::ReadHoldingRegisters:
    case ModbusCodec::ReadInputRegisters:
        if (whole) {
            frame.first = static_cast<uint16_t>(bigEndian(bytes, 2, 2));
            frame.count = static_cast<uint16_t>(bigEndian(bytes, 4, 2));
        }
        break;
    case ModbusCodec::WriteSingleCoil:
        if (whole) {
            frame.first = static_cast<uint16_t>(bigEndian(bytes, 2, 2));
            frame.count = 1;
            LineValue value;
            value.address = frame.first;
            value.value = bigEndian(bytes, 4, 2) == Coil::On ? 1 : 0;
            frame.values.append(value);
            frame.valueCount = 1;
        }
        break;
    case ModbusCodec::WriteSingleRegister:
        if (whole) {
            frame.first = static_cast<uint16_t>(bigEndian(bytes, 2, 2));
            frame.count = 1;
            decodeRegisters(frame, true, bytes, 4, frame.first, 1);
        }
        break;
    case ModbusCodec::WriteMultipleRegisters:
        if (whole) {
            frame.first = static_cast<uint16_t>(bigEndian(bytes, 2, 2));
            frame.count = static_cast<uint16_t>(bigEndian(bytes, 4, 2));
            decodeRegisters(frame, true, bytes, kWriteDataOffset, frame.first, frame.count);
        }
        break;
    case ModbusCodec::ProgramBlock:
        if (bytes.size() >= 10) {
            frame.blockSize = static_cast<int>(bigEndian(bytes, 2, 2));
            frame.blockAddress = bigEndian(bytes, 4, 4);
        }
        break;
    default:
        break;
    }
    return frame;
}

LineFrame answer(const QByteArray &bytes, const QByteArray &requestBytes)
{
    LineFrame frame = request(requestBytes);
    frame.direction = LineFrame::Direction::Rx;
    frame.bytes = bytes;
    frame.values.clear();
    frame.valueCount = 0;
    frame.text.clear();
    if (bytes.size() < kMinFrameSize)
        return frame;
    frame.address = static_cast<uint8_t>(bytes[0]);
    if (static_cast<uint8_t>(bytes[1]) & ModbusCodec::kExceptionFlag) {
        frame.kind = LineFrame::Kind::Refusal;
        frame.exceptionCode = static_cast<uint8_t>(bytes[2]);
        return frame;
    }
    frame.kind = LineFrame::Kind::Answer;
    switch (frame.function) {
    case ModbusCodec::ReadHoldingRegisters:
    case ModbusCodec::ReadInputRegisters:
        decodeRegisters(frame, frame.function == ModbusCodec::ReadHoldingRegisters, bytes, kReadDataOffset,
                        frame.first, frame.count);
        break;
    case ModbusCodec::WriteSingleCoil:
    case ModbusCodec::WriteSingleRegister: {
        // The echo says what the device took.
        const LineFrame echo = request(bytes);
        frame.first = echo.first;
        frame.values = echo.values;
        frame.valueCount = echo.valueCount;
        break;
    }
    default:
        break;
    }
    return frame;
}

QString exceptionName(uint8_t code)
{
    switch (code) {
    case ModbusCodec::IllegalFunction: return QStringLiteral("illegal function");
    case ModbusCodec::IllegalDataAddress: return QStringLiteral("illegal data address");
    case ModbusCodec::IllegalDataValue: return QStringLiteral("illegal data value");
    case ModbusCodec::DeviceFailure: return QStringLiteral("device failure");
    case ModbusCodec::DeviceBusy: return QStringLiteral("device busy");
    default: return QString();
    }
}

QString coilName(uint16_t coil)
{
    switch (coil) {
    case Coil::SaveSettings: return QStringLiteral("save settings");
    case Coil::StartSelfTest: return QStringLiteral("self-test");
    case Coil::ProgrammingMode: return QStringLiteral("programming mode");
    case Coil::EraseFirmware: return QStringLiteral("erase firmware");
    case Coil::FirmwareFlag: return QStringLiteral("firmware flag");
    case Coil::FlashCheck: return QStringLiteral("flash check");
    case Coil::ConnectionProbe: return QStringLiteral("connection probe");
    case Coil::ModulationFmcw: return QStringLiteral("FMCW modulation");
    case Coil::ModulationCw: return QStringLiteral("CW modulation");
    default: return QString();
    }
}

QString describeValue(const LineValue &value)
{
    const QString where = value.width > 1 ? QStringLiteral("%1–%2").arg(value.address).arg(value.address + value.width - 1)
                                          : QString::number(value.address);
    const QString number = value.type == LineValue::Type::Float
                               ? DeviceParameters::shortestText(static_cast<float>(value.value))
                               : QString::number(static_cast<qulonglong>(value.value));
    return QStringLiteral("%1 = %2").arg(where, number);
}

QString describeValues(const LineFrame &frame)
{
    if (!frame.text.isNull() && frame.values.isEmpty())
        return QStringLiteral("%1–%2 = \"%3\"").arg(frame.first).arg(frame.first + frame.count - 1).arg(frame.text);
    QStringList parts;
    for (int i = 0; i < frame.values.size() && i < kValuesWorded; ++i)
        parts << describeValue(frame.values.at(i));
    if (frame.values.size() > kValuesWorded)
        parts << QStringLiteral("…");
    return parts.join(QStringLiteral(", "));
}

QString describe(const LineFrame &frame)
{
    using Kind = LineFrame::Kind;
    switch (frame.kind) {
    case Kind::Broadcast:
        return QStringLiteral("address reset (broadcast)");
    case Kind::Stray:
        return QStringLiteral("stray bytes dropped");
    case Kind::BadCrc:
        return QStringLiteral("bad CRC");
    case Kind::Late:
        return QStringLiteral("late answer dropped");
    case Kind::TimeOut:
        return QStringLiteral("no answer (time-out)");
    case Kind::PortError:
        return QStringLiteral("port lost: %1").arg(frame.text);
    case Kind::Refusal: {
        QString what = QStringLiteral("refused: function %1").arg(hexByte(frame.function));
        switch (ModbusCodec::addressKind(frame.function)) {
        case ModbusCodec::AddressKind::Register:
            what += QStringLiteral(", register %1").arg(frame.first);
            break;
        case ModbusCodec::AddressKind::Coil:
            what += QStringLiteral(", coil %1").arg(frame.first);
            break;
        case ModbusCodec::AddressKind::Block:
            what += QStringLiteral(", block @0x%1").arg(frame.blockAddress, 8, 16, QLatin1Char('0'));
            break;
        case ModbusCodec::AddressKind::None:
            break;
        }
        const QString name = exceptionName(frame.exceptionCode);
        what += QStringLiteral(", code %1").arg(hexByte(frame.exceptionCode));
        return name.isEmpty() ? what : what + QLatin1Char(' ') + name;
    }
    case Kind::Request:
        switch (frame.function) {
        case ModbusCodec::ReadHoldingRegisters:
            return QStringLiteral("read holding %1 ×%2").arg(frame.first).arg(frame.count);
        case ModbusCodec::ReadInputRegisters:
            return QStringLiteral("read input %1 ×%2").arg(frame.first).arg(frame.count);
        case ModbusCodec::ReadCoils:
            return QStringLiteral("read coils %1 ×%2").arg(frame.first).arg(frame.count);
        case ModbusCodec::WriteSingleCoil:
            return QStringLiteral("write %1").arg(coilState(frame));
        case ModbusCodec::WriteSingleRegister:
        case ModbusCodec::WriteMultipleRegisters:
            return QStringLiteral("write holding %1").arg(values(frame));
        case ModbusCodec::ProgramBlock:
            return QStringLiteral("firmware block %1").arg(block(frame));
        default:
            return QStringLiteral("function %1, %2 bytes").arg(hexByte(frame.function)).arg(frame.bytes.size());
        }
    case Kind::Answer:
        switch (frame.function) {
        case ModbusCodec::ReadHoldingRegisters:
        case ModbusCodec::ReadInputRegisters:
            return QStringLiteral("answer: %1").arg(values(frame));
        case ModbusCodec::WriteSingleCoil:
            return QStringLiteral("answer: %1").arg(coilState(frame));
        case ModbusCodec::WriteSingleRegister:
            return QStringLiteral("answer: %1").arg(values(frame));
        case ModbusCodec::WriteMultipleRegisters:
            return QStringLiteral("answer: %1 written").arg(range(frame));
        case ModbusCodec::ProgramBlock:
            return QStringLiteral("answer: block %1 written").arg(block(frame));
        case ModbusCodec::ResetAddress:
            return QStringLiteral("answer: address reset echoed");
        default:
            return QStringLiteral("answer: function %1, %2 bytes").arg(hexByte(frame.function)).arg(frame.bytes.size());
        }
    }
    return QString();
}

QString describeCounters(const LineCounters &c)
{
    QString text = QStringLiteral("line: %1, %2, %3, %4 bad CRC, %5 refused, %6 stray, %7 late")
                       .arg(plural(c.requests, "request", "requests"), plural(c.answers, "answer", "answers"),
                            plural(c.timeOuts, "time-out", "time-outs"))
                       .arg(c.badCrc)
                       .arg(c.refusals)
                       .arg(c.stray)
                       .arg(c.late);
    if (c.portErrors > 0)
        text += QStringLiteral(", ") + plural(c.portErrors, "port error", "port errors");
    if (c.roundTrips == 0)
        return text + QStringLiteral("; no round-trip timed");
    return text + QStringLiteral("; round-trip mean %1 ms, max %2 ms")
                      .arg(c.roundTripMeanMs(), 0, 'f', 1)
                      .arg(c.roundTripMaxMs, 0, 'f', 1);
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

QString hexByte(uint8_t byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace LineDecoder

LineMonitor::LineMonitor(QObject *parent)
    : QObject(parent)
    , batchTimer(this)
{
    qRegisterMetaType<LineFrame>();
    qRegisterMetaType<LineCounters>();
    qRegisterMetaType<QVector<LineFrame>>();
    batchTimer.setSingleShot(true);
    batchTimer.setInterval(kBatchMs);
    connect(&batchTimer, &QTimer::timeout, this, &LineMonitor::flush);
}

double LineMonitor::clockMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.nsecsElapsed() / 1e6;
}

void LineMonitor::start(int baudRate)
{
    flush();
    heldBytes.clear();
    lastBroadcast.clear();
    totals = LineCounters();
    totals.startedMs = clockMs();
    msPerByte = baudRate > 0 ? Line::kBitsPerByte * 1000.0 / baudRate : 0;
    countersDirty = true;
    flush();
}

void LineMonitor::stop()
{
    dropped(std::exchange(heldBytes, QByteArray()), QByteArray());
    lastBroadcast.clear();
    flush();
}

void LineMonitor::record(LineFrame frame)
{
    // Bytes cut from what the port handed over share its whole read buffer
    // (kilobytes); a frame kept for long holds exactly its own bytes.
    frame.bytes = QByteArray(frame.bytes.constData(), frame.bytes.size());
    frame.values.squeeze();
    batch.append(std::move(frame));
    countersDirty = true;
    if (!batchTimer.isActive())
        batchTimer.start();
}

void LineMonitor::sent(const QByteArray &requestBytes)
{
    // Whatever came after a broadcast without forming its echo was noise.
    dropped(std::exchange(heldBytes, QByteArray()), QByteArray());
    LineFrame frame = LineDecoder::request(requestBytes);
    frame.timeMs = clockMs();
    // The wire, not the port driver, says when the request ended.
    requestEndMs = frame.timeMs + msPerByte * requestBytes.size();
    lastBroadcast = frame.kind == LineFrame::Kind::Broadcast ? requestBytes : QByteArray();
    ++totals.requests;
    record(std::move(frame));
}

void LineMonitor::taken(const QByteArray &buffer, int at, int size, const QByteArray &requestBytes)
{
    const double now = clockMs();
    if (at > 0)
        dropped(buffer.left(at), QByteArray());
    LineFrame frame = LineDecoder::answer(buffer.mid(at, size), requestBytes);
    frame.timeMs = now;
    // A pseudo-terminal has no wire: its answer may come before a real
    // request would have ended.
    frame.roundTripMs = qMax(0.0, now - requestEndMs);
    if (frame.kind == LineFrame::Kind::Refusal)
        ++totals.refusals;
    else
        ++totals.answers;
    ++totals.roundTrips;
    totals.roundTripSumMs += frame.roundTripMs;
    totals.roundTripMaxMs = qMax(totals.roundTripMaxMs, frame.roundTripMs);
    record(std::move(frame));
    if (at + size < buffer.size())
        dropped(buffer.mid(at + size), QByteArray());
}

void LineMonitor::dropped(const QByteArray &bytes, const QByteArray &requestBytes)
{
    if (bytes.isEmpty())
        return;
    LineFrame frame;
    frame.timeMs = clockMs();
    frame.direction = LineFrame::Direction::Rx;
    frame.bytes = bytes;
    if (holdsSlaveFrame(bytes)) {
        frame.kind = LineFrame::Kind::Late;
        ++totals.late;
    } else if (holdsCorruptAnswer(bytes, requestBytes)) {
        frame.kind = LineFrame::Kind::BadCrc;
        ++totals.badCrc;
    } else {
        frame.kind = LineFrame::Kind::Stray;
        ++totals.stray;
    }
    record(std::move(frame));
}

void LineMonitor::unclaimed(const QByteArray &bytes)
{
    if (lastBroadcast.isEmpty()) {
        dropped(bytes, QByteArray());
        return;
    }
    // The device repeats the address reset as its own; nobody waits for it,
    // yet it is that broadcast's answer, not noise. At the line rate it comes
    // in pieces, so they are held until it is whole or the next request goes.
    heldBytes += bytes;
    const int echo = heldBytes.indexOf(lastBroadcast);
    if (echo < 0)
        return;
    const QByteArray broadcast = std::exchange(lastBroadcast, QByteArray());
    taken(std::exchange(heldBytes, QByteArray()), echo, broadcast.size(), broadcast);
}

void LineMonitor::timedOut(const QByteArray &requestBytes)
{
    LineFrame frame = LineDecoder::request(requestBytes);
    frame.timeMs = clockMs();
    frame.direction = LineFrame::Direction::None;
    frame.kind = LineFrame::Kind::TimeOut;
    frame.bytes.clear();
    frame.values.clear();
    frame.valueCount = 0;
    ++totals.timeOuts;
    record(std::move(frame));
}

void LineMonitor::portError(const QString &text)
{
    LineFrame frame;
    frame.timeMs = clockMs();
    frame.kind = LineFrame::Kind::PortError;
    frame.text = text;
    ++totals.portErrors;
    record(std::move(frame));
    flush();
}

void LineMonitor::flush()
{
    batchTimer.stop();
    if (!batch.isEmpty())
        emit framesRecorded(std::exchange(batch, QVector<LineFrame>()));
    if (countersDirty) {
        countersDirty = false;
        emit countersChanged(totals);
    }
}
