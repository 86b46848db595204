#include "linetrace.h"

#include "devicesession.h"
#include "frametext.h"
#include "linewording.h"
#include "serialtop.h"

#include <QCoreApplication>

#include <cstdio>

LineTrace::LineTrace(double start)
    : startMs(start)
{
}

bool LineTrace::toFile(const QString &path, QString &error)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        error = QStringLiteral("cannot write the trace file %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void LineTrace::follow(DeviceSession &session)
{
    connect(session.device(), &SerialTop::lineFrames, this, &LineTrace::write);
    connect(session.device(), &SerialTop::lineCounters, this, [this](const LineCounters &c) { counters = c; });
}

QString LineTrace::line(const LineFrame &frame) const
{
    QString direction = QStringLiteral("--");
    if (frame.direction == LineFrame::Direction::Tx)
        direction = QStringLiteral("tx");
    else if (frame.direction == LineFrame::Direction::Rx)
        direction = QStringLiteral("rx");
    QString meaning = LineWording::describe(frame);
    if (frame.roundTripMs >= 0)
        meaning += QStringLiteral(" (%1 ms)").arg(frame.roundTripMs, 0, 'f', 1);
    return QStringLiteral("%1\t%2\t%3\t%4")
        .arg(frame.timeMs - startMs, 0, 'f', 1)
        .arg(direction, FrameText::hex(frame.bytes), meaning);
}

void LineTrace::write(const QVector<LineFrame> &frames)
{
    if (!enabled())
        return;
    QString text;
    for (const LineFrame &frame : frames)
        text += line(frame) + QLatin1Char('\n');
    writeText(text);
}

void LineTrace::writeText(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (toStderr) {
        std::fputs(bytes.constData(), stderr);
        std::fflush(stderr);
    }
    if (file.isOpen())
        file.write(bytes);
}

QJsonObject LineTrace::finish(DeviceSession &session, QString &error)
{
    session.flushLine();
    // The frames and counters just handed out are queued to this thread.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (enabled())
        writeText(LineWording::describeCounters(counters) + QLatin1Char('\n'));
    if (file.isOpen()) {
        if (!file.flush() || file.error() != QFileDevice::NoError)
            error = QStringLiteral("the trace file %1 is incomplete: %2").arg(file.fileName(), file.errorString());
        file.close();
    }
    return countersJson(counters);
}

QJsonObject LineTrace::countersJson(const LineCounters &c)
{
    QJsonObject object{
        {QStringLiteral("requests"), c.requests},     {QStringLiteral("answers"), c.answers},
        {QStringLiteral("time_outs"), c.timeOuts},    {QStringLiteral("bad_crc"), c.badCrc},
        {QStringLiteral("refused"), c.refusals},      {QStringLiteral("stray"), c.stray},
        {QStringLiteral("late"), c.late},             {QStringLiteral("port_errors"), c.portErrors},
    };
    // No answer timed, no figure: null rather than a misleading zero.
    object.insert(QStringLiteral("round_trip_mean_ms"), c.roundTrips > 0 ? QJsonValue(c.roundTripMeanMs()) : QJsonValue());
    object.insert(QStringLiteral("round_trip_max_ms"), c.roundTrips > 0 ? QJsonValue(c.roundTripMaxMs) : QJsonValue());
    return object;
}
