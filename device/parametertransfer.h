#pragma once

#include "deviceparameters.h"
#include "parameterreport.h"

#include <QObject>

class SerialTop;

// One parameter read-out or write-out at a time over the device object's
// parameter operations, for a caller in another thread: the window's backup
// and restore, and the command line's info, get, set, backup and restore.
// It ends exactly when the device object's operation ends.
class ParameterTransfer : public QObject
{
    Q_OBJECT
public:
    explicit ParameterTransfer(SerialTop *device, QObject *parent = nullptr);

    bool isBusy() const { return ticket != 0; }

    // The revision and every parameter of the table; ends in readFinished.
    void readAll();
    void read(const QVector<const DeviceParameters::Parameter *> &parameters, bool withRevision);
    // Writes and reads back one parameter at a time; ends in writeFinished.
    void writeAndVerify(const DeviceParameters::ParameterValues &values);

signals:
    void readFinished(const ParameterReport &report);
    void writeFinished(const ParameterReport &report);

private:
    SerialTop *device;
    quint64 ticket = 0;
};
