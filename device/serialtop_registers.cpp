// Register map: decoding of read answers and the parameter operations.
#include "serialtop.h"

#include "framedecoder.h"
#include "modbuscodec.h"
#include "registermap.h"

#include <utility>

using namespace RegisterMap;
using ModbusCodec::floatFromBits;

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
    switch (adr) {
    case Holding::AdrMb: emit rcv_AdrMb(static_cast<int>(value)); break;
    case Holding::ProtType: emit rcvProtocolType(static_cast<int>(value)); break;
    case Holding::FmcwBand: emit rcvFmcwBandGHz(static_cast<float>(value)); break;
    case Holding::FreqRed: emit rcv_FreqReduct(static_cast<int>(value)); break;
    case Holding::SizeLockData: emit rcv_SizeLockData(static_cast<int>(value)); break;
    case Holding::DetThCoefMin: emit rcv_DetThCoefMin(floatFromBits(value)); break;
    case Holding::DetThCoefMax: emit rcv_DetThCoefMax(floatFromBits(value)); break;
    case Holding::DetSmthCoef: emit rcv_DetSmthCoef(floatFromBits(value)); break;
    case Holding::DetMtiCoef: emit rcv_DetMtiCoef(floatFromBits(value)); break;
    case Holding::DetThCoefDC: emit rcv_DetThCoefDC(floatFromBits(value)); break;
    case Holding::TrsSmthCoef: emit rcv_TrsSmthCoef(floatFromBits(value)); break;
    default: break;
    }
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

void SerialTop::_getProtType() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::ProtType, 1); }
void SerialTop::_getFmcwBandGHz() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::FmcwBand, 1); }
void SerialTop::_getFreqRed() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::FreqRed, 1); }
void SerialTop::_getSizeLockData() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::SizeLockData, 1); }
void SerialTop::_getDetThCoefMax() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::DetThCoefMax, 2); }
void SerialTop::_getDetThCoefMin() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::DetThCoefMin, 2); }
void SerialTop::_getDetThCoefDC() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::DetThCoefDC, 2); }
void SerialTop::_getDetSmthCoef() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::DetSmthCoef, 2); }
void SerialTop::_getDetMtiCoef() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::DetMtiCoef, 2); }
void SerialTop::_getTrsSmthCoef() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::TrsSmthCoef, 2); }
void SerialTop::_getAdrMb() { queueRead16(ModbusCodec::ReadHoldingRegisters, Holding::AdrMb, 1); }

void SerialTop::_setProtType(int type) { queueWrite16(ModbusCodec::WriteSingleRegister, Holding::ProtType, type); }
void SerialTop::_setFmcwBandGHz(int value) { queueWrite16(ModbusCodec::WriteSingleRegister, Holding::FmcwBand, value); }
void SerialTop::_setFreqRed(int value) { queueWrite16(ModbusCodec::WriteSingleRegister, Holding::FreqRed, value); }
void SerialTop::_setSizeLockData(int value)
{
    queueWrite16(ModbusCodec::WriteSingleRegister, Holding::SizeLockData, value);
}
void SerialTop::_setAdrMb(int value) { queueWrite16(ModbusCodec::WriteSingleRegister, Holding::AdrMb, value); }

void SerialTop::_setDetThCoefMax(float value) { queueWriteFloat(Holding::DetThCoefMax, value); }
void SerialTop::_setDetThCoefMin(float value) { queueWriteFloat(Holding::DetThCoefMin, value); }
void SerialTop::_setDetThCoefDC(float value) { queueWriteFloat(Holding::DetThCoefDC, value); }
void SerialTop::_setDetSmthCoef(float value) { queueWriteFloat(Holding::DetSmthCoef, value); }
void SerialTop::_setDetMtiCoef(float value) { queueWriteFloat(Holding::DetMtiCoef, value); }
void SerialTop::_setTrsSmthCoef(float value) { queueWriteFloat(Holding::TrsSmthCoef, value); }

void SerialTop::_getTest()
{
    queueRead16(ModbusCodec::ReadInputRegisters, Input::RawDataFirst, 100);
}
