#pragma once

#include "serialtop.h"

#include <QColor>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <functional>

// Processes events until condition holds; false when timeoutMs ran out.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);

// A whole file, or nothing when it cannot be read (a dump the simulator did not write).
QByteArray readFile(const QString &path);

// Runs a SerialTop in its own thread as the application does, and collects
// what it reports in the test's thread through queued connections.
class DeviceHarness : public QObject
{
    Q_OBJECT
public:
    DeviceHarness()
    {
        top = new SerialTop;
        top->moveToThread(&thread);
        connect(&thread, &QThread::started, top, &SerialTop::init);
        // As in the application: deleted in its own thread once every nested
        // wait has unwound, never while a send loop still runs on its stack.
        connect(&thread, &QThread::finished, top, &QObject::deleteLater);
        connect(top, &SerialTop::appendLog, this, [this](const QString &s) { log << s; });
        connect(top, &SerialTop::appendLogUpdater, this,
                [this](const QString &s, bool newLine, const QColor &color) {
                    updaterLog << UpdaterLine{s, newLine, color};
                });
        connect(top, &SerialTop::connectedChanged, this, [this](bool state) { connectedStates << state; });
        thread.start();
    }

    ~DeviceHarness() override
    {
        thread.quit();
        thread.wait();
    }

    // Connects and waits for the verdict; true when the device answered.
    bool connectTo(const QString &port);

    int count(const QString &line) const { return log.count(line); }

    // The programming log's red lines: the failure marks, in order.
    QStringList redLines() const;

    struct UpdaterLine
    {
        QString text;
        bool newLine;
        QColor color;
    };

    QThread thread;
    SerialTop *top = nullptr;
    QStringList log;
    QVector<UpdaterLine> updaterLog;
    QVector<bool> connectedStates;
};
