#include "postgresserver.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStartMs = 60000;

// A port nobody listens on now: the kernel's choice for a socket bound to 0.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

} // namespace

PostgresServer::~PostgresServer()
{
    stop();
}

QString PostgresServer::binaries()
{
    const QString chosen = qEnvironmentVariable("ZETRA_POSTGRES_BIN");
    QStringList candidates;
    if (!chosen.isEmpty())
        candidates << chosen;
    // Debian keeps each major version apart; the newest is taken.
    QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : versions)
        candidates << QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
    for (const QString &folder : candidates)
        if (QFileInfo(folder + QStringLiteral("/initdb")).isExecutable()
            && QFileInfo(folder + QStringLiteral("/postgres")).isExecutable())
            return folder;
    return QString();
}

QStringList PostgresServer::asServerUser(const QString &program, const QStringList &arguments) const
{
    // setpriv execs the program itself, so the process the test holds is the
    // server; its parent-death signal stops it (a fast shutdown) should
    // the test die before it can.
    QStringList command{QStringLiteral("--pdeathsig=INT")};
    if (::geteuid() == 0)
        command << QStringLiteral("--reuid=postgres") << QStringLiteral("--regid=postgres")
                << QStringLiteral("--init-groups");
    return command << QStringLiteral("--") << program << arguments;
}

bool PostgresServer::runAsServerUser(const QString &program, const QStringList &arguments, QString &error)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral("setpriv"), asServerUser(program, arguments));
    if (!tool.waitForFinished(kStartMs) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(tool.readAll()));
        return false;
    }
    return true;
}

bool PostgresServer::init(QString &error)
{
    const QString bin = binaries();
    if (bin.isEmpty() || !dir.isValid()) {
        error = QStringLiteral("no PostgreSQL binaries, or no temporary folder");
        return false;
    }
    if (::geteuid() == 0) {
        const passwd *user = ::getpwnam("postgres");
        if (!user || ::chown(QFile::encodeName(dir.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
            error = QStringLiteral("running as root, and no user postgres to own the cluster");
            return false;
        }
    }
    dataDir = dir.filePath(QStringLiteral("data"));
    return initCluster(error);
}

bool PostgresServer::initKept(const QString &folder, QString &error)
{
    dataDir = QFileInfo(folder).absoluteFilePath();
    if (QFileInfo::exists(dataDir + QStringLiteral("/PG_VERSION")))
        return true;
    if (binaries().isEmpty() || !QDir().mkpath(dataDir)) {
        error = QStringLiteral("no PostgreSQL binaries, or cannot create %1").arg(dataDir);
        return false;
    }
    if (::geteuid() == 0) {
        const passwd *user = ::getpwnam("postgres");
        if (!user || ::chown(QFile::encodeName(dataDir).constData(), user->pw_uid, user->pw_gid) != 0) {
            error = QStringLiteral("running as root, and no user postgres to own the cluster");
            return false;
        }
    }
    return initCluster(error);
}

bool PostgresServer::initCluster(QString &error)
{
    return runAsServerUser(binaries() + QStringLiteral("/initdb"),
                           {QStringLiteral("-D"), dataDir, QStringLiteral("-U"), QStringLiteral("zetra"),
                            QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                            QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
                           error);
}

bool PostgresServer::start(QString &error)
{
    if (!listenPort)
        listenPort = freePort();
    log.clear();
    process.setProcessChannelMode(QProcess::MergedChannels);
    // TCP on the loopback only, no socket file; durability is not what is
    // tested, so no fsync.
    QStringList arguments{QStringLiteral("-D"), dataDir, QStringLiteral("-p"), QString::number(listenPort),
                          QStringLiteral("-c"), QStringLiteral("listen_addresses=127.0.0.1"),
                          QStringLiteral("-c"), QStringLiteral("unix_socket_directories="),
                          QStringLiteral("-c"), QStringLiteral("fsync=off")};
    for (const QString &setting : extraSettings)
        arguments << QStringLiteral("-c") << setting;
    process.start(QStringLiteral("setpriv"), asServerUser(binaries() + QStringLiteral("/postgres"), arguments));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStartMs) {
        if (process.state() == QProcess::NotRunning)
            break;
        process.waitForReadyRead(200);
        log += process.readAll();
        if (log.contains("database system is ready to accept connections"))
            return true;
    }
    log += process.readAll();
    error = QStringLiteral("the server did not start: %1").arg(QString::fromLocal8Bit(log));
    stop();
    return false;
}

bool PostgresServer::stop()
{
    if (process.state() == QProcess::NotRunning)
        return true;
    ::kill(pid_t(process.processId()), SIGINT);
    if (process.waitForFinished(30000))
        return true;
    process.kill();
    process.waitForFinished(5000);
    return false;
}

QString PostgresServer::url(const QString &database) const
{
    return QStringLiteral("postgresql://zetra@127.0.0.1:%1/%2").arg(listenPort).arg(database);
}

bool PostgresServer::createDatabase(const QString &name, QString &error)
{
    const QString connection = QStringLiteral("pg-admin-%1").arg(name);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(listenPort);
        db.setUserName(QStringLiteral("zetra"));
        db.setDatabaseName(QStringLiteral("postgres"));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            ok = query.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
            if (!ok)
                error = query.lastError().text();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}
