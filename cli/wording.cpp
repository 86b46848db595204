#include "wording.h"

#include "frametext.h"
#include "linewording.h"
#include "modbuscodec.h"

namespace Wording {

namespace {

using FrameText::hexByte;

QString exceptionMeaning(uint8_t code)
{
    const QString name = LineWording::exceptionName(code);
    return name.isEmpty() ? name : QStringLiteral(", ") + name;
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
    switch (ModbusCodec::addressKind(outcome.function)) {
    case ModbusCodec::AddressKind::Register:
        what += QStringLiteral(", register %1").arg(outcome.address);
        break;
    case ModbusCodec::AddressKind::Coil:
        what += QStringLiteral(", coil %1").arg(outcome.address);
        break;
    case ModbusCodec::AddressKind::Block:
    case ModbusCodec::AddressKind::None:
        break;
    }
    return QStringLiteral("refused (%1): code %2%3")
        .arg(what, hexByte(outcome.exceptionCode), exceptionMeaning(outcome.exceptionCode));
}

QString firmwareStep(FirmwareOutcome::Step step)
{
    switch (step) {
    case FirmwareOutcome::Step::None: return QStringLiteral("done");
    case FirmwareOutcome::Step::File: return QStringLiteral("reading the image file");
    case FirmwareOutcome::Step::Image: return QStringLiteral("checking the image");
    case FirmwareOutcome::Step::Revision: return QStringLiteral("reading the current revision");
    case FirmwareOutcome::Step::ProgrammingMode: return QStringLiteral("entering programming mode");
    case FirmwareOutcome::Step::FlashCheck: return QStringLiteral("checking the flash chip");
    case FirmwareOutcome::Step::Erase: return QStringLiteral("erasing the flash");
    case FirmwareOutcome::Step::Program: return QStringLiteral("writing");
    case FirmwareOutcome::Step::Flag: return QStringLiteral("writing the firmware flag");
    }
    return QString();
}

} // namespace Wording
