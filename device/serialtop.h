#pragma once

#include <QByteArray>
#include <QColor>
#include <QObject>
#include <QString>
#include <QVector>

#include "linemonitor.h"

#include <atomic>
#include <cstdint>
#include <functional>

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
    // One acknowledged request failed: no answer, refused, or the port was
    // lost. The reason is the text the main log shows.
    void requestFailed(QString reason);
    // Outcomes for callers that must not parse log text: the revision text
    // as read (trailing NULs dropped), the self-test verdict, and the end of
    // a raw read-out, successful or not.
    void revisionReceived(QString text);
    void selfTestVerdict(bool healthy);
    void rawReadFinished(bool success);
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
    int _getParamHoldSize(uint16_t adr);
    int _getParamInputSize(uint16_t adr);
    void _checkParamHold(ushort adr, uint value);
    void _checkParamInput(ushort adr, uint value);

    void _setFMCW_mode(bool state);
    void _setCW_mode(bool state);
    void _saveSettings();
    void _getProtType();
    void _getFmcwBandGHz();
    void _getFreqRed();
    void _getSizeLockData();
    void _getDetThCoefMax();
    void _getDetThCoefMin();
    void _getDetThCoefDC();
    void _getDetSmthCoef();
    void _getDetMtiCoef();
    void _getTrsSmthCoef();
    void _getAdrMb();
    void _setProtType(int type);
    void _setFmcwBandGHz(int value);
    void _setFreqRed(int value);
    void _setSizeLockData(int value);
    void _setAdrMb(int value);
    void _setDetThCoefMax(float value);
    void _setDetThCoefMin(float value);
    void _setDetThCoefDC(float value);
    void _setDetSmthCoef(float value);
    void _setDetMtiCoef(float value);
    void _setTrsSmthCoef(float value);
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
    void decodeHoldingAnswer(const QByteArray &frame, uint16_t start, int count);
    void decodeInputAnswer(const QByteArray &frame, uint16_t start, int count);
    void pause(int ms);
    // Judges what has arrived against the request in flight.
    void takeAnswer(const QByteArray &frame);
    void takeRefusal(const QByteArray &frame);
    void dumpReceived(const QByteArray &bytes);
    QString refusalText(const QByteArray &request, uint8_t code) const;
    QString openFailureText(const QString &portName) const;
    // Why the latest acknowledged command failed, as a procedure step reports it.
    QString failedStepText() const;
    void _checkAnswered(bool ok, bool reportOk);
    QString hexDump(const QByteArray &bytes) const;
    bool connectionGuard();

    // Multi-step procedures run only with the ring idle so that every step
    // judges the answer to its own request; otherwise they wait their turn.
    void runProcedure(std::function<void()> procedure);
    void _getDataRawMain(int idx);
    void _updateMainFirmware(QString f_name);
    void _checkFileData(const QByteArray &image);
    void _checkStep(bool ok, QString errorText, bool reportOk);

    SerialWorker *worker = nullptr;
    QByteArray rxBuffer;
    QByteArray curRequest;
    int answerSize = 0;
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
    QString failureReason;
    QString lastStepFailure;          // empty when the latest failed command went unanswered
    QString portName;
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
    std::atomic<bool> updateAbortRequested{false};
    QVector<std::function<void()>> deferredProcedures;
};
