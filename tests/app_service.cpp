// The service engineer's workflow in the window: parameter backup and
// restore, recording with statistics, log files, remembered settings and the
// orderly ends, against the simulated altimeter.
#include "app_support.h"

#include "deviceparameters.h"
#include "firmwareimage.h"
#include "language.h"
#include "modbuscodec.h"
#include "parameterchangesdialog.h"
#include "registermap.h"
#include "simdefaults.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextBlock>
#include <QToolButton>

#include <qcustomplot.h>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

using namespace RegisterMap;

namespace {

// Every file dialog of the window answers with the next path given here.
void answerFiles(MainWindow &w, QStringList paths, QList<MainWindow::FileRequest> *asked = nullptr)
{
    w.setFileChooser([paths, asked](const MainWindow::FileRequest &request) mutable {
        if (asked)
            asked->append(request);
        return paths.isEmpty() ? QString() : paths.takeFirst();
    });
}

void trigger(MainWindow &w, const char *action)
{
    auto *a = w.findChild<QAction *>(QString::fromLatin1(action));
    QVERIFY2(a, action);
    a->trigger();
}

// The simulator's holding registers as it wrote them at exit.
QMap<int, quint32> stateDump(const QString &path)
{
    QMap<int, quint32> registers;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() == 2)
                registers.insert(fields[0].toInt(), fields[1].toUInt());
        }
    return registers;
}

float floatAt(const QMap<int, quint32> &registers, int address)
{
    return ModbusCodec::floatFromBits(registers.value(address) << 16 | registers.value(address + 1));
}

int writesIn(const QByteArray &simLog)
{
    return simLog.count("rx 13 06 ") + simLog.count("rx 13 10 ");
}

} // namespace

class AppService : public QObject
{
    Q_OBJECT
private slots:
    void backupThenRestorePutsFileValuesBackInDefaultMode();
    void refusedBackupFileWritesNothing();
    void restoreNamesEveryValueNotReadBack();
    void restoreDialogNamesRowsAsTheTabsInEitherLanguage();
    void recordingSurvivesCurveWrapAndEndsWithConnection();
    void disconnectEndsRecordingNamingTheConnection();
    void logsKeepTheirNewestLinesAndSaveToFile();
    void settingsComeBackOnNextStart();
    void stopSignalDuringUpdateInterruptsItAndClosesInOrder();
};

void AppService::backupThenRestorePutsFileValuesBackInDefaultMode()
{
    ScopedWorkDir dir; // no info.txt: the default mode, without the debug tab
    const QString dump = dir.filePath("state.txt");
    SimProcess sim({"--state-dump", dump, "--revision", "ZSIM v2.7", "--verbose"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QCOMPARE(w.uiMode(), UiMode::Default);
    QVERIFY(connectTo(w, sim.portName()));

    const QString backup = dir.filePath("unit.json");
    answerFiles(w, {backup});
    trigger(w, "action_saveParameters");
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains("Параметры сохранены в " + backup), kDeviceWaitMs);
    DeviceParameters::Backup saved;
    QString error;
    QVERIFY2(DeviceParameters::readBackup(backup, saved, error), qPrintable(error));
    QCOMPARE(saved.revision, QString("ZSIM v2.7"));
    QCOMPARE(saved.values.size(), DeviceParameters::all().size());

    // The unit changes; then the backup goes back onto it.
    QueuedSpy written(w.device(), &SerialTop::rcv_DetThCoefMin);
    w.device()->setSizeLockData(3);
    w.device()->setFmcwBandGHz(1500); // beyond what the debug tab's box can show
    w.device()->setDetThCoefMin(0.75f);
    w.device()->getDetThCoefMin();
    QVERIFY(written.wait(kDeviceWaitMs));

    answerFiles(w, {backup});
    trigger(w, "action_loadParameters");
    QDialog *dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((dialog = w.findChild<QDialog *>("parameterChangesDialog")) && dialog->isVisible(),
                             kDeviceWaitMs);
    auto *table = dialog->findChild<QTableWidget *>("tableWidget_parameterChanges");
    QCOMPARE(table->rowCount(), DeviceParameters::all().size());
    QStringList changed;
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->item(row, 0)->font().bold())
            changed << table->item(row, 0)->text() + ": " + table->item(row, 1)->text() + " -> "
                           + table->item(row, 2)->text();
    // Named as on the tabs (the default mode hides them, but not their names).
    QCOMPARE(changed, QStringList({QStringLiteral("Дивиация частоты, МГц (fmcw-band): 1500 -> %1").arg(SimDefaults::kFmcwBand),
                                   QStringLiteral("Detector. Size Lock Data (lock-data-size): 3 -> %1").arg(SimDefaults::kSizeLockData),
                                   QStringLiteral("Detector. Th_Coef_Min (th-coef-min): 0.75 -> %1")
                                       .arg(double(SimDefaults::kDetThCoefMin))}));
    // All eleven rows in view at the dialog's own size.
    QVERIFY(!table->verticalScrollBar()->isVisible());
    QVERIFY(table->rowViewportPosition(table->rowCount() - 1) + table->rowHeight(table->rowCount() - 1)
            <= table->viewport()->height());
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains("Параметры записаны и проверены: 11"), kDeviceWaitMs);
    QVERIFY(!mainLog(w).contains("Не подтверждено"));
    // The result, with the offer to keep the values over a power cycle.
    QMessageBox *outcome = nullptr;
    QTRY_VERIFY((outcome = w.findChild<QMessageBox *>("messageBox_restoreOutcome")));
    QVERIFY(outcome->text().contains("Параметры записаны и проверены: 11"));
    QCOMPARE(outcome->defaultButton()->text(), QString("Сохранить в ПЗУ"));
    const QByteArray saveToRom = "rx 13 05 00 01 ff 00";
    QVERIFY(!sim.errorOutput().contains(saveToRom));
    QVERIFY(answerQuestion(w, "messageBox_restoreOutcome", true));
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains(saveToRom), kDeviceWaitMs);

    // Loaded again onto a unit that now holds it: nothing to write.
    const int writesBefore = sim.errorOutput().count("rx 13 06 ") + sim.errorOutput().count("rx 13 10 ");
    answerFiles(w, {backup});
    trigger(w, "action_loadParameters");
    QTRY_VERIFY_WITH_TIMEOUT((dialog = w.findChild<QDialog *>("parameterChangesDialog")) && dialog->isVisible(),
                             kDeviceWaitMs);
    QVERIFY(!dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->isEnabled());
    QVERIFY(dialog->findChild<QLabel *>("label_parameterChanges")->text().contains("записывать нечего"));
    dialog->reject();
    QCOMPARE(sim.errorOutput().count("rx 13 06 ") + sim.errorOutput().count("rx 13 10 "), writesBefore);

    sim.stop();
    const QMap<int, quint32> registers = stateDump(dump);
    QCOMPARE(registers.value(Holding::SizeLockData), quint32(SimDefaults::kSizeLockData));
    QCOMPARE(registers.value(Holding::FmcwBand), quint32(SimDefaults::kFmcwBand));
    QCOMPARE(floatAt(registers, Holding::DetThCoefMin), SimDefaults::kDetThCoefMin);
    QCOMPARE(floatAt(registers, Holding::TrsSmthCoef), SimDefaults::kTrsSmthCoef);
}

void AppService::refusedBackupFileWritesNothing()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));
    const QByteArray header = R"({"format": "zetra-parameters", "version": 1, "parameters": )";
    QVERIFY(dir.writeFile("unknown.json", header + R"({"lock-data-size": 4, "colour": 2}})"));
    QVERIFY(dir.writeFile("range.json", header + R"({"lock-data-size": 70000}})"));
    QVERIFY(dir.writeFile("other.json", R"({"format": "something-else", "version": 1, "parameters": {}})"));
    const int writesBefore = writesIn(sim.errorOutput());

    const QList<QPair<QString, QString>> cases = {{"unknown.json", "unknown parameter names: colour"},
                                                  {"range.json", "lock-data-size: 70000 does not fit"},
                                                  {"other.json", "format is not \"zetra-parameters\""}};
    for (const auto &[file, why] : cases) {
        answerFiles(w, {dir.filePath(file)});
        trigger(w, "action_loadParameters");
        const QString log = mainLog(w);
        QVERIFY2(log.endsWith(why) || log.contains(why), qPrintable(log));
        QVERIFY(log.contains("Файл параметров отклонён: " + dir.filePath(file)));
        auto *box = w.findChild<QMessageBox *>("messageBox_refusedBackup");
        QVERIFY(box && box->text().contains(why));
        box->close();
        QTRY_VERIFY(!w.findChild<QMessageBox *>("messageBox_refusedBackup"));
        QVERIFY(!w.findChild<QDialog *>("parameterChangesDialog"));
    }
    // A read-out of the unit afterwards is answered, and nothing was written.
    QueuedSpy address(w.device(), &SerialTop::rcv_AdrMb);
    w.device()->getAdrMb();
    QVERIFY(address.wait(kDeviceWaitMs));
    QCOMPARE(writesIn(sim.errorOutput()), writesBefore);
}

void AppService::restoreNamesEveryValueNotReadBack()
{
    ScopedWorkDir dir;
    // Connecting takes its requests, reading the unit twelve; then the device
    // answers four writes with their read-backs and one more write, and dies.
    // It acknowledges the lock data size without taking it.
    SimProcess sim({"--silent-after", QString::number(connectRequests() + 12 + 4 * 2 + 1), "--ignore-write",
                    QString::number(Holding::SizeLockData)});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));
    QVERIFY(dir.writeFile("unit.json", R"({"format": "zetra-parameters", "version": 1, "parameters": {
        "protocol-type": 1, "modbus-address": 19, "fmcw-band": 30, "power-reduction": 2, "lock-data-size": 4,
        "th-coef-min": 0.25, "th-coef-max": 2, "smooth-coef": 0.5, "mti-coef": 0.5, "th-coef-dc": 1,
        "tracker-smooth-coef": 0.125}})"));
    answerFiles(w, {dir.filePath("unit.json")});
    trigger(w, "action_loadParameters");
    QDialog *dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((dialog = w.findChild<QDialog *>("parameterChangesDialog")), kDeviceWaitMs);
    dialog->accept();
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains("Параметры записаны с ошибками"), kDeviceWaitMs);

    QStringList unconfirmed;
    for (const QString &line : mainLog(w).split('\n'))
        if (line.contains("Не подтверждено: "))
            unconfirmed << line.section("Не подтверждено: ", 1).section(':', 0, 0);
    // The address goes last; the fifth value written is the first lost.
    QCOMPARE(unconfirmed, QStringList({"lock-data-size", "th-coef-min", "th-coef-max", "smooth-coef", "mti-coef",
                                       "th-coef-dc", "tracker-smooth-coef", "modbus-address"}));
    QVERIFY(mainLog(w).contains("lock-data-size: записано 4, прочитано 10"));
    QVERIFY(mainLog(w).contains("th-coef-min: не подтверждён (Нет ответа от устройства)"));
    QVERIFY(mainLog(w).endsWith("не подтверждено 8 из 11"));
}

// The parameter table names each row; the dialog shows that name in the
// window's language, as the debug tab's label does.
void AppService::restoreDialogNamesRowsAsTheTabsInEitherLanguage()
{
    ScopedWorkDir dir;
    const DeviceParameters::Parameter *band = DeviceParameters::find("fmcw-band");
    const DeviceParameters::Parameter *power = DeviceParameters::find("power-reduction");
    DeviceParameters::Backup backup;
    backup.values = {{band, 300}, {power, 2}};
    const DeviceParameters::ParameterValues current{{band, 250}, {power, 2}};
    auto rowNames = [&] {
        ParameterChangesDialog dialog(dir.filePath("unit.json"), backup, current);
        auto *table = dialog.findChild<QTableWidget *>("tableWidget_parameterChanges");
        return QStringList{table->item(0, 0)->text(), table->item(1, 0)->text()};
    };
    auto tabLabel = [](const char *name) {
        MainWindow w;
        return widget<QLabel>(w, name)->text();
    };
    const auto russian = qScopeGuard([] { Language::apply(QStringLiteral("ru")); });
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("ru")}) {
        QString problem;
        QVERIFY2(Language::apply(language, &problem), qPrintable(problem));
        const QStringList names = rowNames();
        QCOMPARE(names.at(0), tabLabel("label_13").chopped(1) + " (fmcw-band)");
        QCOMPARE(names.at(1), tabLabel("label_20").chopped(1) + " (power-reduction)");
        QCOMPARE(names.at(0).startsWith("Frequency deviation, MHz"), language == "en");
    }
}

void AppService::recordingSurvivesCurveWrapAndEndsWithConnection()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Assemblage"));
    // The line goes some twenty readings past the curve's wrap: the
    // connection's requests, then a distance and a period each.
    const int wrapAt = MainWindow::kHeightPointLimit + 5;
    SimProcess sim({"--vanish-after", QString::number(connectRequests() + 2 * (wrapAt + 20))});
    QVERIFY(sim.isRunning());
    MainWindow w;
    const QString csv = dir.filePath("height.csv");
    QList<MainWindow::FileRequest> asked;
    answerFiles(w, {csv}, &asked);
    auto *record = widget<QPushButton>(w, "pushButton_recordHeight");
    auto *indicator = widget<QLabel>(w, "label_recording");
    // Without a unit there is nothing to record: refused, and said so.
    QTest::mouseClick(record, Qt::LeftButton);
    QVERIFY(!record->isChecked());
    QVERIFY(asked.isEmpty());
    QVERIFY(mainLog(w).endsWith("Запись не начата: устройство не подключено"));
    QVERIFY(indicator->isHidden());

    QVERIFY(connectTo(w, sim.portName()));
    // Recording with the measurement off starts the measurement.
    QueuedSpy readings(w.device(), &SerialTop::checkDistance);
    QTest::mouseClick(record, Qt::LeftButton);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.first().kind, MainWindow::FileKind::Recording);
    QVERIFY(w.findChild<QAction *>("action_record")->isChecked());
    QVERIFY(widget<QToolButton>(w, "toolButton_start_meas")->isChecked());
    QVERIFY(!indicator->isHidden());
    auto *plot = widget<QCustomPlot>(w, "widget_plotter");
    // Past the 300-point wrap: the curve starts again, the file goes on.
    QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= wrapAt, 120000);
    // The indicator counts the rows written.
    QTRY_VERIFY(indicator->text().contains(QRegularExpression("^● Запись: [1-9]\\d+ строк, \\d\\d:\\d\\d$")));
    QVERIFY(plot->graph(0)->dataCount() < readings.size());
    auto *stats = widget<QLabel>(w, "label_heightStats");
    QTRY_VERIFY(stats->text().startsWith(QString("Точек: %1 ").arg(plot->graph(0)->dataCount())));
    double sum = 0;
    for (auto it = plot->graph(0)->data()->constBegin(); it != plot->graph(0)->data()->constEnd(); ++it)
        sum += it->value;
    QVERIFY2(stats->text().contains(
                 QString("среднее: %1 м").arg(QString::number(sum / plot->graph(0)->dataCount(), 'f', 4))),
             qPrintable(stats->text()));

    // The line goes: recording ends, the file is closed and complete.
    QueuedSpy lost(w.device(), &SerialTop::connectedChanged);
    QVERIFY(lost.wait(60000));
    QCOMPARE(lost.first().first().toBool(), false);
    // The real reason, not the measurement that stopped with the line.
    // In the user's words, the system's own text in brackets after them.
    QTRY_VERIFY(mainLog(w).contains(QRegularExpression("Запись остановлена \\(Соединение с портом \\S+ потеряно: "
                                                       "адаптер отключён или порт закрыт( \\([^)]*\\))?\\): \\d+ строк")));
    QVERIFY(!mainLog(w).contains("измерение остановлено"));
    QVERIFY(!record->isChecked());
    QVERIFY(indicator->isHidden());
    const int recorded = readings.size();

    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.first(), QByteArray("time_s;distance_m;period"));
    QCOMPARE(lines.last(), QByteArray()); // the last row is whole
    QCOMPARE(lines.size() - 2, recorded);
    double previous = -1;
    for (int i = 1; i < lines.size() - 1; ++i) {
        const QList<QByteArray> fields = lines[i].split(';');
        QCOMPARE(fields.size(), 3);
        QVERIFY(fields[0].toDouble() >= previous);
        previous = fields[0].toDouble();
        QCOMPARE(fields[1].toFloat(), readings[i - 1].first().toFloat());
    }
    QCOMPARE(lines[1].split(';')[2], QByteArray("0.1")); // the simulator's period

    // A restart empties curve and statistics.
    trigger(w, "action_restartHeight");
    QCOMPARE(plot->graph(0)->dataCount(), 0);
    QCOMPARE(stats->text(), QString("Точек: 0"));
}

// Disconnecting by hand while recording: the file closes with every row,
// and the log names the connection, not the measurement that ended with it.
void AppService::disconnectEndsRecordingNamingTheConnection()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Assemblage"));
    SimProcess sim;
    QVERIFY(sim.isRunning());
    MainWindow w;
    const QString csv = dir.filePath("disconnect.csv");
    answerFiles(w, {csv});
    QVERIFY(connectTo(w, sim.portName()));
    QueuedSpy readings(w.device(), &SerialTop::checkDistance);
    auto *record = widget<QPushButton>(w, "pushButton_recordHeight");
    QTest::mouseClick(record, Qt::LeftButton);
    QVERIFY(record->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= 3, 30000);

    QTest::mouseClick(widget<QPushButton>(w, "pushButton_connect_to_rs485"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!record->isChecked(), 30000);
    QVERIFY(!widget<QToolButton>(w, "toolButton_start_meas")->isChecked());
    const QRegularExpressionMatch ended =
        QRegularExpression(QStringLiteral("Запись остановлена \\(нет связи с устройством\\): (\\d+) строк")).match(mainLog(w));
    QVERIFY2(ended.hasMatch(), qPrintable(mainLog(w)));
    QVERIFY(!mainLog(w).contains("измерение остановлено"));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size() - 2, ended.captured(1).toInt());
    QVERIFY(ended.captured(1).toInt() >= 3);
}

void AppService::logsKeepTheirNewestLinesAndSaveToFile()
{
    ScopedWorkDir dir;
    MainWindow w;
    auto *log = widget<QTextEdit>(w, "textEdit_log");
    auto *programming = widget<QTextEdit>(w, "textEdit_log_apdater");
    const int extra = 25;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < MainWindow::kLogLineLimit + extra; ++i) {
            QMetaObject::invokeMethod(&w, "_appendLog", Q_ARG(QString, QString("line %1").arg(i)));
            QMetaObject::invokeMethod(&w, "_appendLogUpdater", Q_ARG(QString, QString("step %1").arg(i)),
                                      Q_ARG(bool, true), Q_ARG(QColor, QColor(Qt::white)));
        }
        for (QTextEdit *edit : {log, programming}) {
            QCOMPARE(edit->document()->blockCount(), MainWindow::kLogLineLimit);
            QVERIFY(edit->document()->firstBlock().text().endsWith(QString(" %1").arg(extra)));
        }
        // Clearing asks first; "No" keeps the lines. Cleared logs are
        // bounded all the same.
        trigger(w, "action_clearLog");
        QVERIFY(answerQuestion(w, "messageBox_clearLog", false));
        QCOMPARE(log->document()->blockCount(), MainWindow::kLogLineLimit);
        trigger(w, "action_clearLog");
        QVERIFY(answerQuestion(w, "messageBox_clearLog", true));
        trigger(w, "action_clearProgrammingLog");
        QVERIFY(answerQuestion(w, "messageBox_clearLog", true));
        QVERIFY(log->toPlainText().isEmpty());
        QVERIFY(programming->toPlainText().isEmpty());
    }

    QMetaObject::invokeMethod(&w, "_appendLogUpdater", Q_ARG(QString, QString("Программирование... ")),
                              Q_ARG(bool, true), Q_ARG(QColor, QColor(Qt::white)));
    // The logs are a record: typing into them changes nothing, so nothing
    // typed ends up in a saved log.
    w.show();
    for (QTextEdit *edit : {log, programming}) {
        edit->setFocus();
        QTest::keyClicks(edit, "typed");
        QTest::keyClick(edit, Qt::Key_Backspace);
        QVERIFY(!edit->toPlainText().contains("type"));
    }
    QVERIFY(programmingLog(w).endsWith("Программирование... "));
    const QString saved = dir.filePath("programming.txt");
    answerFiles(w, {saved, dir.filePath("no-such-folder/log.txt")});
    trigger(w, "action_saveProgrammingLog");
    QVERIFY(mainLog(w).endsWith("Журнал сохранён в " + saved));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), programmingLog(w) + "\n");
    trigger(w, "action_saveLog");
    QVERIFY2(mainLog(w).contains("Журнал не сохранён: " + dir.filePath("no-such-folder/log.txt")),
             qPrintable(mainLog(w)));
}

void AppService::settingsComeBackOnNextStart()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    QSettings().clear();
    SimProcess sim;
    QVERIFY(sim.isRunning());
    {
        MainWindow w;
        QVERIFY(connectTo(w, sim.portName()));
        widget<QCheckBox>(w, "checkBox_LogRxByte_rs485")->setChecked(true);
        widget<QComboBox>(w, "comboBox_typeRawData")->setCurrentIndex(3);
        widget<QCheckBox>(w, "checkBox_rawAutoscale")->setChecked(true);
        w.resize(820, 710);
        QVERIFY(QDir(dir.path()).mkdir("logs"));
        answerFiles(w, {dir.filePath("logs/today.txt")});
        trigger(w, "action_saveLog");
        QVERIFY(w.close());
    }
    MainWindow again;
    QCOMPARE(widget<QComboBox>(again, "comboBox_list_port_rs485")->currentText(), sim.portName());
    QVERIFY(widget<QCheckBox>(again, "checkBox_LogRxByte_rs485")->isChecked());
    QVERIFY(!widget<QCheckBox>(again, "checkBox_LogTxByte_rs485")->isChecked());
    QCOMPARE(widget<QComboBox>(again, "comboBox_typeRawData")->currentIndex(), 3);
    QVERIFY(widget<QCheckBox>(again, "checkBox_rawAutoscale")->isChecked());
    QCOMPARE(again.size(), QSize(820, 710));
    QList<MainWindow::FileRequest> asked;
    answerFiles(again, {}, &asked);
    trigger(again, "action_saveLog");
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.first().folder, dir.filePath("logs"));
    // Remembered, not connected: that takes --connect or a click.
    QVERIFY(!widget<QPushButton>(again, "pushButton_connect_to_rs485")->isChecked());
    QVERIFY(!mainLog(again).contains("Подключение..."));
}

void AppService::stopSignalDuringUpdateInterruptsItAndClosesInOrder()
{
#ifndef Q_OS_UNIX
    QSKIP("stop signals are watched on Unix only");
#else
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    const QString flash = dir.filePath("flash.bin");
    SimProcess sim({"--line-rate", "--erase-ms", "0", "--flash-dump", flash});
    QVERIFY(sim.isRunning());
    QSettings().clear();
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));
    QVERIFY(dir.writeFile("image.bin", FirmwareImage::withTrailer(QByteArray(256 * 1024, '\x3C'))));
    widget<QLineEdit>(w, "lineEdit_file_name")->setText(dir.filePath("image.bin"));
    QueuedSpy finished(w.device(), &SerialTop::firmwareUpdateFinished);
    QueuedSpy threadDone(w.device()->thread(), &QThread::finished);
    QTest::mouseClick(widget<QPushButton>(w, "pushButton_firmware_update"), Qt::LeftButton);
    QVERIFY(answerQuestion(w, "messageBox_confirmUpdate", true));
    QTRY_VERIFY_WITH_TIMEOUT(programmingLog(w).contains("Программирование..."), kDeviceWaitMs);

    // Nothing may queue requests between the blocks meanwhile.
    QVERIFY(!widget<QWidget>(w, "tab_rerulation")->isEnabled());
    QVERIFY(!widget<QPushButton>(w, "pushButton_connect_to_rs485")->isEnabled());
    QVERIFY(!w.findChild<QAction *>("action_loadParameters")->isEnabled());
    QVERIFY(!widget<QPushButton>(w, "pushButton_open_file_image")->isEnabled());

    // Closing asks first; "No" leaves the update running.
    QVERIFY(!w.close());
    QMessageBox *question = nullptr;
    QTRY_VERIFY((question = w.findChild<QMessageBox *>("messageBox_closeDuringUpdate")));
    question->button(QMessageBox::No)->click();
    QVERIFY(w.device());
    QVERIFY(finished.isEmpty());

    // SIGTERM stops the update between blocks and closes without asking.
    QVERIFY(w.close() == false);
    std::raise(SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!w.device(), kDeviceWaitMs);
    // The thread's end reaches the spy queued, and may still be on its way
    // when the window has let the device go.
    QTRY_COMPARE(threadDone.size(), 1);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    const QString log = programmingLog(w);
    QVERIFY2(log.contains("Обновление ПО прервано по запросу"), qPrintable(log));
    QVERIFY(log.endsWith("сек") && log.contains("Обновление ПО прервано\n"));
    QVERIFY(!w.findChild<QMessageBox *>("messageBox_closeDuringUpdate"));
    QVERIFY(QSettings().contains("window/geometry"));
#endif
}

QTEST_MAIN(AppService)
#include "app_service.moc"
