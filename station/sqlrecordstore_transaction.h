#pragma once

// Shared by the files that make up SqlRecordStore. Private to station/.
#include "sqlrecordstore.h"

#include <QSqlQuery>

// One writing call's transaction: rolled back unless committed, so a call
// that fails part-way leaves nothing of itself. Inside another (a whole run
// copied at once) it is part of that one.
class SqlRecordStore::Transaction
{
public:
    explicit Transaction(SqlRecordStore &store)
        : store(store)
        , outer(store.transactionDepth == 0)
    {
        if (outer) {
            QSqlQuery begin(store.db);
            open = store.run(begin, QStringLiteral("beginning a transaction"), store.dialect.beginWrite);
        } else {
            open = true;
        }
        if (open)
            ++store.transactionDepth;
    }
    ~Transaction()
    {
        if (!open)
            return;
        --store.transactionDepth;
        if (outer) {
            QSqlQuery rollback(store.db);
            rollback.exec(QStringLiteral("ROLLBACK"));
        }
    }
    bool begun() const { return open; }
    bool commit()
    {
        if (outer) {
            QSqlQuery commit(store.db);
            if (!store.run(commit, QStringLiteral("committing"), QStringLiteral("COMMIT")))
                return false;
        }
        open = false;
        --store.transactionDepth;
        return true;
    }

private:
    SqlRecordStore &store;
    const bool outer;
    bool open = false;
};
