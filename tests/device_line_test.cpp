// The device object against the simulator over a real pseudo-terminal, run
// in its own thread as in the application.
#include "deviceharness.h"
#include "linesettings.h"
#include "queuedspy.h"
#include "registermap.h"
#include "serialworker.h"
#include "simdefaults.h"
#include "simprocess.h"

#include <QDir>
#include <QMutex>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>

namespace {

const QString kNoAnswer = QStringLiteral("Нет ответа от устройства");

// Qt's warnings, from whichever thread gives them.
QMutex warningsLock;
QStringList warnings;

void recordWarning(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const QMutexLocker locker(&warningsLock);
    warnings << message;
}

QStringList recordedWarnings()
{
    const QMutexLocker locker(&warningsLock);
    return warnings;
}

// Frames the simulator logged as received, as lowercase hex.
int framesSeen(SimProcess &sim, const QByteArray &hexFrame)
{
    return sim.errorOutput().count(hexFrame);
}

} // namespace

class DeviceLineTest : public QObject
{
    Q_OBJECT

private slots:
    void portWorkerOpensOnceAndReportsFailures()
    {
        SimProcess sim;
        QVERIFY(sim.isRunning());
        SerialWorker worker;
        QSignalSpy info(&worker, &SerialWorker::logInfo);
        QSignalSpy warning(&worker, &SerialWorker::logWarning);
        QSignalSpy error(&worker, &SerialWorker::logError);
        QSignalSpy closed(&worker, &SerialWorker::serialPortClosed);
        QSignalSpy tx(&worker, &SerialWorker::increaseTxCount);

        PortSettings settings;
        settings.portName = sim.portName();
        QCOMPARE(worker.openPort(settings), 0);
        QCOMPARE(info.last().at(0).toString(), QStringLiteral("Serial port opened"));
        QCOMPARE(worker.openPort(settings), 11);
        QCOMPARE(warning.count(), 1);
        QCOMPARE(warning.at(0).at(0).toString(), QStringLiteral("Serial port is already opened"));

        QCOMPARE(worker.sendData(QByteArray()), 0);
        QCOMPARE(tx.last().at(0).toInt(), 0);
        QCOMPARE(info.last().at(0).toString(), QStringLiteral("0 bytes of data successfully send"));
        worker.closePort();
        QCOMPARE(closed.count(), 1);
        QCOMPARE(info.last().at(0).toString(), QStringLiteral("Serial port closed"));

        settings.portName = QStringLiteral("/dev/zetra-no-such-port");
        error.clear();
        QCOMPARE(worker.openPort(settings), 12);
        const QString openError = error.last().at(0).toString();
        QVERIFY2(openError.startsWith(QStringLiteral("Serial port (/dev/zetra-no-such-port) open error: ")),
                 qPrintable(openError));
        QVERIFY(openError.size() > QStringLiteral("Serial port (/dev/zetra-no-such-port) open error: ").size());
    }

    void connectsAndDisconnects()
    {
        SimProcess sim({"--verbose"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QCOMPARE(device.connectedStates, QVector<bool>{true});
        QVERIFY(device.log.indexOf(QStringLiteral("Подключение...")) == 0);
        // Address reset first, then the probe on coil 9.
        QTRY_VERIFY(framesSeen(sim, "rx 13 05 00 09 00 00") == 1);
        QVERIFY(sim.errorOutput().indexOf("rx ff 43") < sim.errorOutput().indexOf("rx 13 05 00 09 00 00"));

        device.top->disconnectFromPort();
        QTRY_COMPARE(device.connectedStates, (QVector<bool>{true, false}));
        QCOMPARE(device.log.last(), QStringLiteral("Отключение..."));

        // The port can be opened again after a close.
        QVERIFY(device.connectTo(sim.portName()));
    }

    void secondConnectWhileConnectedSendsNothing()
    {
        SimProcess sim({"--verbose"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        const int framesBefore = sim.errorOutput().count('\n');
        device.top->connectToDevice(sim.portName(), Line::kBaudRate);
        QTRY_COMPARE(device.connectedStates, (QVector<bool>{true, true}));
        QCOMPARE(device.count(QStringLiteral("Ошибка подключения к порту")), 1);
        QCOMPARE(device.count(QStringLiteral("Ошибка подключения")), 0);
        // A read afterwards still works and is the only new traffic.
        QueuedSpy prot(device.top, &SerialTop::rcvProtocolType);
        device.top->getProtType();
        QVERIFY(prot.wait(5000));
        QCOMPARE(sim.errorOutput().count('\n') - framesBefore, 2); // request and answer
    }

    void failedConnectionReportsAndClosesThePort()
    {
        SimProcess sim({"--drop", "1"});
        DeviceHarness device;
        QVERIFY(!device.connectTo(sim.portName()));
        QTRY_COMPARE(device.connectedStates, (QVector<bool>{false, false}));
        const QStringList expected{QStringLiteral("Подключение..."), kNoAnswer,
                                   QStringLiteral("Ошибка подключения"), QStringLiteral("Отключение...")};
        QCOMPARE(device.log, expected);
    }

    void readAllBurstIsAnsweredInCallOrder()
    {
        SimProcess sim({"--verbose"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QStringList order;
        SerialTop *top = device.top;
        auto record = [&](const char *name) { return [&order, name] { order << QString::fromLatin1(name); }; };
        connect(top, &SerialTop::rcvProtocolType, this, record("prot"));
        connect(top, &SerialTop::rcvFmcwBandGHz, this, record("band"));
        connect(top, &SerialTop::rcv_FreqReduct, this, record("freqRed"));
        connect(top, &SerialTop::rcv_SizeLockData, this, record("lock"));
        connect(top, &SerialTop::rcv_DetThCoefMin, this, record("min"));
        connect(top, &SerialTop::rcv_DetThCoefMax, this, record("max"));
        connect(top, &SerialTop::rcv_DetThCoefDC, this, record("dc"));
        connect(top, &SerialTop::rcv_DetSmthCoef, this, record("smth"));
        connect(top, &SerialTop::rcv_DetMtiCoef, this, record("mti"));
        connect(top, &SerialTop::rcv_TrsSmthCoef, this, record("trs"));
        connect(top, &SerialTop::rcv_AdrMb, this, record("adr"));

        top->getProtType();
        top->getFmcwBandGHz();
        top->getFreqRed();
        top->getSizeLockData();
        top->getDetThCoefMin();
        top->getDetThCoefMax();
        top->getDetThCoefDC();
        top->getDetSmthCoef();
        top->getDetMtiCoef();
        top->getTrsSmthCoef();
        top->getAdrMb();
        const QStringList expected{"prot", "band", "freqRed", "lock", "min", "max",
                                   "dc",   "smth", "mti",     "trs",  "adr"};
        QTRY_COMPARE_WITH_TIMEOUT(order, expected, 15000);
        QCOMPARE(device.count(kNoAnswer), 0);
        const QByteArray wire = sim.errorOutput();
        QVERIFY(wire.indexOf("13 03 00 26 00 01") < wire.indexOf("13 03 00 27 00 01"));
        QVERIFY(wire.indexOf("13 03 00 5a 00 02") < wire.indexOf("13 03 00 10 00 01"));
    }

    void writtenParametersReadBack()
    {
        SimProcess sim;
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        SerialTop *top = device.top;
        QueuedSpy prot(top, &SerialTop::rcvProtocolType);
        QueuedSpy lock(top, &SerialTop::rcv_SizeLockData);
        QueuedSpy max(top, &SerialTop::rcv_DetThCoefMax);
        QueuedSpy trs(top, &SerialTop::rcv_TrsSmthCoef);

        top->setProtType(2);
        top->setSizeLockData(70000); // only the low 16 bits travel
        top->setDetThCoefMax(0.25f);
        top->setTrsSmthCoef(-3.5f);
        top->getProtType();
        top->getSizeLockData();
        top->getDetThCoefMax();
        top->getTrsSmthCoef();
        QTRY_VERIFY_WITH_TIMEOUT(trs.count() == 1, 10000);
        QCOMPARE(prot.at(0).at(0).toInt(), 2);
        QCOMPARE(lock.at(0).at(0).toInt(), 70000 & 0xFFFF);
        QCOMPARE(max.at(0).at(0).toFloat(), 0.25f);
        QCOMPARE(trs.at(0).at(0).toFloat(), -3.5f);
        // The words the log shows, not a float's raw bits.
        QVERIFY(!device.log.contains(QStringLiteral("1048576000")));
    }

    void splitAnswerIsProcessedOnce()
    {
        SimProcess sim({"--split", "1"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy prot(device.top, &SerialTop::rcvProtocolType);
        QueuedSpy dc(device.top, &SerialTop::rcv_DetThCoefDC);
        device.top->getProtType();
        device.top->getDetThCoefDC();
        QTRY_COMPARE_WITH_TIMEOUT(dc.count(), 1, 10000);
        QCOMPARE(prot.count(), 1);
        QCOMPARE(device.count(kNoAnswer), 0);
    }

    void silentDeviceGivesOneNoAnswerPerBurst()
    {
        SimProcess sim({"--silent-after", "2"}); // address reset and probe
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy prot(device.top, &SerialTop::rcvProtocolType);
        for (int burst = 1; burst <= 2; ++burst) {
            for (int i = 0; i < 11; ++i)
                device.top->getProtType();
            QTRY_COMPARE_WITH_TIMEOUT(device.count(kNoAnswer), burst, 10000);
        }
        // Give a dropped command time to surface if one were still queued.
        QVERIFY(!waitUntil([&] { return device.count(kNoAnswer) > 2; }, 2500));
        QCOMPARE(prot.count(), 0);
    }

    void disconnectDuringWaitEndsTheWaitAtOnce()
    {
        SimProcess sim({"--silent-after", "2"}); // address reset and probe
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy failed(device.top, &SerialTop::requestFailed);
        device.top->getProtType();
        device.top->getAdrMb();
        device.top->disconnectFromPort();
        QVERIFY(failed.wait(5000));
        QCOMPARE(SerialTop::describe(failed.at(0).at(0).value<RequestOutcome>()), QStringLiteral("Порт закрыт"));
        const int disconnectAt = device.log.indexOf(QStringLiteral("Отключение..."));
        QVERIFY(disconnectAt >= 0 && disconnectAt < device.log.indexOf(QStringLiteral("Порт закрыт")));
        QCOMPARE(device.connectedStates.last(), false);
        // The queued read was dropped with the ring, not sent to a closed port.
        QVERIFY(!waitUntil([&] { return failed.count() > 1 || device.count(kNoAnswer) > 0; }, 1500));
    }

    // An answer that comes after its time-out is dropped as late; the next
    // read of the same shape reports its own register, not the late value.
    void lateAnswerIsNeverTakenForTheNextRequest()
    {
        SimProcess sim({"--late", "3"}); // address reset and probe come first
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy failed(device.top, &SerialTop::requestFailed);
        QueuedSpy band(device.top, &SerialTop::rcvFmcwBandGHz);
        QueuedSpy lock(device.top, &SerialTop::rcv_SizeLockData);
        device.top->getFmcwBandGHz();
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.at(0).at(0).value<RequestOutcome>().failure, RequestOutcome::Failure::NoAnswer);
        device.top->getSizeLockData();
        QVERIFY(lock.wait(5000));
        QCOMPARE(lock.at(0).at(0).toInt(), int(SimDefaults::kSizeLockData));
        QCOMPARE(band.count(), 0);
        QTRY_VERIFY(device.log.filter(QStringLiteral("Поздний ответ отброшен")).size() == 1);
    }

    // However late an answer comes, it is never taken for a later request.
    // Distance and period reads have answers of one shape, so a late answer
    // taken for the next read shows as a period among the distances or the
    // other way round. Lateness is drawn from 1.05 to 5 s, with a seed.
    void lateAnswerIsNeverTakenAtAnyLateness()
    {
        const float distanceM = 5.0f;
        SimProcess sim(SimProcess::seeded(
            {"--distance", QString::number(distanceM), "--late", "4", "--late-ms", "1050-5000"}));
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy failed(device.top, &SerialTop::requestFailed);
        QueuedSpy distance(device.top, &SerialTop::checkDistance);
        QueuedSpy period(device.top, &SerialTop::checkPeriodMeas);
        QueuedSpy frames(device.top, &SerialTop::lineFrames);
        constexpr int kTimeOuts = 2, kDistances = 6;
        for (int tick = 0; tick < 60 && (failed.count() < kTimeOuts || distance.count() < kDistances); ++tick) {
            const int ended = period.count() + failed.count();
            device.top->getDistance();
            QVERIFY2(waitUntil([&] { return period.count() + failed.count() > ended; }, 20000),
                     "a distance read never ended");
        }
        QVERIFY(failed.count() >= kTimeOuts);
        QVERIFY(distance.count() >= kDistances);
        for (const QList<QVariant> &d : distance)
            QCOMPARE(d.at(0).toFloat(), distanceM);
        for (const QList<QVariant> &p : period)
            QCOMPARE(p.at(0).toFloat(), SimDefaults::kPeriod);

        // The monitor agrees: late frames dropped as late, every answer it
        // shows as taken carries its own register's value.
        device.top->disconnectFromPort();
        int late = 0, answers = 0;
        QTRY_VERIFY_WITH_TIMEOUT(!device.connectedStates.isEmpty() && !device.connectedStates.last(), 5000);
        QTRY_VERIFY(!frames.isEmpty());
        for (const QList<QVariant> &batch : frames) {
            for (const LineFrame &frame : batch.at(0).value<QVector<LineFrame>>()) {
                late += frame.kind == LineFrame::Kind::Late;
                if (frame.kind != LineFrame::Kind::Answer || frame.function != ModbusCodec::ReadInputRegisters)
                    continue;
                ++answers;
                QVERIFY(!frame.values.isEmpty());
                const double expected = frame.first == RegisterMap::Input::Distance ? double(distanceM)
                                                                                     : double(SimDefaults::kPeriod);
                QVERIFY2(qAbs(frame.values.first().value - expected) < 1e-6,
                         qPrintable(QStringLiteral("register %1 shown as %2").arg(frame.first).arg(frame.values.first().value)));
            }
        }
        QVERIFY(late >= 1);
        QCOMPARE(answers, distance.count() + period.count());
    }

    // A refusal is told at once, in words, and costs only its own command;
    // it used to stay in the receive buffer and spoil the next answer too.
    void refusalIsToldAndCostsOnlyItsOwnCommand()
    {
        SimProcess sim({"--missing-register", QString::number(RegisterMap::Holding::SizeLockData)});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy failed(device.top, &SerialTop::requestFailed);
        QueuedSpy prot(device.top, &SerialTop::rcvProtocolType);
        device.top->getSizeLockData();
        QVERIFY(failed.wait(5000));
        const QString refusal = QStringLiteral("Устройство отклонило запрос (функция 03, регистр 70): код 02, "
                                               "недопустимый адрес");
        QCOMPARE(SerialTop::describe(failed.at(0).at(0).value<RequestOutcome>()), refusal);
        QCOMPARE(device.count(refusal), 1);
        device.top->getProtType();
        QVERIFY(prot.wait(5000));
        QCOMPARE(device.count(kNoAnswer), 0);
    }

    // An unplugged adapter: the port is closed, the window told, queued
    // commands dropped; once it is back, one connect works again.
    void lostPortIsClosedAndCanBeConnectedAgain()
    {
        const QString link = QDir::temp().filePath(
            QStringLiteral("zetra-line-test-%1").arg(QCoreApplication::applicationPid()));
        SimProcess sim({"--vanish-after", "8", "--link", link});
        DeviceHarness device;
        QVERIFY(device.connectTo(link));
        const auto previousHandler = qInstallMessageHandler(recordWarning);
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, this, [&] {
            device.top->getDistance();
            device.top->getProtType();
        });
        ticks.start(50);
        QTRY_COMPARE_WITH_TIMEOUT(device.connectedStates.last(), false, 10000);
        ticks.stop();
        QVERIFY(waitUntil([&] { return !sim.isRunning(); }, 5000));
        const QString lost = QStringLiteral("Соединение с портом %1 потеряно: ").arg(link);
        QCOMPARE(device.log.filter(lost).size(), 1);
        QCOMPARE(device.count(kNoAnswer), 0);

        SimProcess again({"--link", link});
        QVERIFY(device.connectTo(link));
        qInstallMessageHandler(previousHandler);
        QVERIFY2(!recordedWarnings().join('\n').contains(QLatin1String("not open")),
                 qPrintable(recordedWarnings().join('\n')));

        // Lost with nothing in flight: no failed request tells it, the
        // connection itself must drop.
        QueuedSpy lostLine(device.top, &SerialTop::connectionLost);
        again.stop();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectedStates.last(), false, 10000);
        QTRY_COMPARE(lostLine.size(), 1);
        QCOMPARE(lostLine.at(0).at(0).value<RequestOutcome>().failure, RequestOutcome::Failure::PortLost);
        QCOMPARE(device.log.filter(lost).size(), 2);
    }

    // Why a port cannot be opened, in the user's words.
    void openFailureSaysWhy()
    {
        DeviceHarness device;
        QVERIFY(!device.connectTo(QStringLiteral("/dev/zetra-no-such-port")));
        QCOMPARE(device.log.filter(QStringLiteral("Порт /dev/zetra-no-such-port не найден: ")).size(), 1);

        SimProcess sim;
        QSerialPort other(sim.portName());
        QVERIFY(other.open(QIODevice::ReadWrite));
        QVERIFY(!device.connectTo(sim.portName()));
        QCOMPARE(device.log.filter(QStringLiteral("Порт %1 уже открыт другой программой: ").arg(sim.portName()))
                     .size(),
                 1);
    }

    void ringOverflowRefusesWithOneLineAndSendsNoSlotTwice()
    {
        SimProcess sim({"--verbose", "--reply-delay", "20"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy prot(device.top, &SerialTop::rcvProtocolType);
        for (int i = 0; i < 200; ++i)
            device.top->getProtType();
        const QString overflow = QStringLiteral("Очередь команд переполнена, команда отброшена");
        QTRY_COMPARE_WITH_TIMEOUT(device.count(overflow), 1, 10000);
        // Every command that fitted is answered, none twice, nothing lost.
        QVERIFY(waitUntil([&] { return prot.count() >= 127; }, 30000));
        QVERIFY(!waitUntil([&] { return framesSeen(sim, "rx 13 03 00 26 00 01") > prot.count(); }, 1000));
        QVERIFY(prot.count() < 200);
        QCOMPARE(framesSeen(sim, "rx 13 03 00 26 00 01 66 b3"), prot.count());
        QCOMPARE(device.count(overflow), 1);
        QCOMPARE(device.count(kNoAnswer), 0);
    }

    void byteDumpsShowFramesOnTheLine()
    {
        SimProcess sim;
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        // As the window does: through queued calls into the device thread.
        QMetaObject::invokeMethod(device.top, "setLogTxByteEn", Qt::QueuedConnection, Q_ARG(int, 2));
        QMetaObject::invokeMethod(device.top, "setLogRxByteEn", Qt::QueuedConnection, Q_ARG(int, 2));
        QueuedSpy prot(device.top, &SerialTop::rcvProtocolType);
        device.top->getProtType();
        QVERIFY(prot.wait(5000));
        QTRY_VERIFY(device.log.contains(QStringLiteral("TxByte:13 03 00 26 00 01 66 B3 ")));
        QTRY_VERIFY(std::any_of(device.log.begin(), device.log.end(),
                                [](const QString &line) { return line.startsWith(QStringLiteral("RxByte:13 03 02 ")); }));
    }
};

QTEST_GUILESS_MAIN(DeviceLineTest)
#include "device_line_test.moc"
