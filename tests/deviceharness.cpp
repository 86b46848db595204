#include "deviceharness.h"
#include "linesettings.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList DeviceHarness::redLines() const
{
    const QColor red(255, 0, 0, 255);
    QStringList lines;
    for (const UpdaterLine &line : updaterLog)
        if (line.color == red)
            lines << line.text;
    return lines;
}

bool DeviceHarness::connectTo(const QString &port)
{
    const int linesBefore = log.size();
    const int statesBefore = connectedStates.size();
    top->connectToDevice(port, Line::kBaudRate);
    // Every attempt ends with a state report after its verdict line.
    waitUntil(
        [&] {
            const QStringList tail = log.mid(linesBefore);
            return connectedStates.size() > statesBefore
                   && (tail.contains(QStringLiteral("Устройство подключено"))
                       || tail.contains(QStringLiteral("Ошибка подключения"))
                       || tail.contains(QStringLiteral("Ошибка подключения к порту")));
        },
        20000);
    return log.mid(linesBefore).contains(QStringLiteral("Устройство подключено"));
}
