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
        return outcome.portError.isEmpty()
                   ? QStringLiteral("the connection to %1 was lost: the adapter was unplugged or the port closed").arg(outcome.port)
                   : QStringLiteral("the connection to %1 was lost: the adapter was unplugged or the port closed (%2)")
                         .arg(outcome.port, outcome.portError);
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

namespace {

QString firmwareStage(const QString &stage)
{
    using Step = FirmwareOutcome::Step;
    static const struct {
        const char *name;
        Step step;
    } stages[] = {{"file", Step::File},           {"image", Step::Image},
                  {"revision", Step::Revision},   {"programming_mode", Step::ProgrammingMode},
                  {"flash_check", Step::FlashCheck}, {"erase", Step::Erase},
                  {"program", Step::Program},     {"flag", Step::Flag}};
    for (const auto &entry : stages)
        if (stage == QLatin1String(entry.name))
            return firmwareStep(entry.step);
    return stage;
}

QString number(double value)
{
    return QString::number(value, 'g', 9);
}

const QString kNoCompleteFirmware =
    QStringLiteral("; the unit holds no complete firmware until an update runs to the end");

} // namespace

QString cause(const Station::Cause &cause)
{
    using Code = Station::Cause::Code;
    RequestOutcome request;
    if (cause.toRequest(request)) {
        QString text = outcome(request);
        if (cause.code == Code::NoAnswer && (cause.has("function") || cause.has("address")))
            text += QStringLiteral(" (function %1, address %2)").arg(FrameText::hexByte(request.function)).arg(request.address);
        if (cause.has("in_a_row"))
            text += QStringLiteral(", %1 requests in a row").arg(cause.number("in_a_row"));
        const QString parameter = cause.text("parameter");
        return parameter.isEmpty() ? text : QStringLiteral("%1: %2").arg(parameter, text);
    }
    switch (cause.code) {
    case Code::None:
        return QString();
    case Code::Limit:
        return QStringLiteral("%1 %2 outside [%3, %4]")
            .arg(cause.text("quantity"), number(cause.number("value")), number(cause.number("low")),
                 number(cause.number("high")));
    case Code::DeviceFault:
        return cause.text("fault") == QLatin1String("selftest") ? QStringLiteral("the device reports a fault")
                                                               : QStringLiteral("the device reports a failure");
    case Code::PortOpen: {
        const QString reason = cause.text("reason");
        const QString why = reason == QLatin1String("missing")  ? QStringLiteral("no such port")
                            : reason == QLatin1String("denied") ? QStringLiteral("permission denied")
                            : reason == QLatin1String("busy")   ? QStringLiteral("in use by another program")
                                                                : QStringLiteral("cannot be opened");
        return QStringLiteral("cannot open %1: %2 (%3)").arg(cause.text("port"), why, cause.text("error"));
    }
    case Code::Firmware: {
        QString text = firmwareStage(cause.text("stage"));
        if (cause.has("offset"))
            text += QStringLiteral(" the block at 0x%1").arg(qint64(cause.number("offset")), 8, 16, QLatin1Char('0'));
        const Station::Cause inner = cause.inner();
        text += QStringLiteral(": ") + (inner.isNone() ? QStringLiteral("the device reports a failure") : Wording::cause(inner));
        if (!cause.fields.value(QLatin1String("complete")).toBool(true))
            text += kNoCompleteFirmware;
        return text;
    }
    case Code::NoData:
        return QStringLiteral("no %1 came back").arg(cause.text("quantity"));
    case Code::TimedOut: {
        const QString waiting = cause.text("waiting");
        if (waiting == QLatin1String("connect"))
            return QStringLiteral("no verdict on the connection in time");
        if (waiting == QLatin1String("report"))
            return QStringLiteral("no report from the device object in time");
        return QStringLiteral("the device did not finish in time");
    }
    case Code::Interrupted: {
        QString text = cause.text("by") == Station::Cause::kBySignal ? QStringLiteral("stopped by a signal")
                                                                    : QStringLiteral("stopped by the operator");
        if (!cause.fields.value(QLatin1String("complete")).toBool(true))
            text += kNoCompleteFirmware;
        return text;
    }
    case Code::Abandoned:
        return QStringLiteral("the station stopped before the run ended: its process was killed or lost power");
    case Code::Records:
        return QStringLiteral("the record could not be written: %1").arg(cause.text("error"));
    case Code::Text:
        return cause.text("text");
    case Code::NotReadBack:
    case Code::NoAnswer:
    case Code::Refused:
    case Code::PortLost:
    case Code::PortClosed:
    case Code::QueueFull:
        break;
    }
    return cause.codeName();
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
