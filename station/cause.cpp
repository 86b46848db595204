#include "cause.h"

#include <QStringList>

namespace Station {

namespace {

struct CodeName
{
    Cause::Code code;
    const char *name;
};

constexpr CodeName kCodeNames[] = {
    {Cause::Code::Limit, "limit"},
    {Cause::Code::DeviceFault, "device_fault"},
    {Cause::Code::NotReadBack, "not_read_back"},
    {Cause::Code::NoAnswer, "no_answer"},
    {Cause::Code::Refused, "refused"},
    {Cause::Code::PortLost, "port_lost"},
    {Cause::Code::PortClosed, "port_closed"},
    {Cause::Code::PortOpen, "port_open"},
    {Cause::Code::QueueFull, "queue_full"},
    {Cause::Code::Firmware, "firmware"},
    {Cause::Code::NoData, "no_data"},
    {Cause::Code::TimedOut, "timed_out"},
    {Cause::Code::Interrupted, "interrupted"},
    {Cause::Code::Abandoned, "abandoned"},
    {Cause::Code::Records, "records"},
    {Cause::Code::Text, "text"},
};

// A function, not a global: other files' globals take causes before this
// file's globals may have been built.
QString codeKey()
{
    return QStringLiteral("code");
}

QString firmwareStageName(FirmwareOutcome::Step step)
{
    using Step = FirmwareOutcome::Step;
    switch (step) {
    case Step::None: break;
    case Step::File: return QStringLiteral("file");
    case Step::Image: return QStringLiteral("image");
    case Step::Revision: return QStringLiteral("revision");
    case Step::ProgrammingMode: return QStringLiteral("programming_mode");
    case Step::FlashCheck: return QStringLiteral("flash_check");
    case Step::Erase: return QStringLiteral("erase");
    case Step::Program: return QStringLiteral("program");
    case Step::Flag: return QStringLiteral("flag");
    }
    return QString();
}

} // namespace

const QString Cause::kByOperator = QStringLiteral("operator");
const QString Cause::kBySignal = QStringLiteral("signal");

QString Cause::nameOf(Code code)
{
    for (const CodeName &entry : kCodeNames)
        if (entry.code == code)
            return QString::fromLatin1(entry.name);
    return QString();
}

bool Cause::codeFromName(const QString &name, Code &code)
{
    for (const CodeName &entry : kCodeNames)
        if (name == QLatin1String(entry.name)) {
            code = entry.code;
            return true;
        }
    return false;
}

QStringList Cause::codeNames()
{
    QStringList names;
    for (const CodeName &entry : kCodeNames)
        names << QString::fromLatin1(entry.name);
    return names;
}

QJsonObject Cause::toJson() const
{
    if (isNone())
        return QJsonObject();
    QJsonObject object = fields;
    object.insert(codeKey(), codeName());
    return object;
}

Cause Cause::fromJson(const QJsonObject &object)
{
    if (object.isEmpty())
        return Cause();
    QJsonObject rest = object;
    const QString name = rest.take(codeKey()).toString();
    Code code = Code::None;
    if (!codeFromName(name, code) || code == Code::None)
        return text(name);
    return make(code, rest);
}

Cause Cause::make(Code code, const QJsonObject &fields)
{
    Cause cause;
    cause.code = code;
    cause.fields = fields;
    return cause;
}

Cause Cause::limit(const QString &quantity, double value, double low, double high)
{
    return make(Code::Limit, {{QStringLiteral("quantity"), quantity},
                              {QStringLiteral("value"), value},
                              {QStringLiteral("low"), low},
                              {QStringLiteral("high"), high}});
}

Cause Cause::deviceFault(const QString &fault)
{
    return make(Code::DeviceFault, {{QStringLiteral("fault"), fault}});
}

Cause Cause::noData(const QString &quantity)
{
    return make(Code::NoData, {{QStringLiteral("quantity"), quantity}});
}

Cause Cause::timedOut(const QString &waiting)
{
    return make(Code::TimedOut, {{QStringLiteral("waiting"), waiting}});
}

Cause Cause::interrupted(const QString &by)
{
    return make(Code::Interrupted, {{QStringLiteral("by"), by}});
}

Cause Cause::abandoned()
{
    return make(Code::Abandoned);
}

Cause Cause::records(const QString &error)
{
    return make(Code::Records, {{QStringLiteral("error"), error}});
}

Cause Cause::text(const QString &legacyText)
{
    return make(Code::Text, {{QStringLiteral("text"), legacyText}});
}

Cause Cause::fromRequest(const RequestOutcome &outcome, const QString &parameter)
{
    using Failure = RequestOutcome::Failure;
    const QJsonObject request{{QStringLiteral("function"), int(outcome.function)},
                              {QStringLiteral("address"), int(outcome.address)}};
    Cause cause;
    switch (outcome.failure) {
    case Failure::None:
        return Cause();
    case Failure::NoAnswer:
        cause = make(Code::NoAnswer, request);
        break;
    case Failure::Refused:
        cause = make(Code::Refused, request);
        cause.fields.insert(QStringLiteral("exception"), int(outcome.exceptionCode));
        break;
    case Failure::PortLost:
        return make(Code::PortLost, {{QStringLiteral("port"), outcome.port}, {QStringLiteral("error"), outcome.portError}});
    case Failure::PortClosed:
        return make(Code::PortClosed, {{QStringLiteral("sent"), outcome.sent}});
    case Failure::QueueFull:
        return make(Code::QueueFull);
    case Failure::NotConfirmed:
        return make(Code::NotReadBack, {{QStringLiteral("parameter"), parameter},
                                        {QStringLiteral("written"), outcome.written},
                                        {QStringLiteral("read"), outcome.readBack}});
    case Failure::Interrupted:
        return interrupted(kByOperator);
    }
    if (!parameter.isEmpty())
        cause.fields.insert(QStringLiteral("parameter"), parameter);
    return cause;
}

Cause Cause::fromFirmware(const FirmwareOutcome &outcome)
{
    if (outcome.ok())
        return Cause();
    QJsonObject fields{{QStringLiteral("stage"), firmwareStageName(outcome.failedStep)},
                       {QStringLiteral("complete"), !outcome.eraseBegan}};
    if (outcome.failedStep == FirmwareOutcome::Step::Program)
        fields.insert(QStringLiteral("offset"), outcome.blockOffset);
    // The device answered but said no: at the flash check, a flash not
    // ready; elsewhere the step's own refusal to go on.
    const Cause request = outcome.deviceFault() ? deviceFault(QStringLiteral("flash")) : fromRequest(outcome.request);
    if (!request.isNone())
        fields.insert(QStringLiteral("request"), request.toJson());
    return make(Code::Firmware, fields);
}

bool Cause::toRequest(RequestOutcome &outcome) const
{
    using Failure = RequestOutcome::Failure;
    outcome = RequestOutcome();
    outcome.function = uint8_t(number("function"));
    outcome.address = uint16_t(number("address"));
    switch (code) {
    case Code::NoAnswer: outcome.failure = Failure::NoAnswer; return true;
    case Code::Refused:
        outcome.failure = Failure::Refused;
        outcome.exceptionCode = uint8_t(number("exception"));
        return true;
    case Code::PortLost:
        outcome.failure = Failure::PortLost;
        outcome.port = text("port");
        outcome.portError = text("error");
        return true;
    case Code::PortClosed:
        outcome.failure = Failure::PortClosed;
        outcome.sent = fields.value(QLatin1String("sent")).toBool();
        return true;
    case Code::QueueFull: outcome.failure = Failure::QueueFull; return true;
    case Code::NotReadBack:
        outcome.failure = Failure::NotConfirmed;
        outcome.written = number("written");
        outcome.readBack = number("read");
        return true;
    default:
        return false;
    }
}

Cause Cause::inner() const
{
    return fromJson(fields.value(QLatin1String("request")).toObject());
}

Cause Cause::fromPortOpen(const PortOpenFailure &failure)
{
    QString reason;
    switch (failure.kind) {
    case PortOpenFailure::Kind::NotFound: reason = QStringLiteral("missing"); break;
    case PortOpenFailure::Kind::NoPermission: reason = QStringLiteral("denied"); break;
    case PortOpenFailure::Kind::InUse: reason = QStringLiteral("busy"); break;
    case PortOpenFailure::Kind::Other: reason = QStringLiteral("other"); break;
    }
    return make(Code::PortOpen, {{QStringLiteral("port"), failure.port},
                                 {QStringLiteral("reason"), reason},
                                 {QStringLiteral("error"), failure.detail}});
}

} // namespace Station
