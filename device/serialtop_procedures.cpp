// Multi-step procedures: measurement, revision, self-test, raw data read-out,
// firmware image check and firmware update.
#include "serialtop.h"

#include "firmwareimage.h"
#include "modbuscodec.h"
#include "registermap.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

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
        // A verdict read without a started test would judge a test that never ran.
        if (!queueWrite16(WriteSingleCoil, Coil::StartSelfTest, 1))
            return;
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
    _checkAnswered(queueWrite16(WriteSingleRegister, Holding::RawDataType, static_cast<uint16_t>(idx)), false);
    _checkAnswered(queueRead16(ReadInputRegisters, Input::RawDataCount, 1), false);
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
        _checkAnswered(ok, false);
    }
    emit RawIsRead();
    emit appendLog(tr("Данные считаны"));
}

QString SerialTop::failedStepText() const
{
    // A procedure's step names silence in its own words.
    if (lastFailure.failure == RequestOutcome::Failure::NoAnswer)
        return tr("Нет ответа от устройства!");
    return describe(lastFailure);
}

// The step's command was just sent; its failure is told in the ring's words
// (refused, port lost) or as silence.
void SerialTop::_checkAnswered(bool ok, bool reportOk)
{
    if (!ok)
        updateProgress.request = lastFailure;
    _checkStep(ok, ok ? QString() : failedStepText(), reportOk);
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
    // In the window's language: the default locale is the one it chose.
    const QLocale locale;
    const QDateTime modified = info.lastModified();
    emit appendLogUpdater(tr("Изменен %1 %2")
                              .arg(locale.toString(modified.date(), QLocale::LongFormat),
                                   modified.time().toString(QStringLiteral("HH:mm:ss"))),
                          true, kWhite);
    return true;
}

void SerialTop::_checkFileData(const QByteArray &image)
{
    const FirmwareImage::Problem problem = FirmwareImage::check(image);
    _checkStep(problem != FirmwareImage::Problem::Length, tr("Некорректный файл"), false);
    _checkStep(problem != FirmwareImage::Problem::Size, tr("Размер файла превышает максимально допустимый"), false);
    _checkStep(problem == FirmwareImage::Problem::None, tr("Некорректная контрольная сумма файла"), false);
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
        updateProgress = FirmwareOutcome();
        beginUpdateStep(FirmwareOutcome::Step::File);
        bool success = false;
        if (_checkFileAndPrintInfo(f_name)) {
            try {
                _updateMainFirmware(f_name);
                success = true;
            } catch (const StepAborted &) {
            }
        }
        updateRunning = false;
        if (success)
            updateProgress.failedStep = FirmwareOutcome::Step::None;
        emit firmwareUpdateEnded(updateProgress);
        emit firmwareUpdateFinished(success);
        emit busyChanged(false);
    });
}

void SerialTop::beginUpdateStep(FirmwareOutcome::Step step)
{
    // The step under way is the one a failure names.
    updateProgress.failedStep = step;
    emit firmwareUpdateStepStarted(step);
}

void SerialTop::_updateMainFirmware(QString f_name)
{
    emit appendLogUpdater(tr("Проверка данных файла... "), true, kWhite);
    QFile file(f_name);
    _checkStep(file.open(QIODevice::ReadOnly), tr("Невозможно открыть указанный файл для чтения"), false);
    // The image is read once: the bytes checked are the bytes written, even
    // if the file changes during the update. One byte past the limit is
    // enough to refuse an image that is too large.
    const QByteArray image = file.read(FirmwareImage::kMaxSize + 1);
    _checkStep(file.error() == QFileDevice::NoError, tr("Ошибка чтения файла прошивки"), false);
    file.close();
    beginUpdateStep(FirmwareOutcome::Step::Image);
    _checkFileData(image);
    emit appendLogUpdater(QStringLiteral("OK"), false, kGreen);

    emit appendLogUpdater(tr("Получение текущей версии ПО... "), true, kWhite);
    beginUpdateStep(FirmwareOutcome::Step::Revision);
    _checkAnswered(queueRead16(ReadHoldingRegisters, Holding::Revision, Holding::RevisionLength), false);

    emit appendLogUpdater(tr("Перевод устройства в режим программирования... "), true, kWhite);
    beginUpdateStep(FirmwareOutcome::Step::ProgrammingMode);
    _checkAnswered(queueWrite16(WriteSingleCoil, Coil::ProgrammingMode, 1), true);

    emit appendLogUpdater(tr("Проверка доступа и ID микросхемы FLASH... "), true, kWhite);
    beginUpdateStep(FirmwareOutcome::Step::FlashCheck);
    flashReady = false;
    _checkAnswered(queueWrite16(WriteSingleCoil, Coil::FlashCheck, 1), false);
    pause(kFlashPollPauseMs);
    _checkAnswered(queueRead16(ReadInputRegisters, Input::FlashStatus, 2), false);
    _checkStep(flashReady, tr("Ошибка чтения ID Flash"), true);

    emit appendLogUpdater(tr("Cтирание текущего ПО... "), true, kWhite);
    beginUpdateStep(FirmwareOutcome::Step::Erase);
    // From the erase command on, a failure leaves no complete firmware.
    updateProgress.eraseBegan = true;
    flashReady = false;
    _checkAnswered(queueWrite16(WriteSingleCoil, Coil::EraseFirmware, 1), false);
    emit progressChanged(0);
    int elapsed = 0;
    while (!flashReady) {
        pause(kFlashPollPauseMs);
        elapsed += kFlashPollPauseMs;
        // The bar stays short of full until the erase has really finished.
        emit progressChanged(qMin(elapsed / (kEraseTimeoutMs / 100), 99));
        _checkAnswered(queueRead16(ReadInputRegisters, Input::FlashStatus, 2), false);
        if (elapsed == kEraseTimeoutMs)
            break;
    }
    if (flashReady)
        emit progressChanged(100);
    _checkStep(flashReady, tr("Ошибка стирания Flash. Timeout"), true);

    emit appendLogUpdater(tr("Программирование... "), true, kWhite);
    beginUpdateStep(FirmwareOutcome::Step::Program);
    const int length = image.size();
    emit progressChanged(0);
    int offset = 0;
    while (offset < length) {
        updateProgress.blockOffset = offset;
        if (updateAbortRequested)
            updateProgress.request = RequestOutcome::failed(RequestOutcome::Failure::Interrupted);
        _checkStep(!updateAbortRequested, tr("Обновление ПО прервано по запросу"), false);
        const int n = qMin(kProgramBlockSize, length - offset);
        const auto *block = reinterpret_cast<const uint8_t *>(image.constData() + offset);
        const bool ok = _queueCmd(_creatProgBlockData(static_cast<uint32_t>(offset), n, block), true, QString(),
                                  QString(), _getAnswerSize_Byte(ModbusCodec::ProgramBlock, 1));
        _checkAnswered(ok, false);
        offset += n;
        emit progressChanged(static_cast<int>(qint64(offset) * 100 / length));
    }
    emit appendLogUpdater(tr("ОК"), false, kGreen);
    emit progressChanged(100);

    emit appendLogUpdater(tr("Запись флага прошивки... "), true, kWhite);
    beginUpdateStep(FirmwareOutcome::Step::Flag);
    _checkAnswered(queueWrite16(WriteSingleCoil, Coil::FirmwareFlag, 1), false);
    emit appendLogUpdater(tr("ОК"), false, kGreen);
}
