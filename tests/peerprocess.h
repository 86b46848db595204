#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A child process that gets SIGTERM when the thread that started it ends,
// so a test that crashes or is killed by ctest's time-out leaves nothing
// behind.
class ChildProcess : public QProcess
{
public:
    ChildProcess();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
protected:
    void setupChildProcess() override;
#endif
};

// A Modbus slave this project did not write: tests/peer/zetra_peer.py
// (pymodbus) on one end of a socat pseudo-terminal pair, the other end for
// the master. Both processes go when the object goes, and with the test
// process should it die first.
class PeerProcess
{
public:
    // Why the peer cannot run here (pymodbus or its serial transport is not
    // installed), or empty when it can.
    static QString unavailable();

    explicit PeerProcess(const QStringList &options = {});
    ~PeerProcess();
    PeerProcess(const PeerProcess &) = delete;
    PeerProcess &operator=(const PeerProcess &) = delete;

    // Empty once the peer listens; otherwise why it does not.
    QString failure() const { return why; }
    // The master's end of the line.
    QString portName() const { return dir.filePath(QStringLiteral("master")); }
    // The holding registers as the peer last wrote them after a write.
    QMap<int, int> holding() const;
    // What the peer said on standard error so far.
    QByteArray errorOutput();
    void stop();

private:
    QTemporaryDir dir;
    ChildProcess socat;
    ChildProcess peer;
    QString why;
    QByteArray peerErrors;
};
