#include "devicemodel.h"
#include "pseudoterminal.h"
#include "simoptions.h"
#include "simserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void onTerminate(int signal)
{
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool catchTermination()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action{};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        if (::sigaction(signal, &action, nullptr) != 0)
            return false;
    return true;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

void reportFlash(const FlashMemory &flash, const QString &dumpPath)
{
    const bool flag = flash.firmwareFlag();
    std::fprintf(stderr, "firmware flag: %s\n", flag ? "set" : "unset");
    if (dumpPath.isEmpty())
        return;
    if (!writeFile(dumpPath, flash.writtenImage())
        || !writeFile(dumpPath + QStringLiteral(".flag"), flag ? "set\n" : "unset\n"))
        std::fprintf(stderr, "zetra-sim: cannot write %s\n", qPrintable(dumpPath));
}

void reportFaults(const FaultPlan::Tally &tally)
{
    std::fprintf(stderr, "faults: dropped %ld refused %ld corrupt %ld stray %ld split %ld lost %ld late %ld\n",
                 tally.dropped, tally.refused, tally.corrupt, tally.stray, tally.split, tally.lost, tally.late);
}

void dumpState(const DeviceModel &model, const QString &path)
{
    if (path.isEmpty())
        return;
    QByteArray text;
    for (const DeviceModel::Register &r : model.holdingRegisters())
        text += QByteArray::number(r.address) + ' ' + QByteArray::number(r.value) + '\n';
    if (!writeFile(path, text))
        std::fprintf(stderr, "zetra-sim: cannot write %s\n", qPrintable(path));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zetra-sim"));

    SimOptions options;
    QString message;
    switch (parseOptions(QCoreApplication::arguments(), options, message)) {
    case ParseResult::Help:
        std::fputs(qPrintable(message), stdout);
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "zetra-sim: %s\n", qPrintable(message));
        return 2;
    case ParseResult::Run:
        break;
    }

    // Before anything else, so that even a run that fails early can be replayed.
    std::fprintf(stderr, "seed %llu\n", static_cast<unsigned long long>(options.line.faults.seed));
    std::fflush(stderr);

    PseudoTerminal pty;
    if (!pty.open() || (!options.link.isEmpty() && !pty.makeLink(options.link))) {
        std::fprintf(stderr, "zetra-sim: %s\n", qPrintable(pty.errorText()));
        return 1;
    }
    if (!catchTermination()) {
        std::perror("zetra-sim: signals");
        return 1;
    }
    QSocketNotifier terminated(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&terminated, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    DeviceModel model(options.model);
    QFile distanceLog(options.distanceLog);
    if (!options.distanceLog.isEmpty()) {
        if (!distanceLog.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            std::fprintf(stderr, "zetra-sim: cannot write %s\n", qPrintable(options.distanceLog));
            return 1;
        }
        // Every digit a float holds, flushed as it goes: a test reads it
        // while the simulator still runs.
        model.setDistanceObserver([&distanceLog](float metres) {
            distanceLog.write(QByteArray::number(double(metres), 'g', 9) + '\n');
            distanceLog.flush();
        });
    }
    SimServer server(pty.masterFd(), model, options.line);

    QObject::connect(&server, &SimServer::lineVanished, &app, [&pty, &app] {
        pty.close();
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::fprintf(stderr, "line closed at %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
        app.quit();
    });

    // Whoever started us waits for this line before opening the port.
    std::printf("%s\n", qPrintable(pty.slavePath()));
    std::fflush(stdout);

    app.exec();

    reportFlash(model.flash(), options.flashDump);
    reportFaults(server.faultTally());
    dumpState(model, options.stateDump);
    pty.removeLink();
    return 0;
}
