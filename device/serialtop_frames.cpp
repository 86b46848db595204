// Frame codec entry points of the device object; the byte work is shared
// with the simulator through ModbusCodec.
#include "serialtop.h"

#include "modbuscodec.h"

uint16_t SerialTop::_calcCRC16Modbus(QByteArray data)
{
    return ModbusCodec::crc16(data);
}

QByteArray SerialTop::_createRequestModbusRead(uint8_t func, uint16_t adr, uint16_t qn_regs)
{
    return ModbusCodec::readRequest(func, adr, qn_regs);
}

QByteArray SerialTop::_createRequestModbusWrite(uint8_t func, uint16_t adr, uint16_t *values, uint16_t qn_reg)
{
    return ModbusCodec::writeRequest(func, adr, values, qn_reg);
}

QByteArray SerialTop::_creatProgBlockData(uint32_t addr, int size, uint8_t *buffer)
{
    return ModbusCodec::programBlockRequest(addr, size, buffer);
}

QByteArray SerialTop::_creatReqResetAdr()
{
    return ModbusCodec::resetAddressRequest();
}

int SerialTop::_getAnswerSize_Byte(int func, int n)
{
    const int size = ModbusCodec::answerSize(func, n);
    if (size == 0)
        emit appendLog(tr("_getAnswerSize_Byte: Неизвестный код функции"));
    return size;
}
