#pragma once

#include "stopsignals.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

class QEventLoop;
class Report;
class SerialTop;

// The device object in its own thread, as the window runs it, plus the
// waits a command needs: until its own condition holds, a request fails,
// the port is lost, or a stop signal arrives.
class DeviceSession : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Done, Failed, Interrupted, TimedOut };

    DeviceSession();
    ~DeviceSession() override;

    SerialTop *device() const { return top; }

    // Opens the port and lets the device object probe the device.
    Outcome open(const QString &port);

    // Runs the event loop until done() holds. timeoutMs 0 waits without a
    // bound (the device object's own waits still end every request). Not
    // interruptible: a stop signal only emits stopRequested.
    Outcome waitFor(const std::function<bool()> &done, int timeoutMs, bool interruptible = true);

    // Asks the device object to hand out its line frames and counters now;
    // returns once it has, so they are queued to this thread.
    void flushLine();

    // Exit code for an outcome other than Done, after telling the user why.
    int fail(Outcome outcome, Report &report, const QString &what);

signals:
    void stopRequested(int signalNumber);

private:
    void onStop(int signalNumber);
    void onRequestFailed(const QString &reason);
    void onConnectedChanged(bool state);
    void shutdown();

    QThread thread;
    SerialTop *top = nullptr;
    StopSignals stops;
    QEventLoop *loop = nullptr;
    bool interruptibleWait = true;

    bool opened = false;
    bool failed = false;
    QString failureText;
    QString portError;
    int stopSignal = 0;
};
