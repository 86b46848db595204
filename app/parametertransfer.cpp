#include "parametertransfer.h"

#include "parameterlink.h"
#include "registermap.h"
#include "serialtop.h"

#include <algorithm>

using DeviceParameters::Kind;
using DeviceParameters::Parameter;
using DeviceParameters::ParameterValue;
using DeviceParameters::ParameterValues;
using namespace RegisterMap;

namespace {

// What the register holds after writing value: a float pair holds a float.
double asStored(const Parameter &parameter, double value)
{
    return parameter.kind == Kind::Float ? double(float(value)) : value;
}

} // namespace

ParameterTransfer::ParameterTransfer(SerialTop *device, QObject *parent)
    : QObject(parent)
    , device(device)
{
    // Reports come from the device thread and are handled here, queued.
    ParameterLink::onValues(device, this, [this](uint16_t holding, double value) { received(holding, value); });
    connect(device, &SerialTop::revisionReceived, this, &ParameterTransfer::revisionArrived);
    connect(device, &SerialTop::requestFailed, this, &ParameterTransfer::failed);
    connect(device, &SerialTop::connectedChanged, this, [this](bool connected) {
        if (!connected)
            failed(tr("Устройство не подключенно!"));
    });
    silence.setSingleShot(true);
    silence.setInterval(kSilenceLimitMs);
    connect(&silence, &QTimer::timeout, this, [this] { failed(tr("Нет ответа от устройства")); });
}

void ParameterTransfer::readAll()
{
    if (isBusy())
        return;
    state = State::Reading;
    silence.start();
    revision.clear();
    revisionRead = false;
    readValues.clear();
    awaited.clear();
    // The revision goes first: without a connection it fails at once.
    device->getFirmwareRevision();
    for (const Parameter &parameter : DeviceParameters::all()) {
        awaited.insert(parameter.holding);
        ParameterLink::requestRead(device, parameter);
    }
}

void ParameterTransfer::writeAndVerify(const ParameterValues &values)
{
    if (isBusy())
        return;
    state = State::Writing;
    silence.start();
    toWrite = values;
    // The address last: a device that answered at a new address at once
    // would still have taken every other value.
    std::stable_partition(toWrite.begin(), toWrite.end(),
                          [](const ParameterValue &entry) { return entry.parameter->holding != Holding::AdrMb; });
    problems.clear();
    current = -1;
    writeNext();
}

void ParameterTransfer::writeNext()
{
    ++current;
    if (current >= toWrite.size()) {
        state = State::Idle;
        silence.stop();
        emit writeFinished(problems);
        return;
    }
    const ParameterValue &entry = toWrite.at(current);
    ParameterLink::requestWrite(device, *entry.parameter, entry.value);
    ParameterLink::requestRead(device, *entry.parameter);
}

void ParameterTransfer::received(uint16_t holding, double value)
{
    if (state == State::Reading) {
        if (!awaited.remove(holding))
            return;
        silence.start();
        for (const Parameter &parameter : DeviceParameters::all())
            if (parameter.holding == holding)
                readValues.append({&parameter, value});
        finishReadIfComplete();
    } else if (state == State::Writing) {
        const ParameterValue &entry = toWrite.at(current);
        if (entry.parameter->holding != holding)
            return; // a read the user asked for meanwhile
        silence.start();
        const Parameter &parameter = *entry.parameter;
        if (value != asStored(parameter, entry.value))
            problems << tr("%1: записано %2, прочитано %3")
                            .arg(QLatin1String(parameter.name), DeviceParameters::formatValue(parameter, entry.value),
                                 DeviceParameters::formatValue(parameter, value));
        writeNext();
    }
}

void ParameterTransfer::revisionArrived(const QString &text)
{
    if (state != State::Reading || revisionRead)
        return;
    revision = text;
    revisionRead = true;
    finishReadIfComplete();
}

void ParameterTransfer::finishReadIfComplete()
{
    if (!revisionRead || !awaited.isEmpty())
        return;
    state = State::Idle;
    silence.stop();
    // In table order, whatever order the answers came in.
    ParameterValues ordered;
    for (const Parameter &parameter : DeviceParameters::all())
        for (const ParameterValue &entry : qAsConst(readValues))
            if (entry.parameter == &parameter)
                ordered.append(entry);
    emit readFinished(true, revision, ordered, QString());
}

// A failed request cannot be told apart from the one after it, and a request
// that found no answer drops everything queued behind it: the transfer stops
// at the first failure and names every value it could not confirm.
void ParameterTransfer::failed(const QString &reason)
{
    silence.stop();
    if (state == State::Reading) {
        state = State::Idle;
        emit readFinished(false, revision, readValues, reason);
    } else if (state == State::Writing) {
        state = State::Idle;
        for (int i = current; i < toWrite.size(); ++i)
            problems << tr("%1: не подтверждён (%2)").arg(QLatin1String(toWrite.at(i).parameter->name), reason);
        emit writeFinished(problems);
    }
}
