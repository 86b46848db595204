#include "stationview.h"

#include "productionstation.h"
#include "stationwording.h"
#include "stationworker.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSpinBox>
#include <QSysInfo>
#include <QVBoxLayout>

namespace {

const char *outcomeColour(Station::Outcome outcome)
{
    switch (outcome) {
    case Station::Outcome::Pass: return "#1b8a2f";
    case Station::Outcome::Fail: return "#c62828";
    case Station::Outcome::Error: return "#e08a00";
    case Station::Outcome::Interrupted: return "#6d6d6d";
    case Station::Outcome::Running: break;
    }
    return "#9e9e9e";
}

} // namespace

StationTile::StationTile(int index, QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("stationTile_%1").arg(index));
    setFrameShape(QFrame::StyledPanel);
    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(tr("Место %1").arg(index + 1), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);

    auto *form = new QGridLayout;
    form->addWidget(new QLabel(tr("Порт"), this), 0, 0);
    port = new QComboBox(this);
    port->setObjectName(QStringLiteral("port"));
    port->setEditable(true);
    port->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    port->setMinimumContentsLength(10);
    form->addWidget(port, 0, 1);
    form->addWidget(new QLabel(tr("Серийный №"), this), 1, 0);
    serial = new QLineEdit(this);
    serial->setObjectName(QStringLiteral("serial"));
    serial->setPlaceholderText(tr("сканируйте код"));
    form->addWidget(serial, 1, 1);
    layout->addLayout(form);
    // A scanner types the code and ends it with Enter.
    connect(serial, &QLineEdit::returnPressed, this, [this] {
        if (!serialNumber().isEmpty())
            emit serialEntered();
    });

    start = new QPushButton(tr("Пуск"), this);
    start->setObjectName(QStringLiteral("start"));
    connect(start, &QPushButton::clicked, this, &StationTile::startRequested);
    layout->addWidget(start);

    step = new QLabel(this);
    step->setObjectName(QStringLiteral("step"));
    layout->addWidget(step);
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 100);
    progress->setValue(0);
    layout->addWidget(progress);

    unit = new QLabel(this);
    unit->setObjectName(QStringLiteral("unit"));
    unit->setAlignment(Qt::AlignCenter);
    layout->addWidget(unit);
    outcomeLabel = new QLabel(this);
    outcomeLabel->setObjectName(QStringLiteral("outcome"));
    outcomeLabel->setAlignment(Qt::AlignCenter);
    outcomeLabel->setMinimumHeight(64);
    QFont big = outcomeLabel->font();
    big.setPointSize(28);
    big.setBold(true);
    outcomeLabel->setFont(big);
    layout->addWidget(outcomeLabel);
    detail = new QLabel(this);
    detail->setObjectName(QStringLiteral("detail"));
    detail->setWordWrap(true);
    detail->setAlignment(Qt::AlignCenter);
    layout->addWidget(detail);
    recordNote = new QLabel(this);
    recordNote->setObjectName(QStringLiteral("recordNote"));
    recordNote->setWordWrap(true);
    recordNote->setStyleSheet(QStringLiteral("color: #c62828"));
    recordNote->hide();
    layout->addWidget(recordNote);
    layout->addStretch();
    // Nothing run here yet: no outcome, not even "running".
    shown = Station::Outcome::Running;
}

QString StationTile::portName() const
{
    return port->currentText().trimmed();
}

QString StationTile::serialNumber() const
{
    return serial->text().trimmed();
}

void StationTile::setIdleAllowed(bool canStart)
{
    start->setEnabled(canStart && !running);
}

void StationTile::begin()
{
    running = true;
    stepsDone = 0;
    unit->setText(tr("Изделие %1").arg(serialNumber()));
    serial->setReadOnly(true);
    port->setEnabled(false);
    start->setEnabled(false);
    recordNote->hide();
    progress->setValue(0);
    step->setText(StationWording::stepName(QStringLiteral("connect")));
    showOutcome(Station::Outcome::Running, QString());
}

void StationTile::identified(const Station::RunRecord &record)
{
    Q_UNUSED(record)
    if (running && !steps.isEmpty())
        showStep(0);
}

void StationTile::showStep(int index)
{
    if (index < steps.size())
        step->setText(tr("Шаг %1 из %2: %3").arg(index + 1).arg(steps.size()).arg(StationWording::stepName(steps.at(index))));
    else
        step->setText(StationWording::stepName(QStringLiteral("read-out")));
}

void StationTile::stepFinished(const Station::StepRecord &finished)
{
    if (!running)
        return;
    stepsDone = finished.index + 1;
    progress->setValue(steps.isEmpty() ? 100 : 100 * stepsDone / steps.size());
    if (finished.outcome == Station::Outcome::Pass)
        showStep(stepsDone);
}

void StationTile::stepProgress(int percent)
{
    if (running && !steps.isEmpty() && stepsDone < steps.size())
        progress->setValue((100 * stepsDone + qBound(0, percent, 100)) / steps.size());
}

void StationTile::finish(const Station::RunRecord &record)
{
    running = false;
    serial->setReadOnly(false);
    port->setEnabled(true);
    // The next unit's code replaces the last one's; the tile keeps its name.
    serial->clear();
    // The step line says where the run ended, never what an earlier unit did.
    if (record.outcome == Station::Outcome::Pass) {
        progress->setValue(100);
        step->setText(tr("Все шаги пройдены"));
    } else {
        step->setText(tr("Остановлен на шаге: %1").arg(StationWording::stepName(record.failedStep)));
    }
    showOutcome(record.outcome, StationWording::whyNotPassed(record));
    detail->setToolTip(StationWording::causeDetail(record.cause));
}

void StationTile::noteRecordFailure(const QString &error)
{
    recordNote->setText(tr("Запись в журнал прервана: %1").arg(error));
    recordNote->show();
}

void StationTile::showOutcome(Station::Outcome outcome, const QString &why)
{
    shown = outcome;
    outcomeLabel->setText(StationWording::outcomeText(outcome));
    outcomeLabel->setStyleSheet(QStringLiteral("QLabel { color: white; background: %1; border-radius: 6px; }")
                                    .arg(QLatin1String(outcomeColour(outcome))));
    detail->setText(why);
}

StationView::StationView(const QString &recordsLocation, QWidget *parent)
    : QWidget(parent)
    , records(recordsLocation)
{
    setObjectName(QStringLiteral("stationView"));
    auto *layout = new QVBoxLayout(this);

    auto *bar = new QHBoxLayout;
    auto *chooseButton = new QPushButton(tr("Рецепт…"), this);
    chooseButton->setObjectName(QStringLiteral("chooseRecipe"));
    bar->addWidget(chooseButton);
    recipeName = new QLabel(tr("рецепт не выбран"), this);
    recipeName->setObjectName(QStringLiteral("recipeName"));
    QFont bold = recipeName->font();
    bold.setBold(true);
    recipeName->setFont(bold);
    bar->addWidget(recipeName);
    recipeHash = new QLabel(this);
    recipeHash->setObjectName(QStringLiteral("recipeHash"));
    recipeHash->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addWidget(recipeHash);
    bar->addStretch();
    bar->addWidget(new QLabel(tr("Мест"), this));
    places = new QSpinBox(this);
    places->setObjectName(QStringLiteral("placeCount"));
    places->setRange(1, kMaxPlaces);
    bar->addWidget(places);
    startAllButton = new QPushButton(tr("Пуск всех"), this);
    startAllButton->setObjectName(QStringLiteral("startAll"));
    bar->addWidget(startAllButton);
    stopButton = new QPushButton(tr("Стоп"), this);
    stopButton->setObjectName(QStringLiteral("stop"));
    bar->addWidget(stopButton);
    layout->addLayout(bar);

    tileArea = new QWidget(this);
    new QGridLayout(tileArea);
    layout->addWidget(tileArea, 1);
    message = new QLabel(this);
    message->setObjectName(QStringLiteral("stationMessage"));
    message->setWordWrap(true);
    layout->addWidget(message);

    Station::StationSetup setup;
    setup.station = QSysInfo::machineHostName();
    setup.operatorName = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    setup.programVersion = QCoreApplication::applicationVersion();
    worker = new StationWorker(records, setup);
    worker->moveToThread(&stationThread);
    connect(&stationThread, &QThread::finished, worker, &QObject::deleteLater);
    stationThread.setObjectName(QStringLiteral("station"));
    stationThread.start();

    QStringList systemPorts;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        systemPorts.append(info.portName());
    const QSettings settings;
    for (int i = 0; i < kMaxPlaces; ++i) {
        auto *tile = new StationTile(i, tileArea);
        tile->portBox()->addItems(systemPorts);
        const QString remembered = settings.value(QStringLiteral("station/port%1").arg(i)).toString();
        if (!remembered.isEmpty())
            tile->portBox()->setCurrentText(remembered);
        else
            tile->portBox()->setCurrentIndex(i < systemPorts.size() ? i : -1);
        tiles.append(tile);
        connect(tile, &StationTile::startRequested, this, [this, i] { startOne(i); });
        // The scanner's Enter moves on to the next free place, so units are
        // scanned one after another without touching the mouse.
        connect(tile, &StationTile::serialEntered, this, [this, i] {
            for (int k = 1; k < placeCount(); ++k) {
                StationTile *next = tiles.at((i + k) % placeCount());
                if (!next->isRunning() && next->serialNumber().isEmpty()) {
                    next->serialField()->setFocus();
                    return;
                }
            }
        });
        connect(tile->serialField(), &QLineEdit::textChanged, this, &StationView::refreshButtons);
        connect(tile->portBox(), &QComboBox::currentTextChanged, this, &StationView::refreshButtons);
    }

    auto toTile = [this](int index) { return index >= 0 && index < tiles.size() ? tiles.at(index) : nullptr; };
    connect(worker, &StationWorker::refused, this, [this](const QString &error) {
        showMessage(tr("Журнал изделий не открывается (%1): %2").arg(records, error));
        for (StationTile *tile : qAsConst(tiles))
            if (tile->isRunning()) {
                Station::RunRecord none;
                none.outcome = Station::Outcome::Error;
                none.failedStep = QStringLiteral("connect");
                none.cause = Station::Cause::records(error);
                tile->finish(none);
            }
        refreshButtons();
    });
    connect(worker, &StationWorker::unitIdentified, this, [toTile](int index, const Station::RunRecord &record) {
        if (StationTile *tile = toTile(index))
            tile->identified(record);
    });
    connect(worker, &StationWorker::stepFinished, this, [toTile](int index, const Station::StepRecord &step) {
        if (StationTile *tile = toTile(index))
            tile->stepFinished(step);
    });
    connect(worker, &StationWorker::stepProgress, this, [toTile](int index, int percent) {
        if (StationTile *tile = toTile(index))
            tile->stepProgress(percent);
    });
    connect(worker, &StationWorker::unitFinished, this, [this, toTile](int index, const Station::RunRecord &record) {
        if (StationTile *tile = toTile(index))
            tile->finish(record);
        refreshButtons();
    });
    connect(worker, &StationWorker::recordFailed, this, [toTile](int index, const QString &error) {
        if (StationTile *tile = toTile(index))
            tile->noteRecordFailure(error);
    });
    connect(worker, &StationWorker::recordsKept, this,
            [this](const QString &serverAway, const QString &stationFile, int waiting) {
                QString text;
                if (!serverAway.isEmpty())
                    text = tr("Сервер записей недоступен (%1): записи хранятся в %2 и будут отправлены, когда он вернётся")
                               .arg(serverAway, stationFile);
                else if (waiting > 0)
                    text = tr("Записей ждут отправки на сервер: %1").arg(waiting);
                // Once the server takes them, the word about it goes; any other stays.
                if (!text.isEmpty() || recordsMessageShown)
                    showMessage(text);
                recordsMessageShown = !text.isEmpty();
            });
    connect(worker, &StationWorker::idle, this, [this] {
        refreshButtons();
        emit idle();
    });

    connect(chooseButton, &QPushButton::clicked, this, [this] {
        const QString path = chooseRecipe ? chooseRecipe() : QString();
        if (!path.isEmpty())
            loadRecipe(path);
    });
    connect(startAllButton, &QPushButton::clicked, this, &StationView::startAll);
    connect(stopButton, &QPushButton::clicked, this, &StationView::stopAll);
    connect(places, QOverload<int>::of(&QSpinBox::valueChanged), this, [this] {
        layoutTiles();
        refreshButtons();
    });

    places->setValue(qBound(1, settings.value(QStringLiteral("station/places"), 4).toInt(), kMaxPlaces));
    layoutTiles();
    const QString lastRecipe = settings.value(QStringLiteral("station/recipe")).toString();
    if (!lastRecipe.isEmpty() && QFileInfo::exists(lastRecipe))
        loadRecipe(lastRecipe);
    refreshButtons();
}

// Units still running are stopped; their threads end with the station's.
StationView::~StationView()
{
    saveSettings();
    StationWorker *running = worker;
    QMetaObject::invokeMethod(running, [running] { running->stop(); }, Qt::QueuedConnection);
    stationThread.quit();
    stationThread.wait();
}

bool StationView::loadRecipe(const QString &path)
{
    if (isRunning()) {
        showMessage(tr("Рецепт меняется, когда ни одно изделие не проверяется."));
        return false;
    }
    Station::Recipe read;
    Station::RecipeProblem problem;
    if (!Station::Recipe::read(path, read, problem)) {
        showMessage(tr("Рецепт %1 не принят: %2").arg(path, StationWording::recipeProblem(problem)));
        return false;
    }
    recipe = read;
    recipeLoaded = true;
    recipeName->setText(recipe.name);
    recipeHash->setText(tr("SHA-256 %1…").arg(recipe.hash.left(16)));
    recipeHash->setToolTip(QStringLiteral("%1\n%2").arg(recipe.path, recipe.hash));
    QStringList kinds;
    for (const Station::RecipeStep &step : recipe.steps)
        kinds.append(Station::kindName(step.kind));
    for (StationTile *tile : qAsConst(tiles))
        tile->setRecipeSteps(kinds);
    QSettings().setValue(QStringLiteral("station/recipe"), QFileInfo(path).absoluteFilePath());
    showMessage(QString());
    refreshButtons();
    return true;
}

void StationView::setPlaceCount(int count)
{
    places->setValue(count);
}

int StationView::placeCount() const
{
    return places->value();
}

bool StationView::isRunning() const
{
    for (const StationTile *tile : tiles)
        if (tile->isRunning())
            return true;
    return false;
}

void StationView::startAll()
{
    QVector<int> ready;
    for (int i = 0; i < placeCount(); ++i)
        if (!tiles.at(i)->isRunning() && !tiles.at(i)->portName().isEmpty() && !tiles.at(i)->serialNumber().isEmpty())
            ready.append(i);
    if (ready.isEmpty()) {
        showMessage(tr("Нет мест с портом и серийным номером."));
        return;
    }
    startPlaces(ready);
}

void StationView::startOne(int index)
{
    startPlaces({index});
}

// Refused before any unit starts: a place without its port or serial
// number, or one whose port or serial another place holds.
void StationView::startPlaces(const QVector<int> &indices)
{
    if (!recipeLoaded) {
        showMessage(tr("Сначала выберите рецепт."));
        return;
    }
    Station::PlaceClaims claims;
    for (const StationTile *tile : qAsConst(tiles))
        if (tile->isRunning())
            claims.claim(tile->portName(), tile->serialNumber());
    QVector<StationPlace> chosen;
    for (int index : indices) {
        StationTile *tile = tiles.at(index);
        if (tile->isRunning())
            continue;
        if (tile->portName().isEmpty() || tile->serialNumber().isEmpty()) {
            showMessage(tr("Место %1: нужны порт и серийный номер.").arg(index + 1));
            return;
        }
        switch (claims.claim(tile->portName(), tile->serialNumber())) {
        case Station::PlaceClaims::Clash::Port:
            showMessage(tr("Место %1: порт %2 уже занят.").arg(index + 1).arg(tile->portName()));
            return;
        case Station::PlaceClaims::Clash::Serial:
            showMessage(tr("Место %1: изделие %2 уже проверяется.").arg(index + 1).arg(tile->serialNumber()));
            return;
        case Station::PlaceClaims::Clash::None:
            break;
        }
        chosen.append(StationPlace{index, tile->portName(), tile->serialNumber()});
    }
    if (chosen.isEmpty())
        return;
    for (const StationPlace &place : qAsConst(chosen))
        tiles.at(place.tile)->begin();
    showMessage(QString());
    saveSettings();
    refreshButtons();
    StationWorker *target = worker;
    const Station::Recipe copy = recipe;
    QMetaObject::invokeMethod(target, [target, copy, chosen] { target->run(copy, chosen); }, Qt::QueuedConnection);
}

void StationView::stopAll()
{
    StationWorker *target = worker;
    QMetaObject::invokeMethod(target, [target] { target->stop(); }, Qt::QueuedConnection);
}

void StationView::refreshButtons()
{
    bool anyReady = false;
    for (int i = 0; i < tiles.size(); ++i) {
        StationTile *tile = tiles.at(i);
        const bool ready = recipeLoaded && !tile->portName().isEmpty() && !tile->serialNumber().isEmpty();
        tile->setIdleAllowed(ready);
        anyReady = anyReady || (i < placeCount() && ready && !tile->isRunning());
    }
    startAllButton->setEnabled(anyReady);
    stopButton->setEnabled(isRunning());
}

void StationView::layoutTiles()
{
    auto *grid = static_cast<QGridLayout *>(tileArea->layout());
    const int count = placeCount();
    const int columns = count <= 4 ? count : (count + 1) / 2;
    for (int i = 0; i < tiles.size(); ++i) {
        grid->removeWidget(tiles.at(i));
        // A place that runs stays in view whatever the count.
        const bool shown = i < count || tiles.at(i)->isRunning();
        tiles.at(i)->setVisible(shown);
        if (shown)
            grid->addWidget(tiles.at(i), i / columns, i % columns);
    }
}

void StationView::showMessage(const QString &text)
{
    recordsMessageShown = false;
    message->setText(text);
}

void StationView::saveSettings() const
{
    QSettings settings;
    settings.setValue(QStringLiteral("station/places"), placeCount());
    for (int i = 0; i < tiles.size(); ++i)
        settings.setValue(QStringLiteral("station/port%1").arg(i), tiles.at(i)->portName());
}
