// The device object in its own thread against pymodbus playing the
// altimeter: parameters read, written and refused, and measurement ticks
// that meet one answer held past the time-out.
#include "deviceharness.h"
#include "modbuscodec.h"
#include "peerprocess.h"
#include "queuedspy.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

#define START_PEER(peer)                                                     \
    do {                                                                     \
        if (!PeerProcess::unavailable().isEmpty())                           \
            QSKIP(qPrintable(PeerProcess::unavailable()));                   \
        QVERIFY2((peer).failure().isEmpty(), qPrintable((peer).failure())); \
    } while (false)

const DeviceParameters::Parameter &parameter(const char *name)
{
    return *DeviceParameters::find(QString::fromLatin1(name));
}

ParameterReport reportOf(const QueuedSpy &spy, int index)
{
    return qvariant_cast<ParameterReport>(spy.at(index).at(1));
}

} // namespace

class PeerDeviceTest : public QObject
{
    Q_OBJECT
private slots:
    void parametersReadWrittenAndRefused()
    {
        PeerProcess peer({"--holding-end", "91", "--fmcw-band", "321", "--revision", "PEER 1.9"});
        START_PEER(peer);
        DeviceHarness device;
        QVERIFY(device.connectTo(peer.portName()));
        QueuedSpy read(device.top, &SerialTop::parametersRead);
        QueuedSpy written(device.top, &SerialTop::parametersWritten);

        QVector<const DeviceParameters::Parameter *> all;
        for (const DeviceParameters::Parameter &entry : DeviceParameters::all())
            all << &entry;
        device.top->readParameters(all, true);
        QVERIFY(read.wait(20000));
        ParameterReport report = reportOf(read, 0);
        QCOMPARE(report.revision, QStringLiteral("PEER 1.9"));
        QCOMPARE(report.done.size(), all.size() - 1);
        QCOMPARE(report.value(parameter("fmcw-band"))->value, 321.0);
        QCOMPARE(report.value(parameter("th-coef-dc"))->value, 2.0);
        QCOMPARE(report.failed.size(), 1);
        QCOMPARE(report.failed.at(0).parameter, &parameter("tracker-smooth-coef"));
        const RequestOutcome refusal = report.failed.at(0).outcome;
        QCOMPARE(int(refusal.failure), int(RequestOutcome::Failure::Refused));
        QCOMPARE(int(refusal.function), int(ModbusCodec::ReadHoldingRegisters));
        QCOMPARE(int(refusal.address), 90);
        QCOMPARE(int(refusal.exceptionCode), int(ModbusCodec::IllegalDataAddress));

        device.top->writeParameters({{&parameter("power-reduction"), 5}, {&parameter("smooth-coef"), -0.375}});
        QVERIFY(written.wait(20000));
        report = reportOf(written, 0);
        QVERIFY(report.complete());
        const QMap<int, int> held = peer.holding();
        QCOMPARE(held.value(50), 5);
        QCOMPARE(held.value(75), int(ModbusCodec::floatHigh(-0.375f)));
        QCOMPARE(held.value(76), int(ModbusCodec::floatLow(-0.375f)));
    }

    // Measurement ticks at the window's 100 ms; one distance read is
    // answered 1.5-2 s late, while the read sent after its time-out (the
    // period, an answer of the same shape) waits. No reading may carry
    // another register's value.
    void measurementTakesNoLateAnswer()
    {
        bool given = false;
        quint32 seed = qEnvironmentVariable("ZETRA_PEER_SEED").toUInt(&given);
        if (!given)
            seed = QRandomGenerator::global()->bounded(1000000u);
        qInfo("late-answer seed %u (ZETRA_PEER_SEED=%u replays it)", seed, seed);
        PeerProcess peer({"--distance", "12.5", "--period", "0.1", "--late-seed", QString::number(seed)});
        START_PEER(peer);
        DeviceHarness device;
        QVERIFY(device.connectTo(peer.portName()));
        QueuedSpy distances(device.top, &SerialTop::checkDistance);
        QueuedSpy periods(device.top, &SerialTop::checkPeriodMeas);
        QueuedSpy failed(device.top, &SerialTop::requestFailed);
        QTimer tick;
        connect(&tick, &QTimer::timeout, device.top, &SerialTop::getDistance);
        tick.start(100);

        QVERIFY2(waitUntil([&] { return peer.errorOutput().contains(" late\n"); }, 15000), peer.errorOutput());
        const int before = distances.count();
        QVERIFY2(waitUntil([&] { return distances.count() >= before + 10; }, 15000), peer.errorOutput());
        tick.stop();

        QVERIFY(!failed.isEmpty());
        QCOMPARE(int(qvariant_cast<RequestOutcome>(failed.at(0).at(0)).failure),
                 int(RequestOutcome::Failure::NoAnswer));
        for (const QList<QVariant> &reading : qAsConst(distances))
            QVERIFY2(reading.at(0).toFloat() == 12.5f,
                     qPrintable(QStringLiteral("distance %1\n").arg(reading.at(0).toFloat()) + peer.errorOutput()));
        for (const QList<QVariant> &reading : qAsConst(periods))
            QVERIFY2(reading.at(0).toFloat() == 0.1f,
                     qPrintable(QStringLiteral("period %1\n").arg(reading.at(0).toFloat()) + peer.errorOutput()));
    }
};

QTEST_GUILESS_MAIN(PeerDeviceTest)
#include "peer_device_test.moc"
