// An independent Modbus master (libmodbus) against the simulator over its
// pseudo-terminal: proves the simulator's framing, CRC and register layout
// with code that shares nothing with ours.
#include "linesettings.h"
#include "registermap.h"
#include "simdefaults.h"
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <modbus.h>

#include <cerrno>
#include <cstring>
#include <memory>

using namespace RegisterMap;

namespace {

constexpr int kSlave = 19;
constexpr float kDistance = 7.5f;
constexpr int kRawPoints = 60;

struct ModbusFree
{
    void operator()(modbus_t *ctx) const
    {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Modbus = std::unique_ptr<modbus_t, ModbusFree>;

Modbus connectTo(const QString &port)
{
    Modbus ctx(modbus_new_rtu(port.toLocal8Bit().constData(), Line::kBaudRate, 'N', Line::kDataBits, Line::kStopBits));
    if (!ctx)
        return ctx;
    modbus_set_slave(ctx.get(), kSlave);
    modbus_set_response_timeout(ctx.get(), 3, 0);
    if (modbus_connect(ctx.get()) != 0)
        ctx.reset();
    return ctx;
}

// Registers of a float, high half first, built by hand: the float setters
// of some libmodbus releases swap bytes on little-endian hosts.
void setFloat(float value, uint16_t *pair)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    pair[0] = uint16_t(bits >> 16);
    pair[1] = uint16_t(bits & 0xFFFF);
}

QString text(const uint16_t *registers, int count)
{
    QString s;
    for (int i = 0; i < count && (registers[i] & 0xFF) != 0; ++i)
        s += QChar(registers[i] & 0xFF);
    return s;
}

} // namespace

class SimModbusTests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void holdingRegistersKeepWrittenValues();
    void floatPairsTravelHighHalfFirst();
    void revisionTextIsOneCharacterPerRegister();
    void inputRegistersReportTheMeasurement();
    void coilCommandsAreEchoedAndTakeEffect();
    void unmappedObjectsAreRefusedWithExceptions();

private:
    std::unique_ptr<SimProcess> sim;
    Modbus ctx;
};

void SimModbusTests::initTestCase()
{
    sim = std::make_unique<SimProcess>(QStringList{
        "--distance", QString::number(kDistance), "--raw-points", QString::number(kRawPoints),
        "--selftest-fail", "--revision", "ZS 2.7"});
    QVERIFY(sim->isRunning());
    ctx = connectTo(sim->portName());
    QVERIFY2(ctx, modbus_strerror(errno));
}

void SimModbusTests::cleanupTestCase()
{
    ctx.reset();
    QCOMPARE(sim->stop(), 0);
}

void SimModbusTests::holdingRegistersKeepWrittenValues()
{
    uint16_t regs[3] = {};
    // 37..39 in one read: raw data type, protocol type, FMCW band.
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::RawDataType, 3, regs), 3);
    QCOMPARE(regs[2], SimDefaults::kFmcwBand);

    QCOMPARE(modbus_write_register(ctx.get(), Holding::ProtType, 2), 1);
    QCOMPARE(modbus_write_register(ctx.get(), Holding::AdrMb, 4464), 1);
    uint16_t value = 0;
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::ProtType, 1, &value), 1);
    QCOMPARE(value, uint16_t(2));
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::AdrMb, 1, &value), 1);
    QCOMPARE(value, uint16_t(4464));
}

void SimModbusTests::floatPairsTravelHighHalfFirst()
{
    uint16_t pair[2] = {};
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::DetThCoefMax, 2, pair), 2);
    QCOMPARE(modbus_get_float_abcd(pair), SimDefaults::kDetThCoefMax);

    setFloat(0.25f, pair);
    QCOMPARE(modbus_write_registers(ctx.get(), Holding::DetThCoefMin, 2, pair), 2);
    setFloat(3.75f, pair);
    QCOMPARE(modbus_write_registers(ctx.get(), Holding::TrsSmthCoef, 2, pair), 2);

    // 71..80 in one read: the written minimum next to the untouched maximum.
    uint16_t block[10] = {};
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::DetThCoefMin, 10, block), 10);
    QCOMPARE(block[0], uint16_t(0x3E80));
    QCOMPARE(block[1], uint16_t(0x0000));
    QCOMPARE(modbus_get_float_abcd(block + (Holding::DetThCoefMax - Holding::DetThCoefMin)), SimDefaults::kDetThCoefMax);
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::TrsSmthCoef, 2, pair), 2);
    QCOMPARE(modbus_get_float_abcd(pair), 3.75f);
}

void SimModbusTests::revisionTextIsOneCharacterPerRegister()
{
    uint16_t regs[Holding::RevisionLength] = {};
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::Revision, Holding::RevisionLength, regs),
             int(Holding::RevisionLength));
    QCOMPARE(text(regs, Holding::RevisionLength), QStringLiteral("ZS 2.7"));
    for (uint16_t r : regs)
        QCOMPARE(r & 0xFF00, 0);
    QCOMPARE(regs[6], uint16_t(0));
}

void SimModbusTests::inputRegistersReportTheMeasurement()
{
    uint16_t regs[8] = {};
    QCOMPARE(modbus_read_input_registers(ctx.get(), Input::Period, 8, regs), 8);
    QCOMPARE(modbus_get_float_abcd(regs + Input::Period), SimDefaults::kPeriod);
    QCOMPARE(modbus_get_float_abcd(regs + Input::Distance), kDistance);

    uint16_t count = 0;
    QCOMPARE(modbus_read_input_registers(ctx.get(), Input::RawDataCount, 1, &count), 1);
    QCOMPARE(count, uint16_t(kRawPoints));

    // The last held point is a real sample; the one after it reads 0.
    uint16_t points[4] = {};
    QCOMPARE(modbus_read_input_registers(ctx.get(), Input::RawDataFirst + 2 * (kRawPoints - 1), 4, points), 4);
    QVERIFY(points[0] != 0 || points[1] != 0);
    QCOMPARE(points[2], uint16_t(0));
    QCOMPARE(points[3], uint16_t(0));
}

void SimModbusTests::coilCommandsAreEchoedAndTakeEffect()
{
    QCOMPARE(modbus_write_bit(ctx.get(), Coil::ConnectionProbe, 0), 1);
    QCOMPARE(modbus_write_bit(ctx.get(), Coil::ModulationCw, 1), 1);
    QCOMPARE(modbus_write_bit(ctx.get(), Coil::StartSelfTest, 1), 1);

    // The self-test takes a moment; its verdict (a fault, as configured) follows.
    uint16_t verdict[2] = {};
    QDeadlineTimer deadline(10000);
    do {
        QCOMPARE(modbus_read_input_registers(ctx.get(), Input::SelfTestVerdict, 2, verdict), 2);
    } while (verdict[1] == 0 && !deadline.hasExpired());
    QCOMPARE(verdict[0], uint16_t(0));
    QCOMPARE(verdict[1], uint16_t(1));
}

void SimModbusTests::unmappedObjectsAreRefusedWithExceptions()
{
    uint16_t regs[4] = {};
    // A gap in the holding map, alone and inside a range.
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::AdrMb + 1, 1, regs), -1);
    QCOMPARE(errno, EMBXILADD);
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::Revision + Holding::RevisionLength - 1, 3, regs), -1);
    QCOMPARE(errno, EMBXILADD);
    // Past the end of the map.
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::TrsSmthCoef + 2, 1, regs), -1);
    QCOMPARE(errno, EMBXILADD);
    // The revision text is read-only.
    QCOMPARE(modbus_write_register(ctx.get(), Holding::Revision, 'X'), -1);
    QCOMPARE(errno, EMBXILADD);
    // Between the flash status and the raw data count.
    QCOMPARE(modbus_read_input_registers(ctx.get(), Input::FlashStatus + 2, 1, regs), -1);
    QCOMPARE(errno, EMBXILADD);
    // No coil between programming mode and erase; and coils cannot be read back.
    QCOMPARE(modbus_write_bit(ctx.get(), Coil::ProgrammingMode + 1, 1), -1);
    QCOMPARE(errno, EMBXILADD);
    uint8_t bits[8] = {};
    QCOMPARE(modbus_read_bits(ctx.get(), Coil::SaveSettings, 8, bits), -1);
    QCOMPARE(errno, EMBXILFUN);
    // Raw data types run 0 to 4; there is no buffer for 5.
    QCOMPARE(modbus_write_register(ctx.get(), Holding::RawDataType, 5), -1);
    QCOMPARE(errno, EMBXILVAL);

    // The refusals left the line in step: a plain read still works.
    QCOMPARE(modbus_read_registers(ctx.get(), Holding::FmcwBand, 1, regs), 1);
    QCOMPARE(regs[0], SimDefaults::kFmcwBand);
}

QTEST_GUILESS_MAIN(SimModbusTests)
#include "sim_modbus_tests.moc"
