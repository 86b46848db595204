#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
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
    // A cluster kept in folder from one run to the next (a benchmark's
    // filled data): made there by initdb the first time, used as it is after.
    bool initKept(const QString &folder, QString &error);
    // Server settings (name=value) given to start() beside the usual ones.
    void setSettings(const QStringList &settings) { extraSettings = settings; }
    bool start(QString &error);
    // A fast shutdown: sessions are cut off as a server going away would.
    bool stop();
    bool isRunning() const { return process.state() == QProcess::Running; }

    bool createDatabase(const QString &name, QString &error);
    QString url(const QString &database) const;
    int port() const { return listenPort; }

private:
    bool initCluster(QString &error);
    bool runAsServerUser(const QString &program, const QStringList &arguments, QString &error);
    QStringList asServerUser(const QString &program, const QStringList &arguments) const;

    QTemporaryDir dir;
    QString dataDir;
    QProcess process;
    QByteArray log;
    QStringList extraSettings;
    int listenPort = 0;
};
