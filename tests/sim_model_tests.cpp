// The simulated device driven directly with request frames, on a clock the
// test steps itself: flash programming, raw buffers, measurement values.
#include "devicemodel.h"
#include "modbuscodec.h"
#include "rawsignal.h"
#include "registermap.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace RegisterMap;
using ModbusCodec::bigEndian;

namespace {

constexpr uint16_t kOn = 1;

struct Rig
{
    int64_t now = 1000;
    DeviceModel model;

    explicit Rig(const ModelConfig &config = {}) : model(config, [this] { return now; }) {}

    // The answer, or an empty array when the device stays silent.
    QByteArray ask(const QByteArray &request)
    {
        const std::optional<QByteArray> answer = model.handle(request);
        return answer ? *answer : QByteArray();
    }
    QByteArray coil(uint16_t coil)
    {
        return ask(ModbusCodec::writeRequest(ModbusCodec::WriteSingleCoil, coil, &kOn, 1));
    }
    QByteArray writeRegister(uint16_t adr, uint16_t value)
    {
        return ask(ModbusCodec::writeRequest(ModbusCodec::WriteSingleRegister, adr, &value, 1));
    }
    QByteArray readInput(uint16_t adr, uint16_t quantity)
    {
        return ask(ModbusCodec::readRequest(ModbusCodec::ReadInputRegisters, adr, quantity));
    }
    uint32_t inputPair(uint16_t adr)
    {
        const QByteArray answer = readInput(adr, 2);
        return answer.size() == 9 ? bigEndian(answer, 3, 4) : 0xDEADDEAD;
    }
    uint32_t flashStatus() { return inputPair(Input::FlashStatus); }
    QByteArray block(uint32_t address, const QByteArray &data)
    {
        return ask(ModbusCodec::programBlockRequest(address, data.size(),
                                                   reinterpret_cast<const uint8_t *>(data.constData())));
    }
    // Raw points as the device's client reads them: blocks of 50 points.
    QVector<float> rawPoints(int count)
    {
        QVector<float> points;
        for (int first = 0; first < count; first += 50) {
            const int n = std::min(50, count - first);
            const QByteArray answer = readInput(uint16_t(Input::RawDataFirst + 2 * first), uint16_t(2 * n));
            if (answer.size() != 4 * n + 5)
                return {};
            for (int k = 0; k < n; ++k)
                points.append(ModbusCodec::floatFromBits(bigEndian(answer, 3 + 4 * k, 4)));
        }
        return points;
    }
    // Programming mode, flash check and a finished erase.
    bool prepareFlash()
    {
        coil(Coil::ProgrammingMode);
        coil(Coil::FlashCheck);
        coil(Coil::EraseFirmware);
        now += 60000;
        return flashStatus() != 0;
    }
};

bool isException(const QByteArray &answer, uint8_t function, uint8_t code)
{
    return answer.size() == 5 && uint8_t(answer[0]) == ModbusCodec::kSlaveAddress
        && uint8_t(answer[1]) == (function | ModbusCodec::kExceptionFlag) && uint8_t(answer[2]) == code
        && ModbusCodec::crcValid(answer);
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, 0);
    for (char &b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

int argMax(const QVector<float> &values)
{
    return int(std::max_element(values.begin(), values.end()) - values.begin());
}

} // namespace

class SimModelTests : public QObject
{
    Q_OBJECT

private slots:
    void flashProgrammingWritesTheImageByteForByte();
    void eraseKeepsTheFlashBusyForItsTime();
    void flashRefusesBlocksItCannotTake();
    void failedStepsFailTheWayTheyAreTold();
    void rawBufferHoldsTheSelectedSignal();
    void rawRegistersReachPastTheAnnouncedCount();
    void distanceDriftsUnlessFixedAndSelfTestGivesAVerdict();
    void addressResetRestoresTheFactoryAddress();
};

void SimModelTests::flashProgrammingWritesTheImageByteForByte()
{
    Rig rig;
    const QByteArray image = randomBytes(520);

    QCOMPARE(rig.coil(Coil::ProgrammingMode).size(), 8);
    QCOMPARE(rig.coil(Coil::FlashCheck).size(), 8);
    QVERIFY(rig.flashStatus() != 0);
    QCOMPARE(rig.coil(Coil::EraseFirmware).size(), 8);
    rig.now += 60000;
    QVERIFY(rig.flashStatus() != 0);

    for (int offset = 0; offset < image.size(); offset += FlashMemory::kMaxBlock) {
        const QByteArray data = image.mid(offset, FlashMemory::kMaxBlock);
        const QByteArray answer = rig.block(uint32_t(offset), data);
        QCOMPARE(answer.size(), 6);
        QVERIFY(ModbusCodec::crcValid(answer));
        QCOMPARE(uint8_t(answer[1]), uint8_t(ModbusCodec::ProgramBlock));
        QCOMPARE(int(bigEndian(answer, 2, 2)), data.size());
    }
    QVERIFY(!rig.model.flash().firmwareFlag());
    QCOMPARE(rig.coil(Coil::FirmwareFlag).size(), 8);

    QCOMPARE(rig.model.flash().writtenImage(), image);
    QVERIFY(rig.model.flash().firmwareFlag());
}

void SimModelTests::eraseKeepsTheFlashBusyForItsTime()
{
    ModelConfig config;
    config.eraseMs = 1500;
    Rig rig(config);
    QCOMPARE(rig.flashStatus(), 0u);        // not in programming mode
    rig.coil(Coil::ProgrammingMode);
    QCOMPARE(rig.flashStatus(), 0u);        // chip not checked yet
    rig.coil(Coil::FlashCheck);
    QVERIFY(rig.flashStatus() != 0);

    rig.coil(Coil::EraseFirmware);
    QCOMPARE(rig.flashStatus(), 0u);
    rig.now += 1499;
    QCOMPARE(rig.flashStatus(), 0u);
    rig.now += 1;
    QVERIFY(rig.flashStatus() != 0);

    config.eraseMs = 0;
    Rig quick(config);
    QVERIFY(quick.prepareFlash());
    quick.coil(Coil::EraseFirmware);
    QVERIFY(quick.flashStatus() != 0);
}

void SimModelTests::flashRefusesBlocksItCannotTake()
{
    const QByteArray data = randomBytes(16);
    const uint8_t fn = ModbusCodec::ProgramBlock;

    Rig rig;
    QVERIFY(isException(rig.block(0, data), fn, ModbusCodec::DeviceFailure));     // not in programming mode
    rig.coil(Coil::ProgrammingMode);
    rig.coil(Coil::FlashCheck);
    QVERIFY(isException(rig.block(0, data), fn, ModbusCodec::DeviceFailure));     // not erased
    rig.coil(Coil::EraseFirmware);
    QVERIFY(isException(rig.block(0, data), fn, ModbusCodec::DeviceBusy));        // erase still running
    rig.now += 60000;

    // Past the end, also by the last byte only.
    QVERIFY(isException(rig.block(FlashMemory::kSize, data), fn, ModbusCodec::IllegalDataAddress));
    QVERIFY(isException(rig.block(FlashMemory::kSize - 15, data), fn, ModbusCodec::IllegalDataAddress));
    QVERIFY(isException(rig.block(0xFFFFFFF0u, data), fn, ModbusCodec::IllegalDataAddress));
    // Longer than a block.
    QVERIFY(isException(rig.block(0, randomBytes(FlashMemory::kMaxBlock + 1)), fn, ModbusCodec::IllegalDataValue));
    // A size field that does not match the data.
    QByteArray lying = ModbusCodec::programBlockRequest(0, data.size(), reinterpret_cast<const uint8_t *>(data.constData()));
    lying[3] = char(data.size() + 4);
    lying.chop(2);
    ModbusCodec::appendCrc(lying);
    QVERIFY(isException(rig.ask(lying), fn, ModbusCodec::IllegalDataValue));
    QVERIFY(rig.model.flash().writtenImage().isEmpty());

    // The last bytes of the flash are there to be written.
    QCOMPARE(rig.block(FlashMemory::kSize - 16, data).size(), 6);
    QCOMPARE(rig.model.flash().writtenImage().size(), FlashMemory::kSize);
    QCOMPARE(rig.model.flash().writtenImage().right(16), data);
    QCOMPARE(uint8_t(rig.model.flash().writtenImage()[0]), FlashMemory::kErased);
}

void SimModelTests::failedStepsFailTheWayTheyAreTold()
{
    const QByteArray data = randomBytes(256);
    {
        ModelConfig config;
        config.failProgrammingMode = true;
        Rig rig(config);
        QVERIFY(rig.coil(Coil::ProgrammingMode).isEmpty());
        QVERIFY(isException(rig.coil(Coil::FlashCheck), ModbusCodec::WriteSingleCoil, ModbusCodec::DeviceFailure));
    }
    {
        ModelConfig config;
        config.failFlashCheck = true;
        Rig rig(config);
        rig.coil(Coil::ProgrammingMode);
        QCOMPARE(rig.coil(Coil::FlashCheck).size(), 8);
        rig.now += 60000;
        QCOMPARE(rig.flashStatus(), 0u);
    }
    {
        ModelConfig config;
        config.failErase = true;
        Rig rig(config);
        QVERIFY(!rig.prepareFlash());
        rig.now += 3600 * 1000;
        QCOMPARE(rig.flashStatus(), 0u);
    }
    {
        ModelConfig config;
        config.failBlock = 2;
        config.failFirmwareFlag = true;
        Rig rig(config);
        QVERIFY(rig.prepareFlash());
        QCOMPARE(rig.block(0, data).size(), 6);
        QVERIFY(rig.block(256, data).isEmpty());
        QVERIFY(rig.coil(Coil::FirmwareFlag).isEmpty());
        QVERIFY(!rig.model.flash().firmwareFlag());
        QCOMPARE(rig.model.flash().writtenImage(), data);
    }
}

void SimModelTests::rawBufferHoldsTheSelectedSignal()
{
    ModelConfig config;
    config.fixedDistance = true;
    config.distance = 12.5f;
    config.rawPoints = 1100;
    Rig rig(config);
    const int peakBin = RawSignal::beatBin(config.distance);
    QVERIFY(peakBin > 10 && peakBin < 1000);

    QByteArray count = rig.readInput(Input::RawDataCount, 1);
    QCOMPARE(count.size(), 7);
    QCOMPARE(int(bigEndian(count, 3, 2)), 1100);

    // I and Q are the same tone 90 degrees apart: their pairs keep a constant
    // envelope, which two equal or unrelated channels would not.
    QCOMPARE(rig.writeRegister(Holding::RawDataType, RawSignal::AdcIQ).size(), 8);
    const QVector<float> iq = rig.rawPoints(1100);
    QCOMPARE(iq.size(), 1100);
    for (int k = 0; k + 1 < iq.size(); k += 2) {
        const float envelope = std::hypot(iq[k], iq[k + 1]);
        QVERIFY2(std::abs(envelope - RawSignal::kAdcAmplitude) < 8 * RawSignal::kAdcNoise, qPrintable(QString::number(k)));
    }

    // Single channels: a tone, its sign changes as often as its frequency says.
    QCOMPARE(rig.writeRegister(Holding::RawDataType, RawSignal::AdcI).size(), 8);
    const QVector<float> i = rig.rawPoints(1100);
    int crossings = 0;
    for (int k = 1; k < i.size(); ++k)
        crossings += (i[k - 1] < 0) != (i[k] < 0);
    const double expected = 2.0 * peakBin * i.size() / RawSignal::kFftSize;
    QVERIFY2(std::abs(crossings - expected) <= 3, qPrintable(QString::number(crossings)));

    // The spectrum and the integrator peak at the distance's bin; the
    // integrator's floor is the smoother one.
    auto floorSpread = [peakBin](const QVector<float> &s) {
        double sum = 0, sq = 0;
        int n = 0;
        for (int k = 0; k < s.size(); ++k) {
            if (std::abs(k - peakBin) < 100)
                continue;
            sum += s[k];
            sq += double(s[k]) * s[k];
            ++n;
        }
        return std::sqrt(sq / n - (sum / n) * (sum / n));
    };
    QCOMPARE(rig.writeRegister(Holding::RawDataType, RawSignal::Spectrum).size(), 8);
    const QVector<float> spectrum = rig.rawPoints(1100);
    QCOMPARE(argMax(spectrum), peakBin);
    QCOMPARE(rig.writeRegister(Holding::RawDataType, RawSignal::Integrator).size(), 8);
    const QVector<float> integrator = rig.rawPoints(1100);
    QCOMPARE(argMax(integrator), peakBin);
    QVERIFY(floorSpread(integrator) < floorSpread(spectrum) / 2);
}

void SimModelTests::rawRegistersReachPastTheAnnouncedCount()
{
    ModelConfig config;
    config.rawPoints = 60;
    Rig rig(config);
    const QVector<float> points = rig.rawPoints(DeviceModel::kMaxRawPoints);
    QCOMPARE(points.size(), DeviceModel::kMaxRawPoints);
    QVERIFY(std::any_of(points.begin(), points.begin() + 60, [](float p) { return p != 0.0f; }));
    QVERIFY(std::all_of(points.begin() + 60, points.end(), [](float p) { return p == 0.0f; }));

    const uint16_t end = Input::RawDataFirst + 2 * DeviceModel::kMaxRawPoints;
    QCOMPARE(rig.readInput(end - 2, 2).size(), 9);
    QVERIFY(isException(rig.readInput(end - 1, 2), ModbusCodec::ReadInputRegisters, ModbusCodec::IllegalDataAddress));
}

void SimModelTests::distanceDriftsUnlessFixedAndSelfTestGivesAVerdict()
{
    auto distance = [](Rig &rig) { return ModbusCodec::floatFromBits(rig.inputPair(Input::Distance)); };

    ModelConfig config;
    config.selfTestFails = true;
    Rig rig(config);
    QCOMPARE(distance(rig), SimDefaults::kDistance);
    rig.now += DeviceModel::kDistanceSwingPeriodMs / 4;
    QCOMPARE(distance(rig), SimDefaults::kDistance + DeviceModel::kDistanceSwing);
    rig.now += DeviceModel::kDistanceSwingPeriodMs / 2;
    QCOMPARE(distance(rig), SimDefaults::kDistance - DeviceModel::kDistanceSwing);

    QCOMPARE(rig.inputPair(Input::SelfTestVerdict), 0u);
    QCOMPARE(rig.coil(Coil::StartSelfTest).size(), 8);
    rig.now += DeviceModel::kSelfTestMs;
    QVERIFY(rig.inputPair(Input::SelfTestVerdict) != 0);

    config.fixedDistance = true;
    config.distance = 3.25f;
    Rig fixed(config);
    fixed.now += DeviceModel::kDistanceSwingPeriodMs / 4;
    QCOMPARE(distance(fixed), 3.25f);
}

void SimModelTests::addressResetRestoresTheFactoryAddress()
{
    Rig rig;
    QCOMPARE(rig.writeRegister(Holding::AdrMb, 7).size(), 8);
    const QByteArray reset = ModbusCodec::resetAddressRequest();
    QCOMPARE(rig.ask(reset), reset);
    const QByteArray answer = rig.ask(ModbusCodec::readRequest(ModbusCodec::ReadHoldingRegisters, Holding::AdrMb, 1));
    QCOMPARE(answer.size(), 7);
    QCOMPARE(int(bigEndian(answer, 3, 2)), int(ModbusCodec::kSlaveAddress));

    // A broadcast with another code is not for this device.
    QByteArray other = reset;
    other[2] = char(other[2] ^ 0xFF);
    other.chop(2);
    ModbusCodec::appendCrc(other);
    QVERIFY(rig.ask(other).isEmpty());
}

QTEST_GUILESS_MAIN(SimModelTests)
#include "sim_model_tests.moc"
