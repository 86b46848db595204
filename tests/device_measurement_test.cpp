// The measurement session against the simulator: the rules that end a run
// (a vanished line, requests unanswered in a row, the ticks asked for, a
// stop), its readings, misses and recording.
#include "deviceharness.h"
#include "measurementsession.h"
#include "queuedspy.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using End = MeasurementSession::End;
using Failure = RequestOutcome::Failure;

namespace {

// The address reset and the probe of a connect.
constexpr int kConnectRequests = 2;
constexpr int kLong = 30000;

// Every end a session reports, in order.
struct Ends : QVector<End>
{
    explicit Ends(MeasurementSession &session)
    {
        QObject::connect(&session, &MeasurementSession::finished, &session,
                         [this](End why, const RequestOutcome &) { append(why); });
    }
};

QStringList csvRows(const QString &path)
{
    return QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Sizes the faults depend on, drawn from the run's seed so a failure replays.
int draw(int low, int high)
{
    static QRandomGenerator generator(quint32(SimProcess::runSeed()));
    return generator.bounded(low, high + 1);
}

} // namespace

class DeviceMeasurementTest : public QObject
{
    Q_OBJECT

private slots:
    // The seed first, so a failure can be replayed.
    void initTestCase() { SimProcess::runSeed(); }

    // The line goes after a drawn number of requests, maybe between a
    // distance and its period: the run ends as LineLost with the port's own
    // outcome, every reading taken is kept and recorded, the last one
    // without its period when that never came.
    void lineLostEndsTheRunKeepingEveryReading()
    {
        QTemporaryDir dir;
        const int pairs = draw(2, 12);
        const bool halfPair = draw(0, 1) == 1;
        SimProcess sim(SimProcess::seeded(
            {"--distance", "7.25", "--vanish-after", QString::number(kConnectRequests + 2 * pairs + (halfPair ? 1 : 0))}));
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        MeasurementSession session(device.top);
        Ends ends(session);
        const QString csv = dir.filePath("vanish.csv");
        QVERIFY(session.startRecording(csv));
        session.start();
        QTRY_VERIFY_WITH_TIMEOUT(session.hasEnded(), kLong);

        QCOMPARE(ends, QVector<End>{End::LineLost});
        QCOMPARE(session.endReason(), End::LineLost);
        QVERIFY2(session.endCause().failure == Failure::PortLost || session.endCause().failure == Failure::PortClosed,
                 qPrintable(QString::number(int(session.endCause().failure))));
        const int readings = pairs + (halfPair ? 1 : 0);
        QCOMPARE(session.readings(), QVector<double>(readings, 7.25));
        QCOMPARE(session.statistics().count, readings);
        QVERIFY(!session.isRecording());
        const QStringList rows = csvRows(csv);
        QCOMPARE(rows.size(), 1 + readings);
        QCOMPARE(rows.last().endsWith(QLatin1Char(';')), halfPair);
        QVERIFY(rows.at(1).endsWith(QLatin1String(";7.25;0.1")));
        // Reports still coming after the end change nothing.
        QTest::qWait(300);
        QCOMPARE(ends.size(), 1);
    }

    // A device that falls silent: with a limit, that many unanswered requests
    // in a row end the run as Unanswered; without one (the window's rules)
    // it runs on, counting every miss, until stopped.
    void unansweredInARowEndOnlyWhereTheRulesSaySo()
    {
        const int pairs = draw(1, 6);
        const int limit = draw(1, 3);
        for (const bool limited : {true, false}) {
            SimProcess sim(SimProcess::seeded({"--silent-after", QString::number(kConnectRequests + 2 * pairs)}));
            DeviceHarness device;
            QVERIFY(device.connectTo(sim.portName()));
            MeasurementSession::Rules rules;
            rules.unansweredInARow = limited ? limit : 0;
            MeasurementSession session(device.top, rules);
            Ends ends(session);
            session.start();
            if (limited) {
                QTRY_VERIFY_WITH_TIMEOUT(session.hasEnded(), 20000 * limit);
                QCOMPARE(ends, QVector<End>{End::Unanswered});
                QCOMPARE(session.endCause().failure, Failure::NoAnswer);
                QCOMPARE(session.missed(), limit);
                QCOMPARE(session.missedInARow(), limit);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(session.missed() >= 3, 60000);
                QVERIFY(session.isRunning());
                QVERIFY(ends.isEmpty());
                session.stop();
                QCOMPARE(ends, QVector<End>{End::Stopped});
            }
            QCOMPARE(session.statistics().count, pairs);
            QCOMPARE(session.statistics().missed, session.missed());
        }
    }

    // Every distance read lost, every period read answered: the device is
    // there, so the run is no run of unanswered requests and goes on. After
    // a time-out the probe goes first, so every third request is a distance.
    void answeredPeriodBreaksARunOfMisses()
    {
        SimProcess sim({"--drop", "3"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        MeasurementSession::Rules rules;
        rules.unansweredInARow = 3;
        MeasurementSession session(device.top, rules);
        Ends ends(session);
        session.start();
        QTRY_VERIFY_WITH_TIMEOUT(session.missed() >= 4 || session.hasEnded(), 60000);
        QVERIFY(ends.isEmpty());
        QVERIFY(session.isRunning());
        QVERIFY(session.missedInARow() < 3);
        session.stop();
    }

    // A bounded run sends the ticks asked for and ends as Elapsed once each
    // is answered, without waiting out the drain meant for skipped ticks.
    void boundedRunEndsOnceItsTicksAreAnswered()
    {
        const int ticks = draw(2, 15);
        SimProcess sim(SimProcess::seeded({"--verbose"}));
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        MeasurementSession::Rules rules;
        rules.ticks = ticks;
        MeasurementSession session(device.top, rules);
        Ends ends(session);
        QElapsedTimer clock;
        clock.start();
        session.start();
        QTRY_VERIFY_WITH_TIMEOUT(session.hasEnded(), kLong);
        const qint64 tookMs = clock.elapsed();
        QCOMPARE(ends, QVector<End>{End::Elapsed});
        QCOMPARE(session.ticksSent(), ticks);
        QCOMPARE(session.readings().size(), ticks);
        QCOMPARE(session.missed(), 0);
        QVERIFY2(tookMs < (ticks - 1) * Measurement::kPeriodMs + MeasurementSession::kDrainMs,
                 qPrintable(QString::number(tookMs)));
        QTest::qWait(3 * Measurement::kPeriodMs);
        QCOMPARE(sim.errorOutput().count("rx 13 04 00 02 00 02"), ticks);
    }

    // stop() ends the run at once: no request after it, the recording closed
    // with every reading so far; a new start goes on from the readings kept,
    // which start anew past their limit, as the window's curve does.
    void stopEndsTheRunAndAStartGoesOn()
    {
        QTemporaryDir dir;
        SimProcess sim(SimProcess::seeded({"--verbose"}));
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        MeasurementSession session(device.top);
        const int limit = draw(3, 6);
        session.setReadingLimit(limit);
        Ends ends(session);
        int total = 0;
        connect(&session, &MeasurementSession::reading, this, [&total] { ++total; });
        const QString csv = dir.filePath("stopped.csv");
        QVERIFY(session.startRecording(csv));
        session.start();
        QTRY_VERIFY_WITH_TIMEOUT(total >= 2, kLong);
        session.stop();
        const int recorded = total;
        QCOMPARE(ends, QVector<End>{End::Stopped});
        QVERIFY(!session.isRunning());
        QVERIFY(!session.isRecording());
        QCOMPARE(session.recording().rowCount(), recorded);
        QCOMPARE(csvRows(csv).size(), 1 + recorded);
        // The request already on its way may still be answered; none follows.
        QTest::qWait(3 * Measurement::kPeriodMs);
        const int asked = sim.errorOutput().count("rx 13 04 00 02 00 02");
        QTest::qWait(5 * Measurement::kPeriodMs);
        QCOMPARE(sim.errorOutput().count("rx 13 04 00 02 00 02"), asked);
        QCOMPARE(csvRows(csv).size(), 1 + recorded);

        session.start();
        QVERIFY(session.isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(total > 2 * limit, kLong);
        session.stop();
        QCOMPARE(session.readings().size(), (total - 1) % limit + 1);
        QCOMPARE(ends, (QVector<End>{End::Stopped, End::Stopped}));
        session.clearReadings();
        QCOMPARE(session.statistics().count, 0);
        QCOMPARE(session.statistics().missed, 0);
    }
};

QTEST_GUILESS_MAIN(DeviceMeasurementTest)
#include "device_measurement_test.moc"
