#include "peerprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>

namespace {

void dieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

bool waitForOutput(QProcess &process, QProcess::ProcessChannel channel, const QByteArray &text, int ms,
                   QByteArray &seen)
{
    process.setReadChannel(channel);
    QDeadlineTimer deadline(ms);
    if (!process.waitForStarted(ms))
        return false;
    while (!seen.contains(text)) {
        if (deadline.hasExpired() || process.state() != QProcess::Running)
            return false;
        process.waitForReadyRead(100);
        seen += process.readAll();
    }
    return true;
}

void finish(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// The interpreter that sees Debian's python3-pymodbus: the system one
// first, since a python3 earlier on PATH (a virtual environment, pyenv)
// may lack the system's packages.
QString pythonWithPymodbus()
{
    static const QString found = [] {
        QStringList candidates{QStringLiteral("/usr/bin/python3")};
        const QString onPath = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (!onPath.isEmpty())
            candidates << onPath;
        for (const QString &python : candidates) {
            QProcess probe;
            probe.start(python, {QStringLiteral("-c"), QStringLiteral("import pymodbus, serial_asyncio")});
            if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
                return python;
        }
        return QString();
    }();
    return found;
}

} // namespace

ChildProcess::ChildProcess()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    setChildProcessModifier(dieWithParent);
#endif
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
void ChildProcess::setupChildProcess()
{
    dieWithParent();
}
#endif

QString PeerProcess::unavailable()
{
    if (pythonWithPymodbus().isEmpty())
        return QStringLiteral("no python3 that imports pymodbus and serial_asyncio "
                              "(scripts/setup installs python3-pymodbus and python3-serial-asyncio)");
    return QString();
}

PeerProcess::PeerProcess(const QStringList &options)
{
    const QString python = pythonWithPymodbus();
    if (python.isEmpty()) {
        why = unavailable();
        return;
    }
    const QString socatPath = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socatPath.isEmpty()) {
        why = QStringLiteral("socat is not installed");
        return;
    }
    const QString peerEnd = dir.filePath(QStringLiteral("peer"));
    socat.start(socatPath,
                     {"-d", "-d", "pty,raw,echo=0,link=" + peerEnd, "pty,raw,echo=0,link=" + portName()});
    QByteArray said;
    if (!waitForOutput(socat, QProcess::StandardError, "starting data transfer loop", 20000, said)) {
        why = QStringLiteral("socat did not make the pty pair: ") + QString::fromLocal8Bit(said);
        return;
    }
    peer.start(python,
                     QStringList{QStringLiteral(ZETRA_PEER_SCRIPT), "--port", peerEnd, "--state-file",
                                 dir.filePath(QStringLiteral("state"))}
                         + options);
    said.clear();
    if (!waitForOutput(peer, QProcess::StandardOutput, "ready\n", 30000, said))
        why = QStringLiteral("the peer did not start: ") + QString::fromLocal8Bit(errorOutput());
}

PeerProcess::~PeerProcess()
{
    stop();
}

void PeerProcess::stop()
{
    finish(peer);
    errorOutput();
    finish(socat);
}

QMap<int, int> PeerProcess::holding() const
{
    QMap<int, int> registers;
    QFile file(dir.filePath(QStringLiteral("state")));
    if (!file.open(QIODevice::ReadOnly))
        return registers;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2)
            registers.insert(fields.at(0).toInt(), fields.at(1).toInt());
    }
    return registers;
}

QByteArray PeerProcess::errorOutput()
{
    peerErrors += peer.readAllStandardError();
    return peerErrors;
}
