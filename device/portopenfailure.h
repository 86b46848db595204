#pragma once

#include <QMetaType>
#include <QSerialPort>
#include <QString>

// Why a serial port could not be opened, as far as the system tells: the
// facts a front end words for its user.
struct PortOpenFailure
{
    enum class Kind { NotFound, InUse, NoPermission, Other };

    Kind kind = Kind::Other;
    QString port;
    QString detail;  // the port's own text
    QString group;   // NoPermission: the group that owns the device node

    // A node of group root is open to root alone: joining its group is no
    // advice; a udev rule that hands it to dialout is.
    bool onlyRootMayOpen() const { return kind == Kind::NoPermission && group == QLatin1String("root"); }
    // What a udev rule that grants group dialout the port reads like.
    static QString udevRuleExample();

    // Busy and forbidden look alike to the serial port; on Unix the device
    // node tells them apart. Elsewhere a permission error reads as in use,
    // which is what Windows reports for a busy port.
    static PortOpenFailure explain(const QString &port, QSerialPort::SerialPortError error, const QString &detail);
};

Q_DECLARE_METATYPE(PortOpenFailure)
