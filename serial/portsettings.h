#pragma once

#include <QSerialPort>
#include <QString>

// Line settings handed to SerialWorker::openPort. The device object always
// fills it as 8N2 without flow control; only the name and baud rate vary.
struct PortSettings
{
    QString portName;
    int baudRate = 115200;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::TwoStop;
    QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;
};
