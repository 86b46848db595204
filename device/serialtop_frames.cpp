// Frame codec entry points of the device object; the byte work is shared
// with the simulator through ModbusCodec.
#include "serialtop.h"

#include "frametext.h"
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

QByteArray SerialTop::_creatProgBlockData(uint32_t addr, int size, const uint8_t *buffer)
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

QString SerialTop::describe(const RequestOutcome &outcome)
{
    using Failure = RequestOutcome::Failure;
    switch (outcome.failure) {
    case Failure::None:
        return QString();
    case Failure::NoAnswer:
        return tr("Нет ответа от устройства");
    case Failure::PortClosed:
        return outcome.sent ? tr("Порт закрыт") : tr("Порт не открыт, команда не отправлена");
    case Failure::PortLost:
        // The user's words first; the system's own text, where there is one, after them.
        return outcome.portError.isEmpty()
                   ? tr("Соединение с портом %1 потеряно: адаптер отключён или порт закрыт").arg(outcome.port)
                   : tr("Соединение с портом %1 потеряно: адаптер отключён или порт закрыт (%2)")
                         .arg(outcome.port, outcome.portError);
    case Failure::QueueFull:
        return tr("Очередь команд переполнена, команда отброшена");
    case Failure::NotConfirmed:
        return tr("записано %1, прочитано %2").arg(outcome.written).arg(outcome.readBack);
    case Failure::Interrupted:
        return tr("прервано по запросу");
    case Failure::Refused:
        break;
    }
    QString what = tr("функция %1").arg(FrameText::hexByte(outcome.function));
    switch (ModbusCodec::addressKind(outcome.function)) {
    case ModbusCodec::AddressKind::Register:
        what += tr(", регистр %1").arg(outcome.address);
        break;
    case ModbusCodec::AddressKind::Coil:
        what += tr(", катушка %1").arg(outcome.address);
        break;
    case ModbusCodec::AddressKind::Block:
    case ModbusCodec::AddressKind::None:
        break;
    }
    const QString name = exceptionName(outcome.exceptionCode);
    const QString meaning = name.isEmpty() ? name : QStringLiteral(", ") + name;
    return tr("Устройство отклонило запрос (%1): код %2%3").arg(what, FrameText::hexByte(outcome.exceptionCode), meaning);
}

QString SerialTop::exceptionName(uint8_t code)
{
    switch (code) {
    case ModbusCodec::IllegalFunction: return tr("недопустимая функция");
    case ModbusCodec::IllegalDataAddress: return tr("недопустимый адрес");
    case ModbusCodec::IllegalDataValue: return tr("недопустимое значение");
    case ModbusCodec::DeviceFailure: return tr("сбой устройства");
    case ModbusCodec::DeviceBusy: return tr("устройство занято");
    default: return QString();
    }
}
