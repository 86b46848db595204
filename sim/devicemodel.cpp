#include "devicemodel.h"

#include "deviceparameters.h"

#include "modbuscodec.h"
#include "rawsignal.h"
#include "registermap.h"

#include <chrono>
#include <cmath>
#include <cstring>

using namespace RegisterMap;
using ModbusCodec::exceptionAnswer;
using ModbusCodec::IllegalFunction;
using ModbusCodec::IllegalDataAddress;
using ModbusCodec::IllegalDataValue;
using ModbusCodec::DeviceFailure;
using ModbusCodec::DeviceBusy;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint16_t kCoilOff = 0x0000;
constexpr uint32_t kSelfTestFault = 1;

uint8_t byteAt(const QByteArray &frame, int offset)
{
    return static_cast<uint8_t>(frame[offset]);
}

uint16_t wordAt(const QByteArray &frame, int offset)
{
    return static_cast<uint16_t>(ModbusCodec::bigEndian(frame, offset, 2));
}

void appendWord(QByteArray &frame, uint16_t value)
{
    frame.append(static_cast<char>(value >> 8));
    frame.append(static_cast<char>(value & 0xFF));
}

QByteArray answerHeader(uint8_t function)
{
    QByteArray frame;
    frame.append(static_cast<char>(ModbusCodec::kSlaveAddress));
    frame.append(static_cast<char>(function));
    return frame;
}

int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Pair registers at and after `base`: the lower address holds the high half.
uint16_t pairHalf(uint32_t value, int adr, int base)
{
    return adr == base ? static_cast<uint16_t>(value >> 16) : static_cast<uint16_t>(value & 0xFFFF);
}

} // namespace

DeviceModel::DeviceModel(const ModelConfig &config, Clock clock)
    : config(config),
      clock(clock ? std::move(clock) : Clock(steadyMs)),
      spreadRandom(config.seed),
      flashMemory(config.eraseMs, config.failFlashCheck, config.failErase)
{
    startMs = this->clock();
    nowMs = startMs;

    // The register map decides which holding registers exist; a block of
    // size s at address a makes a .. a+s-1 readable.
    int end = Holding::Last + 1;
    for (int adr = Holding::First; adr <= Holding::Last; ++adr)
        end = qMax(end, adr + holdingBlockSize(static_cast<uint16_t>(adr)));
    holding.fill(0, end);
    holdingMapped.fill(false, end);
    for (int adr = Holding::First; adr <= Holding::Last; ++adr)
        for (int i = 0; i < holdingBlockSize(static_cast<uint16_t>(adr)); ++i)
            holdingMapped[adr + i] = true;
    for (int adr : config.missingRegisters)
        if (adr >= 0 && adr < end)
            holdingMapped[adr] = false;

    const QByteArray revision = config.revision.toLatin1().left(Holding::RevisionLength);
    for (int i = 0; i < revision.size(); ++i)
        holding[Holding::Revision + i] = static_cast<uint8_t>(revision[i]);

    auto storeFloat = [this](uint16_t adr, float value) {
        holding[adr] = ModbusCodec::floatHigh(value);
        holding[adr + 1] = ModbusCodec::floatLow(value);
    };
    holding[Holding::RawDataType] = RawSignal::AdcI;
    for (const DeviceParameters::Parameter &parameter : DeviceParameters::kTable) {
        if (parameter.kind == DeviceParameters::Kind::Float)
            storeFloat(parameter.holding, float(parameter.typical));
        else
            holding[parameter.holding] = static_cast<uint16_t>(parameter.typical);
    }

    prepareRawBuffer();
}

float DeviceModel::distance() const
{
    if (drawnDistance)
        return *drawnDistance;
    if (config.fixedDistance)
        return config.distance;
    const double phase = 2.0 * kPi * static_cast<double>(nowMs - startMs) / kDistanceSwingPeriodMs;
    return config.distance + kDistanceSwing * static_cast<float>(std::sin(phase));
}

// Box and Muller's normal draw from the generator's own bits: the standard
// library's distributions differ between libraries, so a seed would not
// replay the same distances everywhere.
float DeviceModel::drawDistance()
{
    if (config.spread <= 0)
        return distance();
    const auto uniform = [this] { return (double(spreadRandom() >> 11) + 0.5) * (1.0 / 9007199254740992.0); };
    const double normal = std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * kPi * uniform());
    return float(double(distance()) + config.spread * normal);
}

QVector<DeviceModel::Register> DeviceModel::holdingRegisters() const
{
    QVector<Register> registers;
    for (int adr = 0; adr < holding.size(); ++adr)
        if (holdingMapped[adr])
            registers.append({static_cast<uint16_t>(adr), holding[adr]});
    return registers;
}

std::optional<QByteArray> DeviceModel::handle(const QByteArray &request)
{
    // Address, function and CRC at the least.
    if (request.size() < 4 || !ModbusCodec::crcValid(request))
        return std::nullopt;
    nowMs = clock();
    finishSelfTest();

    const uint8_t address = byteAt(request, 0);
    const uint8_t function = byteAt(request, 1);
    if (address == ModbusCodec::kBroadcastAddress) {
        if (function == ModbusCodec::ResetAddress)
            return resetAddress(request, true);
        return std::nullopt;
    }
    if (address != ModbusCodec::kSlaveAddress)
        return std::nullopt;

    switch (function) {
    case ModbusCodec::ReadHoldingRegisters:
        return readRegisters(request, false);
    case ModbusCodec::ReadInputRegisters:
        return readRegisters(request, true);
    case ModbusCodec::WriteSingleCoil:
        return writeCoil(request);
    case ModbusCodec::WriteSingleRegister:
        return writeRegister(request);
    case ModbusCodec::WriteMultipleRegisters:
        return writeRegisters(request);
    case ModbusCodec::ProgramBlock:
        return programBlock(request);
    case ModbusCodec::ResetAddress:
        return resetAddress(request, false);
    default:
        return exceptionAnswer(function, IllegalFunction);
    }
}

// Request layouts below count from the address byte; every frame ends in 2 CRC bytes.

std::optional<QByteArray> DeviceModel::readRegisters(const QByteArray &request, bool input)
{
    const uint8_t function = byteAt(request, 1);
    if (request.size() != 8)
        return exceptionAnswer(function, IllegalDataValue);
    const int start = wordAt(request, 2);
    const int quantity = wordAt(request, 4);
    if (quantity < 1 || quantity > kMaxReadQuantity)
        return exceptionAnswer(function, IllegalDataValue);
    for (int adr = start; adr < start + quantity; ++adr)
        if (!(input ? inputReadable(adr) : holdingReadable(adr)))
            return exceptionAnswer(function, IllegalDataAddress);

    // One distance for both halves of the value, drawn once per read.
    if (input && start <= Input::Distance && Input::Distance < start + quantity) {
        drawnDistance.reset();
        drawnDistance = drawDistance();
        if (distanceGiven)
            distanceGiven(*drawnDistance);
    }
    QByteArray answer = answerHeader(function);
    answer.append(static_cast<char>(2 * quantity));
    for (int adr = start; adr < start + quantity; ++adr)
        appendWord(answer, input ? inputRegister(adr) : holding[adr]);
    ModbusCodec::appendCrc(answer);
    return answer;
}

std::optional<QByteArray> DeviceModel::writeCoil(const QByteArray &request)
{
    const uint8_t function = byteAt(request, 1);
    if (request.size() != 8)
        return exceptionAnswer(function, IllegalDataValue);
    const uint16_t coil = wordAt(request, 2);
    const uint16_t value = wordAt(request, 4);
    if (value != Coil::On && value != kCoilOff)
        return exceptionAnswer(function, IllegalDataValue);

    // Every coil is a command that acts when switched on; off is only acknowledged.
    const bool on = value == Coil::On;
    switch (coil) {
    case Coil::SaveSettings:
    case Coil::ConnectionProbe:
    case Coil::ModulationFmcw:
    case Coil::ModulationCw:
        // Settings and modulation have no effect on what the simulator reports.
        break;
    case Coil::StartSelfTest:
        if (on) {
            selfTestRunning = true;
            selfTestDoneAtMs = nowMs + kSelfTestMs;
        }
        break;
    case Coil::ProgrammingMode:
        if (on) {
            if (config.failProgrammingMode)
                return std::nullopt;
            flashMemory.enterProgrammingMode();
        }
        break;
    case Coil::FlashCheck:
    case Coil::EraseFirmware:
    case Coil::FirmwareFlag:
        if (on)
            return flashCommand(request, coil);
        break;
    default:
        return exceptionAnswer(function, IllegalDataAddress);
    }
    return request;
}

std::optional<QByteArray> DeviceModel::flashCommand(const QByteArray &request, uint16_t coil)
{
    if (coil == Coil::FirmwareFlag && config.failFirmwareFlag)
        return std::nullopt;
    if (!flashMemory.programmingMode())
        return exceptionAnswer(ModbusCodec::WriteSingleCoil, DeviceFailure);
    if (coil == Coil::FlashCheck)
        flashMemory.checkChip();
    else if (coil == Coil::EraseFirmware)
        flashMemory.startErase(nowMs);
    else
        flashMemory.setFirmwareFlag();
    return request;
}

std::optional<QByteArray> DeviceModel::writeRegister(const QByteArray &request)
{
    const uint8_t function = byteAt(request, 1);
    if (request.size() != 8)
        return exceptionAnswer(function, IllegalDataValue);
    const uint16_t adr = wordAt(request, 2);
    const uint16_t value = wordAt(request, 4);
    if (!holdingWritable(adr))
        return exceptionAnswer(function, IllegalDataAddress);
    if (!valueAcceptable(adr, value))
        return exceptionAnswer(function, IllegalDataValue);
    storeHolding(adr, value);
    return request;
}

std::optional<QByteArray> DeviceModel::writeRegisters(const QByteArray &request)
{
    // address, function, start(2), quantity(2), byte count, values, CRC(2)
    const uint8_t function = byteAt(request, 1);
    if (request.size() < 9)
        return exceptionAnswer(function, IllegalDataValue);
    const int start = wordAt(request, 2);
    const int quantity = wordAt(request, 4);
    const int byteCount = byteAt(request, 6);
    if (quantity < 1 || quantity > kMaxWriteQuantity || byteCount != 2 * quantity
        || request.size() != 9 + byteCount)
        return exceptionAnswer(function, IllegalDataValue);
    for (int i = 0; i < quantity; ++i)
        if (!holdingWritable(start + i))
            return exceptionAnswer(function, IllegalDataAddress);
    for (int i = 0; i < quantity; ++i)
        if (!valueAcceptable(start + i, wordAt(request, 7 + 2 * i)))
            return exceptionAnswer(function, IllegalDataValue);
    for (int i = 0; i < quantity; ++i)
        storeHolding(static_cast<uint16_t>(start + i), wordAt(request, 7 + 2 * i));

    QByteArray answer = request.left(6);
    ModbusCodec::appendCrc(answer);
    return answer;
}

std::optional<QByteArray> DeviceModel::programBlock(const QByteArray &request)
{
    // address, function, size(2), block address(4), data, CRC(2)
    const uint8_t function = byteAt(request, 1);
    if (request.size() < 10)
        return exceptionAnswer(function, IllegalDataValue);
    const int size = wordAt(request, 2);
    const uint32_t blockAddress = ModbusCodec::bigEndian(request, 4, 4);
    const QByteArray data = request.mid(8, request.size() - 10);
    if (size != data.size())
        return exceptionAnswer(function, IllegalDataValue);
    if (config.failBlock > 0 && flashMemory.blocksWritten() + 1 == config.failBlock)
        return std::nullopt;

    switch (flashMemory.writeBlock(blockAddress, data, nowMs)) {
    case FlashMemory::WriteResult::Written:
        break;
    case FlashMemory::WriteResult::BadLength:
        return exceptionAnswer(function, IllegalDataValue);
    case FlashMemory::WriteResult::OutOfRange:
        return exceptionAnswer(function, IllegalDataAddress);
    case FlashMemory::WriteResult::NotAllowed:
        return exceptionAnswer(function, DeviceFailure);
    case FlashMemory::WriteResult::Busy:
        return exceptionAnswer(function, DeviceBusy);
    }
    // The acknowledgement echoes the size field.
    QByteArray answer = request.left(4);
    ModbusCodec::appendCrc(answer);
    return answer;
}

std::optional<QByteArray> DeviceModel::resetAddress(const QByteArray &request, bool broadcast)
{
    const bool codeMatches = request.size() == 8
        && std::memcmp(request.constData() + 2, ModbusCodec::kResetAddressCode,
                       sizeof ModbusCodec::kResetAddressCode) == 0;
    if (!codeMatches) {
        if (broadcast)
            return std::nullopt;
        return exceptionAnswer(ModbusCodec::ResetAddress, IllegalDataValue);
    }
    // The device goes back to its factory address; the simulator answers
    // there in any case, so only the stored setting changes.
    holding[Holding::AdrMb] = ModbusCodec::kSlaveAddress;
    return request;
}

bool DeviceModel::holdingReadable(int adr) const
{
    return adr >= 0 && adr < holdingMapped.size() && holdingMapped[adr];
}

bool DeviceModel::holdingWritable(int adr) const
{
    const bool revisionText = adr >= Holding::Revision && adr < Holding::Revision + Holding::RevisionLength;
    return holdingReadable(adr) && !revisionText;
}

bool DeviceModel::inputReadable(int adr) const
{
    if (adr >= Input::RawDataFirst)
        return adr < Input::RawDataFirst + 2 * kMaxRawPoints;
    for (int base = 0; base <= adr; ++base)
        if (base + inputBlockSize(static_cast<uint16_t>(base)) > adr)
            return true;
    return false;
}

bool DeviceModel::valueAcceptable(int adr, uint16_t value) const
{
    // Only the raw data type has a closed set: there is no buffer for other values.
    if (adr == Holding::RawDataType)
        return value < RawSignal::kTypeCount;
    return true;
}

void DeviceModel::storeHolding(uint16_t adr, uint16_t value)
{
    if (config.ignoredWrites.contains(adr))
        return;
    holding[adr] = value;
    // Selecting a type takes a fresh snapshot, so a read-out in blocks stays consistent.
    if (adr == Holding::RawDataType)
        prepareRawBuffer();
}

uint16_t DeviceModel::inputRegister(int adr) const
{
    if (adr >= Input::RawDataFirst) {
        const int point = (adr - Input::RawDataFirst) / 2;
        const int base = Input::RawDataFirst + 2 * point;
        const uint32_t bits = point < rawBuffer.size() ? ModbusCodec::bitsFromFloat(rawBuffer[point]) : 0;
        return pairHalf(bits, adr, base);
    }
    if (adr == Input::RawDataCount)
        return static_cast<uint16_t>(config.rawPoints);
    const auto half = [adr](uint16_t base, uint32_t value) -> std::optional<uint16_t> {
        if (adr < base || adr >= base + inputBlockSize(base))
            return std::nullopt;
        return pairHalf(value, adr, base);
    };
    if (auto v = half(Input::Period, ModbusCodec::bitsFromFloat(config.period)))
        return *v;
    if (auto v = half(Input::Distance, ModbusCodec::bitsFromFloat(distance())))
        return *v;
    if (auto v = half(Input::SelfTestVerdict, selfTestVerdict))
        return *v;
    if (auto v = half(Input::FlashStatus, flashMemory.status(nowMs)))
        return *v;
    return 0;
}

void DeviceModel::prepareRawBuffer()
{
    rawBuffer = RawSignal::generate(holding[Holding::RawDataType], config.rawPoints, distance(), rawSeed++);
}

void DeviceModel::finishSelfTest()
{
    if (selfTestRunning && nowMs >= selfTestDoneAtMs) {
        selfTestRunning = false;
        selfTestVerdict = config.selfTestFails ? kSelfTestFault : 0;
    }
}
