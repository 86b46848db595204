// Which store a location opens: a server's address the shared store, with
// the station's own file holding what waits for the server; anything else a file.
#include "recordstore.h"

#include "serveraddress.h"
#include "sharedrecordstore.h"
#include "sqlrecordstore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

std::unique_ptr<RecordStore> RecordStore::open(const QString &location, QString &error)
{
    return open(location, Options(), error);
}

std::unique_ptr<RecordStore> RecordStore::open(const QString &location, const Options &options, QString &error)
{
    if (isServer(location)) {
        ServerAddress address;
        if (!parseServerAddress(location, address, error))
            return nullptr;
        const QString localFile = options.localFile.isEmpty() ? defaultLocation() : options.localFile;
        if (!QDir().mkpath(QFileInfo(localFile).absolutePath())) {
            error = QStringLiteral("%1: cannot create the folder").arg(QFileInfo(localFile).absolutePath());
            return nullptr;
        }
        std::unique_ptr<SqlRecordStore> local = SqlRecordStore::openFile(localFile, error);
        if (!local)
            return nullptr;
        return std::make_unique<SharedRecordStore>(address, std::move(local), options);
    }
    const QFileInfo info(location);
    if (location.isEmpty() || info.isDir()) {
        error = QStringLiteral("%1: not a record file").arg(location);
        return nullptr;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        error = QStringLiteral("%1: cannot create the folder").arg(info.absolutePath());
        return nullptr;
    }
    return SqlRecordStore::openFile(location, error);
}

QString RecordStore::defaultLocation()
{
    // One file for both front ends: the window and zetra-cli have application
    // names of their own, so the folder is the vendor's, not either's.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/ZETRA/records.sqlite");
}

bool RecordStore::isServer(const QString &location)
{
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
           || location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QVector<Station::RunRecord> RecordStore::runs(const Station::RecordFilter &filter)
{
    QVector<Station::RunRecord> found;
    if (!forEachRun(filter, RunParts::Whole, [&found](const Station::RunRecord &run) {
            found.append(run);
            return true;
        }))
        return {};
    return found;
}
