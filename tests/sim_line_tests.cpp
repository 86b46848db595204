// The simulator's line: how bytes become frames, and what the fault options
// do to the answers a client sees on the pseudo-terminal.
#include "faultplan.h"
#include "frameassembler.h"
#include "linesettings.h"
#include "modbuscodec.h"
#include "registermap.h"
#include "simdefaults.h"
#include "simoptions.h"
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace RegisterMap;
using Piece = FrameAssembler::Piece;

namespace {

// The protocol-type read and the answer the simulator gives it by default.
const QByteArray kRead = ModbusCodec::readRequest(ModbusCodec::ReadHoldingRegisters, Holding::ProtType, 1);
const QByteArray kReadAnswer = QByteArray::fromHex("13030200000047");

// A client of the port at the level of bytes.
class RawPort
{
public:
    explicit RawPort(const QString &path, bool configure = true)
    {
        fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0 && configure) {
            termios tio{};
            ::tcgetattr(fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ~RawPort()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isOpen() const { return fd >= 0; }
    bool write(const QByteArray &bytes) { return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size(); }

    // Reads until `count` bytes have come or `timeoutMs` has passed.
    QByteArray read(int count, int timeoutMs = 10000)
    {
        QByteArray bytes;
        QDeadlineTimer deadline(timeoutMs);
        while (bytes.size() < count && !deadline.hasExpired()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
                continue;
            char chunk[512];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0)
                bytes.append(chunk, int(n));
        }
        return bytes;
    }

private:
    int fd = -1;
};

QStringList kinds(const QVector<Piece> &pieces)
{
    QStringList out;
    for (const Piece &p : pieces)
        out << QString(p.kind == Piece::Request ? "request " : "ignored ") + p.bytes.toHex(' ');
    return out;
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace

class SimLineTests : public QObject
{
    Q_OBJECT

private slots:
    void framesAreCutByLengthAndResynchronised();
    void framesWithoutLengthRuleWaitForSilence();
    void splitAnswerRejoinsIntoTheAnswer();

    void portServesClientsThatLeaveTheLineAsItIs();
    void droppedRequestsGetNoAnswer();
    void corruptedAnswersFailTheirCrc();
    void refusedRequestsGetAnExceptionInstead();
    void strayBytesPrecedeTheAnswer();
    void lineRateReplyDelayAndAdapterHoldAnswersBack();
    void lateAnswersComeWithinTheirRangeAndInOrder();
    void drawnFaultsStayInTheirRangesAndReplayWithTheirSeed();
    void chanceZeroNeverFiresAndOneAlways();
    void faultOptionsTakeACountOrAProbability();
    void sameSeedSpoilsTheSameRequestsOnTheLine();
    void verboseLogShowsEveryFrameAsHex();
    void flashDumpHoldsWhatTheLineWrote();
    void terminationEndsCleanlyAndRemovesTheLink();
};

void SimLineTests::framesAreCutByLengthAndResynchronised()
{
    const uint16_t value = 0x1234;
    const QByteArray write = ModbusCodec::writeRequest(ModbusCodec::WriteSingleRegister, Holding::ProtType, &value, 1);
    QByteArray foreign = kRead;
    foreign[0] = 0x05;
    foreign.chop(2);
    ModbusCodec::appendCrc(foreign);
    QByteArray broken = kRead;
    broken[7] = char(broken[7] ^ 1);

    FrameAssembler assembler;
    // A frame in pieces is handed over once, when its last byte is there.
    QVERIFY(assembler.feed(kRead.left(3)).isEmpty());
    QCOMPARE(kinds(assembler.feed(kRead.mid(3))), QStringList{"request " + hex(kRead)});

    // Garbage, a broken frame and another slave's frame are skipped; the
    // frames around them survive.
    const QVector<Piece> pieces = assembler.feed(QByteArray::fromHex("0005") + broken + write + foreign + kRead);
    QStringList requests;
    QByteArray ignored;
    for (const Piece &p : pieces) {
        if (p.kind == Piece::Request)
            requests << hex(p.bytes);
        else
            ignored += p.bytes;
    }
    QCOMPARE(requests, (QStringList{hex(write), hex(kRead)}));
    QCOMPARE(ignored, QByteArray::fromHex("0005") + broken + foreign);
    QVERIFY(!assembler.pending());

    // A write-multiple frame is as long as its byte count says.
    const uint16_t pair[2] = {0x3F80, 0x0000};
    const QByteArray multiple = ModbusCodec::writeRequest(ModbusCodec::WriteMultipleRegisters, Holding::DetThCoefMax, pair, 2);
    QVERIFY(assembler.feed(multiple.left(multiple.size() - 1)).isEmpty());
    QCOMPARE(kinds(assembler.feed(multiple.right(1))), QStringList{"request " + hex(multiple)});
}

void SimLineTests::framesWithoutLengthRuleWaitForSilence()
{
    FrameAssembler assembler;
    // An unknown function can only be framed by the silence after it.
    QByteArray unknown = QByteArray::fromHex("132b0e0100");
    ModbusCodec::appendCrc(unknown);
    QVERIFY(assembler.feed(unknown).isEmpty());
    QVERIFY(assembler.pending());
    QCOMPARE(kinds(assembler.silence()), QStringList{"request " + hex(unknown)});

    // A program block shorter than its size field says reaches the device,
    // which refuses it; a half frame is dropped.
    const QByteArray data(16, 'x');
    QByteArray shortBlock = ModbusCodec::programBlockRequest(0, data.size(), reinterpret_cast<const uint8_t *>(data.constData()));
    shortBlock[3] = char(data.size() + 8);
    shortBlock.chop(2);
    ModbusCodec::appendCrc(shortBlock);
    QVERIFY(assembler.feed(shortBlock).isEmpty());
    QCOMPARE(kinds(assembler.silence()), QStringList{"request " + hex(shortBlock)});

    QVERIFY(assembler.feed(kRead.left(5)).isEmpty());
    QCOMPARE(kinds(assembler.silence()), QStringList{"ignored " + hex(kRead.left(5))});
    QVERIFY(!assembler.pending());
}

void SimLineTests::splitAnswerRejoinsIntoTheAnswer()
{
    LineFaults faults;
    faults.split = 2;
    FaultPlan plan(faults);
    const FaultPlan::AnswerShape first = plan.nextAnswer(kReadAnswer);
    QCOMPARE(first.head, kReadAnswer);
    QVERIFY(first.tail.isEmpty());
    const FaultPlan::AnswerShape second = plan.nextAnswer(kReadAnswer);
    QVERIFY(!second.head.isEmpty() && !second.tail.isEmpty());
    QCOMPARE(second.head + second.tail, kReadAnswer);
}

void SimLineTests::portServesClientsThatLeaveTheLineAsItIs()
{
    SimProcess sim;
    QVERIFY(sim.isRunning());
    // Without the simulator's raw mode the line discipline would swallow
    // the address byte 0x13 as XOFF and hold the answer for a line end.
    for (int round = 0; round < 2; ++round) {
        RawPort port(sim.portName(), false);
        QVERIFY(port.isOpen());
        QVERIFY(port.write(kRead));
        QCOMPARE(hex(port.read(kReadAnswer.size())), hex(kReadAnswer));
    }
    QVERIFY(sim.isRunning());
}

void SimLineTests::droppedRequestsGetNoAnswer()
{
    {
        SimProcess sim({"--drop", "2"});
        RawPort port(sim.portName());
        const QByteArray band = ModbusCodec::readRequest(ModbusCodec::ReadHoldingRegisters, Holding::FmcwBand, 1);
        // The second of three requests is lost: the bytes that come back are
        // exactly the first and the third answer.
        QVERIFY(port.write(kRead));
        QCOMPARE(hex(port.read(7)), hex(kReadAnswer));
        QVERIFY(port.write(kRead));
        QVERIFY(port.write(band));
        const QByteArray answer = port.read(7);
        const QByteArray bandAnswer = QByteArray::fromHex("130302") + char(SimDefaults::kFmcwBand >> 8)
                                      + char(SimDefaults::kFmcwBand & 0xFF);
        QCOMPARE(answer.left(5), bandAnswer);
        QVERIFY(ModbusCodec::crcValid(answer));
    }
    {
        SimProcess sim({"--drop", "1"});
        RawPort port(sim.portName());
        QVERIFY(port.write(kRead));
        QVERIFY(port.read(1, 1000).isEmpty());
    }
}

void SimLineTests::corruptedAnswersFailTheirCrc()
{
    SimProcess sim({"--corrupt", "1"});
    RawPort port(sim.portName());
    QVERIFY(port.write(kRead));
    const QByteArray answer = port.read(kReadAnswer.size());
    QCOMPARE(answer.size(), kReadAnswer.size());
    QCOMPARE(answer.left(5), kReadAnswer.left(5));
    QVERIFY(!ModbusCodec::crcValid(answer));
}

void SimLineTests::refusedRequestsGetAnExceptionInstead()
{
    SimProcess sim({"--exception", "2"});
    RawPort port(sim.portName());
    const uint16_t value = 3;
    const QByteArray write = ModbusCodec::writeRequest(ModbusCodec::WriteSingleRegister, Holding::ProtType, &value, 1);
    QVERIFY(port.write(kRead));
    QCOMPARE(hex(port.read(7)), hex(kReadAnswer));
    // The refused write takes no effect: the next read still sees 0.
    QVERIFY(port.write(write));
    const QByteArray refusal = port.read(5);
    QCOMPARE(refusal.left(3), QByteArray::fromHex("138604"));
    QVERIFY(ModbusCodec::crcValid(refusal));
    QVERIFY(port.write(kRead));
    QCOMPARE(hex(port.read(7)), hex(kReadAnswer));
}

void SimLineTests::strayBytesPrecedeTheAnswer()
{
    SimProcess sim({"--stray", "1"});
    RawPort port(sim.portName());
    QVERIFY(port.write(kRead));
    const QByteArray bytes = port.read(kReadAnswer.size() + 2);
    QVERIFY(bytes.size() > kReadAnswer.size());
    QVERIFY(bytes.endsWith(kReadAnswer));
    QVERIFY(!ModbusCodec::crcValid(bytes));
}

void SimLineTests::lineRateReplyDelayAndAdapterHoldAnswersBack()
{
    // 100 registers: an 8-byte request and a 205-byte answer of 11 bits a
    // byte at the line's baud rate need at least 20.3 ms on the wire.
    const QByteArray bigRead = ModbusCodec::readRequest(ModbusCodec::ReadInputRegisters, Input::RawDataFirst, 100);
    const int answerSize = ModbusCodec::answerSize(ModbusCodec::ReadInputRegisters, 100);
    const qint64 wireNs = qint64(bigRead.size() + answerSize) * Line::kBitsPerByte * 1000000000 / Line::kBaudRate;
    {
        SimProcess sim({"--line-rate"});
        RawPort port(sim.portName());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.write(bigRead));
        const QByteArray answer = port.read(answerSize);
        const qint64 elapsed = clock.nsecsElapsed();
        QCOMPARE(answer.size(), answerSize);
        QVERIFY(ModbusCodec::crcValid(answer));
        QVERIFY2(elapsed >= wireNs, qPrintable(QString::number(elapsed)));
    }
    {
        SimProcess sim({"--reply-delay", "150"});
        RawPort port(sim.portName());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.write(kRead));
        QCOMPARE(hex(port.read(7)), hex(kReadAnswer));
        QVERIFY(clock.elapsed() >= 150);
    }
    {
        // The adapter's hold comes after the wire time: not a byte shows
        // before the whole answer has crossed the line and the hold is over.
        constexpr int kHoldMs = 60;
        SimProcess sim({"--line-rate", "--answer-hold-ms", QString::number(kHoldMs)});
        RawPort port(sim.portName());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.write(bigRead));
        const QByteArray first = port.read(1);
        const qint64 firstNs = clock.nsecsElapsed();
        const QByteArray answer = first + port.read(answerSize - first.size());
        QCOMPARE(answer.size(), answerSize);
        QVERIFY(ModbusCodec::crcValid(answer));
        QVERIFY2(firstNs >= wireNs + kHoldMs * 1000000, qPrintable(QString::number(firstNs)));
    }
}

void SimLineTests::lateAnswersComeWithinTheirRangeAndInOrder()
{
    // The lateness is drawn over the whole range, the same for the same seed.
    LineFaults faults;
    faults.late = 1;
    faults.lateMs = {200, 300};
    faults.seed = 77;
    FaultPlan plan(faults);
    FaultPlan replay(faults);
    faults.seed = 78;
    FaultPlan other(faults);
    int lowest = 1000000;
    int highest = 0;
    bool othersDiffer = false;
    for (int i = 0; i < 200; ++i) {
        const int delay = plan.nextAnswer(kReadAnswer).delayMs;
        QCOMPARE(replay.nextAnswer(kReadAnswer).delayMs, delay);
        othersDiffer = other.nextAnswer(kReadAnswer).delayMs != delay || othersDiffer;
        lowest = qMin(lowest, delay);
        highest = qMax(highest, delay);
    }
    QVERIFY2(lowest >= 200 && lowest < 210 && highest <= 300 && highest > 290,
             qPrintable(QStringLiteral("%1 to %2").arg(lowest).arg(highest)));
    QVERIFY(othersDiffer);
    QCOMPARE(plan.tally().late, 200L);

    // On the line: the second answer is late, the third is not, yet it waits
    // behind the second as a busy device's would.
    SimProcess sim({"--late", "2", "--late-ms", "300-400"});
    RawPort port(sim.portName());
    QVERIFY(port.write(kRead));
    QCOMPARE(hex(port.read(7)), hex(kReadAnswer));
    const QByteArray band = ModbusCodec::readRequest(ModbusCodec::ReadHoldingRegisters, Holding::FmcwBand, 1);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.write(kRead));
    QVERIFY(port.write(band));
    const QByteArray first = port.read(1);
    const qint64 lateMs = clock.elapsed();
    // Well short of the default 1050 ms, which would mean the range was ignored.
    QVERIFY2(lateMs >= 300 && lateMs < 1000, qPrintable(QString::number(lateMs)));
    const QByteArray both = first + port.read(2 * 7 - first.size());
    QCOMPARE(hex(both.left(7)), hex(kReadAnswer));
    QCOMPARE(both.mid(7, 3), QByteArray::fromHex("130302"));
    QVERIFY(ModbusCodec::crcValid(both.mid(7)));
    sim.stop();
    QVERIFY2(sim.errorOutput().contains("late 1\n"), sim.errorOutput().constData());
    QVERIFY(sim.errorOutput().startsWith("seed "));
}

namespace {

// Everything a plan decided for one request, as text to compare.
QString outcomeOf(FaultPlan &plan, const QByteArray &answer)
{
    const FaultPlan::RequestFate fate = plan.nextRequest();
    if (fate == FaultPlan::RequestFate::Drop)
        return QStringLiteral("drop");
    const FaultPlan::AnswerShape shape =
        plan.nextAnswer(fate == FaultPlan::RequestFate::Refuse ? QByteArray::fromHex("13830405f3") : answer);
    return QStringLiteral("%1 %2|%3|%4 %5 %6")
        .arg(fate == FaultPlan::RequestFate::Refuse ? "refuse" : "serve", hex(shape.stray), hex(shape.head),
             hex(shape.tail))
        .arg(shape.delayMs)
        .arg(shape.lateMs);
}

} // namespace

void SimLineTests::drawnFaultsStayInTheirRangesAndReplayWithTheirSeed()
{
    // 100 registers: a 205-byte answer leaves room to split anywhere in the range.
    const QByteArray answer = ModbusCodec::exceptionAnswer(ModbusCodec::ReadHoldingRegisters, 2).repeated(41);
    LineFaults faults;
    for (FaultRate *rate : {&faults.drop, &faults.exception, &faults.corrupt, &faults.split, &faults.stray, &faults.late})
        *rate = FaultRate::withChance(0.3);
    faults.splitAt = {2, 5};
    faults.strayBytes = {1, 4};
    faults.replyDelayMs = {10, 13};
    faults.lateMs = {100, 103};
    faults.seed = 20240601;
    FaultPlan plan(faults);
    FaultPlan replay(faults);
    faults.seed += 1;
    FaultPlan other(faults);

    constexpr int kRequests = 600;
    int differ = 0;
    QSet<int> cuts, strays, delays, lateness;
    for (int i = 0; i < kRequests; ++i) {
        const QString outcome = outcomeOf(plan, answer);
        QCOMPARE(outcomeOf(replay, answer), outcome);
        differ += outcomeOf(other, answer) != outcome;
    }
    // The same plan again, its shapes taken apart.
    faults.seed -= 1;
    FaultPlan again(faults);
    for (int i = 0; i < kRequests; ++i) {
        const FaultPlan::RequestFate fate = again.nextRequest();
        if (fate == FaultPlan::RequestFate::Drop)
            continue;
        const FaultPlan::AnswerShape shape = again.nextAnswer(answer);
        if (!shape.tail.isEmpty())
            cuts << shape.head.size();
        if (!shape.stray.isEmpty())
            strays << shape.stray.size();
        lateness << shape.lateMs;
        delays << shape.delayMs - shape.lateMs;
    }
    QVERIFY2(differ > kRequests / 2, qPrintable(QString::number(differ)));
    // Every value of each range comes, and none outside it.
    QCOMPARE(cuts, (QSet<int>{2, 3, 4, 5}));
    QCOMPARE(strays, (QSet<int>{1, 2, 3, 4}));
    QCOMPARE(delays, (QSet<int>{10, 11, 12, 13}));
    QCOMPARE(lateness, (QSet<int>{0, 100, 101, 102, 103}));
    // Each fault near its chance, ten deviations either side: 180 of the 600
    // requests dropped, 126 of the 420 left refused, 126 answers split.
    const FaultPlan::Tally &t = again.tally();
    QVERIFY2(t.dropped > 70 && t.dropped < 290, qPrintable(QString::number(t.dropped)));
    for (long count : {t.refused, t.split})
        QVERIFY2(count > 30 && count < 220, qPrintable(QString::number(count)));
}

void SimLineTests::chanceZeroNeverFiresAndOneAlways()
{
    for (double chance : {0.0, 1.0}) {
        LineFaults faults;
        for (FaultRate *rate : {&faults.exception, &faults.corrupt, &faults.split, &faults.stray, &faults.late})
            *rate = FaultRate::withChance(chance);
        faults.seed = 5;
        FaultPlan plan(faults);
        constexpr long kRequests = 100;
        for (long i = 0; i < kRequests; ++i)
            QCOMPARE(plan.nextRequest(), chance > 0 ? FaultPlan::RequestFate::Refuse : FaultPlan::RequestFate::Serve);
        for (long i = 0; i < kRequests; ++i)
            plan.nextAnswer(kReadAnswer);
        const FaultPlan::Tally &t = plan.tally();
        const long expected = chance > 0 ? kRequests : 0;
        for (long count : {t.refused, t.corrupt, t.split, t.stray, t.late})
            QCOMPARE(count, expected);
        QCOMPARE(t.lost, expected); // each request once, whatever else hit it
    }
}

void SimLineTests::faultOptionsTakeACountOrAProbability()
{
    const auto parse = [](const QStringList &arguments, SimOptions &options) {
        QString message;
        return parseOptions(QStringList{"zetra-sim"} + arguments, options, message) == ParseResult::Run;
    };
    SimOptions options;
    QVERIFY(parse({"--drop", "3", "--corrupt", "0.25", "--split", "1.0", "--stray", "0.0", "--split-at", "2-6",
                   "--stray-bytes", "3", "--reply-delay", "5-9", "--seed", "18446744073709551615"},
                  options));
    const LineFaults &f = options.line.faults;
    QVERIFY(!f.drop.drawn && f.drop.every == 3);
    QVERIFY(f.corrupt.drawn && f.corrupt.chance == 0.25);
    QVERIFY(f.split.drawn && f.split.chance == 1.0);
    QVERIFY(f.stray.drawn && f.stray.chance == 0.0);
    QVERIFY(f.splitAt.min == 2 && f.splitAt.max == 6);
    QVERIFY(f.strayBytes.min == 3 && f.strayBytes.max == 3);
    QVERIFY(f.replyDelayMs.min == 5 && f.replyDelayMs.max == 9);
    QCOMPARE(f.seed, std::numeric_limits<uint64_t>::max());

    const QList<QStringList> refused = {
        {"--drop", "0"}, {"--drop", "1.5"}, {"--drop", "-0.1"}, {"--late", "x"}, {"--split-at", "6-2"},
        {"--split-at", "0"}, {"--stray-bytes", "1-2-3"}, {"--reply-delay", "-5"}, {"--late-ms", "1-"},
        {"--seed", "-1"},
    };
    for (const QStringList &arguments : refused) {
        SimOptions ignored;
        QVERIFY2(!parse(arguments, ignored), qPrintable(arguments.join(' ')));
    }
}

void SimLineTests::sameSeedSpoilsTheSameRequestsOnTheLine()
{
    // Forty reads at once; what the simulator did to each, as its log tells.
    const auto run = [](const QStringList &seed, QByteArray &seedLine) {
        SimProcess sim(QStringList{"--drop", "0.3", "--corrupt", "0.3", "--stray", "0.3", "--stray-bytes", "1-3",
                                   "--split", "0.3", "--split-at", "1-6", "--verbose"}
                       + seed);
        RawPort port(sim.portName());
        QByteArray reads;
        for (int i = 0; i < 40; ++i)
            reads += kRead;
        port.write(reads);
        const bool served = QTest::qWaitFor(
            [&] { return sim.errorOutput().count("rx ") == 40 && sim.errorOutput().endsWith("\n"); }, 10000);
        sim.stop();
        const QByteArray log = sim.errorOutput();
        seedLine = served ? log.left(log.indexOf('\n')) : QByteArray("not all 40 requests came");
        return log.mid(log.indexOf('\n') + 1);
    };
    QByteArray seedLine;
    const QByteArray fresh = run({}, seedLine);
    QVERIFY2(seedLine.startsWith("seed "), seedLine.constData());
    QVERIFY(fresh.contains("# request dropped") && fresh.contains("stray "));
    QByteArray replayedSeed;
    QCOMPARE(run({"--seed", QString::fromLatin1(seedLine.mid(5))}, replayedSeed), fresh);
    QCOMPARE(replayedSeed, seedLine);
    QByteArray otherSeed;
    QVERIFY(run({"--seed", QString::number(seedLine.mid(5).toULongLong() + 1)}, otherSeed) != fresh);
}

void SimLineTests::verboseLogShowsEveryFrameAsHex()
{
    SimProcess sim({"--verbose"});
    RawPort port(sim.portName());
    QVERIFY(port.write(QByteArray::fromHex("0005") + kRead));
    QCOMPARE(hex(port.read(7)), hex(kReadAnswer));
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("tx 13 03 02 00 00 00 47\n"), 10000);
    const QByteArray log = sim.errorOutput();
    QVERIFY(log.contains("skip 00 05\nrx 13 03 00 26 00 01 66 b3\ntx 13 03 02 00 00 00 47\n"));
}

void SimLineTests::flashDumpHoldsWhatTheLineWrote()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString dump = dir.filePath("flash.bin");
    SimProcess sim({"--erase-ms", "0", "--flash-dump", dump});
    RawPort port(sim.portName());
    auto exchange = [&port](const QByteArray &request, int answerSize) {
        return port.write(request) && ModbusCodec::crcValid(port.read(answerSize)) ;
    };
    const uint16_t on = 1;
    for (uint16_t coil : {Coil::ProgrammingMode, Coil::FlashCheck, Coil::EraseFirmware})
        QVERIFY(exchange(ModbusCodec::writeRequest(ModbusCodec::WriteSingleCoil, coil, &on, 1), 8));

    QByteArray image;
    for (int i = 0; i < 300; ++i)
        image.append(char(i * 7 + 1));
    for (int offset = 0; offset < image.size(); offset += 256) {
        const QByteArray data = image.mid(offset, 256);
        QVERIFY(exchange(ModbusCodec::programBlockRequest(uint32_t(offset), data.size(),
                                                          reinterpret_cast<const uint8_t *>(data.constData())), 6));
    }
    QVERIFY(exchange(ModbusCodec::writeRequest(ModbusCodec::WriteSingleCoil, Coil::FirmwareFlag, &on, 1), 8));
    QCOMPARE(sim.stop(), 0);

    QFile file(dump);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), image);
    QFile flag(dump + ".flag");
    QVERIFY(flag.open(QIODevice::ReadOnly));
    QCOMPARE(flag.readAll().trimmed(), QByteArray("set"));
    QVERIFY(sim.errorOutput().contains("firmware flag: set\n"));
}

void SimLineTests::terminationEndsCleanlyAndRemovesTheLink()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("ttyZETRA");
    SimProcess sim({"--link", link});
    QVERIFY(sim.isRunning());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.portName());
    {
        RawPort port(link);
        QVERIFY(port.write(kRead));
        QCOMPARE(hex(port.read(7)), hex(kReadAnswer));
    }
    QCOMPARE(sim.stop(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
}

QTEST_GUILESS_MAIN(SimLineTests)
#include "sim_line_tests.moc"
