#include "linewording.h"

#include "frametext.h"
#include "modbuscodec.h"
#include "registermap.h"

using namespace RegisterMap;
using FrameText::hexByte;

namespace {

QString plural(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString values(const LineFrame &frame)
{
    QString text = FrameText::values(frame);
    if (frame.valueCount > LineFrame::kValuesKept)
        text += QStringLiteral(" (%1 values)").arg(frame.valueCount);
    return text;
}

QString coil(uint16_t number)
{
    const QString name = LineWording::coilName(number);
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

namespace LineWording {

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

} // namespace LineWording
