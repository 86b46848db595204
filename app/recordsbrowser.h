#pragma once

#include "runrecord.h"

#include <QDialog>
#include <QVector>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTableWidget;
class QTimer;
class RunPageModel;
struct RecordsExportProgress;

// "Журнал изделий": the station's records, searched by serial number and
// filtered by outcome and date, a run's steps with their values and limits,
// and every run the search found exported to CSV. Reads the store through
// RecordStore, so wherever the records are kept, the browser finds them; the
// runs come a page at a time as the table is scrolled, and nothing that reads
// the store runs on the window thread, whatever the count.
class RecordsBrowser : public QDialog
{
    Q_OBJECT
public:
    // Asks for the file to export to; empty means cancelled.
    using SaveChooser = std::function<QString(const QString &suggestedName)>;

    RecordsBrowser(const QString &recordsLocation, QWidget *parent = nullptr);
    ~RecordsBrowser() override;

    void setSaveChooser(SaveChooser chooser) { chooseSave = std::move(chooser); }
    // Shows one unit's history: its serial number in the search, every outcome, any date.
    void showUnit(const QString &unit);
    // Reads the records again with the filter shown, away from the window
    // thread: the first page shows as it comes, then the count.
    void search();
    // Until the search's runs are counted.
    bool isSearching() const { return searching; }
    // The runs held of those found (a few pages), in their rows' order.
    QVector<Station::RunRecord> shownRuns() const;
    // The table's model: its pages, the count, the runs held.
    const RunPageModel *pages() const { return model; }
    // Writes every run the search found, with each step's values and limits,
    // away from the window thread; the file appears whole when done, and is
    // left as it was on a failure or on cancelExport().
    void exportCsv(const QString &path);
    void cancelExport();
    bool isExporting() const { return exportState != nullptr; }

    // The records the window uses: the location chosen in its settings,
    // else the user's data folder.
    static QString defaultRecordsLocation();

signals:
    // A search's first page is in the table.
    void firstPageShown();
    // An export ended: written, cancelled or failed (the status says which).
    void exportFinished(bool written);

private:
    void showCount(qint64 count);
    void showSteps(int row);
    void showExportProgress();

    QString location;
    SaveChooser chooseSave;
    RunPageModel *model;
    bool searching = false;
    QString readError;   // the search's, told with its count
    QString serverAway;  // why the server could not be reached; empty when it was
    QString stationFile; // whose runs are shown instead
    int stepsRow = -1;   // the row whose steps are shown
    std::shared_ptr<RecordsExportProgress> exportState; // the export under way
    QString exportPath;
    QLineEdit *serial;
    QComboBox *outcome;
    QCheckBox *fromSet;
    QDateEdit *from;
    QCheckBox *toSet;
    QDateEdit *to;
    QTableView *runTable;
    QTableWidget *stepTable;
    QLabel *status;
    QPushButton *exportButton;
    QProgressBar *exportBar;
    QPushButton *exportCancel;
    QTimer *exportTimer;
};
