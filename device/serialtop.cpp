// Device object: thread entry, public forwarders, connection handling.
#include "serialtop.h"

#include "modbuscodec.h"
#include "registermap.h"
#include "pausetimer.h"
#include "serialworker.h"

#include <QMetaObject>

using namespace RegisterMap;

SerialTop::SerialTop()
{
    // Outcomes cross into the callers' threads through queued connections.
    qRegisterMetaType<RequestOutcome>();
    qRegisterMetaType<ParameterReport>();
    qRegisterMetaType<PortOpenFailure>();
    qRegisterMetaType<FirmwareOutcome>();
    engineClock.start();
    connect(lineMonitor, &LineMonitor::framesRecorded, this, &SerialTop::lineFrames);
    connect(lineMonitor, &LineMonitor::countersChanged, this, &SerialTop::lineCounters);
}

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
    pauseTimer = new PauseTimer(this);
    connect(worker, &SerialWorker::logInfo, this, &SerialTop::logInfo);
    connect(worker, &SerialWorker::logWarning, this, &SerialTop::logWarning);
    connect(worker, &SerialWorker::logError, this, &SerialTop::logError);
    connect(worker, &SerialWorker::logTx, this, &SerialTop::logTx);
    connect(worker, &SerialWorker::logRx, this, &SerialTop::_logRx);
    connect(worker, &SerialWorker::increaseRxCount, this, &SerialTop::increaseRxCount);
    connect(worker, &SerialWorker::increaseTxCount, this, &SerialTop::increaseTxCount);
    connect(worker, &SerialWorker::portLost, this, &SerialTop::_portLost);
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
        portName = name_port;
        lineMonitor->start(baudrate);
        if (worker->openPort(settings) != SerialWorker::OpenOk) {
            emit appendLog(tr("Ошибка подключения к порту"));
            // A second connect finds the port already open: nothing to explain.
            if (!worker->isOpen()) {
                const PortOpenFailure failure =
                    PortOpenFailure::explain(name_port, worker->openError(), worker->openErrorText());
                emit appendLog(describe(failure));
                emit portOpenFailed(failure);
            }
        } else {
            notOpenReported = false;
            // A new line: nothing sent before can answer on it.
            unanswered.clear();
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
    unanswered.clear();
    lineMonitor->stop();
    // A command waiting for its answer fails now, not after its time-out.
    if (queueRunning) {
        pendingFailure = RequestOutcome::failed(RequestOutcome::Failure::PortClosed, curRequest);
        pendingFailure.sent = true;
        emit _waitEnded();
    }
    emit connectedChanged(connected);
}

void SerialTop::_portLost(QString errorText)
{
    const RequestOutcome lost = RequestOutcome::portLost(queueRunning ? curRequest : QByteArray(), portName, errorText);
    lineMonitor->portError(errorText);
    connected = false;
    // A command in flight fails with this outcome and the ring is dropped;
    // otherwise the log says it here.
    if (queueRunning) {
        pendingFailure = lost;
        emit _waitEnded();
    } else {
        emit appendLog(describe(lost));
    }
    emit connectionLost(lost);
    emit connectedChanged(false);
}

QString SerialTop::describe(const PortOpenFailure &failure)
{
    switch (failure.kind) {
    case PortOpenFailure::Kind::NotFound:
        return tr("Порт %1 не найден: %2").arg(failure.port, failure.detail);
    case PortOpenFailure::Kind::NoPermission:
        return tr("Нет прав на доступ к порту %1: %2. Добавьте пользователя в группу %3, которой "
                  "принадлежит устройство (sudo usermod -aG %3 $USER), и войдите в систему заново")
            .arg(failure.port, failure.detail, failure.group);
    case PortOpenFailure::Kind::InUse:
        return tr("Порт %1 уже открыт другой программой: %2").arg(failure.port, failure.detail);
    case PortOpenFailure::Kind::Other:
        break;
    }
    return tr("Не удалось открыть порт %1: %2").arg(failure.port, failure.detail);
}
