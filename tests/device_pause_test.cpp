// The pause before each request: its timer on its own, and the silence it
// leaves on the line between an answer and the next request.
#include "deviceharness.h"
#include "linemonitor.h"
#include "pausetimer.h"
#include "queuedspy.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

class DevicePauseTest : public QObject
{
    Q_OBJECT

private slots:
    void pauseTimerEndsAtItsDeadlineOnce()
    {
        PauseTimer pause;
        QSignalSpy fired(&pause, &PauseTimer::timeout);
        QElapsedTimer clock;
        clock.start();
        pause.start(QDeadlineTimer(20, Qt::PreciseTimer));
        QVERIFY(fired.wait(5000));
        const qint64 ns = clock.nsecsElapsed();
        QVERIFY2(ns >= 20000000, qPrintable(QString::number(ns)));
        // Generous: the machine is shared; a millisecond-grained timer would still pass, a lost one not.
        QVERIFY2(ns < 500000000, qPrintable(QString::number(ns)));
        QTest::qWait(50);
        QCOMPARE(fired.count(), 1);

        // A deadline already past ends the pause as soon as events run.
        pause.start(QDeadlineTimer(0, Qt::PreciseTimer));
        QVERIFY(fired.wait(5000));
        QCOMPARE(fired.count(), 2);
    }

    void stoppedOrReplacedPauseDoesNotEndLater()
    {
        PauseTimer pause;
        QSignalSpy fired(&pause, &PauseTimer::timeout);
        pause.start(QDeadlineTimer(10, Qt::PreciseTimer));
        pause.stop();
        QTest::qWait(60);
        QCOMPARE(fired.count(), 0);

        // An expiry not yet taken when the pause is stopped is gone too.
        pause.start(QDeadlineTimer(1, Qt::PreciseTimer));
        QThread::msleep(20); // expires while no event is processed
        pause.stop();
        QTest::qWait(30);
        QCOMPARE(fired.count(), 0);

        // Started again, only the new deadline counts.
        QElapsedTimer clock;
        clock.start();
        pause.start(QDeadlineTimer(5, Qt::PreciseTimer));
        pause.start(QDeadlineTimer(40, Qt::PreciseTimer));
        QVERIFY(fired.wait(5000));
        QVERIFY2(clock.elapsed() >= 40, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(30);
        QCOMPARE(fired.count(), 1);
    }

    // Every request of a burst leaves the device its 5 ms after the
    // previous answer, though the pause counts from that answer's arrival.
    void everyRequestFollowsFiveQuietMilliseconds()
    {
        SimProcess sim({"--line-rate"});
        DeviceHarness device;
        QVERIFY(device.connectTo(sim.portName()));
        QueuedSpy frames(device.top, &SerialTop::lineFrames);
        QueuedSpy answers(device.top, &SerialTop::rcvProtocolType);
        constexpr int kReads = 40;
        for (int i = 0; i < kReads; ++i)
            device.top->getProtType();
        QVERIFY(waitUntil([&] { return answers.count() == kReads; }, 30000));
        device.top->disconnectFromPort(); // hands out every recorded frame
        QTRY_VERIFY(!device.connectedStates.isEmpty() && !device.connectedStates.last());

        QVector<LineFrame> line;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                line.clear();
                for (const QList<QVariant> &batch : frames)
                    line += batch.at(0).value<QVector<LineFrame>>();
                int requests = 0;
                for (const LineFrame &f : line)
                    requests += f.kind == LineFrame::Kind::Request && f.bytes.at(1) == 0x03;
                return requests == kReads;
            }(),
            5000);
        int gaps = 0;
        double lastAnswerMs = -1;
        for (const LineFrame &f : line) {
            if (f.kind == LineFrame::Kind::Answer) {
                lastAnswerMs = f.timeMs;
            } else if (f.kind == LineFrame::Kind::Request && lastAnswerMs >= 0) {
                // The monitor stamps an answer when its last byte came and a
                // request once it is written: the line's own silence.
                QVERIFY2(f.timeMs - lastAnswerMs >= 4.95,
                         qPrintable(QStringLiteral("%1 ms").arg(f.timeMs - lastAnswerMs)));
                ++gaps;
            }
        }
        QCOMPARE(gaps, kReads);
    }
};

QTEST_GUILESS_MAIN(DevicePauseTest)
#include "device_pause_test.moc"
