#include "parametertransfer.h"

#include "serialtop.h"

using DeviceParameters::Parameter;

ParameterTransfer::ParameterTransfer(SerialTop *device, QObject *parent)
    : QObject(parent)
    , device(device)
{
    // Reports come from the device thread and are handled here, queued;
    // only the one for this transfer's own ticket ends it.
    connect(device, &SerialTop::parametersRead, this, [this](quint64 done, const ParameterReport &report) {
        if (done != ticket)
            return;
        ticket = 0;
        emit readFinished(report);
    });
    connect(device, &SerialTop::parametersWritten, this, [this](quint64 done, const ParameterReport &report) {
        if (done != ticket)
            return;
        ticket = 0;
        emit writeFinished(report);
    });
}

void ParameterTransfer::readAll()
{
    QVector<const Parameter *> parameters;
    for (const Parameter &parameter : DeviceParameters::all())
        parameters << &parameter;
    read(parameters, true);
}

void ParameterTransfer::read(const QVector<const Parameter *> &parameters, bool withRevision)
{
    if (!isBusy())
        ticket = device->readParameters(parameters, withRevision);
}

void ParameterTransfer::writeAndVerify(const DeviceParameters::ParameterValues &values)
{
    if (!isBusy())
        ticket = device->writeParameters(values);
}
