#pragma once

#include "firmwareoutcome.h"
#include "portopenfailure.h"
#include "requestoutcome.h"

#include <QJsonObject>
#include <QString>

// Why a step or a run did not pass, as facts a program can count: a code
// from a fixed list and the fields that code carries. The records keep it;
// each front end words it in its reader's language, and a plant groups,
// filters and charts by the code.
namespace Station {

struct Cause
{
    // The codes a record may hold, and their fields. Stored by name, so a
    // name never changes once written.
    enum class Code {
        None,
        Limit,        // "limit": quantity, value, low, high
        DeviceFault,  // "device_fault": fault ("selftest", "flash")
        NotReadBack,  // "not_read_back": parameter, written, read
        NoAnswer,     // "no_answer": function, address[, parameter][, in_a_row]
        Refused,      // "refused": function, address, exception[, parameter]
        PortLost,     // "port_lost": port, error (the system's text)
        PortClosed,   // "port_closed": sent
        PortOpen,     // "port_open": port, reason ("missing", "denied", "busy", "other"), error
        QueueFull,    // "queue_full"
        Firmware,     // "firmware": stage, complete[, offset][, request: a cause]
        NoData,       // "no_data": quantity (a measurement that brought no distance back)
        TimedOut,     // "timed_out": waiting ("connect", "report", "device")
        Interrupted,  // "interrupted": by ("operator", "signal")
        Abandoned,    // "abandoned": the station process died with the run open
        Records,      // "records": error (the store's own text)
        Text,         // "text": text, a reason a record written before causes kept
    };

    Code code = Code::None;
    QJsonObject fields;

    bool isNone() const { return code == Code::None; }
    QString codeName() const { return nameOf(code); }
    // Shorthands for the fields every front end reads.
    QString text(const char *field) const { return fields.value(QLatin1String(field)).toString(); }
    double number(const char *field) const { return fields.value(QLatin1String(field)).toDouble(); }
    bool has(const char *field) const { return fields.contains(QLatin1String(field)); }

    // {"code": "refused", "function": 3, …}; an empty object for none.
    QJsonObject toJson() const;
    // Back from toJson(); an unknown code reads as text, so a record written
    // by a later program still opens.
    static Cause fromJson(const QJsonObject &object);

    static QString nameOf(Code code);
    static bool codeFromName(const QString &name, Code &code);
    // Every code's name but none's, in the list's order.
    static QStringList codeNames();

    static Cause limit(const QString &quantity, double value, double low, double high);
    static Cause deviceFault(const QString &fault);
    static Cause noData(const QString &quantity);
    static Cause timedOut(const QString &waiting);
    static Cause interrupted(const QString &by);
    static Cause abandoned();
    static Cause records(const QString &error);
    static Cause text(const QString &legacyText);
    // From a request's outcome; parameter names the parameter it was for.
    static Cause fromRequest(const RequestOutcome &outcome, const QString &parameter = QString());
    static Cause fromFirmware(const FirmwareOutcome &outcome);
    static Cause fromPortOpen(const PortOpenFailure &failure);
    // Back to the request's outcome, for the words each front end already
    // has for one; false for a cause that is no request's.
    bool toRequest(RequestOutcome &outcome) const;
    // A firmware cause's failed request; none when the device said no.
    Cause inner() const;

    // Who stopped a unit, as an interrupted cause says.
    static const QString kByOperator;
    static const QString kBySignal;

    bool operator==(const Cause &other) const { return code == other.code && fields == other.fields; }
    bool operator!=(const Cause &other) const { return !(*this == other); }

private:
    static Cause make(Code code, const QJsonObject &fields = QJsonObject());
};

} // namespace Station
