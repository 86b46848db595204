// flash: checks the image before anything is sent, then lets the device
// object write it, showing its progress; a stop signal ends the update
// between blocks.
#include "command.h"

#include "devicesession.h"
#include "firmwareimage.h"
#include "report.h"
#include "serialtop.h"
#include "wording.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#endif

using Outcome = DeviceSession::Outcome;

namespace {

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(STDERR_FILENO) != 0;
#elif defined(Q_OS_WIN)
    return _isatty(_fileno(stderr)) != 0;
#else
    return false;
#endif
}

// Progress on stderr: a bar on a terminal, otherwise the whole percentages
// of the writing, one a line, for a log. The device object says which step
// runs and counts the erase and then the writing from 0 to 100 each.
class ProgressDisplay
{
public:
    ProgressDisplay()
        : terminal(stderrIsTerminal())
    {
    }

    void setStep(FirmwareOutcome::Step step) { current = step; }

    void update(int percent)
    {
        const bool writing = current == FirmwareOutcome::Step::Program;
        if (terminal) {
            constexpr int kWidth = 40;
            const int filled = percent * kWidth / 100;
            std::fprintf(stderr, "\r%-6s [%s%s] %3d%%", writing ? "write" : "erase",
                         QByteArray(filled, '#').constData(), QByteArray(kWidth - filled, '.').constData(), percent);
            barShown = true;
        } else if (writing && percent != lastPrinted) {
            std::fprintf(stderr, "%d\n", percent);
            lastPrinted = percent;
        } else if (current == FirmwareOutcome::Step::Erase) {
            // A log that shows nothing for the whole erase looks hung.
            if (!eraseClock.isValid())
                eraseClock.start();
            if (eraseClock.elapsed() >= nextAliveMs) {
                std::fprintf(stderr, "erasing... %lld s\n", static_cast<long long>(eraseClock.elapsed() / 1000));
                nextAliveMs += kAliveEveryMs;
            }
        }
        std::fflush(stderr);
    }

    // Ends the bar's line so that messages start on a line of their own.
    void close()
    {
        if (barShown)
            std::fputs("\n", stderr);
        barShown = false;
    }

private:
    static constexpr qint64 kAliveEveryMs = 3000;

    bool terminal;
    QElapsedTimer eraseClock;
    qint64 nextAliveMs = kAliveEveryMs;
    FirmwareOutcome::Step current = FirmwareOutcome::Step::None;
    bool barShown = false;
    int lastPrinted = -1;
};

QString problemText(FirmwareImage::Problem problem, qint64 size)
{
    switch (problem) {
    case FirmwareImage::Problem::Length:
        return QStringLiteral("its length %1 is not a multiple of 4").arg(size);
    case FirmwareImage::Problem::Size:
        return QStringLiteral("%1 bytes, more than the %2 a device takes").arg(size).arg(FirmwareImage::kMaxSize);
    case FirmwareImage::Problem::Checksum:
        return QStringLiteral("its checksum words do not match its contents");
    case FirmwareImage::Problem::None:
        break;
    }
    return QString();
}

// Why the step failed: the request's fate, or the device's own verdict.
QString failureText(const FirmwareOutcome &outcome)
{
    QString where = Wording::firmwareStep(outcome.failedStep);
    if (outcome.failedStep == FirmwareOutcome::Step::Program)
        where += QStringLiteral(" the block at 0x%1").arg(outcome.blockOffset, 8, 16, QLatin1Char('0'));
    if (!outcome.request.ok())
        return QStringLiteral("%1: %2").arg(where, Wording::outcome(outcome.request));
    switch (outcome.failedStep) {
    case FirmwareOutcome::Step::FlashCheck: return QStringLiteral("%1: the device reports the flash not ready").arg(where);
    case FirmwareOutcome::Step::Erase: return QStringLiteral("%1: the flash was not ready in time").arg(where);
    default: return QStringLiteral("%1: the device reports a failure").arg(where);
    }
}

const char *const kNoCompleteFirmware =
    "the device holds no complete firmware until an update runs to the end: connect again and flash again";

class FlashCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override
    {
        if (invocation.arguments.size() != 1) {
            error = QStringLiteral("give exactly one IMAGE");
            return false;
        }
        const QFileInfo info(invocation.arguments.first());
        path = info.absoluteFilePath();
        QFile file(path);
        if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(path, info.isDir() ? QStringLiteral("a folder") : file.errorString());
            return false;
        }
        size = file.size();
        // Too large is known from the size alone; nothing that big is read.
        FirmwareImage::Problem problem = FirmwareImage::Problem::Size;
        if (size <= FirmwareImage::kMaxSize)
            problem = FirmwareImage::check(file.readAll());
        if (problem != FirmwareImage::Problem::None) {
            error = QStringLiteral("%1 is not a valid image: %2").arg(path, problemText(problem, size));
            return false;
        }
        return true;
    }

    int run(DeviceSession &session, Report &report) override
    {
        SerialTop *top = session.device();
        QObject context;
        ProgressDisplay progress;
        FirmwareOutcome ended;
        bool finished = false;
        int stopping = 0; // the stop signal's number once one came
        QObject::connect(top, &SerialTop::firmwareUpdateStepStarted, &context,
                         [&](FirmwareOutcome::Step step) { progress.setStep(step); });
        QObject::connect(top, &SerialTop::progressChanged, &context, [&](int percent) { progress.update(percent); });
        QObject::connect(top, &SerialTop::firmwareUpdateEnded, &context, [&](const FirmwareOutcome &outcome) {
            ended = outcome;
            finished = true;
        });
        QObject::connect(&session, &DeviceSession::stopRequested, &context, [&](int signalNumber) {
            if (stopping)
                return;
            stopping = signalNumber;
            top->abortFirmwareUpdate();
            progress.close();
            Report::message(QStringLiteral("stopping the update before the next block..."));
        });
        top->firmwareUpdate(path);
        // Not interruptible: a stop signal asks the update to stop and the
        // wait goes on until the device object says how it ended.
        const Outcome outcome = session.waitFor([&] { return finished; }, 0, false, false);
        progress.close();
        report.set(QStringLiteral("image"), path);
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("flash"));
        if (ended.ok()) {
            report.set(QStringLiteral("bytes"), size);
            if (stopping)
                Report::message(QStringLiteral("the update had finished before the stop took effect"));
            Report::message(QStringLiteral("firmware written: %1 bytes from %2").arg(size).arg(path));
            return report.finish(Exit::Done);
        }
        report.set(QStringLiteral("step"), Wording::firmwareStep(ended.failedStep));
        report.set(QStringLiteral("erase_began"), ended.eraseBegan);
        QString why = failureText(ended);
        if (ended.eraseBegan)
            why += QStringLiteral("; ") + QLatin1String(kNoCompleteFirmware);
        if (ended.request.failure == RequestOutcome::Failure::Interrupted)
            return report.finish(Exit::interrupted(stopping), QStringLiteral("firmware update interrupted: %1").arg(why));
        if (ended.failedStep == FirmwareOutcome::Step::File || ended.failedStep == FirmwareOutcome::Step::Image)
            return report.finish(Exit::BadInput, QStringLiteral("firmware update refused: %1").arg(why));
        // The device's own verdict is not the line's fault.
        return report.finish(ended.deviceFault() ? Exit::Verdict : Exit::Communication,
                             QStringLiteral("firmware update failed at %1").arg(why));
    }

private:
    QString path;
    qint64 size = 0;
};

} // namespace

std::unique_ptr<Command> makeFlash() { return std::make_unique<FlashCommand>(); }
