#include "devicesession.h"

#include "linesettings.h"
#include "report.h"
#include "serialtop.h"
#include "wording.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

namespace {
// The probe fails by itself within the device object's time-out; this bound
// only catches a verdict that never comes.
constexpr int kOpenTimeoutMs = 20000;

QString openFailureText(const PortOpenFailure &failure)
{
    switch (failure.kind) {
    case PortOpenFailure::Kind::NotFound:
        return QStringLiteral("cannot open %1: no such port (%2)").arg(failure.port, failure.detail);
    case PortOpenFailure::Kind::InUse:
        return QStringLiteral("cannot open %1: it is in use by another program (%2)").arg(failure.port, failure.detail);
    case PortOpenFailure::Kind::NoPermission:
        if (failure.onlyRootMayOpen())
            return QStringLiteral("cannot open %1: no permission (%2); the port is open to root alone: hand it to "
                                  "group dialout with a udev rule (%3 in /etc/udev/rules.d/), add the user to that "
                                  "group (sudo usermod -aG dialout $USER), and log in again")
                .arg(failure.port, failure.detail, PortOpenFailure::udevRuleExample());
        return QStringLiteral("cannot open %1: no permission (%2); add the user to group %3, which owns the "
                              "device (sudo usermod -aG %3 $USER), and log in again")
            .arg(failure.port, failure.detail, failure.group);
    case PortOpenFailure::Kind::Other:
        break;
    }
    return QStringLiteral("cannot open %1: %2").arg(failure.port, failure.detail);
}
} // namespace

DeviceSession::DeviceSession()
{
    top = thread.device();
    connect(top, &SerialTop::requestFailed, this, &DeviceSession::onRequestFailed);
    connect(top, &SerialTop::connectedChanged, this, &DeviceSession::onConnectedChanged);
    connect(top, &SerialTop::portOpenFailed, this, [this](const PortOpenFailure &failure) {
        openFailed = true;
        openFailure = failure;
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
    // As the window does: nothing more reaches us, then the thread stops.
    disconnect(top, nullptr, this, nullptr);
    if (!thread.stop())
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
        failureText = openFailed ? openFailureText(openFailure)
                                 : QStringLiteral("the device on %1 did not answer the probe").arg(port);
        return Outcome::Failed;
    }
    if (outcome == Outcome::Failed)
        failureText = QStringLiteral("the device on %1 did not answer the probe: %2").arg(port, failureText);
    opened = outcome == Outcome::Done;
    return outcome;
}

DeviceSession::Outcome DeviceSession::waitFor(const std::function<bool()> &done, int timeoutMs, bool interruptible,
                                              bool endOnFailure)
{
    interruptibleWait = interruptible;
    failureEndsWait = endOnFailure;
    auto settled = [&] {
        return (endOnFailure && failed) || (interruptible && stopSignal != 0) || done();
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
    failureEndsWait = true;
    if (endOnFailure && failed)
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

void DeviceSession::onRequestFailed(const RequestOutcome &outcome)
{
    if (failed)
        return;
    failed = true;
    failureOutcome = outcome;
    failureText = Wording::outcome(outcome);
    if (loop && failureEndsWait)
        loop->quit();
}

void DeviceSession::onConnectedChanged(bool state)
{
    if (state || !opened || failed)
        return;
    failed = true;
    failureText = QStringLiteral("the connection to the device was lost");
    if (loop && failureEndsWait)
        loop->quit();
}
