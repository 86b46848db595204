#include "devicesession.h"

#include "linesettings.h"
#include "report.h"
#include "serialtop.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

namespace {
// A wait in the device thread ends as soon as the thread is asked to quit,
// so this is only a safety net.
constexpr unsigned long kShutdownWaitMs = 10000;
// The probe fails by itself within the device object's time-out; this bound
// only catches a verdict that never comes.
constexpr int kOpenTimeoutMs = 20000;
} // namespace

DeviceSession::DeviceSession()
{
    top = new SerialTop;
    top->moveToThread(&thread);
    connect(&thread, &QThread::started, top, &SerialTop::init);
    // Deleted in its own thread once every nested wait has unwound.
    connect(&thread, &QThread::finished, top, &QObject::deleteLater);
    connect(top, &SerialTop::requestFailed, this, &DeviceSession::onRequestFailed);
    connect(top, &SerialTop::connectedChanged, this, &DeviceSession::onConnectedChanged);
    connect(top, &SerialTop::logError, this, [this](const QString &text) {
        // The first error of a failed open names its cause; closing the
        // port that never opened adds more after it.
        if (!opened && portError.isEmpty())
            portError = text;
    });
    connect(&stops, &StopSignals::stopRequested, this, &DeviceSession::onStop);
    thread.start();
}

DeviceSession::~DeviceSession()
{
    shutdown();
}

void DeviceSession::shutdown()
{
    // As the window does: nothing more reaches us, the port closes so a
    // wait for an answer ends at once, then every loop of the thread ends.
    disconnect(top, nullptr, this, nullptr);
    top->disconnectFromPort();
    thread.requestInterruption();
    thread.quit();
    if (!thread.wait(kShutdownWaitMs))
        Report::message(QStringLiteral("the device thread did not stop in time"));
}

DeviceSession::Outcome DeviceSession::open(const QString &port)
{
    bool answered = false;
    bool verdict = false;
    const QMetaObject::Connection connection =
        connect(top, &SerialTop::connectedChanged, this, [&](bool state) {
            answered = true;
            verdict = state;
        });
    top->connectToDevice(port, Line::kBaudRate);
    const Outcome outcome = waitFor([&] { return answered; }, kOpenTimeoutMs);
    disconnect(connection);
    if (outcome == Outcome::Done && !verdict) {
        failed = true;
        failureText = portError.isEmpty() ? QStringLiteral("the device on %1 did not answer the probe").arg(port)
                                          : QStringLiteral("cannot open %1: %2").arg(port, portError);
        return Outcome::Failed;
    }
    if (outcome == Outcome::Failed)
        failureText = QStringLiteral("the device on %1 did not answer the probe: %2").arg(port, failureText);
    opened = outcome == Outcome::Done;
    return outcome;
}

DeviceSession::Outcome DeviceSession::waitFor(const std::function<bool()> &done, int timeoutMs, bool interruptible)
{
    interruptibleWait = interruptible;
    auto settled = [&] {
        return failed || (interruptible && stopSignal != 0) || done();
    };
    bool timedOut = false;
    if (!settled()) {
        QEventLoop waitLoop;
        loop = &waitLoop;
        // Checked each time the queued reports are all handled, so the wait
        // ends with the report that completes it, without polling.
        const QMetaObject::Connection check =
            connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &waitLoop,
                    [&] {
                        if (settled())
                            waitLoop.quit();
                    });
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &waitLoop, [&] {
            timedOut = true;
            waitLoop.quit();
        });
        if (timeoutMs > 0)
            timer.start(timeoutMs);
        waitLoop.exec();
        disconnect(check);
        loop = nullptr;
    }
    interruptibleWait = true;
    if (failed)
        return Outcome::Failed;
    if (done())
        return Outcome::Done;
    if (interruptible && stopSignal != 0)
        return Outcome::Interrupted;
    return timedOut ? Outcome::TimedOut : Outcome::Done;
}

void DeviceSession::flushLine()
{
    if (!thread.isRunning())
        return;
    SerialTop *device = top;
    QMetaObject::invokeMethod(top, [device] { device->flushLineMonitor(); }, Qt::BlockingQueuedConnection);
}

int DeviceSession::fail(Outcome outcome, Report &report, const QString &what)
{
    switch (outcome) {
    case Outcome::Done:
        return Exit::Done;
    case Outcome::Failed:
        return report.finish(Exit::Communication, QStringLiteral("%1: %2").arg(what, failureText));
    case Outcome::TimedOut:
        return report.finish(Exit::Communication, QStringLiteral("%1: the device did not finish in time").arg(what));
    case Outcome::Interrupted:
        return report.finish(Exit::interrupted(stopSignal), QStringLiteral("%1: interrupted").arg(what));
    }
    return Exit::Communication;
}

void DeviceSession::onStop(int signalNumber)
{
    if (stopSignal == 0)
        stopSignal = signalNumber;
    emit stopRequested(signalNumber);
    if (loop && interruptibleWait)
        loop->quit();
}

void DeviceSession::onRequestFailed(const QString &reason)
{
    if (failed)
        return;
    failed = true;
    failureText = reason;
    if (loop)
        loop->quit();
}

void DeviceSession::onConnectedChanged(bool state)
{
    if (state || !opened || failed)
        return;
    failed = true;
    failureText = QStringLiteral("the connection to the device was lost");
    if (loop)
        loop->quit();
}
