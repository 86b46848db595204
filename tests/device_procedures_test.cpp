// Measurement, self-test, raw data read-out and firmware update against the
// simulator: each procedure judged by what the simulated device saw and holds.
#include "deviceharness.h"
#include "firmwareimage.h"
#include "queuedspy.h"
#include "simprocess.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace {

const QColor kGreen(0, 255, 0, 255);

QByteArray randomPayload(int size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(rng.bounded(256));
    return bytes;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

// Raw read-out as the telemetry tab sees it.
struct RawCapture
{
    explicit RawCapture(SerialTop *top)
        : size(top, &SerialTop::rcvRawDataSize), points(top, &SerialTop::rcvRawData), done(top, &SerialTop::RawIsRead)
    {
    }
    QueuedSpy size;
    QueuedSpy points;
    QueuedSpy done;
};

struct UpdateCapture
{
    explicit UpdateCapture(SerialTop *top)
        : busy(top, &SerialTop::busyChanged), progress(top, &SerialTop::progressChanged),
          finished(top, &SerialTop::firmwareUpdateFinished)
    {
    }
    bool waitFinished(int ms = 60000) { return finished.count() > 0 || finished.wait(ms); }
    bool succeeded() const { return finished.count() == 1 && finished.at(0).at(0).toBool(); }
    QueuedSpy busy;
    QueuedSpy progress;
    QueuedSpy finished;
};

} // namespace

class DeviceProceduresTest : public QObject
{
    Q_OBJECT

private slots:
    void proceduresNeedAConnection()
    {
        SimProcess sim({"--verbose"});
        DeviceHarness device;
        device.top->getDistance();
        device.top->startDiagnostics();
        device.top->getFirmwareRevision();
        QTRY_COMPARE(device.count(QStringLiteral("Устройство не подключенно!")), 3);
        QTRY_COMPARE(device.connectedStates, (QVector<bool>{false, false, false}));
        QVERIFY(!sim.errorOutput().contains("rx "));
    }

    void measurementReadsDistanceThenPeriod()
    {
        SimProcess sim({"--distance", "12.5", "--verbose"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QStringList order;
        connect(device.top, &SerialTop::checkDistance, this, [&](float d) { order << QString::number(d); });
        connect(device.top, &SerialTop::checkPeriodMeas, this, [&](float) { order << QStringLiteral("period"); });
        device.top->getDistance();
        QTRY_COMPARE(order, (QStringList{"12.5", "period"}));
        const QByteArray wire = sim.errorOutput();
        QVERIFY(wire.indexOf("rx 13 04 00 02 00 02") < wire.indexOf("rx 13 04 00 00 00 02"));
    }

    // Ticks that come while a slow device still owes the last distance do
    // not pile up: ten of them send at most two distance reads.
    void slowDeviceDoesNotPileUpMeasurementTicks()
    {
        SimProcess sim({"--reply-delay", "200", "--verbose"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy periods(device.top, &SerialTop::checkPeriodMeas);
        for (int tick = 0; tick < 10; ++tick)
            device.top->getDistance();
        QTRY_COMPARE_WITH_TIMEOUT(periods.count(), 2, 5000);
        QVERIFY(!waitUntil([&] { return periods.count() > 2; }, 1000));
        QCOMPARE(sim.errorOutput().count("rx 13 04 00 02 00 02"), 2);
    }

    void selfTestReportsTheDevicesVerdict()
    {
        for (const bool failing : {false, true}) {
            SimProcess sim(failing ? QStringList{"--selftest-fail"} : QStringList{});
            DeviceHarness device;
            QVERIFY(device.connectTo(sim.portName()));
            device.top->startDiagnostics();
            const QString verdict = failing ? QStringLiteral("Изделие НЕисправно") : QStringLiteral("Изделие исправно");
            QTRY_COMPARE_WITH_TIMEOUT(device.count(verdict), 1, 10000);
            QCOMPARE(device.count(QStringLiteral("Запуск самодиагностики....")), 1);
            QVERIFY(!device.log.contains(failing ? QStringLiteral("Изделие исправно")
                                                 : QStringLiteral("Изделие НЕисправно")));
        }

        // A refused start gives no verdict: the test never ran.
        SimProcess sim({"--exception", "3", "--verbose"}); // reset and probe come first
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy failed(device.top, &SerialTop::requestFailed);
        device.top->startDiagnostics();
        QVERIFY(failed.wait(5000));
        QVERIFY(!waitUntil([&] { return sim.errorOutput().contains("rx 13 04 00 04"); }, 1500));
        QCOMPARE(device.log.filter(QStringLiteral("Изделие")).size(), 0);
    }

    void revisionContinuesThePromptLine()
    {
        SimProcess sim({"--revision", "REV-7.1"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        device.top->getFirmwareRevision();
        QTRY_COMPARE(device.updaterLog.size(), 2);
        QCOMPARE(device.updaterLog[0].text, QStringLiteral("Получение текущей версии ПО..."));
        QVERIFY(device.updaterLog[0].newLine);
        // The registers' padding after the text is not shown.
        QCOMPARE(device.updaterLog[1].text, QStringLiteral("  REV-7.1"));
        QVERIFY(!device.updaterLog[1].newLine);
    }

    void rawReadOutRequestsContiguousBlocks_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("lastBlockRegisters");
        QTest::newRow("empty") << 0 << 0 << 0;
        QTest::newRow("one block") << 50 << 1 << 100;
        QTest::newRow("one more point") << 51 << 2 << 2;
        QTest::newRow("full buffer") << 1025 << 21 << 50;
        QTest::newRow("beyond the buffer") << 1100 << 22 << 100;
    }

    void rawReadOutRequestsContiguousBlocks()
    {
        QFETCH(int, points);
        QFETCH(int, blocks);
        QFETCH(int, lastBlockRegisters);
        SimProcess sim({"--raw-points", QString::number(points), "--verbose"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        RawCapture raw(device.top);
        device.top->getDataRaw(3);
        QVERIFY(raw.done.wait(30000));
        QCOMPARE(raw.size.at(0).at(0).toInt(), points);
        const int reported = qMin(points, 1025);
        QCOMPARE(raw.points.count(), reported);
        for (int k = 0; k < reported; ++k)
            QCOMPARE(raw.points.at(k).at(0).toFloat(), float(k));
        QCOMPARE(device.count(QStringLiteral("Чтение данных.")), 1);
        QTRY_COMPARE(device.count(QStringLiteral("Данные считаны")), 1);

        const QByteArray wire = sim.errorOutput();
        QVERIFY(wire.contains("rx 13 06 00 25 00 03"));
        QCOMPARE(wire.count("rx 13 04 00 5c 00 01"), 1);
        int blockRequests = 0;
        for (int b = 0; b < blocks; ++b) {
            const int address = 93 + 100 * b;
            const int registers = b == blocks - 1 ? lastBlockRegisters : 100;
            const QByteArray request = QStringLiteral("rx 13 04 %1 %2 %3 %4")
                                           .arg(address >> 8, 2, 16, QLatin1Char('0'))
                                           .arg(address & 0xFF, 2, 16, QLatin1Char('0'))
                                           .arg(registers >> 8, 2, 16, QLatin1Char('0'))
                                           .arg(registers & 0xFF, 2, 16, QLatin1Char('0'))
                                           .toLatin1();
            blockRequests += wire.count(request);
        }
        QCOMPARE(blockRequests, blocks);
    }

    // The read-out used to judge whichever command finished last; with the
    // measurement running it then failed or passed at random.
    void rawReadOutWhileMeasuringGetsEveryPoint()
    {
        SimProcess sim({"--line-rate"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy distances(device.top, &SerialTop::checkDistance);
        QTimer measurement;
        connect(&measurement, &QTimer::timeout, device.top, [&] { device.top->getDistance(); });
        measurement.start(100);
        QVERIFY(distances.wait(5000));
        const int distancesBefore = distances.count();
        for (int round = 0; round < 3; ++round) {
            RawCapture raw(device.top);
            device.top->getDataRaw(2);
            QVERIFY(raw.done.wait(30000));
            QCOMPARE(raw.points.count(), 1025);
        }
        measurement.stop();
        QVERIFY(device.redLines().isEmpty());
        QCOMPARE(device.count(QStringLiteral("Нет ответа от устройства")), 0);
        QVERIFY(distances.count() > distancesBefore); // measurement went on meanwhile
    }

    void rawReadOutStopsAtAMissingAnswer()
    {
        SimProcess sim({"--raw-points", "200", "--drop", "6"}); // reset, probe, type, size, block 1, block 2
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        RawCapture raw(device.top);
        device.top->getDataRaw(0);
        QTRY_COMPARE_WITH_TIMEOUT(device.redLines(), QStringList{QStringLiteral("ошибка! Нет ответа от устройства!")},
                                  10000);
        QCOMPARE(raw.points.count(), 50);
        QCOMPARE(raw.done.count(), 0);
        QVERIFY(!device.log.contains(QStringLiteral("Данные считаны")));
    }

    void firmwareUpdateWritesTheImageByteForByte()
    {
        QTemporaryDir dir;
        const QByteArray image = FirmwareImage::withTrailer(randomPayload(40 * 1024 + 4, 7));
        const QString imagePath = writeFile(dir, "image.bin", image);
        const QString dump = dir.filePath("flash.bin");
        SimProcess sim({"--erase-ms", "300", "--flash-dump", dump});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        UpdateCapture update(device.top);
        device.top->firmwareUpdate(imagePath);
        // The file changes while the flash is erased: the bytes written are
        // still the ones that were checked.
        QTRY_VERIFY(std::any_of(device.updaterLog.begin(), device.updaterLog.end(),
                                [](const DeviceHarness::UpdaterLine &line) {
                                    return line.text == QStringLiteral("Cтирание текущего ПО... ");
                                }));
        writeFile(dir, "image.bin", FirmwareImage::withTrailer(randomPayload(48 * 1024, 8)));
        QVERIFY(update.waitFinished());
        QVERIFY2(update.succeeded(), qPrintable(device.redLines().join('\n')));
        QTRY_COMPARE(update.busy.count(), 2);
        QCOMPARE(update.busy.at(0).at(0).toBool(), true);
        QCOMPARE(update.busy.at(1).at(0).toBool(), false);

        // Programming progress rises monotonically to 100 after the last block.
        QList<int> progress;
        for (const auto &args : update.progress)
            progress << args.at(0).toInt();
        const int programStart = progress.lastIndexOf(0);
        QVERIFY(programStart > 0);
        for (int i = programStart + 1; i < progress.size(); ++i)
            QVERIFY(progress[i] >= progress[i - 1]);
        QCOMPARE(progress.last(), 100);

        QStringList greens;
        for (const auto &line : device.updaterLog)
            if (line.color == kGreen)
                greens << line.text;
        QCOMPARE(greens, (QStringList{"OK", "ОК", "ОК", "ОК", "ОК", "ОК"}));
        QVERIFY(device.redLines().isEmpty());

        QCOMPARE(sim.stop(), 0);
        QCOMPARE(readFile(dump), image);
        QCOMPARE(readFile(dump + ".flag").trimmed(), QByteArray("set"));
    }

    void firmwareUpdateStopsAtTheFailingStep_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("redLine");
        QTest::addColumn<QString>("failingPrompt");
        const QString noAnswer = QStringLiteral("ошибка! Нет ответа от устройства!");
        QTest::newRow("programming mode") << "progmode" << noAnswer
                                          << QStringLiteral("Перевод устройства в режим программирования... ");
        QTest::newRow("flash identity") << "flashid" << QStringLiteral("ошибка! Ошибка чтения ID Flash")
                                        << QStringLiteral("Проверка доступа и ID микросхемы FLASH... ");
        QTest::newRow("block refused") << "block:3" << noAnswer << QStringLiteral("Программирование... ");
        QTest::newRow("firmware flag") << "flag" << noAnswer << QStringLiteral("Запись флага прошивки... ");
    }

    void firmwareUpdateStopsAtTheFailingStep()
    {
        QFETCH(QString, failure);
        QFETCH(QString, redLine);
        QFETCH(QString, failingPrompt);
        QTemporaryDir dir;
        const QString imagePath = writeFile(dir, "image.bin", FirmwareImage::withTrailer(randomPayload(2044, 11)));
        const QString dump = dir.filePath("flash.bin");
        SimProcess sim({"--erase-ms", "0", "--fail-step", failure, "--flash-dump", dump});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        UpdateCapture update(device.top);
        device.top->firmwareUpdate(imagePath);
        QVERIFY(update.waitFinished());
        QVERIFY(!update.succeeded());
        QCOMPARE(device.redLines(), QStringList{redLine});
        // The red mark sits on the failing step's line, and nothing follows it.
        QCOMPARE(device.updaterLog.last().text, redLine);
        int prompt = device.updaterLog.size() - 2;
        while (prompt >= 0 && !device.updaterLog[prompt].newLine)
            --prompt;
        QCOMPARE(device.updaterLog[prompt].text, failingPrompt);
        QCOMPARE(sim.stop(), 0);
        QCOMPARE(readFile(dump + ".flag").trimmed(), QByteArray("unset"));
    }

    void eraseThatNeverEndsTimesOutWithoutAFullBar()
    {
        QTemporaryDir dir;
        const QString imagePath = writeFile(dir, "image.bin", FirmwareImage::withTrailer(randomPayload(512, 3)));
        SimProcess sim({"--fail-step", "erase", "--verbose"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        UpdateCapture update(device.top);
        device.top->firmwareUpdate(imagePath);
        QVERIFY(update.waitFinished(120000));
        QCOMPARE(device.redLines(), QStringList{QStringLiteral("ошибка! Ошибка стирания Flash. Timeout")});
        QCOMPARE(sim.errorOutput().count("rx 13 04 00 06 00 02"), 1 + 600); // identity read, then the polls
        QVERIFY(update.progress.last().at(0).toInt() < 100);
        QVERIFY(!sim.errorOutput().contains("rx 13 42"));
    }

    void brokenImagesAreRefusedBeforeAnyTraffic_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("redLine");
        const QByteArray valid = FirmwareImage::withTrailer(randomPayload(1024, 5));
        QByteArray badSum = valid;
        badSum[badSum.size() - 1] = char(badSum.at(badSum.size() - 1) ^ 0x01);
        const QString checksum = QStringLiteral("ошибка! Некорректная контрольная сумма файла");
        QTest::newRow("length not a multiple of 4") << QByteArray(10, 'x') << QStringLiteral("ошибка! Некорректный файл");
        QTest::newRow("wrong checksum") << badSum << checksum;
        QTest::newRow("four bytes") << QByteArray(4, '\0') << checksum;
        QTest::newRow("empty") << QByteArray() << checksum;
        QTest::newRow("oversize") << FirmwareImage::withTrailer(QByteArray(2000000 - 8, '\x11'))
                                  << QStringLiteral("ошибка! Размер файла превышает максимально допустимый");
    }

    void brokenImagesAreRefusedBeforeAnyTraffic()
    {
        QFETCH(QByteArray, image);
        QFETCH(QString, redLine);
        QTemporaryDir dir;
        const QString imagePath = writeFile(dir, "image.bin", image);
        QVERIFY(!imagePath.isEmpty());
        SimProcess sim({"--verbose"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        const int framesBefore = sim.errorOutput().count("rx ");
        UpdateCapture update(device.top);
        device.top->firmwareUpdate(imagePath);
        QVERIFY(update.waitFinished());
        QVERIFY(!update.succeeded());
        QCOMPARE(device.redLines(), QStringList{redLine});
        QCOMPARE(sim.errorOutput().count("rx "), framesBefore);
    }

    void missingImageIsNamedAndNothingIsSent()
    {
        QTemporaryDir dir;
        SimProcess sim;
        DeviceHarness device;
        UpdateCapture update(device.top);
        device.top->firmwareUpdate(dir.filePath("absent.bin"));
        QVERIFY(update.waitFinished());
        QVERIFY(!update.succeeded());
        QCOMPARE(device.redLines(), QStringList{QStringLiteral("Ошибка! Указанный файл не существует")});
        QTRY_COMPARE(update.busy.count(), 2);
    }

    void secondUpdateWhileOneRunsIsRefused()
    {
        QTemporaryDir dir;
        const QString imagePath = writeFile(dir, "image.bin", FirmwareImage::withTrailer(randomPayload(8192, 9)));
        SimProcess sim({"--erase-ms", "500"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        UpdateCapture update(device.top);
        device.top->firmwareUpdate(imagePath);
        QVERIFY(update.busy.wait(5000));
        device.top->firmwareUpdate(imagePath);
        QVERIFY(update.waitFinished());
        QVERIFY(update.succeeded());
        QVERIFY(!waitUntil([&] { return update.finished.count() > 1; }, 1500));
        QCOMPARE(device.redLines().size(), 1);
        QVERIFY(device.redLines().first().startsWith(QStringLiteral("Обновление ПО уже выполняется")));
    }

    void updateWhileMeasuringJudgesItsOwnAnswers()
    {
        QTemporaryDir dir;
        const QByteArray image = FirmwareImage::withTrailer(randomPayload(16 * 1024, 13));
        const QString imagePath = writeFile(dir, "image.bin", image);
        const QString dump = dir.filePath("flash.bin");
        SimProcess sim({"--erase-ms", "400", "--flash-dump", dump});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy distances(device.top, &SerialTop::checkDistance);
        QTimer measurement;
        connect(&measurement, &QTimer::timeout, device.top, [&] { device.top->getDistance(); });
        measurement.start(100);
        UpdateCapture update(device.top);
        device.top->firmwareUpdate(imagePath);
        QVERIFY(update.waitFinished());
        measurement.stop();
        QVERIFY2(update.succeeded(), qPrintable(device.redLines().join('\n')));
        QVERIFY(distances.count() > 5);
        QCOMPARE(sim.stop(), 0);
        QCOMPARE(readFile(dump), image);
    }
};

QTEST_GUILESS_MAIN(DeviceProceduresTest)
#include "device_procedures_test.moc"
