#pragma once

#include "runrecord.h"

#include <QDialog>
#include <QVector>

#include <functional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;

// "Журнал изделий": the station's records, searched by serial number and
// filtered by outcome and date, a run's steps with their values and limits,
// and what is shown exported to CSV. Reads the store through RecordStore, so
// wherever the records are kept, the browser finds them.
class RecordsBrowser : public QDialog
{
    Q_OBJECT
public:
    // Asks for the file to export to; empty means cancelled.
    using SaveChooser = std::function<QString(const QString &suggestedName)>;

    RecordsBrowser(const QString &recordsLocation, QWidget *parent = nullptr);

    void setSaveChooser(SaveChooser chooser) { chooseSave = std::move(chooser); }
    // Shows one unit's history: its serial number in the search, every outcome, any date.
    void showUnit(const QString &unit);
    // Reads the records again with the filter shown, away from the window
    // thread; the table fills when they come.
    void search();
    bool isSearching() const { return searching; }
    const QVector<Station::RunRecord> &shownRuns() const { return runs; }
    // Writes the runs shown with each step's values and limits; false with
    // the reason in error.
    bool exportCsv(const QString &path, QString &error) const;

    // The records the window uses: the location chosen in its settings,
    // else the user's data folder.
    static QString defaultRecordsLocation();

private:
    struct Found;
    void showRuns(const Found &found);
    void showSteps(int row);

    QString location;
    SaveChooser chooseSave;
    QVector<Station::RunRecord> runs;
    int searches = 0; // a search's answer counts only while it is the newest
    bool searching = false;
    QLineEdit *serial;
    QComboBox *outcome;
    QCheckBox *fromSet;
    QDateEdit *from;
    QCheckBox *toSet;
    QDateEdit *to;
    QTableWidget *runTable;
    QTableWidget *stepTable;
    QLabel *status;
};
