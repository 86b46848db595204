#pragma once

#include "portsettings.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>

// The only object that touches the serial port. Knows nothing of Modbus:
// it opens, writes, and hands every received chunk upward unchanged.
class SerialWorker : public QObject
{
    Q_OBJECT
public:
    // Result codes of openPort.
    enum OpenResult { OpenOk = 0, OpenConfigRefused = 10, OpenAlreadyOpen = 11, OpenRefused = 12 };

    SerialWorker();
    ~SerialWorker() override;

    int openPort(const PortSettings &settings);
    void closePort();
    int writePort(const QByteArray &data);
    int sendData(QByteArray data);
    int sendString(const QString &text);

    bool isOpen() const { return port->isOpen(); }
    // When the latest chunk came in; the line has been quiet since unless
    // something was sent. Forever before the first chunk.
    QDeadlineTimer lastReceived() const { return receivedAt; }
    // Why the last openPort failed, as the port reported it.
    QSerialPort::SerialPortError openError() const { return lastOpenError; }
    QString openErrorText() const { return lastOpenErrorText; }

signals:
    void logInfo(QString message);
    void logWarning(QString message);
    void logError(QString message);
    void logTx(QByteArray data);
    void logRx(QByteArray data);
    void bytesReceived(qlonglong count);
    void bytesTransmitted(qlonglong count);
    void connectedChanged(bool state);
    void increaseTxCount(int count);
    void increaseRxCount(int count);
    void serialPortClosed();
    // The open port failed for good (adapter unplugged, line gone) and was
    // closed; errorText is the port's own description.
    void portLost(QString errorText);

private slots:
    void onReadyRead();
    void onPortError(QSerialPort::SerialPortError error);
    void onPortWriteTimeout();

private:
    QSerialPort *port;
    QSerialPort::SerialPortError lastOpenError = QSerialPort::NoError;
    QString lastOpenErrorText;
    bool opening = false;
    QDeadlineTimer receivedAt{QDeadlineTimer::Forever};
};

// Names printed for QSerialPort::SerialPortError values 0..13.
extern const char *const kSerialPortErrorNames[14];
