// Device object: thread entry, public forwarders, connection handling.
#include "serialtop.h"

#include "modbuscodec.h"
#include "registermap.h"
#include "serialworker.h"

#include <QMetaObject>

using namespace RegisterMap;

SerialTop::SerialTop() = default;

SerialTop::~SerialTop()
{
    delete worker;
}

void SerialTop::init()
{
    logRxByteEn = false;
    logTxByteEn = false;
    connected = false;
    queueWrite = 0;
    queueRead = 0;
    queueRunning = false;

    worker = new SerialWorker();
    connect(worker, &SerialWorker::logInfo, this, &SerialTop::logInfo);
    connect(worker, &SerialWorker::logWarning, this, &SerialTop::logWarning);
    connect(worker, &SerialWorker::logError, this, &SerialTop::logError);
    connect(worker, &SerialWorker::logTx, this, &SerialTop::logTx);
    connect(worker, &SerialWorker::logRx, this, &SerialTop::_logRx);
    connect(worker, &SerialWorker::increaseRxCount, this, &SerialTop::increaseRxCount);
    connect(worker, &SerialWorker::increaseTxCount, this, &SerialTop::increaseTxCount);
    emit logInfo(tr("Serial port initialized"));
}

void SerialTop::setLogRxByteEn(int state) { logRxByteEn = state != 0; }
void SerialTop::setLogTxByteEn(int state) { logTxByteEn = state != 0; }

// Forwarders: queued into the device thread when called from elsewhere,
// run at once when already there.
#define ZETRA_FORWARD0(name) \
    void SerialTop::name() { QMetaObject::invokeMethod(this, "_" #name, Qt::AutoConnection); }
#define ZETRA_FORWARD1(name, type, arg) \
    void SerialTop::name(type arg) { QMetaObject::invokeMethod(this, "_" #name, Qt::AutoConnection, Q_ARG(type, arg)); }

void SerialTop::connectToDevice(QString name_port, int baudrate)
{
    QMetaObject::invokeMethod(this, "_connectToDevice", Qt::AutoConnection, Q_ARG(QString, name_port),
                              Q_ARG(int, baudrate));
}

void SerialTop::firmwareUpdate(QString f_name)
{
    // Cleared in the caller's thread, in call order: an abort meant for an
    // earlier update cannot stop this one, one asked for after this call can.
    updateAbortRequested = false;
    QMetaObject::invokeMethod(this, "_firmwareUpdate", Qt::AutoConnection, Q_ARG(QString, f_name));
}

void SerialTop::abortFirmwareUpdate()
{
    updateAbortRequested = true;
}

ZETRA_FORWARD0(disconnectFromPort)
ZETRA_FORWARD0(getDistance)
ZETRA_FORWARD0(getFirmwareRevision)
ZETRA_FORWARD0(startDiagnostics)
ZETRA_FORWARD1(setTypeRawData, int, type)
ZETRA_FORWARD1(getDataRaw, int, idx)
ZETRA_FORWARD1(setFMCW_mode, bool, state)
ZETRA_FORWARD1(setCW_mode, bool, state)
ZETRA_FORWARD0(saveSettings)
ZETRA_FORWARD0(getProtType)
ZETRA_FORWARD0(getFmcwBandGHz)
ZETRA_FORWARD0(getFreqRed)
ZETRA_FORWARD0(getSizeLockData)
ZETRA_FORWARD0(getDetThCoefMax)
ZETRA_FORWARD0(getDetThCoefMin)
ZETRA_FORWARD0(getDetThCoefDC)
ZETRA_FORWARD0(getDetSmthCoef)
ZETRA_FORWARD0(getDetMtiCoef)
ZETRA_FORWARD0(getTrsSmthCoef)
ZETRA_FORWARD0(getAdrMb)
ZETRA_FORWARD1(setProtType, int, type)
ZETRA_FORWARD1(setFmcwBandGHz, int, value)
ZETRA_FORWARD1(setFreqRed, int, value)
ZETRA_FORWARD1(setSizeLockData, int, value)
ZETRA_FORWARD1(setAdrMb, int, value)
ZETRA_FORWARD1(setDetThCoefMax, float, value)
ZETRA_FORWARD1(setDetThCoefMin, float, value)
ZETRA_FORWARD1(setDetThCoefDC, float, value)
ZETRA_FORWARD1(setDetSmthCoef, float, value)
ZETRA_FORWARD1(setDetMtiCoef, float, value)
ZETRA_FORWARD1(setTrsSmthCoef, float, value)
ZETRA_FORWARD0(getTest)

#undef ZETRA_FORWARD0
#undef ZETRA_FORWARD1

void SerialTop::_connectToDevice(QString name_port, int baudrate)
{
    // The probe's verdict must be the probe's own answer, so the attempt
    // waits for the ring to be idle like every multi-step procedure.
    runProcedure([this, name_port, baudrate] {
        emit appendLog(tr("Подключение..."));
        PortSettings settings;
        settings.portName = name_port;
        settings.baudRate = baudrate;
        if (worker->openPort(settings) != SerialWorker::OpenOk) {
            emit appendLog(tr("Ошибка подключения к порту"));
        } else {
            _queueCmd(_creatReqResetAdr(), false, QString(), QString(), 0);
            uint16_t off = 0;
            const bool probeAnswered =
                _queueCmd(_createRequestModbusWrite(ModbusCodec::WriteSingleCoil, Coil::ConnectionProbe, &off, 1),
                          true, QString(), QString(), _getAnswerSize_Byte(ModbusCodec::WriteSingleCoil, 1));
            if (probeAnswered) {
                connected = true;
                emit appendLog(tr("Устройство подключено"));
            }
        }
        if (!connected) {
            emit appendLog(tr("Ошибка подключения"));
            _disconnectFromPort();
        }
        emit connectedChanged(connected);
    });
}

void SerialTop::_disconnectFromPort()
{
    emit appendLog(tr("Отключение..."));
    connected = false;
    worker->closePort();
    emit connectedChanged(connected);
}
