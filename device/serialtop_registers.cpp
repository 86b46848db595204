// Register map: decoding of read answers and the reports of parameter values.
#include "serialtop.h"

#include "framedecoder.h"
#include "modbuscodec.h"
#include "registermap.h"

#include <utility>

using namespace RegisterMap;
using ModbusCodec::floatFromBits;

using DeviceParameters::Kind;
using DeviceParameters::Parameter;

namespace {
// The device object's documented report of each parameter of the first
// eleven: a whole number as int, the band and the floats as float.
struct NamedReport
{
    uint16_t holding;
    void (SerialTop::*whole)(int);
    void (SerialTop::*real)(float);
};

const NamedReport kNamedReports[] = {
    {Holding::ProtType, &SerialTop::rcvProtocolType, nullptr},
    {Holding::AdrMb, &SerialTop::rcv_AdrMb, nullptr},
    {Holding::FmcwBand, nullptr, &SerialTop::rcvFmcwBandGHz},
    {Holding::FreqRed, &SerialTop::rcv_FreqReduct, nullptr},
    {Holding::SizeLockData, &SerialTop::rcv_SizeLockData, nullptr},
    {Holding::DetThCoefMin, nullptr, &SerialTop::rcv_DetThCoefMin},
    {Holding::DetThCoefMax, nullptr, &SerialTop::rcv_DetThCoefMax},
    {Holding::DetSmthCoef, nullptr, &SerialTop::rcv_DetSmthCoef},
    {Holding::DetMtiCoef, nullptr, &SerialTop::rcv_DetMtiCoef},
    {Holding::DetThCoefDC, nullptr, &SerialTop::rcv_DetThCoefDC},
    {Holding::TrsSmthCoef, nullptr, &SerialTop::rcv_TrsSmthCoef},
};

} // namespace

void SerialTop::takeValues(const LineFrame &answer)
{
    // The register map typed every block as the answer was decoded; here
    // each one goes where the device object reports it.
    const bool holding = answer.function == ModbusCodec::ReadHoldingRegisters;
    for (const RegisterValue &value : std::as_const(takenValues)) {
        if (value.type == ValueType::Text) {
            lastRevision = answer.text;
            emit appendLogUpdater(tr("  %1").arg(answer.text), false, QColor(255, 255, 255, 255));
            emit revisionReceived(answer.text);
        } else if (holding) {
            _checkParamHold(value.address, value.bits);
        } else {
            _checkParamInput(value.address, value.bits);
        }
    }
}

void SerialTop::_checkParamHold(ushort adr, uint value)
{
    heldValues.insert(adr, value);
    if (const Parameter *parameter = DeviceParameters::atHolding(adr))
        reportParameter(*parameter, parameter->kind == Kind::Float ? double(floatFromBits(value)) : double(value));
}

void SerialTop::linkNamedReports()
{
    for (const NamedReport &named : kNamedReports) {
        const Parameter *parameter = DeviceParameters::atHolding(named.holding);
        // Direct: a report emitted in any thread is told at once, in order.
        if (named.whole)
            connect(
                this, named.whole, this,
                [this, parameter](int value) { emit parameterReported({parameter, double(value)}); },
                Qt::DirectConnection);
        else
            connect(
                this, named.real, this,
                [this, parameter](float value) { emit parameterReported({parameter, double(value)}); },
                Qt::DirectConnection);
    }
}

void SerialTop::reportParameter(const Parameter &parameter, double value)
{
    for (const NamedReport &named : kNamedReports) {
        if (named.holding != parameter.holding)
            continue;
        if (named.whole)
            emit(this->*named.whole)(int(value));
        else
            emit(this->*named.real)(float(value));
        return;
    }
    emit parameterReported({&parameter, value});
}

void SerialTop::_checkParamInput(ushort adr, uint value)
{
    switch (adr) {
    case Input::Period: emit checkPeriodMeas(floatFromBits(value)); return;
    case Input::Distance: emit checkDistance(floatFromBits(value)); return;
    case Input::SelfTestVerdict:
        emit appendLog(value == 0 ? tr("Изделие исправно") : tr("Изделие НЕисправно"));
        emit selfTestVerdict(value == 0);
        return;
    case Input::FlashStatus: flashReady = value != 0; return;
    case Input::RawDataCount:
        rawDataSize = static_cast<int>(value);
        emit rcvRawDataSize(rawDataSize);
        return;
    default:
        if (adr >= Input::RawDataFirst && adr <= Input::RawDataLast)
            emit rcvRawData(static_cast<float>((adr - Input::RawDataFirst) >> 1), floatFromBits(value));
        return;
    }
}

bool SerialTop::queueRead16(uint8_t func, uint16_t adr, uint16_t quantity)
{
    return _queueCmd(_createRequestModbusRead(func, adr, quantity), true, QString(), QString(),
                     _getAnswerSize_Byte(func, quantity));
}

bool SerialTop::queueWrite16(uint8_t func, uint16_t adr, uint16_t value, const QString &textBefore,
                             const QString &textAfter)
{
    return _queueCmd(_createRequestModbusWrite(func, adr, &value, 1), true, textBefore, textAfter,
                     _getAnswerSize_Byte(func, 1));
}

bool SerialTop::queueWriteFloat(uint16_t adr, float value)
{
    uint16_t values[2] = {ModbusCodec::floatHigh(value), ModbusCodec::floatLow(value)};
    return _queueCmd(_createRequestModbusWrite(ModbusCodec::WriteMultipleRegisters, adr, values, 2), true,
                     QString(), QString(), _getAnswerSize_Byte(ModbusCodec::WriteMultipleRegisters, 2));
}

void SerialTop::_setFMCW_mode(bool state)
{
    if (state)
        queueWrite16(ModbusCodec::WriteSingleCoil, Coil::ModulationFmcw, Coil::On,
                     tr("Установка типа модуляции - FMCW..."), tr("ОК"));
}

void SerialTop::_setCW_mode(bool state)
{
    if (state)
        queueWrite16(ModbusCodec::WriteSingleCoil, Coil::ModulationCw, Coil::On,
                     tr("Установка типа модуляции - CW..."), tr("ОК"));
}

void SerialTop::_saveSettings()
{
    queueWrite16(ModbusCodec::WriteSingleCoil, Coil::SaveSettings, Coil::On, tr("Сохранение настроек в Flash..."),
                 tr("ОК"));
}

void SerialTop::_getTest()
{
    queueRead16(ModbusCodec::ReadInputRegisters, Input::RawDataFirst, 100);
}
