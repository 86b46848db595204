// Device object: thread entry, public forwarders, connection handling.
#include "serialtop.h"

#include "framedecoder.h"
#include "modbuscodec.h"
#include "registermap.h"
#include "pausetimer.h"
#include "serialworker.h"

#include <QMetaObject>

#include <utility>

using namespace RegisterMap;

SerialTop::SerialTop()
{
    // Outcomes cross into the callers' threads through queued connections.
    qRegisterMetaType<RequestOutcome>();
    qRegisterMetaType<ParameterReport>();
    qRegisterMetaType<PortOpenFailure>();
    qRegisterMetaType<FirmwareOutcome>();
    qRegisterMetaType<FirmwareOutcome::Step>();
    qRegisterMetaType<DeviceParameters::ParameterValue>();
    engineClock.start();
    connect(lineMonitor, &LineMonitor::framesRecorded, this, &SerialTop::lineFrames);
    connect(lineMonitor, &LineMonitor::countersChanged, this, &SerialTop::lineCounters);
    linkNamedReports();
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
ZETRA_FORWARD0(getTest)

#undef ZETRA_FORWARD0
#undef ZETRA_FORWARD1

// The documented per-parameter slots: each one request for its row of the
// parameter table, queued like the others. A whole-number register takes
// the low 16 bits of what it is given.
void SerialTop::getProtType() { requestRead(Holding::ProtType); }
void SerialTop::getFmcwBandGHz() { requestRead(Holding::FmcwBand); }
void SerialTop::getFreqRed() { requestRead(Holding::FreqRed); }
void SerialTop::getSizeLockData() { requestRead(Holding::SizeLockData); }
void SerialTop::getDetThCoefMax() { requestRead(Holding::DetThCoefMax); }
void SerialTop::getDetThCoefMin() { requestRead(Holding::DetThCoefMin); }
void SerialTop::getDetThCoefDC() { requestRead(Holding::DetThCoefDC); }
void SerialTop::getDetSmthCoef() { requestRead(Holding::DetSmthCoef); }
void SerialTop::getDetMtiCoef() { requestRead(Holding::DetMtiCoef); }
void SerialTop::getTrsSmthCoef() { requestRead(Holding::TrsSmthCoef); }
void SerialTop::getAdrMb() { requestRead(Holding::AdrMb); }
void SerialTop::setProtType(int type) { requestWrite(Holding::ProtType, uint16_t(type)); }
void SerialTop::setFmcwBandGHz(int value) { requestWrite(Holding::FmcwBand, uint16_t(value)); }
void SerialTop::setFreqRed(int value) { requestWrite(Holding::FreqRed, uint16_t(value)); }
void SerialTop::setSizeLockData(int value) { requestWrite(Holding::SizeLockData, uint16_t(value)); }
void SerialTop::setAdrMb(int value) { requestWrite(Holding::AdrMb, uint16_t(value)); }
void SerialTop::setDetThCoefMax(float value) { requestWrite(Holding::DetThCoefMax, value); }
void SerialTop::setDetThCoefMin(float value) { requestWrite(Holding::DetThCoefMin, value); }
void SerialTop::setDetThCoefDC(float value) { requestWrite(Holding::DetThCoefDC, value); }
void SerialTop::setDetSmthCoef(float value) { requestWrite(Holding::DetSmthCoef, value); }
void SerialTop::setDetMtiCoef(float value) { requestWrite(Holding::DetMtiCoef, value); }
void SerialTop::setTrsSmthCoef(float value) { requestWrite(Holding::TrsSmthCoef, value); }

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
    dropReceived(std::exchange(rxBuffer, QByteArray()), curRequest);
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
    reportLine(FrameDecoder::portError(errorText));
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
        if (failure.onlyRootMayOpen())
            return tr("Нет прав на доступ к порту %1: %2. Порт открыт только для root: отдайте его группе "
                      "dialout правилом udev (%3 в файле /etc/udev/rules.d/), добавьте пользователя в эту "
                      "группу (sudo usermod -aG dialout $USER) и войдите в систему заново")
                .arg(failure.port, failure.detail, PortOpenFailure::udevRuleExample());
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
