// The window against the simulated altimeter over a pseudo-terminal.
#include "app_support.h"

#include "deviceharness.h"
#include "firmwareimage.h"
#include "lineframemodel.h"
#include "linemonitorwindow.h"
#include "queuedspy.h"
#include "serialtop.h"
#include "registermap.h"
#include "simdefaults.h"
#include "simprocess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>

#include <qcustomplot.h>

namespace {

constexpr int kLong = kDeviceWaitMs;

// Start addresses of the holding-register reads in the simulator's log.
QList<int> holdingReadsIn(const QByteArray &simLog)
{
    QList<int> addresses;
    static const QRegularExpression read(QStringLiteral("^rx 13 03 ([0-9a-f]{2}) ([0-9a-f]{2}) "));
    for (const QByteArray &line : simLog.split('\n')) {
        const auto m = read.match(QString::fromLatin1(line));
        if (m.hasMatch())
            addresses << (m.captured(1).toInt(nullptr, 16) << 8 | m.captured(2).toInt(nullptr, 16));
    }
    return addresses;
}

int countLines(const QByteArray &simLog, const QByteArray &prefix)
{
    int n = 0;
    for (const QByteArray &line : simLog.split('\n'))
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

// The colour a widget is drawn in a third of the way across its middle,
// clear of its text and its arrow.
QColor faceColour(QWidget *field)
{
    const QImage face = field->grab().toImage();
    return face.pixelColor(face.width() / 3, face.height() / 2);
}

void click(const QWidget &w, const char *name)
{
    QTest::mouseClick(widget<QAbstractButton>(w, name), Qt::LeftButton);
}

} // namespace

class AppDevice : public QObject
{
    Q_OBJECT
private slots:
    void readAllQueuesElevenReadsAndFillsBothTabs();
    void setButtonsSendWidgetValues();
    void fieldsReadOnConnectAndFlaggedWhenTheyCannotShowTheValue();
    void listWithoutChoiceWritesNothing();
    void flaggedWriteSaysWhatTheUnitKept();
    void fieldNamingATableRowIsReadAndWritten();
    void listNamingATableRowIsFlaggedAndWritesItsOwnChoice();
    void writtenFieldIsReadBackAndTheLogNamesWhatTheUnitKept();
    void measurementShowsDistanceWithFourDecimals();
    void interleavedRawDataSplitsOverTwoCurves();
    void failedGraphSaveIsNotReportedAsSaved();
    void firmwareUpdateClosingLineTellsOutcome();
    void closingDuringWaitStopsDeviceThread();
    void lineMonitorHidesPollingPausesAndSavesCsv();
    void lineMonitorTimesRunOnAcrossReconnects();
};

void AppDevice::readAllQueuesElevenReadsAndFillsBothTabs()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));

    // Form values that differ from what the simulator holds.
    widget<QSpinBox>(w, "spinBox_SizeLockData")->setValue(3);
    widget<QSpinBox>(w, "spinBox_mbAdr")->setValue(200);
    widget<QSpinBox>(w, "spinBox_AdrMbDbg")->setValue(5);
    widget<QComboBox>(w, "comboBox_ProtTypeList")->setCurrentIndex(2);
    widget<QComboBox>(w, "comboBox_ProtTypeListDbg")->setCurrentIndex(1);
    QueuedSpy lastReport(w.device(), &SerialTop::rcv_AdrMb);
    const int readsBefore = holdingReadsIn(sim.errorOutput()).size();

    click(w, "pushButton_getAllSettings");
    QVERIFY(lastReport.wait(kLong));

    const QList<int> reads = holdingReadsIn(sim.errorOutput()).mid(readsBefore);
    QCOMPARE(reads, QList<int>({38, 39, 50, 70, 71, 73, 79, 75, 77, 90, 16}));

    QTRY_COMPARE_WITH_TIMEOUT(widget<QSpinBox>(w, "spinBox_mbAdr")->value(), 19, kLong);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_AdrMbDbg")->value(), 19);
    QCOMPARE(widget<QComboBox>(w, "comboBox_ProtTypeList")->currentIndex(), SimDefaults::kProtType);
    QCOMPARE(widget<QComboBox>(w, "comboBox_ProtTypeListDbg")->currentIndex(), SimDefaults::kProtType);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_FmcwBand")->value(), SimDefaults::kFmcwBand);
    QCOMPARE(widget<QComboBox>(w, "comboBox_ReductionTxPowerList")->currentIndex(), SimDefaults::kFreqRed);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_SizeLockData")->value(), SimDefaults::kSizeLockData);
    QCOMPARE(float(widget<QDoubleSpinBox>(w, "doubleSpinBox_DetThCoefMin")->value()), SimDefaults::kDetThCoefMin);
    QCOMPARE(float(widget<QDoubleSpinBox>(w, "doubleSpinBox_DetThCoefMax")->value()), SimDefaults::kDetThCoefMax);
    QCOMPARE(float(widget<QDoubleSpinBox>(w, "doubleSpinBox_DetThCoefDC")->value()), SimDefaults::kDetThCoefDC);
    QCOMPARE(float(widget<QDoubleSpinBox>(w, "doubleSpinBox_DetSmthCoef")->value()), SimDefaults::kDetSmthCoef);
    QCOMPARE(float(widget<QDoubleSpinBox>(w, "doubleSpinBox_DetMtiCoef")->value()), SimDefaults::kDetMtiCoef);
    QCOMPARE(float(widget<QDoubleSpinBox>(w, "doubleSpinBox_TrsSmthCoef")->value()), SimDefaults::kTrsSmthCoef);
    QVERIFY(!mainLog(w).contains("Нет ответа от устройства"));
}

void AppDevice::fieldsReadOnConnectAndFlaggedWhenTheyCannotShowTheValue()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    auto *band = widget<QSpinBox>(w, "spinBox_FmcwBand");
    auto *coefMin = widget<QDoubleSpinBox>(w, "doubleSpinBox_DetThCoefMin");
    auto *debugAddress = widget<QSpinBox>(w, "spinBox_AdrMbDbg");
    // Placeholders, or a previous unit's values.
    band->setValue(1500);
    coefMin->setValue(7.5);
    debugAddress->setValue(3);

    // Connecting alone fills every field with the unit's values, none flagged.
    QVERIFY(connectTo(w, sim.portName()));
    QTRY_COMPARE_WITH_TIMEOUT(debugAddress->value(), 19, kLong);
    QCOMPARE(band->value(), SimDefaults::kFmcwBand);
    QCOMPARE(float(coefMin->value()), SimDefaults::kDetThCoefMin);
    for (QAbstractSpinBox *box : w.findChildren<QAbstractSpinBox *>())
        QVERIFY2(box->toolTip().isEmpty(), qPrintable(box->objectName()));

    // Values another tool wrote: below the band's range, finer than two decimals.
    w.device()->setFmcwBandGHz(24);
    w.device()->setDetThCoefMin(0.125f);
    QueuedSpy lastReport(w.device(), &SerialTop::rcv_AdrMb);
    click(w, "pushButton_getAllSettings");
    QVERIFY(lastReport.wait(kLong));
    QTRY_COMPARE_WITH_TIMEOUT(band->value(), 100, kLong);
    QCOMPARE(coefMin->text(), QString("0.13"));
    QVERIFY(!band->toolTip().isEmpty());
    QVERIFY(!coefMin->toolTip().isEmpty());
    QVERIFY2(mainLog(w).contains("(fmcw-band): в устройстве 24, поле показывает 100"), qPrintable(mainLog(w)));
    QVERIFY(mainLog(w).contains("(th-coef-min): в устройстве 0.125, поле показывает 0.13"));

    // ✓ on the flagged band asks first; "No" writes nothing.
    click(w, "pushButton_setFmcwBand");
    QMessageBox *question = nullptr;
    QTRY_VERIFY((question = w.findChild<QMessageBox *>("messageBox_writeFlaggedField")));
    QCOMPARE(question->defaultButton(), question->button(QMessageBox::No));
    QVERIFY(question->text().contains("24"));
    QPointer<QMessageBox> refused = question;
    question->button(QMessageBox::No)->click();
    QTRY_VERIFY(!refused);
    QVERIFY(mainLog(w).contains("(fmcw-band): не записано"));
    // "Yes" writes what the field shows, 100, and the flag goes.
    click(w, "pushButton_setFmcwBand");
    QTRY_VERIFY((question = w.findChild<QMessageBox *>("messageBox_writeFlaggedField")));
    QPointer<QMessageBox> answered = question;
    question->button(QMessageBox::Yes)->click();
    QTRY_VERIFY(!answered);
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 06 00 27 00 64"), kLong);
    // What went out and what the unit holds now, read back at once.
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains("(fmcw-band): записано 100, прочитано 100"), kLong);
    QCOMPARE(countLines(sim.errorOutput(), "rx 13 06 00 27 00 64"), 1);
    QVERIFY(band->toolTip().isEmpty());

    // A value the user sets is no longer flagged: ✓ writes it at once.
    coefMin->setValue(0.75);
    QVERIFY(coefMin->toolTip().isEmpty());
    click(w, "pushButton_setDetThCoefMin");
    QVERIFY(!w.findChild<QMessageBox *>("messageBox_writeFlaggedField"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 10 00 47 00 02 04 3f 40 00 00"), kLong);
}

void AppDevice::flaggedWriteSaysWhatTheUnitKept()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    // The unit acknowledges writes to the band but keeps its 250.
    SimProcess sim({"--verbose", "--ignore-write", QString::number(RegisterMap::Holding::FmcwBand)});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));
    auto *band = widget<QSpinBox>(w, "spinBox_FmcwBand");
    QTRY_COMPARE_WITH_TIMEOUT(band->value(), SimDefaults::kFmcwBand, kLong);
    // A report of a band the field cannot show (emitted here, it lands at once).
    emit w.device()->rcvFmcwBandGHz(24);
    QCOMPARE(band->value(), 100);
    QVERIFY(!band->toolTip().isEmpty());

    click(w, "pushButton_setFmcwBand");
    QVERIFY(answerQuestion(w, "messageBox_writeFlaggedField", true));
    QTRY_VERIFY_WITH_TIMEOUT(
        mainLog(w).contains("(fmcw-band): записано 100, прочитано 250 — устройство не приняло значение"), kLong);
    QVERIFY(sim.errorOutput().contains("rx 13 06 00 27 00 64"));
    // The field shows what the unit holds.
    QTRY_COMPARE_WITH_TIMEOUT(band->value(), SimDefaults::kFmcwBand, kLong);
}

// A parameter added to the table needs only its widgets: a box whose
// "parameter" names its row and a button whose "writesParameter" names it.
void AppDevice::fieldNamingATableRowIsReadAndWritten()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    auto *page = widget<QWidget>(w, "tab_rerulation");
    auto *field = new QSpinBox(page);
    field->setRange(0, 1000);
    field->setProperty("parameter", "lock-data-size");
    auto *write = new QPushButton(page);
    write->setProperty("writesParameter", "lock-data-size");

    QVERIFY(connectTo(w, sim.portName()));
    QTRY_COMPARE_WITH_TIMEOUT(field->value(), SimDefaults::kSizeLockData, kLong);

    field->setValue(9);
    QTest::mouseClick(write, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 06 00 46 00 09"), kLong);
    QCOMPARE(countLines(sim.errorOutput(), "rx 13 06 00 46"), 1);
    // "Read all" brings back what the unit holds now.
    field->setValue(0);
    click(w, "pushButton_getAllSettings");
    QTRY_COMPARE_WITH_TIMEOUT(field->value(), 9, kLong);
    QVERIFY(!mainLog(w).contains("Не подтверждено"));
}

// A second list for a parameter the debug tab shows already: every report
// reaches both, each flagged on its own, and its button writes its own list.
void AppDevice::listNamingATableRowIsFlaggedAndWritesItsOwnChoice()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    auto *page = widget<QWidget>(w, "tab_rerulation");
    auto *list = new QComboBox(page);
    list->addItems({"a", "b", "c"});
    list->setProperty("parameter", "power-reduction");
    auto *write = new QPushButton(page);
    write->setProperty("writesParameter", "power-reduction");
    auto *debugList = widget<QComboBox>(w, "comboBox_ReductionTxPowerList");

    QVERIFY(connectTo(w, sim.portName()));
    QTRY_COMPARE_WITH_TIMEOUT(list->currentIndex(), SimDefaults::kFreqRed, kLong);
    QVERIFY(list->toolTip().isEmpty());

    // A code the short list lacks and the debug tab's list offers.
    w.device()->setFreqRed(5);
    click(w, "pushButton_getAllSettings");
    QTRY_COMPARE_WITH_TIMEOUT(debugList->currentIndex(), 5, kLong);
    QTRY_COMPARE_WITH_TIMEOUT(list->currentIndex(), -1, kLong);
    QCOMPARE(list->toolTip(), QString("В устройстве 5; поле не может показать это значение"));
    QVERIFY(debugList->toolTip().isEmpty());
    QVERIFY2(mainLog(w).contains("Reduction Tx Power (power-reduction): в устройстве 5, в списке поля такого "
                                 "значения нет (0…2)"),
             qPrintable(mainLog(w)));

    // Nothing chosen: nothing written, in words of its own for a list the
    // form did not give any.
    QTest::mouseClick(write, Qt::LeftButton);
    QVERIFY(mainLog(w).contains(
        "Reduction Tx Power (power-reduction): в списке ничего не выбрано, в устройство ничего не записано"));
    // Its button writes its own list's choice, not the debug tab's 5, and
    // the value read back reaches both lists.
    list->setCurrentIndex(2);
    QTest::mouseClick(write, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(debugList->currentIndex(), 2, kLong);
    const QByteArray log = sim.errorOutput();
    QCOMPARE(countLines(log, "rx 13 06 00 32"), 2); // the test's own 5, then 2
    QVERIFY(log.contains("rx 13 06 00 32 00 02"));
    QVERIFY(list->toolTip().isEmpty());
}

// ✓ reads the value back; one the unit did not take is named in the main
// log and the field shows what the unit kept.
void AppDevice::writtenFieldIsReadBackAndTheLogNamesWhatTheUnitKept()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--verbose", "--ignore-write", QString::number(RegisterMap::Holding::FmcwBand)});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));
    auto *band = widget<QSpinBox>(w, "spinBox_FmcwBand");
    QTRY_COMPARE_WITH_TIMEOUT(band->value(), SimDefaults::kFmcwBand, kLong);
    auto *lock = widget<QSpinBox>(w, "spinBox_SizeLockData");

    band->setValue(300);
    click(w, "pushButton_setFmcwBand");
    lock->setValue(4);
    click(w, "pushButton_setSizeLockData");
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains("Не подтверждено: fmcw-band: записано 300, прочитано 250"), kLong);
    QTRY_COMPARE_WITH_TIMEOUT(band->value(), SimDefaults::kFmcwBand, kLong);
    // Each write is followed by its read-back, and a value taken is not
    // complained about.
    QTRY_COMPARE_WITH_TIMEOUT(holdingReadsIn(sim.errorOutput()).mid(connectRequests() - 2),
                              QList<int>({39, 70}), kLong);
    QVERIFY(sim.errorOutput().contains("rx 13 06 00 46 00 04"));
    QCOMPARE(lock->value(), 4);
    QCOMPARE(mainLog(w).count("Не подтверждено"), 1);
}

void AppDevice::setButtonsSendWidgetValues()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));

    widget<QComboBox>(w, "comboBox_ProtTypeList")->setCurrentIndex(2);
    widget<QSpinBox>(w, "spinBox_FmcwBand")->setValue(250);
    widget<QComboBox>(w, "comboBox_ReductionTxPowerList")->setCurrentIndex(5);
    widget<QSpinBox>(w, "spinBox_SizeLockData")->setValue(7);
    widget<QDoubleSpinBox>(w, "doubleSpinBox_DetThCoefMin")->setValue(0.25);
    widget<QDoubleSpinBox>(w, "doubleSpinBox_TrsSmthCoef")->setValue(0.125);
    for (const char *name : {"pushButton_setProtType", "pushButton_setFmcwBand", "pushButton_setReductionTxPower",
                             "pushButton_setSizeLockData", "pushButton_setDetThCoefMin", "pushButton_setTrsSmthCoef"})
        click(w, name);
    // Writes as they reach the line: register, value (float as its bit pattern).
    QTRY_VERIFY_WITH_TIMEOUT(countLines(sim.errorOutput(), "rx 13 10 00 5a") == 1, kLong);
    const QByteArray log = sim.errorOutput();
    QVERIFY(log.contains("rx 13 06 00 26 00 02"));     // protocol type 2
    QVERIFY(log.contains("rx 13 06 00 27 00 fa"));     // band 250
    QVERIFY(log.contains("rx 13 06 00 32 00 05"));     // reduction step 5
    QVERIFY(log.contains("rx 13 06 00 46 00 07"));     // size lock data 7
    QVERIFY(log.contains("rx 13 10 00 47 00 02 04 3e 80 00 00")); // 0.25
    QVERIFY(log.contains("rx 13 10 00 5a 00 02 04 3e 00 00 00")); // 0.125

    // Read back into the other widgets: the device now holds what was sent.
    widget<QComboBox>(w, "comboBox_ProtTypeList")->setCurrentIndex(0);
    widget<QSpinBox>(w, "spinBox_FmcwBand")->setValue(2000);
    QueuedSpy lastReport(w.device(), &SerialTop::rcv_AdrMb);
    click(w, "pushButton_getAllSettings");
    QVERIFY(lastReport.wait(kLong));
    QTRY_COMPARE_WITH_TIMEOUT(widget<QComboBox>(w, "comboBox_ProtTypeListDbg")->currentIndex(), 2, kLong);
    QCOMPARE(widget<QComboBox>(w, "comboBox_ProtTypeList")->currentIndex(), 2);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_FmcwBand")->value(), 250);
    QCOMPARE(widget<QComboBox>(w, "comboBox_ReductionTxPowerList")->currentIndex(), 5);
    QCOMPARE(widget<QDoubleSpinBox>(w, "doubleSpinBox_TrsSmthCoef")->value(), 0.125);

    // The debug tab's protocol button sends the debug tab's own list.
    widget<QComboBox>(w, "comboBox_ProtTypeList")->setCurrentIndex(1);
    widget<QComboBox>(w, "comboBox_ProtTypeListDbg")->setCurrentIndex(3);
    click(w, "pushButton_setProtTypeDbg");
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 06 00 26 00 03"), kLong);
    QVERIFY(!sim.errorOutput().contains("rx 13 06 00 26 00 01"));

    // The debug address box can send 0, which the settings box cannot show.
    widget<QSpinBox>(w, "spinBox_AdrMbDbg")->setValue(0);
    click(w, "pushButton_setAdrMbDbg");
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 06 00 10 00 00"), kLong);
}

void AppDevice::listWithoutChoiceWritesNothing()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Assemblage")); // a protocol list of three items
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));

    // Values set by other means that no item of the lists stands for.
    SerialTop *top = w.device();
    top->setProtType(3);
    top->setFreqRed(8);
    QueuedSpy powerReport(top, &SerialTop::rcv_FreqReduct);
    click(w, "pushButton_getProtType");
    top->getFreqRed();
    QVERIFY(powerReport.wait(kLong));
    auto *protocols = widget<QComboBox>(w, "comboBox_ProtTypeList");
    auto *power = widget<QComboBox>(w, "comboBox_ReductionTxPowerList");
    QTRY_COMPARE_WITH_TIMEOUT(power->currentIndex(), -1, kLong);
    QTRY_COMPARE_WITH_TIMEOUT(protocols->currentIndex(), -1, kLong);
    // Flagged as a number box is when it cannot show the unit's value: the
    // same colour and tooltip, and the main log names what the unit holds.
    top->setFmcwBandGHz(24);
    QueuedSpy bandReport(top, &SerialTop::rcvFmcwBandGHz);
    top->getFmcwBandGHz();
    QVERIFY(bandReport.wait(kLong));
    auto *band = widget<QSpinBox>(w, "spinBox_FmcwBand");
    QTRY_VERIFY_WITH_TIMEOUT(!band->toolTip().isEmpty(), kLong);
    const QColor flagged = band->palette().color(QPalette::Base);
    QCOMPARE(band->toolTip(), QString("В устройстве 24; поле не может показать это значение"));
    QCOMPARE(protocols->toolTip(), QString("В устройстве 3; поле не может показать это значение"));
    QCOMPARE(power->toolTip(), QString("В устройстве 8; поле не может показать это значение"));
    for (QComboBox *list : {protocols, power}) {
        QCOMPARE(list->palette().color(QPalette::Button), flagged);
        // As drawn: the list's face takes the colour (a style may lighten
        // a button face, so the test asks for a tint, not the exact colour).
        const QColor face = faceColour(list);
        QVERIFY2(face.red() > face.green() + 8, qPrintable(face.name()));
    }
    QVERIFY2(mainLog(w).contains("(protocol-type): в устройстве 3, в списке поля такого значения нет (0…2)"),
             qPrintable(mainLog(w)));
    QVERIFY(mainLog(w).contains("(power-reduction): в устройстве 8, в списке поля такого значения нет (0…7)"));

    click(w, "pushButton_setProtType");
    widget<QPushButton>(w, "pushButton_setReductionTxPower")->click(); // its tab is gone in this mode
    // A later write reaching the line shows that nothing was queued before it.
    click(w, "pushButton_setAdrMb");
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 06 00 10 00 13"), kLong);
    const QByteArray log = sim.errorOutput();
    QCOMPARE(countLines(log, "rx 13 06 00 26"), 1); // only the test's own write of 3
    QCOMPARE(countLines(log, "rx 13 06 00 32"), 1); // only the test's own write of 8
    QVERIFY(mainLog(w).contains("Тип протокола не выбран в списке: в устройство ничего не записано"));
    QVERIFY(mainLog(w).contains("Снижение мощности не выбрано в списке: в устройство ничего не записано"));

    // An item the user picks is his value: the flag goes and ✓ writes it at once.
    protocols->setCurrentIndex(1);
    QVERIFY(protocols->toolTip().isEmpty());
    QVERIFY(protocols->palette().color(QPalette::Button) != flagged);
    QVERIFY2(faceColour(protocols).red() < faceColour(protocols).green() + 4, qPrintable(faceColour(protocols).name()));
    click(w, "pushButton_setProtType");
    QVERIFY(!w.findChild<QMessageBox *>("messageBox_writeFlaggedField"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 06 00 26 00 01"), kLong);
    QVERIFY(!power->toolTip().isEmpty()); // the other list is still flagged
}

void AppDevice::measurementShowsDistanceWithFourDecimals()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Assemblage"));
    // The adapter is unplugged after a few readings.
    const QString link = dir.path() + QStringLiteral("/ttyZETRA");
    SimProcess sim({"--distance", "12.5", "--vanish-after", QString::number(connectRequests() + 18), "--link", link});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, link));

    auto *start = widget<QToolButton>(w, "toolButton_start_meas");
    auto *label = widget<QLabel>(w, "label_distace");
    QueuedSpy readings(w.device(), &SerialTop::checkDistance);
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(start->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= 3, kLong);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QString("Высота: 12.5000 (м)"), kLong);
    auto *plot = widget<QCustomPlot>(w, "widget_plotter");
    QTRY_VERIFY_WITH_TIMEOUT(plot->graph(0)->dataCount() >= 3, kLong);
    QCOMPARE(plot->graph(0)->data()->at(0)->value, 12.5);

    // Losing the line stops the requests, and the button and the log say so.
    QTRY_VERIFY_WITH_TIMEOUT(!start->isChecked(), kLong);
    QVERIFY(mainLog(w).contains(QStringLiteral("Соединение с портом %1 потеряно: ").arg(link)));
    QVERIFY(!mainLog(w).contains(QStringLiteral("Нет ответа от устройства")));
    // A running timer would ask every 100 ms and draw a "not connected" line
    // each time; a stopped one falls quiet after the ticks already queued.
    QueuedSpy complaints(w.device(), &SerialTop::appendLog);
    for (int loud = 0; complaints.wait(700); ++loud) {
        QVERIFY(loud < 5);
        complaints.clear();
    }

    // The adapter is back: one click connects, one click measures again,
    // on a curve and statistics of their own.
    SimProcess again({"--distance", "12.5", "--link", link});
    QVERIFY(plot->graph(0)->dataCount() >= 3);
    QVERIFY(connectTo(w, link));
    QCOMPARE(plot->graph(0)->dataCount(), 0);
    QCOMPARE(widget<QLabel>(w, "label_heightStats")->text(), QString("Точек: 0"));
    readings.clear();
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(start->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= 2, kLong);
}

void AppDevice::interleavedRawDataSplitsOverTwoCurves()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--raw-points", "9"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(connectTo(w, sim.portName()));

    widget<QComboBox>(w, "comboBox_typeRawData")->setCurrentIndex(2);
    widget<QCheckBox>(w, "checkBox_rawAutoscale")->setChecked(true);
    auto *label = widget<QLabel>(w, "label_p2pGraph");
    QueuedSpy done(w.device(), &SerialTop::RawIsRead);
    click(w, "pushButton_readRaw");
    QVERIFY(done.wait(kLong));
    QTRY_VERIFY_WITH_TIMEOUT(label->text() != QString("P-P = "), kLong);
    QVERIFY(QRegularExpression("^P-P = -?\\d+$").match(label->text()).hasMatch());

    auto *plot = widget<QCustomPlot>(w, "widget_plotRaw");
    QCOMPARE(plot->graph(0)->dataCount(), 4); // samples 1, 3, 5, 7
    QCOMPARE(plot->graph(1)->dataCount(), 5); // samples 0, 2, 4, 6, 8
    QCOMPARE(plot->graph(1)->data()->at(4)->key, 4.0);
    QCOMPARE(plot->graph(0)->data()->at(3)->key, 3.0);
    const QCPRange keyRange = plot->axisRect()->axis(QCPAxis::atBottom, 1)->range();
    QCOMPARE(keyRange.lower, 0.0);
    QCOMPARE(keyRange.upper, 4.0);

    // Another type puts every sample on curve 0; autoscale off keeps the range.
    widget<QCheckBox>(w, "checkBox_rawAutoscale")->setChecked(false);
    widget<QComboBox>(w, "comboBox_typeRawData")->setCurrentIndex(0);
    done.clear();
    click(w, "pushButton_readRaw");
    QVERIFY(done.wait(kLong));
    QTRY_COMPARE_WITH_TIMEOUT(plot->graph(0)->dataCount(), 9, kLong);
    QCOMPARE(plot->graph(1)->dataCount(), 0);
    QCOMPARE(plot->axisRect()->axis(QCPAxis::atBottom, 1)->range().upper, 4.0);

    click(w, "pushButton");
    QVERIFY(mainLog(w).endsWith("Данные сохранены"));
    const QByteArray capture = readFile(dir.filePath("graph.txt"));
    QCOMPARE(capture.count('\n'), 9);
    const QByteArray binaryCapture = readFile(dir.filePath("graphs.bin"));

    // An empty read-out shows no number, leaves the scale, and a save of it
    // keeps the last good capture.
    SimProcess empty({"--raw-points", "0"});
    QVERIFY(empty.isRunning());
    QueuedSpy disconnected(w.device(), &SerialTop::connectedChanged);
    click(w, "pushButton_connect_to_rs485");
    QVERIFY(disconnected.wait(kLong));
    QVERIFY(connectTo(w, empty.portName()));
    widget<QCheckBox>(w, "checkBox_rawAutoscale")->setChecked(true);
    QCPAxis *valueAxis = plot->graph(0)->valueAxis();
    const QCPRange scale = valueAxis->range();
    done.clear();
    click(w, "pushButton_readRaw");
    QVERIFY(done.wait(kLong));
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QString("P-P = "), kLong);
    QCOMPARE(plot->graph(0)->dataCount(), 0);
    QCOMPARE(valueAxis->range(), scale);
    click(w, "pushButton");
    QVERIFY(mainLog(w).endsWith("Нет данных для сохранения: прежние файлы не изменены"));
    QCOMPARE(readFile(dir.filePath("graph.txt")), capture);
    QCOMPARE(readFile(dir.filePath("graphs.bin")), binaryCapture);
}

void AppDevice::failedGraphSaveIsNotReportedAsSaved()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    MainWindow w;
    // A read-out as the device object reports it (emitted here, it lands at once).
    emit w.device()->rcvRawData(0.0f, 1.5f);
    emit w.device()->RawIsRead();
    QVERIFY(QDir(dir.path()).mkdir("graph.txt")); // the file cannot be written
    click(w, "pushButton");
    const QString log = mainLog(w);
    QVERIFY2(!log.contains("Данные сохранены"), qPrintable(log));
    QVERIFY2(log.contains("Ошибка сохранения данных"), qPrintable(log));
}

void AppDevice::firmwareUpdateClosingLineTellsOutcome()
{
    ScopedWorkDir dir;
    SimProcess sim({"--erase-ms", "0"});
    QVERIFY(sim.isRunning());
    MainWindow w;
    // The user watches the programming tab through the update.
    auto *tabs = widget<QTabWidget>(w, "tabWidget");
    tabs->setCurrentWidget(widget<QWidget>(w, "tab_programming"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *fileName = widget<QLineEdit>(w, "lineEdit_file_name");
    QueuedSpy busy(w.device(), &SerialTop::busyChanged);

    // A missing file: described, refused, and the attempt reported as broken off.
    fileName->setText(dir.filePath("missing.bin"));
    click(w, "pushButton_firmware_update");
    QTRY_VERIFY_WITH_TIMEOUT(busy.size() == 2, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(programmingLog(w).contains("Время выполнения 0 мин 0 сек"), kLong);
    QString log = programmingLog(w);
    QVERIFY(log.contains("Ошибка! Указанный файл не существует"));
    QVERIFY(log.contains("Обновление ПО прервано"));
    QVERIFY(!log.contains("Обновление ПО завершено"));

    // A valid image written into the connected simulator.
    QVERIFY(connectTo(w, sim.portName()));
    QByteArray payload;
    for (int i = 0; i < 512; ++i)
        payload.append(char(i * 7));
    QVERIFY(dir.writeFile("image.bin", FirmwareImage::withTrailer(payload)));
    fileName->setText(dir.filePath("image.bin"));
    busy.clear();
    // It asks before erasing: the file, its size and the revision it
    // replaces, "Отмена" the default; cancelling sends nothing.
    click(w, "pushButton_firmware_update");
    QMessageBox *question = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((question = w.findChild<QMessageBox *>("messageBox_confirmUpdate")), kLong);
    QVERIFY(question->text().contains(dir.filePath("image.bin")));
    QVERIFY(question->text().contains(QString::number(FirmwareImage::withTrailer(payload).size()) + " байт"));
    QVERIFY2(question->text().contains(QString::fromLatin1(SimDefaults::kRevision) + "\n"), qPrintable(question->text()));
    QCOMPARE(question->defaultButton()->text(), QString("Отмена"));
    QVERIFY(answerQuestion(w, "messageBox_confirmUpdate", false));
    // A request after the answer: anything the answer had started would
    // have reported before its revision does.
    QueuedSpy revision(w.device(), &SerialTop::revisionReceived);
    click(w, "pushButton_get_firmware_revision");
    QVERIFY(revision.wait(kLong));
    QVERIFY(busy.isEmpty());
    click(w, "pushButton_firmware_update");
    QVERIFY(answerQuestion(w, "messageBox_confirmUpdate", true));
    QTRY_VERIFY_WITH_TIMEOUT(busy.size() == 2, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(programmingLog(w).count("Время выполнения") == 2, kLong);
    log = programmingLog(w);
    const QString lastAttempt = log.mid(log.lastIndexOf("Обновление ПО\n"));
    QVERIFY2(lastAttempt.contains("Запись флага прошивки... ОК"), qPrintable(lastAttempt));
    QVERIFY(lastAttempt.contains("Обновление ПО завершено"));
    QVERIFY(!lastAttempt.contains("Обновление ПО прервано"));
    // The revision ends its line without the padding of its registers.
    QVERIFY2(lastAttempt.contains(QStringLiteral("Получение текущей версии ПО...   %1\n").arg(SimDefaults::kRevision)),
             qPrintable(lastAttempt));
    QCOMPARE(widget<QProgressBar>(w, "progressBar_staus_updater")->value(), 100);
    QVERIFY(!log.contains("без полной прошивки"));

    // A block lost after the erase: both logs say the unit holds no
    // complete firmware and how to recover.
    QueuedSpy disconnected(w.device(), &SerialTop::connectedChanged);
    click(w, "pushButton_connect_to_rs485"); // disconnect
    // Its report must not be taken for the answer to the next connect.
    QVERIFY(disconnected.wait(kLong));
    SimProcess failing({"--erase-ms", "0", "--fail-step", "block:1"});
    QVERIFY(connectTo(w, failing.portName()));
    busy.clear();
    click(w, "pushButton_firmware_update");
    QVERIFY(answerQuestion(w, "messageBox_confirmUpdate", true));
    QTRY_VERIFY_WITH_TIMEOUT(busy.size() == 2, kLong);
    const QString warning = "Устройство осталось без полной прошивки: подключитесь заново и повторите обновление ПО";
    QTRY_VERIFY_WITH_TIMEOUT(programmingLog(w).contains(warning), kLong);
    QVERIFY(mainLog(w).contains(warning));
    // In view, not only appended: the warning and the closing lines after it.
    QTRY_VERIFY(showsNewestLine(widget<QTextEdit>(w, "textEdit_log_apdater")));
    QTRY_VERIFY(showsNewestLine(widget<QTextEdit>(w, "textEdit_log")));
}

namespace {

// The rows a view shows whose meaning column starts with text.
int rowsMeaning(const QAbstractItemModel *model, const QString &text)
{
    int n = 0;
    for (int row = 0; row < model->rowCount(); ++row)
        n += model->index(row, LineFrameModel::Meaning).data().toString().startsWith(text);
    return n;
}

} // namespace

void AppDevice::lineMonitorHidesPollingPausesAndSavesCsv()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Assemblage"));
    SimProcess sim({"--distance", "12.5", "--missing-register", QString::number(RegisterMap::Holding::SizeLockData)});
    QVERIFY(sim.isRunning());
    MainWindow w;
    w.show();
    const QString csv = dir.filePath("line.csv");
    w.setFileChooser([&](const MainWindow::FileRequest &) { return csv; });
    auto *counters = widget<QLabel>(w, "label_lineCounters");
    QVERIFY(!counters->isVisible());
    QVERIFY(connectTo(w, sim.portName()));
    QTRY_VERIFY_WITH_TIMEOUT(counters->isVisible(), kLong);
    // Connecting reads every field and meets the missing register once.
    QTRY_VERIFY_WITH_TIMEOUT(counters->text().contains(QStringLiteral("сбои: отказ 1")), kLong);

    // Opened after the connect, the monitor still shows it.
    w.findChild<QAction *>(QStringLiteral("action_lineMonitor"))->trigger();
    LineMonitorWindow *monitor = w.lineMonitor();
    QVERIFY(monitor && monitor->isVisible());
    const QAbstractItemModel *shown = widget<QTableView>(*monitor, "tableView_frames")->model();
    QCOMPARE(rowsMeaning(shown, QStringLiteral("сброс адреса (широковещательный)")), 1);
    QCOMPARE(rowsMeaning(shown, QStringLiteral("ответ: катушка 9 (проверка связи) = ВЫКЛ")), 1);

    QueuedSpy readings(w.device(), &SerialTop::checkDistance);
    click(w, "toolButton_start_meas");
    QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= 3, kLong);
    click(w, "toolButton_start_meas");
    // Reading every setting meets the missing register.
    QueuedSpy failed(w.device(), &SerialTop::requestFailed);
    click(w, "pushButton_getAllSettings");
    QVERIFY(failed.wait(kLong));
    const QString refusal = QStringLiteral("отказ: функция 03, регистр 70, код 02 недопустимый адрес");
    QTRY_COMPARE_WITH_TIMEOUT(rowsMeaning(shown, refusal), 2, kLong);
    QVERIFY(rowsMeaning(shown, QStringLiteral("чтение входных регистров 2 ×2")) >= 3);
    QTRY_VERIFY_WITH_TIMEOUT(counters->text().contains(QStringLiteral("сбои: отказ 2")), kLong);

    click(*monitor, "checkBox_hidePolling");
    QCOMPARE(rowsMeaning(shown, QStringLiteral("чтение входных регистров 2 ×2")), 0);
    QCOMPARE(rowsMeaning(shown, QStringLiteral("ответ: 2–3 = 12.5")), 0);
    QCOMPARE(rowsMeaning(shown, refusal), 2);

    // Paused, the table stands still; resumed, it catches up.
    click(*monitor, "pushButton_pause");
    const int before = shown->rowCount();
    QueuedSpy batches(w.device(), &SerialTop::lineFrames);
    click(w, "pushButton_getProtType");
    QVERIFY(batches.wait(kLong));
    QCoreApplication::processEvents();
    QCOMPARE(shown->rowCount(), before);
    click(*monitor, "pushButton_pause");
    QCOMPARE(rowsMeaning(shown, QStringLiteral("чтение регистров хранения 38 ×1")), 3);

    // A raw read-out's long answers show their first bytes in the cell; the
    // tooltip and the CSV keep every byte.
    QueuedSpy rawDone(w.device(), &SerialTop::rawReadFinished);
    w.device()->getDataRaw(0);
    QVERIFY(rawDone.wait(kLong));
    QString longFrame;
    QString longFrameCell;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (int row = 0; row < shown->rowCount() && longFrame.isEmpty(); ++row) {
                longFrame = shown->index(row, LineFrameModel::Bytes).data(Qt::ToolTipRole).toString();
                longFrameCell = shown->index(row, LineFrameModel::Bytes).data().toString();
            }
            return !longFrame.isEmpty();
        }(),
        kLong);
    QVERIFY(longFrame.size() > 3 * LineFrameModel::kBytesInCell);
    QCOMPARE(longFrameCell, longFrame.left(3 * LineFrameModel::kBytesInCell - 1) + QStringLiteral(" …"));

    click(*monitor, "pushButton_saveCsv");
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains(QStringLiteral("Кадры линии сохранены в %1").arg(csv)), kLong);
    const QStringList lines = QString::fromUtf8(readFile(csv)).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), shown->rowCount() + 1);
    QCOMPARE(lines.first(), QStringLiteral("time_ms;direction;bytes;meaning;round_trip_ms;status"));
    QVERIFY(!lines.join('\n').contains(QStringLiteral("чтение входных регистров 2 ×2")));
    QVERIFY(lines.join('\n').contains(QStringLiteral(";rx;13 83 02 ") ));
    QVERIFY(lines.join('\n').contains(refusal + QStringLiteral(";")));
    QVERIFY(lines.join('\n').contains(QLatin1Char(';') + longFrame + QLatin1Char(';')));

    click(*monitor, "pushButton_clear");
    QCOMPARE(shown->rowCount(), 0);
}

void AppDevice::lineMonitorTimesRunOnAcrossReconnects()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim;
    QVERIFY(sim.isRunning());
    MainWindow w;
    w.showLineMonitor();
    const QAbstractItemModel *shown = widget<QTableView>(*w.lineMonitor(), "tableView_frames")->model();
    for (int connection = 0; connection < 2; ++connection) {
        QVERIFY(connectTo(w, sim.portName()));
        QueuedSpy disconnected(w.device(), &SerialTop::connectedChanged);
        click(w, "pushButton_connect_to_rs485");
        QVERIFY(disconnected.wait(kLong));
    }
    QTRY_VERIFY_WITH_TIMEOUT(rowsMeaning(shown, QStringLiteral("сброс адреса (широковещательный)")) == 2, kLong);
    double previous = 0;
    for (int row = 0; row < shown->rowCount(); ++row) {
        bool ok = false;
        const double ms = shown->index(row, LineFrameModel::Time).data().toString().toDouble(&ok);
        QVERIFY(ok);
        QVERIFY2(ms >= previous, qPrintable(QStringLiteral("row %1: %2 ms after %3 ms").arg(row).arg(ms).arg(previous)));
        previous = ms;
    }
}

void AppDevice::closingDuringWaitStopsDeviceThread()
{
    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { messages << text; });

    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    SimProcess sim({"--drop", "1", "--verbose"});
    QVERIFY(sim.isRunning());
    auto *w = new MainWindow;
    QPointer<SerialTop> top = w->device();
    QThread *deviceThread = top->thread();
    // finished() comes from the device thread; recorded here, not there.
    QueuedSpy threadDone(deviceThread, &QThread::finished);
    w->selectPort(sim.portName());
    QTest::mouseClick(widget<QPushButton>(*w, "pushButton_connect_to_rs485"), Qt::LeftButton);
    // The probe has reached the line and is being waited for (it is dropped).
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 05 00 09"), kLong);

    QElapsedTimer closing;
    closing.start();
    delete w;
    const qint64 ms = closing.elapsed();
    qInstallMessageHandler(previous);

    QTRY_COMPARE(threadDone.size(), 1);
    QVERIFY(top.isNull()); // deleted in its own thread as that thread ended
    for (const QString &m : messages)
        QVERIFY2(!m.contains("QThread: Destroyed"), qPrintable(m));
    // The wait ends when the thread is told to quit, not by its own time-out.
    QVERIFY2(ms < 5000, qPrintable(QString::number(ms)));
    qInfo("window closed in %lld ms while the device thread waited", ms);
}

QTEST_MAIN(AppDevice)
#include "app_device.moc"
