#pragma once

// How a run's facts are written into their columns, for every file of
// SqlRecordStore that writes them: one step at a time as a run goes, or a
// batch of whole runs sent to the server. Private to station/.
#include "cause.h"
#include "linecounters.h"
#include "runrecord.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace RecordColumns {

// The filter as SQL on the runs table's own columns: a condition to follow
// "WHERE 1 = 1" and its values. Offset and limit are the caller's.
void whereFor(const Station::RecordFilter &filter, QString &where, QVariantList &values);

// A cause as its columns keep it: the code, to count and filter by, and the
// whole as JSON; a sentence from before causes also stays in reason.
inline QVariant causeCode(const Station::Cause &cause)
{
    return cause.isNone() ? QVariant() : QVariant(cause.codeName());
}

inline QVariant causeText(const Station::Cause &cause)
{
    return cause.isNone() ? QVariant()
                          : QVariant(QString::fromUtf8(QJsonDocument(cause.toJson()).toJson(QJsonDocument::Compact)));
}

inline QVariant causeReason(const Station::Cause &cause)
{
    return cause.code == Station::Cause::Code::Text ? QVariant(cause.text("text")) : QVariant();
}

inline QVariant timeValue(const QDateTime &time)
{
    return time.isValid() ? QVariant(time.toUTC().toString(Qt::ISODateWithMs)) : QVariant();
}

inline QVariant numberOrNull(const QJsonValue &value)
{
    return value.isDouble() ? QVariant(value.toDouble()) : QVariant();
}

// A measured entry as the columns hold it: {"value": x, "low": l, "high": h}
// with numbers goes in value, low and high; anything else is kept whole in
// detail, so nothing the station measured is lost or reshaped.
inline bool isPlainEntry(const QJsonValue &entry)
{
    if (!entry.isObject())
        return false;
    const QJsonObject object = entry.toObject();
    if (!object.value(QLatin1String("value")).isDouble())
        return false;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const bool known = it.key() == QLatin1String("value") || it.key() == QLatin1String("low")
                           || it.key() == QLatin1String("high");
        if (!known || !it.value().isDouble())
            return false;
    }
    return true;
}

inline QString detailText(const QJsonValue &entry)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{entry}).toJson(QJsonDocument::Compact));
}

// A run's line counters in the runs table, in this order; every column NULL
// for a run recorded before they were kept.
inline const QStringList &lineColumns()
{
    static const QStringList columns{
        QStringLiteral("line_requests"),   QStringLiteral("line_answers"),     QStringLiteral("line_time_outs"),
        QStringLiteral("line_bad_crc"),    QStringLiteral("line_refused"),     QStringLiteral("line_stray"),
        QStringLiteral("line_late"),       QStringLiteral("line_port_errors"), QStringLiteral("line_round_trips"),
        QStringLiteral("line_round_trip_sum_ms"), QStringLiteral("line_round_trip_max_ms")};
    return columns;
}

inline QVariantList lineValues(const std::optional<LineCounters> &line)
{
    if (!line)
    {
        QVariantList nulls;
        for (int i = 0; i < lineColumns().size(); ++i)
            nulls << QVariant();
        return nulls;
    }
    const LineCounters &c = *line;
    return {c.requests, c.answers, c.timeOuts, c.badCrc, c.refusals, c.stray,
            c.late,     c.portErrors, c.roundTrips, c.roundTripSumMs, c.roundTripMaxMs};
}

// The counters from a row whose columns start at first, in lineColumns()'s order.
inline std::optional<LineCounters> lineFrom(const QSqlQuery &row, int first)
{
    if (row.value(first).isNull())
        return std::nullopt;
    LineCounters c;
    int *const counts[] = {&c.requests, &c.answers, &c.timeOuts, &c.badCrc, &c.refusals,
                           &c.stray,    &c.late,    &c.portErrors, &c.roundTrips};
    for (int i = 0; i < 9; ++i)
        *counts[i] = row.value(first + i).toInt();
    c.roundTripSumMs = row.value(first + 9).toDouble();
    c.roundTripMaxMs = row.value(first + 10).toDouble();
    return c;
}

} // namespace RecordColumns
