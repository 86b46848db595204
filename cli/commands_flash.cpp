// flash: checks the image before anything is sent, then lets the device
// object write it, showing its progress; a stop signal ends the update
// between blocks.
#include "command.h"

#include "devicesession.h"
#include "firmwareimage.h"
#include "report.h"
#include "serialtop.h"

#include <QColor>
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

const QColor kFailureColor(255, 0, 0, 255); // the programming log's red lines

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
// of the writing, one a line, for a log. The device object counts the erase
// and then the writing from 0 to 100 each; the writing starts with the
// first 0 after a 100.
class ProgressDisplay
{
public:
    ProgressDisplay()
        : terminal(stderrIsTerminal())
    {
    }

    void update(int percent)
    {
        if (!writing && erased && percent == 0)
            writing = true;
        if (!writing && percent == 100)
            erased = true;
        if (terminal) {
            constexpr int kWidth = 40;
            const int filled = percent * kWidth / 100;
            std::fprintf(stderr, "\r%-6s [%s%s] %3d%%", writing ? "write" : "erase",
                         QByteArray(filled, '#').constData(), QByteArray(kWidth - filled, '.').constData(), percent);
            barShown = true;
        } else if (writing && percent != lastPrinted) {
            std::fprintf(stderr, "%d\n", percent);
            lastPrinted = percent;
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
    bool terminal;
    bool erased = false;
    bool writing = false;
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
        QStringList failures;
        int finished = -1;
        int stopping = 0; // the stop signal's number once one came
        QObject::connect(top, &SerialTop::progressChanged, &context, [&](int percent) { progress.update(percent); });
        QObject::connect(top, &SerialTop::appendLogUpdater, &context,
                         [&](const QString &text, bool, const QColor &color) {
                             if (color == kFailureColor)
                                 failures << text;
                         });
        QObject::connect(top, &SerialTop::firmwareUpdateFinished, &context,
                         [&](bool success) { finished = success; });
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
        const Outcome outcome = session.waitFor([&] { return finished >= 0; }, 0, false);
        progress.close();
        report.set(QStringLiteral("image"), path);
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("flash"));
        if (finished == 1) {
            report.set(QStringLiteral("bytes"), size);
            if (stopping)
                Report::message(QStringLiteral("the update had finished before the stop took effect"));
            Report::message(QStringLiteral("firmware written: %1 bytes from %2").arg(size).arg(path));
            return report.finish(Exit::Done);
        }
        const QString why = failures.join(QStringLiteral("; "));
        if (stopping)
            return report.finish(Exit::interrupted(stopping),
                                 QStringLiteral("firmware update interrupted (%1); the device holds no complete "
                                                "firmware until an update runs to the end")
                                     .arg(why));
        return report.finish(Exit::Verdict, QStringLiteral("firmware update failed: %1").arg(why));
    }

private:
    QString path;
    qint64 size = 0;
};

} // namespace

std::unique_ptr<Command> makeFlash() { return std::make_unique<FlashCommand>(); }
