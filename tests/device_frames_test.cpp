// Frames on the wire, answer decoding and robustness of the receive path.
#include "firmwareimage.h"
#include "framedecoder.h"
#include "linemonitor.h"
#include "linewording.h"
#include "modbuscodec.h"
#include "registermap.h"
#include "serialtop.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

// Drives the receive path of a SerialTop directly, as if a request were in
// flight, so decoding can be checked without a line.
class FrameProcessingProbe
{
public:
    explicit FrameProcessingProbe(SerialTop &top) : top(top) {}
    // As the send loop sends a request, but for the port.
    void expect(const QByteArray &request, int answerSize)
    {
        top.prepareRequest(request, answerSize);
        top.reportLine(FrameDecoder::request(request));
    }
    // As the send loop gives a request up.
    void timeOut()
    {
        top.reportTimeOut(top.curRequest);
        top.answerSize = 0;
    }
    void receive(const QByteArray &chunk) { top._logRx(chunk); }
    bool acknowledged() const { return top.ackReceived; }
    QString refusal() const { return SerialTop::describe(top.pendingFailure); }
    int pendingBytes() const { return top.rxBuffer.size(); }

private:
    SerialTop &top;
};

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QByteArray withCrc(QByteArray frame)
{
    ModbusCodec::appendCrc(frame);
    return frame;
}

// A well-formed answer to a read request carrying the given register bytes.
QByteArray readAnswer(const QByteArray &request, const QByteArray &data)
{
    QByteArray frame = request.left(2);
    frame.append(static_cast<char>(data.size()));
    frame.append(data);
    return withCrc(frame);
}

} // namespace

class DeviceFramesTest : public QObject
{
    Q_OBJECT

private slots:
    void requestsMatchKnownFrames()
    {
        QCOMPARE(ModbusCodec::crc16(QByteArray("123456789")), uint16_t(0x4B37));
        QCOMPARE(ModbusCodec::crc16(QByteArray()), uint16_t(0xFFFF));

        QCOMPARE(ModbusCodec::readRequest(3, 38, 1), hex("13030026000166B3"));
        uint16_t on = 0xFF00, one = 1, off = 0, five = 5;
        QCOMPARE(ModbusCodec::writeRequest(5, 1, &on, 1), hex("13050001FF00DE88"));
        QCOMPARE(ModbusCodec::writeRequest(5, 1, &one, 1), hex("13050001FF00DE88"));
        QCOMPARE(ModbusCodec::writeRequest(5, 9, &off, 1).mid(4, 2), hex("0000"));
        QCOMPARE(ModbusCodec::writeRequest(6, 16, &five, 1), hex("130600100005" "4B7E"));
        uint16_t oneFloat[2] = {ModbusCodec::floatHigh(1.0f), ModbusCodec::floatLow(1.0f)};
        QCOMPARE(ModbusCodec::writeRequest(16, 73, oneFloat, 2), hex("13100049000204" "3F800000" "6571"));

        const QByteArray empty = ModbusCodec::programBlockRequest(0x01020304, 0, nullptr);
        QCOMPARE(empty.size(), 10);
        QCOMPARE(empty.left(8), hex("1342000001020304"));
        QByteArray block(256, '\x5A');
        const QByteArray full =
            ModbusCodec::programBlockRequest(256, 256, reinterpret_cast<const uint8_t *>(block.constData()));
        QCOMPARE(full.size(), 266);
        QCOMPARE(full.mid(2, 6), hex("010000000100"));

        const QByteArray reset = ModbusCodec::resetAddressRequest();
        QCOMPARE(reset.size(), 8);
        QCOMPARE(reset.left(2), hex("FF43"));

        for (const QByteArray &frame : {ModbusCodec::readRequest(4, 93, 100), full, reset, empty})
            QVERIFY(ModbusCodec::crcValid(frame));
    }

    void answerLengthsAndUnknownFunction()
    {
        SerialTop top;
        QSignalSpy log(&top, &SerialTop::appendLog);
        QCOMPARE(ModbusCodec::answerSize(1, 9), 7);
        QCOMPARE(ModbusCodec::answerSize(3, 18), 41);
        QCOMPARE(ModbusCodec::answerSize(4, 100), 205);
        QCOMPARE(ModbusCodec::answerSize(0x42, 1), 6);
        QCOMPARE(log.count(), 0);
        int size = -1;
        QMetaObject::invokeMethod(&top, "_getAnswerSize_Byte", Qt::DirectConnection, Q_RETURN_ARG(int, size),
                                  Q_ARG(int, 2), Q_ARG(int, 1));
        QCOMPARE(size, 0);
        QCOMPARE(log.count(), 1);
        QCOMPARE(log.at(0).at(0).toString(), QStringLiteral("_getAnswerSize_Byte: Неизвестный код функции"));
    }

    void lineMonitorWordsFramesInTheDevicesTerms()
    {
        using namespace ModbusCodec;
        using FrameDecoder::answer;
        using FrameDecoder::request;
        using LineWording::describe;
        const QByteArray read38 = readRequest(ReadHoldingRegisters, 38, 1);
        QCOMPARE(describe(request(read38)), QStringLiteral("read holding 38 ×1"));
        QCOMPARE(describe(answer(readAnswer(read38, hex("0002")), read38)), QStringLiteral("answer: 38 = 2"));

        uint16_t half[2] = {floatHigh(0.5f), floatLow(0.5f)};
        const QByteArray write71 = writeRequest(WriteMultipleRegisters, 71, half, 2);
        QCOMPARE(describe(request(write71)), QStringLiteral("write holding 71–72 = 0.5"));
        QCOMPARE(describe(answer(withCrc(write71.left(6)), write71)), QStringLiteral("answer: 71–72 written"));
        // A float pair read back shows as the float, per the parameter table.
        const QByteArray read71 = readRequest(ReadHoldingRegisters, 71, 2);
        QCOMPARE(describe(answer(readAnswer(read71, hex("3F000000")), read71)), QStringLiteral("answer: 71–72 = 0.5"));

        QByteArray block(256, '\x11');
        const QByteArray program = programBlockRequest(0x00012300, 256, reinterpret_cast<const uint8_t *>(block.constData()));
        QCOMPARE(describe(request(program)), QStringLiteral("firmware block @0x00012300, 256 bytes"));
        QCOMPARE(describe(request(resetAddressRequest())), QStringLiteral("address reset (broadcast)"));
        QCOMPARE(request(resetAddressRequest()).kind, LineFrame::Kind::Broadcast);

        const QByteArray read70 = readRequest(ReadHoldingRegisters, 70, 1);
        const LineFrame refusal = answer(exceptionAnswer(ReadHoldingRegisters, IllegalDataAddress), read70);
        QCOMPARE(refusal.kind, LineFrame::Kind::Refusal);
        QCOMPARE(describe(refusal), QStringLiteral("refused: function 03, register 70, code 02 illegal data address"));

        uint16_t off = 0;
        QCOMPARE(describe(request(writeRequest(WriteSingleCoil, 9, &off, 1))),
                 QStringLiteral("write coil 9 (connection probe) = off"));
        // An echo counts the value it carries, as its request does.
        uint16_t two = 2;
        const QByteArray write37 = writeRequest(WriteSingleRegister, 37, &two, 1);
        const LineFrame echo = answer(write37, write37);
        QCOMPARE(describe(echo), QStringLiteral("answer: 37 = 2"));
        QCOMPARE(echo.values.size(), 1);
        QCOMPARE(echo.valueCount, request(write37).valueCount);

        // The measurement's polling is told apart, its answers too; a
        // raw-data read of the same function is not polling.
        const QByteArray distance = readRequest(ReadInputRegisters, 2, 2);
        QVERIFY(request(distance).isPolling());
        const LineFrame reading = answer(readAnswer(distance, hex("41200000")), distance);
        QVERIFY(reading.isPolling());
        QCOMPARE(describe(reading), QStringLiteral("answer: 2–3 = 10"));
        QVERIFY(!request(readRequest(ReadInputRegisters, 93, 2)).isPolling());

        LineCounters counters;
        counters.requests = 14;
        counters.answers = 13;
        counters.timeOuts = 1;
        counters.roundTrips = 2;
        counters.roundTripSumMs = 2.8;
        counters.roundTripMaxMs = 2.1;
        QCOMPARE(LineWording::describeCounters(counters),
                 QStringLiteral("line: 14 requests, 13 answers, 1 time-out, 0 bad CRC, 0 refused, 0 stray, 0 late; "
                                "round-trip mean 1.4 ms, max 2.1 ms"));
    }

    // What arrives around and after an answer is recorded for what it is.
    void lineMonitorSortsStrayLateAndBadCrc()
    {
        using namespace ModbusCodec;
        SerialTop top;
        FrameProcessingProbe probe(top);
        QVector<LineFrame> frames;
        LineCounters counters;
        QObject::connect(&top, &SerialTop::lineFrames, [&](const QVector<LineFrame> &batch) { frames += batch; });
        QObject::connect(&top, &SerialTop::lineCounters, [&](const LineCounters &c) { counters = c; });

        const QByteArray read38 = readRequest(ReadHoldingRegisters, 38, 1);
        const QByteArray answer38 = readAnswer(read38, hex("0002"));
        probe.expect(read38, answerSize(ReadHoldingRegisters, 1));
        probe.receive(hex("00FF") + answer38 + hex("55"));
        QVERIFY(probe.acknowledged());
        // The same answer again, with nothing awaiting it: late.
        probe.receive(answer38);
        top.flushLineMonitor();
        QCOMPARE(frames.size(), 5);
        QCOMPARE(frames.at(0).kind, LineFrame::Kind::Request);
        QCOMPARE(frames.at(1).kind, LineFrame::Kind::Stray);
        QCOMPARE(frames.at(1).bytes, hex("00FF"));
        QCOMPARE(frames.at(2).kind, LineFrame::Kind::Answer);
        QVERIFY(frames.at(2).roundTripMs >= 0);
        QCOMPARE(frames.at(3).kind, LineFrame::Kind::Stray);
        QCOMPARE(frames.at(4).kind, LineFrame::Kind::Late);
        QCOMPARE(LineWording::describe(frames.at(4)), QStringLiteral("late answer dropped"));
        QCOMPARE(counters.answers, 1);
        QCOMPARE(counters.stray, 2);
        QCOMPARE(counters.late, 1);
        QCOMPARE(counters.roundTrips, 1);

        // Dropped when its request is given up: an answer of the request's
        // shape with a spoilt CRC is a bad CRC, noise is stray.
        QByteArray spoilt = answer38;
        spoilt[4] = char(spoilt[4] ^ 0x01);
        probe.expect(read38, answerSize(ReadHoldingRegisters, 1));
        probe.receive(spoilt);
        probe.timeOut();
        probe.expect(read38, answerSize(ReadHoldingRegisters, 1));
        probe.receive(hex("13"));
        probe.timeOut();
        top.flushLineMonitor();
        QCOMPARE(frames.size(), 11);
        QCOMPARE(LineWording::describe(frames.at(6)), QStringLiteral("bad CRC"));
        QCOMPARE(LineWording::describe(frames.at(7)), QStringLiteral("no answer (time-out)"));
        QCOMPARE(LineWording::describe(frames.at(9)), QStringLiteral("stray bytes dropped"));
        QCOMPARE(LineWording::describe(frames.at(10)), QStringLiteral("no answer (time-out)"));
        QCOMPARE(counters.badCrc, 1);
        QCOMPARE(counters.stray, 3);
        QCOMPARE(counters.timeOuts, 2);
    }

    // The main log's byte dump and the monitor take the same event: every
    // byte received shows in one, and in the same runs, as in the other. The
    // dump used to leave out what followed an answer.
    void byteDumpShowsTheFramesTheMonitorShows()
    {
        using namespace ModbusCodec;
        SerialTop top;
        FrameProcessingProbe probe(top);
        QVector<LineFrame> frames;
        QStringList dumped;
        QObject::connect(&top, &SerialTop::lineFrames, [&](const QVector<LineFrame> &batch) { frames += batch; });
        QObject::connect(&top, &SerialTop::appendLog, [&](const QString &line) {
            if (line.startsWith(QStringLiteral("RxByte:")) || line.startsWith(QStringLiteral("TxByte:")))
                dumped << line;
        });
        top.setLogRxByteEn(2);
        top.setLogTxByteEn(2);

        // The address reset's echo, in pieces behind a stray byte, is its answer.
        const QByteArray reset = resetAddressRequest();
        probe.expect(reset, 0);
        probe.receive(hex("00") + reset.left(3));
        probe.receive(reset.mid(3));
        const QByteArray read38 = readRequest(ReadHoldingRegisters, 38, 1);
        probe.expect(read38, answerSize(ReadHoldingRegisters, 1));
        probe.receive(hex("55") + readAnswer(read38, hex("0002")) + hex("AA"));
        top.flushLineMonitor();

        QStringList shown;
        for (const LineFrame &frame : frames)
            shown << QStringLiteral("%1:%2 ").arg(frame.direction == LineFrame::Direction::Tx ? "TxByte" : "RxByte",
                                                 QString::fromLatin1(frame.bytes.toHex(' ')).toUpper());
        QCOMPARE(dumped, shown);
        QCOMPARE(frames.size(), 7);
        QCOMPARE(frames.at(1).kind, LineFrame::Kind::Stray);
        QCOMPARE(frames.at(2).kind, LineFrame::Kind::Answer);
        QCOMPARE(LineWording::describe(frames.at(2)), QStringLiteral("answer: address reset echoed"));
        QCOMPARE(frames.at(4).kind, LineFrame::Kind::Stray);
        QCOMPARE(frames.at(5).kind, LineFrame::Kind::Answer);
        QCOMPARE(frames.at(6).kind, LineFrame::Kind::Stray);
        QCOMPARE(frames.at(6).bytes, hex("AA"));
    }

    // One decoder serves the engine and the monitor: the revision the
    // device object reports is the text the monitor shows, padding and all
    // dropped alike, and a float pair is the parameter's value in both.
    void engineAndMonitorReadAnAnswerAlike()
    {
        using namespace ModbusCodec;
        SerialTop top;
        FrameProcessingProbe probe(top);
        QVector<LineFrame> frames;
        QObject::connect(&top, &SerialTop::lineFrames, [&](const QVector<LineFrame> &batch) { frames += batch; });
        QSignalSpy revision(&top, &SerialTop::revisionReceived);
        QSignalSpy coefMin(&top, &SerialTop::rcv_DetThCoefMin);

        const QByteArray readText = readRequest(ReadHoldingRegisters, RegisterMap::Holding::Revision,
                                                RegisterMap::Holding::RevisionLength);
        QByteArray text(2 * RegisterMap::Holding::RevisionLength, '\xFF');
        const QByteArray revisionText("Z v2 ");
        for (int i = 0; i < revisionText.size(); ++i) {
            text[2 * i] = 0;
            text[2 * i + 1] = revisionText[i];
        }
        probe.expect(readText, answerSize(ReadHoldingRegisters, RegisterMap::Holding::RevisionLength));
        probe.receive(readAnswer(readText, text));
        const QByteArray readPair = readRequest(ReadHoldingRegisters, RegisterMap::Holding::DetThCoefMin, 3);
        probe.expect(readPair, answerSize(ReadHoldingRegisters, 3));
        probe.receive(readAnswer(readPair, hex("3F400000") + hex("0007")));
        top.flushLineMonitor();

        QCOMPARE(revision.count(), 1);
        QCOMPARE(revision.at(0).at(0).toString(), QStringLiteral("Z v2"));
        QCOMPARE(frames.at(1).text, QStringLiteral("Z v2"));
        QCOMPARE(LineWording::describe(frames.at(1)), QStringLiteral("answer: 18–35 = \"Z v2\""));
        QCOMPARE(coefMin.count(), 1);
        QCOMPARE(coefMin.at(0).at(0).toFloat(), 0.75f);
        QCOMPARE(frames.at(3).valueCount, 2);
        QCOMPARE(frames.at(3).values.at(0).type, RegisterMap::ValueType::Float);
        QCOMPARE(frames.at(3).values.at(0).value, 0.75);
        QCOMPARE(LineWording::describe(frames.at(3)), QStringLiteral("answer: 71–72 = 0.75, 73 = 7"));
    }

    // Noise in which every other byte could start an answer is judged in
    // time linear in its length (a settling line can gather a second of it),
    // and as stray however long it is: somewhere in a long enough run the
    // CRC comes to zero by chance, but not within a frame's length.
    void longNoiseIsJudgedQuickly()
    {
        SerialTop top;
        FrameProcessingProbe probe(top);
        LineCounters counters;
        QObject::connect(&top, &SerialTop::lineCounters, [&](const LineCounters &c) { counters = c; });
        QByteArray noise;
        for (int i = 0; i < 32768; ++i)
            noise += hex("1303");
        QElapsedTimer clock;
        clock.start();
        // Nothing awaits an answer: the run is judged as it comes.
        probe.receive(noise);
        top.flushLineMonitor();
        QCOMPARE(counters.stray, 1);
        // Linear, well under a second even under the sanitizers.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        // A late answer at the end of a long run is still told apart.
        const QByteArray read38 = ModbusCodec::readRequest(ModbusCodec::ReadHoldingRegisters, 38, 1);
        probe.receive(noise + readAnswer(read38, hex("0002")));
        top.flushLineMonitor();
        QCOMPARE(counters.late, 1);
    }

    void firmwareChecksumFollowsCarryRule()
    {
        const QByteArray example = QByteArray("abcdefgh") + hex("B68778ABF76737CD");
        const FirmwareImage::Checksum sum = FirmwareImage::checksum(example.left(8));
        QCOMPARE(sum.a, 0xAB7887B6u);
        QCOMPARE(sum.b, 0xCD3767F7u);
        QCOMPARE(FirmwareImage::withTrailer(QByteArray("abcdefgh")), example);

        FirmwareImage::Checksum carry;
        carry.add(0xFFFFFFFFu);
        QCOMPARE(carry.a, 0xDEADBEEFu);
        QCOMPARE(carry.b, 0xBD5B7DDFu);
        QCOMPARE(FirmwareImage::withTrailer(QByteArray()), hex("EFBEADDEEFBEADDE"));
    }

    void answersAreDecodedIntoParameterSignals()
    {
        SerialTop top;
        FrameProcessingProbe probe(top);
        QSignalSpy coefMax(&top, &SerialTop::rcv_DetThCoefMax);
        QSignalSpy band(&top, &SerialTop::rcvFmcwBandGHz);
        QSignalSpy period(&top, &SerialTop::checkPeriodMeas);
        QSignalSpy distance(&top, &SerialTop::checkDistance);
        QSignalSpy raw(&top, &SerialTop::rcvRawData);
        QSignalSpy log(&top, &SerialTop::appendLog);
        QSignalSpy updater(&top, &SerialTop::appendLogUpdater);

        QByteArray request = ModbusCodec::readRequest(3, 73, 2);
        probe.expect(request, 9);
        probe.receive(readAnswer(request, hex("3FC00000")));
        QVERIFY(probe.acknowledged());
        QCOMPARE(coefMax.count(), 1);
        QCOMPARE(coefMax.at(0).at(0).toFloat(), 1.5f);

        request = ModbusCodec::readRequest(3, 39, 1);
        probe.expect(request, 7);
        probe.receive(readAnswer(request, hex("0018")));
        QCOMPARE(band.at(0).at(0).toFloat(), 24.0f);

        // Input registers 0..7 in one answer: period, distance, verdict, flash status.
        request = ModbusCodec::readRequest(4, 0, 8);
        probe.expect(request, 21);
        probe.receive(readAnswer(request, hex("3DCCCCCD" "3F800000" "00010000" "00000001")));
        QCOMPARE(period.count(), 1);
        QCOMPARE(distance.at(0).at(0).toFloat(), 1.0f);
        QCOMPARE(log.last().at(0).toString(), QStringLiteral("Изделие НЕисправно"));

        // The last raw point register maps to x = 1024; pi comes through unscaled.
        request = ModbusCodec::readRequest(4, 2141, 4);
        probe.expect(request, 13);
        probe.receive(readAnswer(request, hex("40490FDB" "40490FDB")));
        QCOMPARE(raw.count(), 1);
        QCOMPARE(raw.at(0).at(0).toFloat(), 1024.0f);
        QCOMPARE(raw.at(0).at(1).toFloat(), 3.1415927f);

        // Revision text: V1.2 then NULs, continuing the prompt line in white
        // without the padding.
        request = ModbusCodec::readRequest(3, 18, 18);
        QByteArray text(36, '\0');
        text[1] = 'V';
        text[3] = '1';
        text[5] = '.';
        text[7] = '2';
        probe.expect(request, 41);
        probe.receive(readAnswer(request, text));
        QCOMPARE(updater.count(), 1);
        QCOMPARE(updater.at(0).at(0).toString(), QStringLiteral("  V1.2"));
        QCOMPARE(updater.at(0).at(1).toBool(), false);
    }

    void onlyTheAnswerToTheRequestIsAcknowledged()
    {
        SerialTop top;
        FrameProcessingProbe probe(top);
        QSignalSpy prot(&top, &SerialTop::rcvProtocolType);
        const QByteArray request = ModbusCodec::readRequest(3, 38, 1);

        probe.expect(request, 7);
        QByteArray corrupt = readAnswer(request, hex("0002"));
        corrupt[4] = corrupt[4] ^ 0x01;
        probe.receive(corrupt);
        QVERIFY(!probe.acknowledged());

        probe.expect(request, 7);
        probe.receive(withCrc(hex("1403020002"))); // another slave
        probe.receive(withCrc(hex("1304020002"))); // our slave, another function
        probe.receive(withCrc(hex("138602")));       // a refusal of another function
        // Of the right length, but its byte count names a read of two registers.
        probe.receive(withCrc(hex("130304000200")));
        QVERIFY(!probe.acknowledged());
        QVERIFY(probe.refusal().isEmpty());
        // The request's own answer still counts after all of them.
        probe.receive(readAnswer(request, hex("0002")));
        QVERIFY(probe.acknowledged());

        // A refusal is told at its fifth byte, with what was refused and why.
        probe.expect(request, 7);
        probe.receive(withCrc(hex("138302")));
        QVERIFY(!probe.acknowledged());
        QCOMPARE(probe.refusal(), QStringLiteral("Устройство отклонило запрос (функция 03, регистр 38): код 02, "
                                                 "недопустимый адрес"));
        QCOMPARE(probe.pendingBytes(), 0);
        probe.expect(ModbusCodec::readRequest(4, 2, 2), 9);
        probe.receive(withCrc(hex("13840b")));
        QCOMPARE(probe.refusal(), QStringLiteral("Устройство отклонило запрос (функция 04, регистр 2): код 0B"));

        // Line noise before and after the answer in one chunk costs nothing.
        probe.expect(request, 7);
        probe.receive(hex("00ff13") + readAnswer(request, hex("0001")) + hex("ff"));
        QVERIFY(probe.acknowledged());
        QCOMPARE(prot.count(), 2);

        // An answer split 3 + 4 is processed once, at its last byte.
        probe.expect(request, 7);
        const QByteArray answer = readAnswer(request, hex("0003"));
        probe.receive(answer.left(3));
        QVERIFY(!probe.acknowledged());
        probe.receive(answer.mid(3));
        QVERIFY(probe.acknowledged());
        probe.receive(answer); // a repeated answer is not taken twice
        QCOMPARE(prot.count(), 3);
        QCOMPARE(prot.at(2).at(0).toInt(), 3);

        // A write's answer echoes it: the echo of another coil, or of
        // another value, answers another request.
        const uint16_t off = 0;
        const QByteArray probeWrite = ModbusCodec::writeRequest(ModbusCodec::WriteSingleCoil,
                                                                RegisterMap::Coil::ConnectionProbe, &off, 1);
        probe.expect(probeWrite, 8);
        probe.receive(ModbusCodec::writeRequest(ModbusCodec::WriteSingleCoil, RegisterMap::Coil::SaveSettings, &off, 1));
        const uint16_t on = RegisterMap::Coil::On;
        probe.receive(ModbusCodec::writeRequest(ModbusCodec::WriteSingleCoil, RegisterMap::Coil::ConnectionProbe, &on, 1));
        QVERIFY(!probe.acknowledged());
        probe.receive(probeWrite);
        QVERIFY(probe.acknowledged());
    }

    void partialRevisionBlockStaysInsideTheFrame()
    {
        SerialTop top;
        FrameProcessingProbe probe(top);
        QSignalSpy updater(&top, &SerialTop::appendLogUpdater);
        const QByteArray request = ModbusCodec::readRequest(3, 18, 3);
        probe.expect(request, 11);
        probe.receive(readAnswer(request, hex("005A00530049")));
        QVERIFY(probe.acknowledged());
        QCOMPARE(updater.at(0).at(0).toString(), QStringLiteral("  ZSI"));
    }

    // Random, truncated, garbled and oversized answers never crash the
    // receive path or read outside the frame (the sanitizer build checks the
    // latter); well-formed answers among them are still acknowledged.
    void randomFramesNeverBreakTheReceivePath()
    {
        SerialTop top;
        FrameProcessingProbe probe(top);
        QRandomGenerator rng(20261207);
        const QByteArray requests[] = {
            ModbusCodec::readRequest(3, 18, 18), ModbusCodec::readRequest(3, 16, 75),
            ModbusCodec::readRequest(3, 71, 2),  ModbusCodec::readRequest(4, 0, 8),
            ModbusCodec::readRequest(4, 92, 1),  ModbusCodec::readRequest(4, 93, 100),
            ModbusCodec::readRequest(4, 2093, 100), ModbusCodec::readRequest(4, 1, 3),
            ModbusCodec::readRequest(3, 30, 1),
        };
        int wellFormed = 0, acknowledged = 0;
        for (int i = 0; i < 120000; ++i) {
            const QByteArray &request = requests[rng.bounded(9)];
            const int count = int(ModbusCodec::bigEndian(request, 4, 2));
            const int expected = ModbusCodec::answerSize(request[1], count);
            QByteArray data(2 * count, '\0');
            for (char &byte : data)
                byte = char(rng.bounded(256));
            QByteArray answer = readAnswer(request, data);
            bool valid = true;
            switch (rng.bounded(6)) {
            case 0: // pure noise of any length
                answer.resize(int(rng.bounded(300)));
                for (char &byte : answer)
                    byte = char(rng.bounded(256));
                valid = false;
                break;
            case 1: // truncated, then a valid CRC over what is left
                answer = withCrc(answer.left(int(rng.bounded(answer.size()))));
                valid = false;
                break;
            case 2: // one flipped byte
            {
                const int at = int(rng.bounded(answer.size()));
                answer[at] = char(answer.at(at) ^ char(1 + rng.bounded(255)));
            }
                valid = false;
                break;
            case 3: // oversized with a valid CRC over everything
                answer = withCrc(answer.left(answer.size() - 2) + QByteArray(int(rng.bounded(64)), '\x7F'));
                valid = false;
                break;
            default:
                break;
            }
            // Half the time the expected length is wrong too.
            probe.expect(request, rng.bounded(2) ? expected : int(rng.bounded(expected + 1)));
            int pos = 0;
            while (pos < answer.size()) {
                const int chunk = 1 + int(rng.bounded(answer.size() - pos));
                probe.receive(answer.mid(pos, chunk));
                pos += chunk;
            }
            if (valid) {
                ++wellFormed;
                acknowledged += probe.acknowledged();
            }
        }
        QVERIFY(wellFormed > 30000);
        QVERIFY(acknowledged > wellFormed / 4);
    }
};

QTEST_GUILESS_MAIN(DeviceFramesTest)
#include "device_frames_test.moc"
