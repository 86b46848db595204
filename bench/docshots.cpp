// Pictures of each tab for the user guide, taken from the real window at
// work against the simulator: docs/tab-<name>.png.
#include "firmwareimage.h"
#include "mainwindow.h"
#include "serialtop.h"
#include "simprocess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>

namespace {

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

bool shoot(MainWindow &window, const QString &dir, const char *tab, const char *name)
{
    formWidget<QTabWidget>(window, "tabWidget")->setCurrentWidget(formWidget<QWidget>(window, tab));
    settle(300);
    const QString path = dir + QStringLiteral("/tab-%1.png").arg(QString::fromLatin1(name));
    const bool ok = window.grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Never the settings of the user running it, nor shaped by them.
    QStandardPaths::setTestModeEnabled(true);
    const QString out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs")).absolutePath();
    QTemporaryDir work;
    QDir::setCurrent(work.path());
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

    formWidget<QAbstractButton>(window, "pushButton_getAllSettings")->click();
    settle(800);
    bool ok = shoot(window, out, "tab_rerulation", "settings");
    ok = shoot(window, out, "tab_debug", "debug") && ok;

    formWidget<QTabWidget>(window, "tabWidget")->setCurrentWidget(formWidget<QWidget>(window, "tab_measurement"));
    formWidget<QAbstractButton>(window, "toolButton_start_meas")->click();
    settle(8000);
    ok = shoot(window, out, "tab_measurement", "measurement") && ok;
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
    while (busy.count() < 2 && busy.wait(60000)) {
    }
    ok = shoot(window, out, "tab_programming", "programming") && ok;
    return ok ? 0 : 1;
}
