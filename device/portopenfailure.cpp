#include "portopenfailure.h"

#include <QFileInfo>

PortOpenFailure PortOpenFailure::explain(const QString &port, QSerialPort::SerialPortError error, const QString &detail)
{
    PortOpenFailure failure;
    failure.port = port;
    failure.detail = detail;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        failure.kind = Kind::NotFound;
        break;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError: {
        failure.kind = Kind::InUse;
#ifdef Q_OS_UNIX
        const QFileInfo node(port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port);
        if (node.exists() && !(node.isReadable() && node.isWritable())) {
            failure.kind = Kind::NoPermission;
            failure.group = node.group().isEmpty() ? QStringLiteral("dialout") : node.group();
        }
#endif
        break;
    }
    default:
        break;
    }
    return failure;
}

QString PortOpenFailure::udevRuleExample()
{
    return QStringLiteral("KERNEL==\"ttyUSB[0-9]*\", GROUP=\"dialout\", MODE=\"0660\"");
}
