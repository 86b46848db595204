#pragma once

#include "productionstation.h"
#include "recipe.h"
#include "runrecord.h"

#include <QFrame>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class StationWorker;

// One place on the bench: its port, the serial number a scanner types in,
// the step under way and the outcome in letters large enough to read from
// across the bench.
class StationTile : public QFrame
{
    Q_OBJECT
public:
    StationTile(int index, QWidget *parent = nullptr);

    QComboBox *portBox() const { return port; }
    QLineEdit *serialField() const { return serial; }
    QPushButton *startButton() const { return start; }
    QString portName() const;
    QString serialNumber() const;
    bool isRunning() const { return running; }
    // The outcome shown, Running while the unit runs or before any.
    Station::Outcome outcome() const { return shown; }

    void setRecipeSteps(const QStringList &kinds) { steps = kinds; }
    void setIdleAllowed(bool canStart);
    void begin();
    void identified(const Station::RunRecord &record);
    void stepFinished(const Station::StepRecord &finished);
    void stepProgress(int percent);
    void finish(const Station::RunRecord &record);
    void noteRecordFailure(const QString &error);

signals:
    // The scanner's Enter: the serial is in.
    void serialEntered();
    void startRequested();

private:
    void showStep(int index);
    void showOutcome(Station::Outcome outcome, const QString &why);

    QComboBox *port;
    QLineEdit *serial;
    QPushButton *start;
    QLabel *step;
    QProgressBar *progress;
    QLabel *unit;
    QLabel *outcomeLabel;
    QLabel *detail;
    QLabel *recordNote;
    QStringList steps;
    int stepsDone = 0;
    bool running = false;
    Station::Outcome shown = Station::Outcome::Running;
};

// The station in the window: a recipe from a file, up to eight places, and
// start for one place or all. The units run in a thread of the station's own
// (StationWorker), each with its device thread, through the same core as
// zetra-cli station; the view only shows what they report.
class StationView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMaxPlaces = 8;
    using RecipeChooser = std::function<QString()>;

    StationView(const QString &recordsLocation, QWidget *parent = nullptr);
    ~StationView() override;

    void setRecipeChooser(RecipeChooser chooser) { chooseRecipe = std::move(chooser); }
    // Reads a recipe; false with the reason shown when it is refused.
    bool loadRecipe(const QString &path);
    void setPlaceCount(int count);
    int placeCount() const;
    StationTile *tile(int index) const { return tiles.at(index); }
    bool isRunning() const;

    void startAll();
    void startOne(int index);
    void stopAll();

signals:
    // Every running unit has ended.
    void idle();

private:
    void startPlaces(const QVector<int> &indices);
    void refreshButtons();
    void layoutTiles();
    void showMessage(const QString &text);
    void saveSettings() const;

    QString records;
    Station::Recipe recipe;
    bool recipeLoaded = false;
    RecipeChooser chooseRecipe;
    QThread stationThread;
    StationWorker *worker = nullptr;
    QVector<StationTile *> tiles;
    QLabel *recipeName;
    QLabel *recipeHash;
    QSpinBox *places;
    QPushButton *startAllButton;
    QPushButton *stopButton;
    QLabel *message;
    bool recordsMessageShown = false; // the message is the word on where the records go
    QWidget *tileArea;
};
