#include "recordpages.h"

#include "recordstore.h"
#include "stationwording.h"

#include <QLocale>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <limits>

namespace {

QString localTime(const QDateTime &time)
{
    return time.isValid() ? QLocale().toString(time.toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

enum Column { Started, Serial, Outcome, Why, StationName, Port, Recipe, RevisionBefore, RevisionAfter, Columns };

// Reader threads of closed browsers that may still be reading; a thread
// that has ended and gone reads as null.
QList<QPointer<QThread>> &unfinishedReaders()
{
    static QList<QPointer<QThread>> threads;
    return threads;
}

void waitForReaders()
{
    for (const QPointer<QThread> &thread : qAsConst(unfinishedReaders()))
        if (thread)
            thread->wait();
    unfinishedReaders().clear();
}

} // namespace

RecordPageReader::RecordPageReader(std::shared_ptr<std::atomic<int>> newestSearch)
    : newest(std::move(newestSearch))
{
}

RecordPageReader::~RecordPageReader() = default;

void RecordPageReader::open(int search, const QString &location, const Station::RecordFilter &asked, int size)
{
    store.reset();
    openSearch = search;
    if (search != newest->load())
        return;
    filter = asked;
    filter.offset = 0;
    filter.limit = 0;
    pageSize = size;
    QString error;
    store = RecordStore::open(location, error);
    if (!store) {
        emit opened(search, false, error, QString(), QString(), filter);
        return;
    }
    const qint64 last = store->lastRunId();
    if (last < 0) {
        emit opened(search, false, store->error(), QString(), QString(), filter);
        store.reset();
        return;
    }
    // upToId 0 would mean every run, those added later too.
    none = last == 0;
    filter.upToId = last;
    emit opened(search, true, QString(), store->serverAway(), store->stationFile(), filter);
    read(search, 0);
    if (!current(search))
        return;
    const qint64 count = none ? 0 : store->countRuns(filter);
    emit counted(search, count, count < 0 ? store->error() : QString());
}

void RecordPageReader::read(int search, int page)
{
    if (!current(search))
        return;
    RunPage read;
    read.page = page;
    if (!none) {
        Station::RecordFilter one = filter;
        one.offset = page * pageSize;
        one.limit = pageSize;
        read.runs.reserve(pageSize);
        if (!store->forEachRun(one, RecordStore::RunParts::Whole, [&read](const Station::RunRecord &run) {
                read.runs.append(run);
                return true;
            }))
            read.error = store->error();
    }
    emit pageRead(search, read);
}

const QString RunPageModel::kPlaceholder = QStringLiteral("…");

RunPageModel::RunPageModel(const QStringList &columnTitles, QObject *parent)
    : QAbstractTableModel(parent)
    , titles(columnTitles)
    , newest(std::make_shared<std::atomic<int>>(0))
    , thread(new QThread)
    , reader(new RecordPageReader(newest))
{
    qRegisterMetaType<Station::RecordFilter>();
    qRegisterMetaType<RunPage>();
    thread->setObjectName(QStringLiteral("records reader"));
    reader->moveToThread(thread);
    // The store is closed in the thread that opened it.
    connect(thread, &QThread::finished, reader, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(reader, &RecordPageReader::opened, this, &RunPageModel::takeOpened);
    connect(reader, &RecordPageReader::pageRead, this, &RunPageModel::takePage);
    connect(reader, &RecordPageReader::counted, this, &RunPageModel::takeCount);
    thread->start();
}

RunPageModel::~RunPageModel()
{
    // Not waited for: a read under way (a server's connection time-out)
    // would hold the window. The reader drops what is left and the thread
    // and reader go once it is done.
    newest->store(-1);
    thread->quit();
    // The program may end before the read does: it then waits for the
    // thread, which would otherwise go on reading into a program torn down.
    static const bool waitedForAtExit = [] {
        qAddPostRoutine(waitForReaders);
        return true;
    }();
    Q_UNUSED(waitedForAtExit)
    unfinishedReaders().append(thread);
}

void RunPageModel::search(const QString &location, const Station::RecordFilter &filter)
{
    beginResetModel();
    const int search = ++searchNumber;
    newest->store(search);
    searchFilter = filter;
    searchFilter.offset = 0;
    searchFilter.limit = 0;
    rows = 0;
    total = -1;
    shownFirst = false;
    pages.clear();
    wanted.clear();
    failed.clear();
    reading = 0; // the reader reads the first page as it opens
    endResetModel();
    RecordPageReader *target = reader;
    QMetaObject::invokeMethod(
        reader, [target, search, location, filter] { target->open(search, location, filter, kPageSize); },
        Qt::QueuedConnection);
}

const Station::RunRecord *RunPageModel::run(int row) const
{
    const auto page = pages.constFind(row / kPageSize);
    if (page == pages.constEnd() || row % kPageSize >= page->runs.size())
        return nullptr;
    return &page->runs.at(row % kPageSize);
}

QVector<Station::RunRecord> RunPageModel::cachedRuns() const
{
    QList<int> held = pages.keys();
    std::sort(held.begin(), held.end());
    QVector<Station::RunRecord> runs;
    for (int page : qAsConst(held))
        runs += pages.value(page).runs;
    return runs;
}

int RunPageModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows;
}

int RunPageModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant RunPageModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < titles.size())
        return titles.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

QVariant RunPageModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows
        || (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::UserRole))
        return QVariant();
    const int pageIndex = index.row() / kPageSize;
    const auto page = pages.find(pageIndex);
    if (page == pages.end()) {
        want(pageIndex);
        return role == Qt::DisplayRole && index.column() == Started ? kPlaceholder : QVariant();
    }
    page->used = ++uses;
    if (index.row() % kPageSize >= page->runs.size())
        return QVariant();
    const Station::RunRecord &run = page->runs.at(index.row() % kPageSize);
    if (role == Qt::ToolTipRole)
        return index.column() == Why ? StationWording::causeDetail(run.cause) : QVariant();
    if (role == Qt::UserRole)
        return index.column() == Outcome ? Station::outcomeName(run.outcome) : QVariant();
    switch (index.column()) {
    case Started: return localTime(run.header.started);
    case Serial: return run.header.serial;
    case Outcome: return StationWording::outcomeText(run.outcome);
    case Why: return StationWording::whyNotPassed(run);
    case StationName: return run.header.station;
    case Port: return run.header.port;
    case Recipe: return run.header.recipeName;
    case RevisionBefore: return run.header.revisionBefore;
    case RevisionAfter: return run.revisionAfter;
    default: return QVariant();
    }
}

void RunPageModel::want(int page) const
{
    if (page == reading || failed.contains(page))
        return;
    wanted.removeOne(page);
    wanted.append(page);
    // Pages scrolled past on the way are no longer worth reading.
    while (wanted.size() > kCachedPages)
        wanted.removeFirst();
    askNext();
}

void RunPageModel::askNext() const
{
    if (reading >= 0 || wanted.isEmpty())
        return;
    reading = wanted.takeLast();
    RecordPageReader *target = reader;
    const int search = searchNumber;
    const int page = reading;
    QMetaObject::invokeMethod(reader, [target, search, page] { target->read(search, page); }, Qt::QueuedConnection);
}

void RunPageModel::takeOpened(int search, bool ok, const QString &error, const QString &serverAway,
                              const QString &stationFile, const Station::RecordFilter &filter)
{
    if (search != searchNumber)
        return;
    if (ok)
        searchFilter = filter;
    else
        reading = -1;
    emit opened(ok, error, serverAway, stationFile);
}

void RunPageModel::takePage(int search, const RunPage &read)
{
    if (search != searchNumber)
        return;
    const int page = read.page;
    const QVector<Station::RunRecord> &runs = read.runs;
    const QString &error = read.error;
    if (page == reading)
        reading = -1;
    if (!error.isEmpty()) {
        failed.insert(page);
        emit readFailed(error);
        askNext();
        return;
    }
    pages.insert(page, Page{runs, ++uses});
    while (pages.size() > kCachedPages) {
        auto oldest = pages.begin();
        for (auto it = pages.begin(); it != pages.end(); ++it)
            if (it->used < oldest->used)
                oldest = it;
        pages.erase(oldest);
    }
    if (!shownFirst && page == 0) {
        shownFirst = true;
        // Until counted, the rows are the first page's.
        if (total < 0)
            setRows(runs.size());
        emit firstPageArrived();
    } else if (page * kPageSize < rows) {
        emit dataChanged(index(page * kPageSize, 0),
                         index(std::min(rows, (page + 1) * kPageSize) - 1, Columns - 1));
    }
    askNext();
}

void RunPageModel::takeCount(int search, qint64 count, const QString &error)
{
    if (search != searchNumber)
        return;
    if (count < 0) {
        emit readFailed(error);
        return;
    }
    total = count;
    // The rows shown so far stand; more come as the view scrolls.
    if (count < rows)
        setRows(int(count));
    emit counted(count);
}

bool RunPageModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && shownFirst && rows < total;
}

void RunPageModel::fetchMore(const QModelIndex &parent)
{
    if (canFetchMore(parent))
        setRows(int(std::min<qint64>({total, qint64(rows) + kPageSize, std::numeric_limits<int>::max()})));
}

void RunPageModel::setRows(int count)
{
    if (count > rows) {
        beginInsertRows(QModelIndex(), rows, count - 1);
        rows = count;
        endInsertRows();
    } else if (count < rows) {
        beginRemoveRows(QModelIndex(), count, rows - 1);
        rows = count;
        endRemoveRows();
    }
}
