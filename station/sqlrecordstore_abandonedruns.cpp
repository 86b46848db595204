#include "sqlrecordstore.h"

#include "sqlrecordstore_transaction.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <QVector>

namespace {

using Station::Outcome;

// The cause such a run ends with, as its columns keep it.
QString abandonedCause()
{
    return QString::fromUtf8(QJsonDocument(Station::Cause::abandoned().toJson()).toJson(QJsonDocument::Compact));
}

} // namespace

// A run still running whose owner's lock can be taken belongs to a
// process that is gone: it is marked interrupted, ending at its last
// recorded step, and keeps the steps it finished. A lock held by a live
// process (or by another host, which cannot be asked) is left alone.
bool SqlRecordStore::markAbandonedRuns()
{
    QSqlQuery owners(db);
    owners.prepare(QStringLiteral("SELECT DISTINCT owner FROM runs WHERE outcome = ?"));
    owners.addBindValue(Station::outcomeName(Outcome::Running));
    if (!run(owners, QStringLiteral("looking for unfinished runs")))
        return false;
    QVector<QVariant> gone;
    while (owners.next()) {
        const QVariant owner = owners.value(0);
        if (owner.isNull() || owner.toString().isEmpty()) {
            // Written before runs had owners: no older program writes a
            // file brought past that version, so its writer is gone.
            gone.append(owner);
            continue;
        }
        const QString lockPath = QDir(ownersFolder).filePath(owner.toString());
        if (!QFileInfo::exists(lockPath)) {
            gone.append(owner);
            continue;
        }
        QLockFile lock(lockPath);
        lock.setStaleLockTime(0);   // a live owner's lock never ages out
        if (lock.tryLock(0)) {
            gone.append(owner);
            lock.unlock();          // removes the dead owner's file
        }
    }
    for (const QVariant &owner : gone) {
        Transaction transaction(*this);
        if (!transaction.begun())
            return false;
        QSqlQuery update(db);
        const QString ownerTest = owner.isNull() || owner.toString().isEmpty()
                                      ? QStringLiteral("(owner IS NULL OR owner = '')")
                                      : QStringLiteral("owner = ?");
        update.prepare(QStringLiteral("UPDATE runs SET outcome = ?, cause_code = ?, cause = ?,"
                                      " ended = COALESCE((SELECT MAX(s.ended) FROM steps s WHERE s.run_id = runs.id),"
                                      " started) WHERE outcome = ? AND ")
                       + ownerTest);
        update.addBindValue(Station::outcomeName(Outcome::Interrupted));
        update.addBindValue(Station::Cause::abandoned().codeName());
        update.addBindValue(abandonedCause());
        update.addBindValue(Station::outcomeName(Outcome::Running));
        if (!owner.isNull() && !owner.toString().isEmpty())
            update.addBindValue(owner.toString());
        if (!run(update, QStringLiteral("marking abandoned runs interrupted")) || !transaction.commit())
            return false;
    }
    return true;
}

// This store's lock, taken before its first run: held while the process
// lives, so others can tell its running runs from abandoned ones.
bool SqlRecordStore::takeOwnership()
{
    if (owner || ownersFolder.isEmpty())
        return true;
    if (!QDir().mkpath(ownersFolder)) {
        lastError = QStringLiteral("%1: cannot create the folder").arg(ownersFolder);
        return false;
    }
    const QString lockName = QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".lock");
    auto lock = std::make_unique<QLockFile>(QDir(ownersFolder).filePath(lockName));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        lastError = QStringLiteral("%1: cannot take the station's lock file %2")
                        .arg(this->name, QDir(ownersFolder).filePath(lockName));
        return false;
    }
    owner = std::move(lock);
    ownerName = lockName;
    return true;
}
