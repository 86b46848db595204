#include "wording.h"

#include "modbuscodec.h"

namespace Wording {

namespace {

QString hexByte(uint8_t byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

QString exceptionMeaning(uint8_t code)
{
    switch (code) {
    case ModbusCodec::IllegalFunction: return QStringLiteral(", illegal function");
    case ModbusCodec::IllegalDataAddress: return QStringLiteral(", illegal data address");
    case ModbusCodec::IllegalDataValue: return QStringLiteral(", illegal data value");
    case ModbusCodec::DeviceFailure: return QStringLiteral(", device failure");
    case ModbusCodec::DeviceBusy: return QStringLiteral(", device busy");
    default: return QString();
    }
}

} // namespace

QString outcome(const RequestOutcome &outcome)
{
    using Failure = RequestOutcome::Failure;
    switch (outcome.failure) {
    case Failure::None:
        return QStringLiteral("done");
    case Failure::NoAnswer:
        return QStringLiteral("no answer from the device");
    case Failure::PortClosed:
        return outcome.sent ? QStringLiteral("the port was closed") : QStringLiteral("the port is not open; nothing was sent");
    case Failure::PortLost:
        return QStringLiteral("the connection to %1 was lost: %2").arg(outcome.port, outcome.portError);
    case Failure::QueueFull:
        return QStringLiteral("the command queue is full; the command was dropped");
    case Failure::NotConfirmed:
        return QStringLiteral("wrote %1, read back %2").arg(outcome.written).arg(outcome.readBack);
    case Failure::Interrupted:
        return QStringLiteral("interrupted");
    case Failure::Refused:
        break;
    }
    QString what = QStringLiteral("function %1").arg(hexByte(outcome.function));
    if (outcome.function == ModbusCodec::ReadCoils || outcome.function == ModbusCodec::WriteSingleCoil)
        what += QStringLiteral(", coil %1").arg(outcome.address);
    else if (outcome.function != ModbusCodec::ProgramBlock && outcome.function != ModbusCodec::ResetAddress)
        what += QStringLiteral(", register %1").arg(outcome.address);
    return QStringLiteral("refused (%1): code %2%3")
        .arg(what, hexByte(outcome.exceptionCode), exceptionMeaning(outcome.exceptionCode));
}

} // namespace Wording
