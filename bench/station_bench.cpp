// station_parallel_ratio: eight units at once against one alone, each on a
// simulator at the line's own pace; and what each unit costs the station's
// process in CPU.
#include "simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

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

} // namespace

void reportFigure(const char *name, double value, const char *unit);

void stationParallelRatio()
{
    QTemporaryDir dir;
    const QString recipe = dir.filePath("bench.json");
    QFile file(recipe);
    if (!file.open(QIODevice::WriteOnly) || file.write(kRecipe) < 0)
        return;
    file.close();
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
