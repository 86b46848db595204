#pragma once

#include "runrecord.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <memory>

class QThread;
class RecordStore;

// One page of a search's runs, as the reader hands it to the window.
struct RunPage
{
    int page = 0;
    QVector<Station::RunRecord> runs; // whole, newest first
    QString error;                    // empty when read
};

Q_DECLARE_METATYPE(Station::RecordFilter)
Q_DECLARE_METATYPE(RunPage)

// Reads one search's runs a page at a time in the thread it lives in: a
// database connection belongs to the thread that made it, and a store is
// opened once a search (opening costs its migrations and the check for
// abandoned runs). Call its functions queued. A request for a search other
// than the newest is dropped unread.
class RecordPageReader : public QObject
{
    Q_OBJECT
public:
    explicit RecordPageReader(std::shared_ptr<std::atomic<int>> newestSearch);
    ~RecordPageReader() override;

    // Opens the store, takes the newest run's id as the search's snapshot,
    // reads the first page, then counts the runs.
    void open(int search, const QString &location, const Station::RecordFilter &asked, int size);
    void read(int search, int page);

signals:
    // filter: the one asked for with the snapshot in its upToId.
    void opened(int search, bool ok, const QString &error, const QString &serverAway, const QString &stationFile,
                const Station::RecordFilter &filter);
    void pageRead(int search, const RunPage &page);
    void counted(int search, qint64 count, const QString &error);

private:
    bool current(int search) const { return search == openSearch && search == newest->load() && store; }

    std::shared_ptr<std::atomic<int>> newest;
    std::unique_ptr<RecordStore> store;
    int openSearch = 0;
    Station::RecordFilter filter;
    int pageSize = 0;
    bool none = false; // the store held no run at all when the search began
};

// The runs a search selects, newest first, as a table the view pages
// through: rowCount is their count, and only a few pages of whole runs are
// held, the least recently shown dropped first. A row whose page is not held
// reads as a placeholder, and asks for its page; the page shown last is read
// first. Every run shows once and in its place while stations add runs, as
// each search reads the store as it was when it began.
class RunPageModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kPageSize = 100;
    static constexpr int kCachedPages = 5;
    static const QString kPlaceholder;

    explicit RunPageModel(const QStringList &columnTitles, QObject *parent = nullptr);
    ~RunPageModel() override;

    // Reads the runs the filter selects (its offset and limit aside) from the
    // location; what an older search read is dropped.
    void search(const QString &location, const Station::RecordFilter &filter);
    // The search's filter, its snapshot in upToId once the store has opened.
    Station::RecordFilter filter() const { return searchFilter; }
    // How many runs the search selects; -1 until counted.
    qint64 count() const { return total; }
    // The run on a row, with its steps; null while its page is not held.
    const Station::RunRecord *run(int row) const;
    // The runs held, in their rows' order.
    QVector<Station::RunRecord> cachedRuns() const;
    int cachedPages() const { return pages.size(); }
    bool firstPageShown() const { return shownFirst; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    // Rows come a page at a time as the view scrolls to the last one: a
    // table told of a million rows at once holds the window for tens of
    // milliseconds laying out its header.
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void opened(bool ok, const QString &error, const QString &serverAway, const QString &stationFile);
    // The first page is in the table (it may be the only one).
    void firstPageArrived();
    void counted(qint64 count);
    void readFailed(const QString &error);

private:
    struct Page
    {
        QVector<Station::RunRecord> runs;
        quint64 used = 0;
    };
    void takeOpened(int search, bool ok, const QString &error, const QString &serverAway, const QString &stationFile,
                    const Station::RecordFilter &filter);
    void takePage(int search, const RunPage &read);
    void takeCount(int search, qint64 count, const QString &error);
    void setRows(int count);
    void want(int page) const;
    void askNext() const;

    QStringList titles;
    std::shared_ptr<std::atomic<int>> newest;
    QThread *thread;
    RecordPageReader *reader;
    int searchNumber = 0;
    Station::RecordFilter searchFilter;
    int rows = 0;
    qint64 total = -1;
    bool shownFirst = false;
    // Asked for from data(), which is const: the view's painting is what asks.
    mutable QHash<int, Page> pages;
    mutable quint64 uses = 0;
    mutable QList<int> wanted; // pages asked for and not read yet, the latest last
    mutable int reading = -1;  // the page the reader is on; one at a time, so the latest wish goes next
    QSet<int> failed;          // not asked for again in this search
};
