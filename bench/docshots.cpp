// Pictures of each tab for the user guide, taken from the real window at
// work against the simulator: docs/tab-<name>.png, or docs/tab-<name>-en.png
// and so on for the English window.
//   zetra-docshots [DIR [ru|en]]
#include "firmwareimage.h"
#include "linemonitorwindow.h"
#include "language.h"
#include "mainwindow.h"
#include "recordsbrowser.h"
#include "stationview.h"
#include "serialtop.h"
#include "simprocess.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>

#include <cstdio>
#include <functional>

namespace {

// "" for the Russian pictures, "-en" for the English ones.
QString suffix;

QString picture(const QString &dir, const QString &name)
{
    return dir + QStringLiteral("/%1%2.png").arg(name, suffix);
}

// A log line's beginning in the window's language.
QString logText(const char *russian)
{
    return QCoreApplication::translate("MainWindow", russian).section(QStringLiteral("%1"), 0, 0).trimmed();
}

template<typename T>
T *formWidget(QWidget &window, const char *name)
{
    T *w = window.findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("the form has no %s", name);
    return w;
}

void settle(int ms)
{
    QDeadlineTimer until(ms);
    while (!until.hasExpired())
        QTest::qWait(20);
}

bool save(const QPixmap &picture, const QString &path)
{
    const bool ok = picture.save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

bool shoot(MainWindow &window, const QString &dir, const char *tab, const char *name)
{
    formWidget<QTabWidget>(window, "tabWidget")->setCurrentWidget(formWidget<QWidget>(window, tab));
    settle(300);
    return save(window.grab(), picture(dir, QStringLiteral("tab-%1").arg(QString::fromLatin1(name))));
}

bool settleUntil(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer until(ms);
    while (!done() && !until.hasExpired())
        QTest::qWait(20);
    return done();
}

void trigger(MainWindow &window, const char *action)
{
    if (auto *a = window.findChild<QAction *>(QString::fromLatin1(action)))
        a->trigger();
}

QString mainLog(MainWindow &window)
{
    return formWidget<QTextEdit>(window, "textEdit_log")->toPlainText();
}

// A unit whose values moved since its backup, and the list of changes that
// loading the backup would make.
bool shootBackupDialog(MainWindow &window, const QString &dir)
{
    trigger(window, "action_saveParameters");
    if (!settleUntil([&] { return mainLog(window).contains(logText("Параметры сохранены в %1")); }, 20000))
        return false;
    window.device()->setSizeLockData(3);
    window.device()->setFmcwBandGHz(30);
    window.device()->setDetThCoefMin(0.75f);
    settle(500);
    trigger(window, "action_loadParameters");
    QDialog *dialog = nullptr;
    if (!settleUntil([&] { return (dialog = window.findChild<QDialog *>(QStringLiteral("parameterChangesDialog"))); },
                     20000))
        return false;
    settle(300);
    const bool ok = save(dialog->grab(), picture(dir, QStringLiteral("backup-dialog")));
    dialog->accept();
    settleUntil([&] { return mainLog(window).contains(logText("Параметры записаны и проверены: %1")); }, 20000);
    if (auto *outcome = window.findChild<QMessageBox *>(QStringLiteral("messageBox_restoreOutcome")))
        outcome->reject();
    return ok;
}

// The window with its "Устройство" menu open.
bool shootMenu(MainWindow &window, const QString &dir)
{
    QMenuBar *bar = window.menuBar();
    QAction *device = bar->actions().value(1);
    if (!device || !device->menu())
        return false;
    bar->setActiveAction(device);
    settle(300);
    QMenu *menu = device->menu();
    QPixmap picture = window.grab();
    {
        QPainter painter(&picture);
        painter.drawPixmap(window.mapFromGlobal(menu->mapToGlobal(QPoint(0, 0))), menu->grab());
    }
    menu->close();
    return save(picture, ::picture(dir, QStringLiteral("menu")));
}

// The station view after a run of three units (one passes, one fails its
// self-test, one loses its line) with a fourth scanned and waiting, then the
// records browser on that run.
bool shootStation(const QString &out)
{
    QTemporaryDir bench;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(bench.path());
    QFile info(QStringLiteral("info.txt"));
    QFile recipe(QStringLiteral("end-of-line.json"));
    if (!info.open(QIODevice::WriteOnly) || info.write("docs|Station") < 0 || !recipe.open(QIODevice::WriteOnly)
        || recipe.write(R"({"name": "end-of-line check", "steps": [
            {"step": "parameters", "values": {"fmcw-band": 260, "smooth-coef": 0.5}},
            {"step": "save"},
            {"step": "selftest"},
            {"step": "measure", "seconds": 1, "mean": [0, 1000], "stddev": [0, 1000]},
            {"step": "verify"}]})") < 0)
        return false;
    info.close();
    recipe.close();
    QSettings().setValue(QStringLiteral("records/location"), bench.filePath(QStringLiteral("records.sqlite")));

    SimProcess good({"--line-rate", "--erase-ms", "0"});
    SimProcess faulty({"--line-rate", "--erase-ms", "0", "--selftest-fail"});
    SimProcess vanishing({"--line-rate", "--erase-ms", "0", "--vanish-after", "20"});
    SimProcess waiting({"--line-rate"});
    bool ok = false;
    {
        MainWindow window;
        StationView *view = window.stationView();
        if (!view || !view->loadRecipe(bench.filePath(QStringLiteral("end-of-line.json"))))
            return false;
        window.resize(1180, 720);
        window.show();
        view->setPlaceCount(4);
        const QStringList ports{good.portName(), faulty.portName(), vanishing.portName(), waiting.portName()};
        const QStringList serials{"ZR-20417", "ZR-20418", "ZR-20419"};
        for (int i = 0; i < 4; ++i)
            view->tile(i)->portBox()->setCurrentText(ports.at(i));
        for (int i = 0; i < 3; ++i)
            view->tile(i)->serialField()->setText(serials.at(i));
        QSignalSpy idle(view, &StationView::idle);
        formWidget<QAbstractButton>(*view, "startAll")->click();
        idle.wait(90000);
        view->tile(3)->serialField()->setText(QStringLiteral("ZR-20420"));
        settle(300);
        ok = save(window.grab(), picture(out, QStringLiteral("station")));

        trigger(window, "action_records");
        RecordsBrowser *browser = nullptr;
        settleUntil([&] { return (browser = window.findChild<RecordsBrowser *>()); }, 5000);
        if (browser) {
            browser->resize(1180, 560);
            settleUntil([&] { return !browser->isSearching(); }, 10000);
            auto *runs = formWidget<QTableView>(*browser, "recordRuns");
            for (int row = 0; row < runs->model()->rowCount(); ++row)
                if (runs->model()->index(row, 1).data().toString() == QLatin1String("ZR-20418"))
                    runs->setCurrentIndex(runs->model()->index(row, 0));
            settle(300);
            ok = save(browser->grab(), picture(out, QStringLiteral("records"))) && ok;
        } else {
            ok = false;
        }
    }
    QSettings().remove(QStringLiteral("records/location"));
    QDir::setCurrent(previous);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs")).absolutePath();
    const QString language = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("ru");
    if (!Language::available().contains(language)) {
        std::fprintf(stderr, "docshots: unknown language %s\n", qPrintable(language));
        return 1;
    }
    QString problem;
    if (!Language::apply(language, &problem))
        std::fprintf(stderr, "docshots: %s\n", qPrintable(problem));
    suffix = language == Language::available().first() ? QString() : QStringLiteral("-") + language;
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    // Pictures of a first start: no remembered settings, and none left behind.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, work.path());
    QFile info(QStringLiteral("info.txt"));
    if (!info.open(QIODevice::WriteOnly) || info.write("docs|Elevated") < 0)
        return 1;
    info.close();
    QFile image(QStringLiteral("firmware.bin"));
    if (!image.open(QIODevice::WriteOnly) || image.write(FirmwareImage::withTrailer(QByteArray(32768, '\x5A'))) < 0)
        return 1;
    image.close();

    // A full-length revision text: shorter ones are padded with NULs on the device.
    SimProcess sim({"--line-rate", "--erase-ms", "700", "--revision", "ZSIM v1.0 build 42"});
    MainWindow window;
    window.show();
    QSignalSpy state(window.device(), &SerialTop::connectedChanged);
    window.selectPort(sim.portName());
    window.pressConnect();
    if (!state.wait(20000) || !state.last().at(0).toBool()) {
        std::fprintf(stderr, "docshots: could not connect to the simulator\n");
        return 1;
    }

    QString nextFile;
    window.setFileChooser([&nextFile](const MainWindow::FileRequest &) { return nextFile; });

    formWidget<QAbstractButton>(window, "pushButton_getAllSettings")->click();
    settle(800);
    bool ok = shoot(window, out, "tab_rerulation", "settings");
    ok = shoot(window, out, "tab_debug", "debug") && ok;
    nextFile = work.filePath(QStringLiteral("unit.json"));
    ok = shootBackupDialog(window, out) && ok;

    // Measuring and recording, with the statistics under the curve.
    formWidget<QTabWidget>(window, "tabWidget")->setCurrentWidget(formWidget<QWidget>(window, "tab_measurement"));
    nextFile = work.filePath(QStringLiteral("height.csv"));
    // Recording starts the measurement.
    formWidget<QAbstractButton>(window, "pushButton_recordHeight")->click();
    settle(8000);
    ok = shoot(window, out, "tab_measurement", "measurement") && ok;
    ok = shootMenu(window, out) && ok;
    formWidget<QAbstractButton>(window, "toolButton_start_meas")->click();

    formWidget<QAbstractButton>(window, "checkBox_rawAutoscale")->click();
    formWidget<QComboBox>(window, "comboBox_typeRawData")->setCurrentIndex(2);
    QSignalSpy rawDone(window.device(), &SerialTop::RawIsRead);
    formWidget<QAbstractButton>(window, "pushButton_readRaw")->click();
    rawDone.wait(20000);
    ok = shoot(window, out, "tab_telem", "telemetry") && ok;

    formWidget<QLineEdit>(window, "lineEdit_file_name")->setText(work.filePath(QStringLiteral("firmware.bin")));
    QSignalSpy busy(window.device(), &SerialTop::busyChanged);
    formWidget<QAbstractButton>(window, "pushButton_firmware_update")->click();
    QMessageBox *question = nullptr;
    settleUntil([&] { return (question = window.findChild<QMessageBox *>(QStringLiteral("messageBox_confirmUpdate"))); },
                20000);
    if (question)
        for (QAbstractButton *button : question->buttons())
            if (question->buttonRole(button) == QMessageBox::AcceptRole)
                button->click();
    while (busy.count() < 2 && busy.wait(60000)) {
    }
    ok = shoot(window, out, "tab_programming", "programming") && ok;

    // The line monitor beside the window, and the counters in its status bar.
    trigger(window, "action_lineMonitor");
    settle(500);
    if (LineMonitorWindow *monitor = window.lineMonitor())
        ok = save(monitor->grab(), out + QStringLiteral("/line-monitor.png")) && ok;
    else
        ok = false;
    ok = save(window.statusBar()->grab(), out + QStringLiteral("/status-line.png")) && ok;
    ok = shootStation(out) && ok;
    return ok ? 0 : 1;
}
