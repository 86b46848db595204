#pragma once

#include <QByteArray>
#include <QColor>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include "firmwareoutcome.h"
#include "parameterreport.h"
#include "portopenfailure.h"
#include "requestoutcome.h"
#include "linemonitor.h"

#include <atomic>
#include <cstdint>
#include <functional>

class PauseTimer;
class QEventLoop;
class QTimer;
class SerialWorker;

// One slot of the command ring.
struct CmdEntry
{
    QByteArray request;
    bool needAck = false;
    QString textBefore;
    QString textAfter;
    int answerSize = 0;
};

// The device object: lives in its own thread, owns the serial worker, and
// serialises every request to the altimeter through one command ring.
// Public slots may be called from any thread; each forwards to the private
// slot of the same name with a leading underscore, run in the device thread.
class SerialTop : public QObject
{
    Q_OBJECT
public:
    SerialTop();
    ~SerialTop() override;

    static constexpr int kRingSize = 128;
    // A request without an answer (the broadcast address reset) is followed
    // by this silence: the slaves' turnaround before the line is ours again.
    static constexpr int kNoAckWaitMs = 100;

public slots:
    void init();
    void setLogRxByteEn(int state);
    void setLogTxByteEn(int state);

    void connectToDevice(QString name_port, int baudrate);
    void disconnectFromPort();

    void getDistance();
    void getFirmwareRevision();
    void firmwareUpdate(QString f_name);
    void startDiagnostics();
    void setTypeRawData(int type);
    void getDataRaw(int idx);

    void setFMCW_mode(bool state);
    void setCW_mode(bool state);
    void saveSettings();

    // One parameter each, read or written through its row of the parameter
    // table; the value comes back as the parameter's report signal below.
    void getProtType();
    void getFmcwBandGHz();
    void getFreqRed();
    void getSizeLockData();
    void getDetThCoefMax();
    void getDetThCoefMin();
    void getDetThCoefDC();
    void getDetSmthCoef();
    void getDetMtiCoef();
    void getTrsSmthCoef();
    void getAdrMb();

    void setProtType(int type);
    void setFmcwBandGHz(int value);
    void setFreqRed(int value);
    void setSizeLockData(int value);
    void setAdrMb(int value);
    void setDetThCoefMax(float value);
    void setDetThCoefMin(float value);
    void setDetThCoefDC(float value);
    void setDetSmthCoef(float value);
    void setDetMtiCoef(float value);
    void setTrsSmthCoef(float value);

    void getTest();

public:
    // Asks a running firmware update to stop before its next block; it then
    // ends as a failure. Callable directly from any thread.
    void abortFirmwareUpdate();

    // Parameter operations for callers that need one outcome per parameter.
    // Each returns a ticket at once and ends in parametersRead or
    // parametersWritten with that ticket. A read-out goes on past a refused
    // parameter (an older firmware lacks some); any other failure stops it.
    // A write-out writes and reads back one parameter at a time, the Modbus
    // address last, and stops at the first request that fails.
    quint64 readParameters(const QVector<const DeviceParameters::Parameter *> &parameters, bool withRevision);
    quint64 writeParameters(const DeviceParameters::ParameterValues &values);

    // The main log's words for a failed request.
    static QString describe(const RequestOutcome &outcome);
    static QString describe(const PortOpenFailure &failure);
    // "недопустимый адрес": an exception code's meaning, as the main log, the
    // line monitor and the station view name it; empty for an unknown code.
    static QString exceptionName(uint8_t code);

    // After a time-out the device may still answer, at any lateness. Before
    // the next request the engine resynchronises: it sends a request whose
    // answer no unanswered request can have, drops everything that comes
    // before that answer as late, and only then sends. This many attempts a
    // request waits for; then the device is taken as silent.
    static constexpr int kResyncAttempts = 2;
    // A request left unanswered this long is taken as never to be answered.
    static constexpr int kForgetUnansweredMs = 10000;
    // Hands out the line frames and counters recorded so far at once,
    // instead of with the next batch. Call in the device thread.
    void flushLineMonitor() { lineMonitor->flush(); }

signals:
    void logInfo(QString message);
    void logWarning(QString message);
    void logError(QString message);
    void logTx(QByteArray data);
    void logRcvdData(QByteArray data);
    void increaseTxCount(int count);
    void increaseRxCount(int count);
    void appendLog(QString s);
    void appendLogUpdater(QString s, bool new_line, QColor color);
    void checkDistance(float dist);
    void checkPeriodMeas(float time);
    void checkSettFpProgCoef(QString s);
    void checkFpCorrectCoef(QString s);
    void checkFpIntegRange(QString s);
    void checkFpWinSize(QString s);
    void checkFpMtiFilter(QString s);
    void checkTrDhTrace(QString s);
    void checkTrDhDetect(QString s);
    void checkTrIntegRange(QString s);
    void checkFreqTune(float value, int index);
    void checkFreqMeas(float value, int index);
    void checkUTune(float value, int index);
    void busyChanged(bool state);
    void _ack_Received();
    // Ends the wait of the send loop without an accepted answer: the device
    // refused the request, or the port went away.
    void _waitEnded();
    void progressChanged(int value);
    void connectedChanged(bool state);
    void rcvRawDataSize(int size);
    void rcvRawData(float x, float y);
    void RawIsRead();
    // A holding register of the parameter table was read: every report of
    // a parameter's value, whoever asked for it. The eleven signals below
    // report one parameter each, and each one is told here as well.
    void parameterReported(DeviceParameters::ParameterValue reported);
    void rcvProtocolType(int type);
    void rcvFmcwBandGHz(float value);
    void rcv_FreqReduct(int val);
    void rcv_SizeLockData(int val);
    void rcv_DetThCoefMin(float val);
    void rcv_DetThCoefMax(float val);
    void rcv_DetThCoefDC(float val);
    void rcv_DetSmthCoef(float val);
    void rcv_DetMtiCoef(float val);
    void rcv_TrsSmthCoef(float val);
    void rcv_AdrMb(int val);
    // Outcome of a firmware update attempt: true only when every block was
    // acknowledged and the firmware flag was written.
    void firmwareUpdateFinished(bool success);
    // The same end with its facts; emitted just before firmwareUpdateFinished.
    void firmwareUpdateEnded(FirmwareOutcome outcome);
    // An update step begins; progressChanged counts within the erase and the
    // writing, each from 0 to 100.
    void firmwareUpdateStepStarted(FirmwareOutcome::Step step);
    // One request failed: no answer, refused, the port lost or closed, or
    // the ring full. describe() gives the text the main log shows.
    void requestFailed(RequestOutcome outcome);
    // Outcomes for callers that must not parse log text: the revision text
    // as read (trailing NULs dropped), the self-test verdict, and the end of
    // a raw read-out, successful or not.
    void revisionReceived(QString text);
    void selfTestVerdict(bool healthy);
    void rawReadFinished(bool success);
    // The open port went away (an unplugged adapter), whether or not a
    // request was in flight; connectedChanged(false) follows.
    void connectionLost(RequestOutcome outcome);
    // The port named in connectToDevice could not be opened.
    void portOpenFailed(PortOpenFailure failure);
    void parametersRead(quint64 ticket, ParameterReport report);
    void parametersWritten(quint64 ticket, ParameterReport report);
    // The line monitor: frames in batches as they were sent, taken or
    // dropped, and the line's counters since the connect.
    void lineFrames(QVector<LineFrame> frames);
    void lineCounters(LineCounters counters);

private slots:
    // Connection and request engine (serialtop.cpp, serialtop_queue.cpp)
    void _connectToDevice(QString name_port, int baudrate);
    void _disconnectFromPort();
    void _logRx(QByteArray data);
    void _timeoutEndOfPack();
    void _sendCmdWithAcknowledge();
    void _runDeferred();
    void _portLost(QString errorText);

    // Frame codec (serialtop_frames.cpp)
    uint16_t _calcCRC16Modbus(QByteArray data);
    QByteArray _createRequestModbusRead(uint8_t func, uint16_t adr, uint16_t qn_regs);
    QByteArray _createRequestModbusWrite(uint8_t func, uint16_t adr, uint16_t *values, uint16_t qn_reg);
    QByteArray _creatProgBlockData(uint32_t addr, int size, const uint8_t *buffer);
    QByteArray _creatReqResetAdr();
    int _getAnswerSize_Byte(int func, int n);

    // Register map (serialtop_registers.cpp)
    void _checkParamHold(ushort adr, uint value);
    void _checkParamInput(ushort adr, uint value);

    void _setFMCW_mode(bool state);
    void _setCW_mode(bool state);
    void _saveSettings();
    void _getTest();

    // Procedures (serialtop_procedures.cpp)
    void _getDistance();
    void _getFirmwareRevision();
    void _startDiagnostics();
    void _setTypeRawData(int type);
    void _getDataRaw(int idx);
    void _firmwareUpdate(QString f_name);
    bool _checkFileAndPrintInfo(QString fname);

private:
    friend class FrameProcessingProbe; // randomized frame tests feed the receive path directly

    // Returns true when this very command was sent and acknowledged before
    // the call returned; false when it failed, was refused, or was only
    // appended behind a running loop.
    bool _queueCmd(QByteArray request, bool needAck, QString textBefore, QString textAfter, int answerSize);
    bool queueRead16(uint8_t func, uint16_t adr, uint16_t quantity);
    bool queueWrite16(uint8_t func, uint16_t adr, uint16_t value, const QString &textBefore = QString(),
                      const QString &textAfter = QString());
    bool queueWriteFloat(uint16_t adr, float value);
    // One parameter's request. With the ring idle it is sent and judged
    // before the call returns, false with lastFailure set when it failed;
    // behind a running send loop it is only queued.
    bool readParameterNow(const DeviceParameters::Parameter &parameter, double &value);
    bool queueParameterRead(const DeviceParameters::Parameter &parameter);
    // A single read or write of the parameter at that holding register,
    // queued into the device thread like any public slot.
    void requestRead(uint16_t holding);
    void requestWrite(uint16_t holding, double value);
    // A value read from a parameter's registers, told by its own report
    // signal where it has one (which tells parameterReported in turn), else
    // by parameterReported alone.
    void reportParameter(const DeviceParameters::Parameter &parameter, double value);
    void linkNamedReports();
    bool writeParameterNow(const DeviceParameters::Parameter &parameter, double value);
    void runParameterRead(quint64 ticket, const QVector<const DeviceParameters::Parameter *> &parameters,
                          bool withRevision);
    void runParameterWrite(quint64 ticket, const DeviceParameters::ParameterValues &values);
    // Acts on the values of an answer just taken (takenValues).
    void takeValues(const LineFrame &answer);
    void pause(int ms);
    // Judges what has arrived against the request in flight.
    void takeAnswer(const LineFrame &answer);
    void takeRefusal(const LineFrame &refusal);
    // What has arrived while no answer is awaited: the broadcast's echo,
    // else late or stray.
    void judgeUnclaimed();

    // The line's one event: what the engine decided about a frame, told to
    // the line monitor and to the main log's byte dump alike.
    void reportLine(const LineFrame &frame);
    // Bytes given up on, judged as late, a bad CRC (against request) or stray.
    void dropReceived(const QByteArray &bytes, const QByteArray &request);
    // The request got no answer in time; what came for it is dropped first.
    void reportTimeOut(const QByteArray &request);
    // The answer at rxBuffer[at, at + size) is taken, what lies around it
    // dropped, and the buffer emptied; returns the answer decoded.
    LineFrame reportTaken(int at, int size, const QByteArray &request, QVector<RegisterValue> *taken);
    // Why the latest acknowledged command failed, as a procedure step reports it.
    QString failedStepText() const;
    void _checkAnswered(bool ok, bool reportOk);
    bool connectionGuard();

    // Multi-step procedures run only with the ring idle so that every step
    // judges the answer to its own request; otherwise they wait their turn.
    void runProcedure(std::function<void()> procedure);
    void _getDataRawMain(int idx);
    void _updateMainFirmware(QString f_name);
    void _checkFileData(const QByteArray &image);
    void _checkStep(bool ok, QString errorText, bool reportOk);
    void beginUpdateStep(FirmwareOutcome::Step step);

    SerialWorker *worker = nullptr;
    PauseTimer *pauseTimer = nullptr; // made in the device thread, with the worker
    QByteArray rxBuffer;
    QByteArray curRequest;
    int answerSize = 0;
    bool echoAwaited = false;          // the broadcast in flight, whose echo is its answer
    QVector<RegisterValue> takenValues; // of the answer in hand; kept to spare an allocation per answer
    int rawDataSize = 0;
    CmdEntry cmdRing[kRingSize];
    int queueWrite = 0;
    int queueRead = 0;
    bool queueRunning = false;
    bool logRxByteEn = false;
    bool logTxByteEn = false;
    bool ackReceived = false;
    bool connected = false;
    bool flashReady = false;

    // Why the command in flight failed, when it did not just go unanswered.
    RequestOutcome pendingFailure;
    RequestOutcome lastFailure;       // of the latest failed command
    QString portName;
    // Requests that timed out since the line was last in step with the
    // device: their answers may still come. Non-empty: resynchronise first.
    struct Unanswered
    {
        QByteArray signature;   // ModbusCodec::requestSignature
        qint64 sentMs = 0;      // on engineClock
    };
    QVector<Unanswered> unanswered;
    bool resyncing = false;           // the request in flight is a resynchronisation
    int lateByteCount = 0;            // dropped as late in this resynchronisation
    QElapsedTimer engineClock;
    void noteUnanswered(const QByteArray &request);
    bool mayBeLateAnswer(const QByteArray &signature) const;
    QByteArray resyncRequest();
    bool resyncLine(QEventLoop &loop, QTimer &timer);
    void sendRequest(const QByteArray &request, int expectedSize);
    // All of sending but the port: what is left of the last answer is
    // dropped, and the request becomes the one in flight.
    void prepareRequest(const QByteArray &request, int expectedSize);
    // The device's pause before a request, in loop: until the line has
    // been quiet for the 5 ms the device needs between frames.
    void pauseBeforeRequest(QEventLoop &loop, QTimer &timer);
    // The wait in loop for the answer to the request just sent.
    void awaitAnswer(QEventLoop &loop, QTimer &timer, int timeoutMs);
    // Since when nothing went over the line: the last answer's last chunk,
    // the end of the last wait without one, or bytes come since; Forever
    // when nothing did yet.
    QDeadlineTimer lineQuietSince() const;
    QDeadlineTimer lastWaitEnded{QDeadlineTimer::Forever};
    bool notOpenReported = false;     // one log line per episode of commands sent to a closed port

    // Request engine bookkeeping beyond the ring itself.
    bool overflowReported = false;    // one log line per overflow episode
    quint64 nextCmdId = 1;
    quint64 cmdIds[kRingSize] = {};
    quint64 loopOwnerId = 0;          // command whose caller runs the send loop
    bool loopOwnerAcked = false;

    // Records every frame of the line; the request engine tells it what
    // happened (serialtop_queue.cpp, serialtop.cpp).
    LineMonitor *const lineMonitor = new LineMonitor(this);

    int procedureDepth = 0;
    bool updateRunning = false;
    FirmwareOutcome updateProgress;   // the step under way and what failed in it
    std::atomic<bool> updateAbortRequested{false};
    QVector<std::function<void()>> deferredProcedures;
    std::atomic<quint64> nextTicket{1};
    // The latest value each holding register was read as, and the latest
    // revision text: what a parameter operation takes as its answer.
    QHash<uint16_t, uint32_t> heldValues;
    QString lastRevision;
};
