// Multi-step procedures: measurement, revision, self-test, raw data read-out,
// firmware image check and firmware update.
#include "serialtop.h"

#include "firmwareimage.h"
#include "modbuscodec.h"
#include "registermap.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

using namespace RegisterMap;
using ModbusCodec::ReadHoldingRegisters;
using ModbusCodec::ReadInputRegisters;
using ModbusCodec::WriteSingleCoil;
using ModbusCodec::WriteSingleRegister;

namespace {

// Thrown by a failed step check; the procedure's outermost slot absorbs it.
struct StepAborted
{
};

const QColor kWhite(255, 255, 255, 255);
const QColor kGreen(0, 255, 0, 255);
const QColor kRed(255, 0, 0, 255);

constexpr int kRawPointsPerBlock = 50;
constexpr int kSelfTestPauseMs = 500;
constexpr int kFlashPollPauseMs = 50;
constexpr int kEraseTimeoutMs = 30000;
constexpr int kProgramBlockSize = 256;

} // namespace

bool SerialTop::connectionGuard()
{
    if (connected)
        return true;
    emit appendLog(tr("Устройство не подключенно!"));
    emit connectedChanged(connected);
    return false;
}

void SerialTop::_getDistance()
{
    if (!connectionGuard())
        return;
    // A slow device must not let measurement ticks pile up in the ring: while
    // the previous tick's distance read still waits its turn, skip this one.
    const QByteArray distanceRead = _createRequestModbusRead(ReadInputRegisters, Input::Distance, 2);
    for (int i = (queueRead + 1) % kRingSize; queueRunning && i != queueWrite; i = (i + 1) % kRingSize)
        if (cmdRing[i].request == distanceRead)
            return;
    queueRead16(ReadInputRegisters, Input::Distance, 2);
    queueRead16(ReadInputRegisters, Input::Period, 2);
}

void SerialTop::_getFirmwareRevision()
{
    if (!connectionGuard())
        return;
    emit appendLogUpdater(tr("Получение текущей версии ПО..."), true, kWhite);
    queueRead16(ReadHoldingRegisters, Holding::Revision, Holding::RevisionLength);
}

void SerialTop::_startDiagnostics()
{
    runProcedure([this] {
        if (!connectionGuard())
            return;
        emit appendLog(tr("Запуск самодиагностики...."));
        queueWrite16(WriteSingleCoil, Coil::StartSelfTest, 1);
        pause(kSelfTestPauseMs);
        // The verdict line comes only from an answer that arrived.
        queueRead16(ReadInputRegisters, Input::SelfTestVerdict, 2);
    });
}

void SerialTop::_setTypeRawData(int type)
{
    queueWrite16(WriteSingleRegister, Holding::RawDataType, static_cast<uint16_t>(type));
}

void SerialTop::_getDataRaw(int idx)
{
    runProcedure([this, idx] {
        bool success = false;
        try {
            _getDataRawMain(idx);
            success = true;
        } catch (const StepAborted &) {
        }
        emit rawReadFinished(success);
    });
}

void SerialTop::_getDataRawMain(int idx)
{
    const QString noAnswer = tr("Нет ответа от устройства!");
    _checkStep(queueWrite16(WriteSingleRegister, Holding::RawDataType, static_cast<uint16_t>(idx)), noAnswer, false);
    _checkStep(queueRead16(ReadInputRegisters, Input::RawDataCount, 1), noAnswer, false);
    emit appendLog(tr("Чтение данных."));

    int offset = 0;
    while (rawDataSize != 0) {
        int registers;
        if (rawDataSize > kRawPointsPerBlock) {
            registers = 2 * kRawPointsPerBlock;
            rawDataSize -= kRawPointsPerBlock;
        } else {
            registers = 2 * rawDataSize;
            rawDataSize = 0;
        }
        // A count beyond the address space would wrap the block address
        // round to the measurement registers; nothing lies out there.
        if (Input::RawDataFirst + offset + registers > 0x10000) {
            rawDataSize = 0;
            break;
        }
        const bool ok = queueRead16(ReadInputRegisters, static_cast<uint16_t>(Input::RawDataFirst + offset),
                                    static_cast<uint16_t>(registers));
        offset += registers;
        _checkStep(ok, noAnswer, false);
    }
    emit RawIsRead();
    emit appendLog(tr("Данные считаны"));
}

void SerialTop::_checkStep(bool ok, QString errorText, bool reportOk)
{
    if (!ok) {
        emit appendLogUpdater(tr("ошибка! %1").arg(errorText), false, kRed);
        throw StepAborted();
    }
    if (reportOk)
        emit appendLogUpdater(tr("ОК"), false, kGreen);
}

bool SerialTop::_checkFileAndPrintInfo(QString fname)
{
    emit appendLogUpdater(tr("Файл прошивки \"%1\"").arg(fname), true, kWhite);
    const QFileInfo info(fname);
    if (!info.exists()) {
        emit appendLogUpdater(tr("Ошибка! Указанный файл не существует"), false, kRed);
        return false;
    }
    emit appendLogUpdater(tr("Размер %1 байт").arg(info.size()), true, kWhite);
    emit appendLogUpdater(tr("Изменен %1").arg(info.lastModified().toString(Qt::TextDate)), true, kWhite);
    return true;
}

void SerialTop::_checkFileData(QFile &file)
{
    const qint64 length = file.size();
    _checkStep(length % 4 == 0, tr("Некорректный файл"), false);
    _checkStep(length <= FirmwareImage::kMaxSize, tr("Размер файла превышает максимально допустимый"), false);

    file.seek(0);
    FirmwareImage::Checksum sum;
    bool complete = true;
    if (length > FirmwareImage::kTrailerSize) {
        const QByteArray payload = file.read(length - FirmwareImage::kTrailerSize);
        complete = payload.size() == length - FirmwareImage::kTrailerSize;
        sum = FirmwareImage::checksum(payload);
    }
    const QByteArray trailer = file.read(FirmwareImage::kTrailerSize);
    const bool valid = complete && trailer.size() == FirmwareImage::kTrailerSize
                       && FirmwareImage::littleEndianWord(trailer.constData()) == sum.a
                       && FirmwareImage::littleEndianWord(trailer.constData() + 4) == sum.b;
    _checkStep(valid, tr("Некорректная контрольная сумма файла"), false);
}

void SerialTop::_firmwareUpdate(QString f_name)
{
    if (updateRunning) {
        emit appendLogUpdater(tr("Обновление ПО уже выполняется, повторный запуск отклонён"), true, kRed);
        return;
    }
    updateRunning = true;
    runProcedure([this, f_name] {
        emit busyChanged(true);
        emit appendLogUpdater(QString(59, QLatin1Char('*')), true, kWhite);
        emit appendLogUpdater(tr("Обновление ПО"), true, kWhite);
        bool success = false;
        if (_checkFileAndPrintInfo(f_name)) {
            try {
                _updateMainFirmware(f_name);
                success = true;
            } catch (const StepAborted &) {
            }
        }
        updateRunning = false;
        emit firmwareUpdateFinished(success);
        emit busyChanged(false);
    });
}

void SerialTop::_updateMainFirmware(QString f_name)
{
    const QString noAnswer = tr("Нет ответа от устройства!");

    emit appendLogUpdater(tr("Проверка данных файла... "), true, kWhite);
    QFile file(f_name);
    _checkStep(file.open(QIODevice::ReadOnly), tr("Невозможно открыть указанный файл для чтения"), false);
    _checkFileData(file);
    emit appendLogUpdater(QStringLiteral("OK"), false, kGreen);

    emit appendLogUpdater(tr("Получение текущей версии ПО... "), true, kWhite);
    _checkStep(queueRead16(ReadHoldingRegisters, Holding::Revision, Holding::RevisionLength), noAnswer, false);

    emit appendLogUpdater(tr("Перевод устройства в режим программирования... "), true, kWhite);
    _checkStep(queueWrite16(WriteSingleCoil, Coil::ProgrammingMode, 1), noAnswer, true);

    emit appendLogUpdater(tr("Проверка доступа и ID микросхемы FLASH... "), true, kWhite);
    flashReady = false;
    _checkStep(queueWrite16(WriteSingleCoil, Coil::FlashCheck, 1), noAnswer, false);
    pause(kFlashPollPauseMs);
    _checkStep(queueRead16(ReadInputRegisters, Input::FlashStatus, 2), noAnswer, false);
    _checkStep(flashReady, tr("Ошибка чтения ID Flash"), true);

    emit appendLogUpdater(tr("Cтирание текущего ПО... "), true, kWhite);
    flashReady = false;
    _checkStep(queueWrite16(WriteSingleCoil, Coil::EraseFirmware, 1), noAnswer, false);
    emit progressChanged(0);
    int elapsed = 0;
    while (!flashReady) {
        pause(kFlashPollPauseMs);
        elapsed += kFlashPollPauseMs;
        // The bar stays short of full until the erase has really finished.
        emit progressChanged(qMin(elapsed / (kEraseTimeoutMs / 100), 99));
        _checkStep(queueRead16(ReadInputRegisters, Input::FlashStatus, 2), noAnswer, false);
        if (elapsed == kEraseTimeoutMs)
            break;
    }
    if (flashReady)
        emit progressChanged(100);
    _checkStep(flashReady, tr("Ошибка стирания Flash. Timeout"), true);

    emit appendLogUpdater(tr("Программирование... "), true, kWhite);
    const qint64 length = file.size();
    file.seek(0);
    emit progressChanged(0);
    qint64 offset = 0;
    uint8_t block[kProgramBlockSize];
    while (offset != length) {
        _checkStep(!updateAbortRequested, tr("Обновление ПО прервано по запросу"), false);
        // Never read past the length checked above, even if the file grows;
        // a file that yields nothing ends the update instead of looping.
        const qint64 wanted = qMin<qint64>(kProgramBlockSize, length - offset);
        const qint64 n = file.read(reinterpret_cast<char *>(block), wanted);
        _checkStep(n > 0, tr("Ошибка чтения файла прошивки"), false);
        const bool ok = _queueCmd(_creatProgBlockData(static_cast<uint32_t>(offset), static_cast<int>(n), block),
                                  true, QString(), QString(),
                                  _getAnswerSize_Byte(ModbusCodec::ProgramBlock, 1));
        _checkStep(ok, noAnswer, false);
        offset += n;
        emit progressChanged(static_cast<int>(offset * 100 / length));
    }
    emit appendLogUpdater(tr("ОК"), false, kGreen);
    emit progressChanged(100);

    emit appendLogUpdater(tr("Запись флага прошивки... "), true, kWhite);
    _checkStep(queueWrite16(WriteSingleCoil, Coil::FirmwareFlag, 1), noAnswer, false);
    emit appendLogUpdater(tr("ОК"), false, kGreen);
}
