#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own, as the simulator is: a new cluster
// in a temporary folder, on a free local port, with trust authentication for
// the user "zetra". Under root the cluster and the server run as the system
// user postgres, since initdb refuses root. The server is told to stop if
// the test process dies, and is stopped when the object goes.
class PostgresServer
{
public:
    PostgresServer() = default;
    ~PostgresServer();

    // The folder of initdb and postgres, or empty when none is installed.
    static QString binaries();

    bool init(QString &error);
    bool start(QString &error);
    // A fast shutdown: sessions are cut off as a server going away would.
    bool stop();
    bool isRunning() const { return process.state() == QProcess::Running; }

    bool createDatabase(const QString &name, QString &error);
    QString url(const QString &database) const;
    int port() const { return listenPort; }

private:
    bool runAsServerUser(const QString &program, const QStringList &arguments, QString &error);
    QStringList asServerUser(const QString &program, const QStringList &arguments) const;

    QTemporaryDir dir;
    QString dataDir;
    QProcess process;
    QByteArray log;
    int listenPort = 0;
};
