#pragma once

#include "linemonitor.h"

#include <QFile>
#include <QJsonObject>
#include <QObject>
#include <QString>

class DeviceSession;

// --trace and --trace-file: one tab-separated line per frame (milliseconds
// since the start, tx or rx, the bytes in hex, the meaning), and at the end
// the line's counters in one "line:" summary.
class LineTrace : public QObject
{
    Q_OBJECT
public:
    // startMs: the program's start on the monitor's clock.
    explicit LineTrace(double startMs);

    void toStandardError() { toStderr = true; }
    // False with the reason when the file cannot be opened for writing.
    bool toFile(const QString &path, QString &error);
    bool enabled() const { return toStderr || file.isOpen(); }

    // Follows the frames and counters of the session's device object.
    void follow(DeviceSession &session);

    // Brings in what the device object recorded so far, writes the summary
    // and returns the counters as a JSON object. An error text when the
    // trace file could not be written whole.
    QJsonObject finish(DeviceSession &session, QString &error);

    static QJsonObject countersJson(const LineCounters &counters);
    QString line(const LineFrame &frame) const;

private:
    void write(const QVector<LineFrame> &frames);
    void writeText(const QString &text);

    double startMs;
    bool toStderr = false;
    QFile file;
    LineCounters counters;
};
