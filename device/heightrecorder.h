#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QString>

// Writes every distance reading to a CSV file while recording is on: a
// header line "time_s;distance_m;period", ';' between fields and '.' as the
// decimal point. The device object reads the distance and then the period of
// the same measurement, so a row is written once its period has arrived, or
// without a period when the next distance comes first or recording stops.
class HeightRecorder
{
public:
    static const char *const kHeader;

    // Creates (or empties) the file and writes the header.
    bool start(const QString &path);
    bool addDistance(double metres);
    bool addPeriod(double period);
    // Writes a row still waiting for its period and closes the file. False
    // when any write of this recording failed (errorString says why).
    bool stop();

    // From a successful start until stop, also after a failed write.
    bool isRecording() const { return active; }
    int rowCount() const { return rows; }
    QString fileName() const { return file.fileName(); }
    QString errorString() const { return error; }

private:
    bool writeRow(const QString &period);
    bool fail();

    QFile file;
    QElapsedTimer clock;
    bool active = false;
    bool pending = false;
    double pendingSeconds = 0;
    double pendingMetres = 0;
    int rows = 0;
    QString error;
};
