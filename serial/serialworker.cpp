#include "serialworker.h"

const char *const kSerialPortErrorNames[14] = {
    "NoError",         "DeviceNotFoundError", "PermissionError",           "OpenError",
    "ParityError",     "FramingError",        "BreakConditionError",       "WriteError",
    "ReadError",       "ResourceError",       "UnsupportedOperationError", "UnknownError",
    "TimeoutError",    "NotOpenError",
};

SerialWorker::SerialWorker()
    : port(new QSerialPort(this))
{
    connect(port, &QSerialPort::readyRead, this, &SerialWorker::onReadyRead);
    connect(port, &QSerialPort::errorOccurred, this, &SerialWorker::onPortError);
    connect(port, &QSerialPort::bytesWritten, this, &SerialWorker::bytesTransmitted);
}

SerialWorker::~SerialWorker()
{
    // Closing from the destructor must stay silent: nobody listens any more.
    port->disconnect(this);
    delete port;
}

int SerialWorker::openPort(const PortSettings &settings)
{
    if (port->isOpen()) {
        emit logWarning(tr("Serial port is already opened"));
        return OpenAlreadyOpen;
    }

    port->setPortName(settings.portName);
    // A failed open closes the port again, which overwrites the error it
    // reported; onPortError keeps the first one.
    lastOpenError = QSerialPort::NoError;
    lastOpenErrorText.clear();
    opening = true;
    const bool opened = port->open(QIODevice::ReadWrite);
    opening = false;
    if (!opened) {
        if (lastOpenError == QSerialPort::NoError) {
            lastOpenError = port->error();
            lastOpenErrorText = port->errorString();
        }
        const QString text = tr("Serial port (%1) open error: ").arg(settings.portName) + lastOpenErrorText;
        port->close();
        emit logError(text);
        return OpenRefused;
    }

    const bool configured = port->setBaudRate(settings.baudRate, QSerialPort::AllDirections)
                            && port->setDataBits(settings.dataBits)
                            && port->setParity(settings.parity)
                            && port->setStopBits(settings.stopBits)
                            && port->setFlowControl(settings.flowControl);
    if (!configured) {
        lastOpenError = port->error();
        lastOpenErrorText = port->errorString();
        const QString text = tr("Serial port configuration error: ") + lastOpenErrorText;
        port->close();
        emit logError(text);
        return OpenConfigRefused;
    }

    port->clear(QSerialPort::AllDirections);
    port->setDataTerminalReady(true);
    emit logInfo(tr("Serial port opened"));
    return OpenOk;
}

void SerialWorker::closePort()
{
    port->close();
    emit serialPortClosed();
    emit logInfo(tr("Serial port closed"));
}

int SerialWorker::writePort(const QByteArray &data)
{
    if (port->write(data) == -1) {
        emit logError(tr("Serial port write error: ") + port->errorString());
        return -1;
    }
    // Handed to the system now rather than on the next pass of the event
    // loop; a failure shows as the port's error, as it did before.
    port->flush();
    emit increaseTxCount(data.size());
    return 0;
}

int SerialWorker::sendData(QByteArray data)
{
    const int result = writePort(data);
    if (result != 0)
        emit logError(tr("Error (%1) occur while sending data: %2")
                          .arg(result)
                          .arg(QString::fromLocal8Bit(data.constData())));
    else
        emit logInfo(tr("%1 bytes of data successfully send").arg(data.size()));
    return result;
}

int SerialWorker::sendString(const QString &text)
{
    const int result = writePort(text.toLocal8Bit());
    if (result != 0)
        emit logError(tr("Error (%1) occur while sending string: %2").arg(result).arg(text));
    else
        emit logInfo(tr("Successfully send string: %1").arg(text));
    return result;
}

void SerialWorker::onReadyRead()
{
    receivedAt = QDeadlineTimer::current(Qt::PreciseTimer);
    const QByteArray chunk = port->readAll();
    emit increaseRxCount(chunk.size());
    emit logRx(chunk);
}

void SerialWorker::onPortError(QSerialPort::SerialPortError error)
{
    const int code = static_cast<int>(error);
    // These mean the line is gone (an unplugged adapter gives a resource
    // error on Linux and Windows alike); parity, framing, break and
    // time-outs are glitches of a line that is still there.
    const bool lost = port->isOpen()
                      && (error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError
                          || error == QSerialPort::PermissionError || error == QSerialPort::ReadError
                          || error == QSerialPort::WriteError);
    const QString errorText = port->errorString();
    if (opening && lastOpenError == QSerialPort::NoError && error != QSerialPort::NotOpenError) {
        lastOpenError = error;
        lastOpenErrorText = errorText;
    }
    if (error == QSerialPort::PermissionError) {
        port->close();
        emit logError(tr("Serial port PermissionError. Serial port closed"));
        emit connectedChanged(false);
    } else if (code <= 0) {
        return;
    }
    const QString name = code < 14 ? QString::fromLatin1(kSerialPortErrorNames[code]) : QString::number(code);
    emit logError(tr("Serial port error: %1").arg(name));
    if (lost) {
        port->close();
        emit portLost(errorText);
    }
}

void SerialWorker::onPortWriteTimeout()
{
    emit logError(tr("COM port writing timeout"));
}
