#pragma once

#include "devicethread.h"
#include "portopenfailure.h"
#include "requestoutcome.h"
#include "stopsignals.h"

#include <QObject>
#include <QString>

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
    // The request failure that ended the latest wait, if one did.
    const RequestOutcome &failure() const { return failureOutcome; }

    // Opens the port and lets the device object probe the device.
    Outcome open(const QString &port);

    // Runs the event loop until done() holds. timeoutMs 0 waits without a
    // bound (the device object's own waits still end every request). Not
    // interruptible: a stop signal only emits stopRequested. A failed request
    // or a lost connection ends the wait unless the awaited report itself
    // tells the failures (endOnFailure false).
    Outcome waitFor(const std::function<bool()> &done, int timeoutMs, bool interruptible = true,
                    bool endOnFailure = true);

    // Asks the device object to hand out its line frames and counters now;
    // returns once it has, so they are queued to this thread.
    void flushLine();

    // Exit code for an outcome other than Done, after telling the user why.
    int fail(Outcome outcome, Report &report, const QString &what);

signals:
    void stopRequested(int signalNumber);

private:
    void onStop(int signalNumber);
    void onRequestFailed(const RequestOutcome &outcome);
    void onConnectedChanged(bool state);
    void shutdown();

    DeviceThread thread;
    SerialTop *top = nullptr;
    StopSignals stops;
    QEventLoop *loop = nullptr;
    bool interruptibleWait = true;
    bool failureEndsWait = true;

    bool opened = false;
    bool failed = false;
    QString failureText;
    RequestOutcome failureOutcome;
    bool openFailed = false;
    PortOpenFailure openFailure;
    int stopSignal = 0;
};
