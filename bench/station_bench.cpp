// station_parallel_ratio: eight units at once against one alone, each on a
// simulator at the line's own pace; and what each unit costs the station's
// process in CPU. gui_stall_station_ms: the window's longest stall while its
// station view runs eight units.
#include "stallmeter.h"
#include "mainwindow.h"
#include "queuedspy.h"
#include "simprocess.h"
#include "stationview.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const char *const kRecipe = R"({"name": "bench", "steps": [
    {"step": "parameters", "values": {"fmcw-band": 260, "smooth-coef": 0.5, "th-coef-min": 0.75}},
    {"step": "save"},
    {"step": "selftest"},
    {"step": "measure", "seconds": 3, "mean": [0, 1000], "stddev": [0, 1000]},
    {"step": "verify"}]})";

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

struct StationRun
{
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;   // of the zetra-cli process alone
};

StationRun runStation(const QString &recipe, const QString &records, int units)
{
    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList arguments{"station", recipe, "--records", records};
    for (int i = 0; i < units; ++i) {
        sims.push_back(std::make_unique<SimProcess>(QStringList{"--line-rate"}));
        if (!sims.back()->isRunning())
            return StationRun();
        arguments << "--port" << sims.back()->portName() << "--serial" << QStringLiteral("B%1").arg(i);
    }
    StationRun run;
    QProcess cli;
    // Only the station's process ends within this span, so the children's
    // CPU time grows by its time alone; the simulators are still running.
    const double cpuBefore = childCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    cli.start(QString::fromUtf8(ZETRA_CLI_PATH), arguments);
    if (!cli.waitForFinished(120000) || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
        std::fprintf(stderr, "zetra-cli station failed: %s\n", cli.readAllStandardError().constData());
        return run;
    }
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.cpuSeconds = childCpuSeconds() - cpuBefore;
    run.ok = true;
    return run;
}

bool writeBenchFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

void reportFigure(const char *name, double value, const char *unit);

void stationParallelRatio()
{
    QTemporaryDir dir;
    const QString recipe = dir.filePath("bench.json");
    if (!writeBenchFile(recipe, kRecipe))
        return;
    const StationRun alone = runStation(recipe, dir.filePath("alone.sqlite"), 1);
    constexpr int kUnits = 8;
    const StationRun eight = runStation(recipe, dir.filePath("eight.sqlite"), kUnits);
    if (!alone.ok || !eight.ok)
        return;
    reportFigure("station_one_unit_s", alone.seconds, "s");
    reportFigure("station_eight_units_s", eight.seconds, "s");
    reportFigure("station_parallel_ratio", eight.seconds / alone.seconds, "x");
    // Share of one core each unit takes in the station's process.
    reportFigure("station_cpu_per_unit_percent", 100 * eight.cpuSeconds / eight.seconds / kUnits, "%");
    reportFigure("station_cpu_one_unit_percent", 100 * alone.cpuSeconds / alone.seconds, "%");
}

namespace {


// One run of eight units from the station view's "start all"; the worst
// stall, or a negative figure when the run could not be made.
double stationViewStall(const QString &recipe)
{
    constexpr int kUnits = StationView::kMaxPlaces;
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < kUnits; ++i) {
        sims.push_back(std::make_unique<SimProcess>(QStringList{"--line-rate"}));
        if (!sims.back()->isRunning())
            return -1;
    }
    MainWindow window;
    StationView *view = window.stationView();
    if (!view || !view->loadRecipe(recipe))
        return -1;
    window.show();
    view->setPlaceCount(kUnits);
    for (int i = 0; i < kUnits; ++i) {
        view->tile(i)->portBox()->setCurrentText(sims.at(i)->portName());
        view->tile(i)->serialField()->setText(QStringLiteral("G%1").arg(i));
    }
    QueuedSpy idle(view, &StationView::idle);
    StallMeter stall;
    view->findChild<QAbstractButton *>(QStringLiteral("startAll"))->click();
    if (!idle.wait(120000) && idle.isEmpty())
        return -1;
    int passed = 0;
    for (int i = 0; i < kUnits; ++i)
        passed += view->tile(i)->outcome() == Station::Outcome::Pass;
    if (passed != kUnits)
        std::fprintf(stderr, "gui_stall_station: %d of %d units passed\n", passed, kUnits);
    return stall.worstMs();
}

} // namespace

// The median of three runs' worst, as gui_stall_monitor_ms: the machine
// itself can hold an idle timer back now and then.
void guiStallStation()
{
    QTemporaryDir dir;
    const QString recipe = dir.filePath("bench.json");
    if (!writeBenchFile(recipe, kRecipe) || !writeBenchFile(dir.filePath("info.txt"), "bench|Station"))
        return;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QSettings().setValue(QStringLiteral("records/location"), dir.filePath("records.sqlite"));
    std::vector<double> worst;
    for (int run = 0; run < 3; ++run) {
        const double ms = stationViewStall(recipe);
        std::fprintf(stderr, "gui_stall_station: run %d worst %.1f ms\n", run + 1, ms);
        if (ms >= 0)
            worst.push_back(ms);
    }
    QSettings().remove(QStringLiteral("records/location"));
    QDir::setCurrent(previous);
    if (worst.size() != 3)
        return;
    std::sort(worst.begin(), worst.end());
    reportFigure("gui_stall_station_ms", worst.at(1), "ms");
}
