#include "parametertransfer.h"

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
    auto word = [this](uint16_t holding) { return [this, holding](int value) { received(holding, value); }; };
    auto real = [this](uint16_t holding) { return [this, holding](float value) { received(holding, double(value)); }; };
    connect(device, &SerialTop::rcvProtocolType, this, word(Holding::ProtType));
    connect(device, &SerialTop::rcv_AdrMb, this, word(Holding::AdrMb));
    // The band register holds a whole number; the report carries it as a float.
    connect(device, &SerialTop::rcvFmcwBandGHz, this, real(Holding::FmcwBand));
    connect(device, &SerialTop::rcv_FreqReduct, this, word(Holding::FreqRed));
    connect(device, &SerialTop::rcv_SizeLockData, this, word(Holding::SizeLockData));
    connect(device, &SerialTop::rcv_DetThCoefMin, this, real(Holding::DetThCoefMin));
    connect(device, &SerialTop::rcv_DetThCoefMax, this, real(Holding::DetThCoefMax));
    connect(device, &SerialTop::rcv_DetSmthCoef, this, real(Holding::DetSmthCoef));
    connect(device, &SerialTop::rcv_DetMtiCoef, this, real(Holding::DetMtiCoef));
    connect(device, &SerialTop::rcv_DetThCoefDC, this, real(Holding::DetThCoefDC));
    connect(device, &SerialTop::rcv_TrsSmthCoef, this, real(Holding::TrsSmthCoef));
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
        requestRead(parameter.holding);
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
    requestWrite(*entry.parameter, entry.value);
    requestRead(entry.parameter->holding);
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

void ParameterTransfer::requestRead(uint16_t holding)
{
    switch (holding) {
    case Holding::ProtType: device->getProtType(); break;
    case Holding::AdrMb: device->getAdrMb(); break;
    case Holding::FmcwBand: device->getFmcwBandGHz(); break;
    case Holding::FreqRed: device->getFreqRed(); break;
    case Holding::SizeLockData: device->getSizeLockData(); break;
    case Holding::DetThCoefMin: device->getDetThCoefMin(); break;
    case Holding::DetThCoefMax: device->getDetThCoefMax(); break;
    case Holding::DetSmthCoef: device->getDetSmthCoef(); break;
    case Holding::DetMtiCoef: device->getDetMtiCoef(); break;
    case Holding::DetThCoefDC: device->getDetThCoefDC(); break;
    case Holding::TrsSmthCoef: device->getTrsSmthCoef(); break;
    default: break;
    }
}

void ParameterTransfer::requestWrite(const Parameter &parameter, double value)
{
    const int word = int(value);
    const float real = float(value);
    switch (parameter.holding) {
    case Holding::ProtType: device->setProtType(word); break;
    case Holding::AdrMb: device->setAdrMb(word); break;
    case Holding::FmcwBand: device->setFmcwBandGHz(word); break;
    case Holding::FreqRed: device->setFreqRed(word); break;
    case Holding::SizeLockData: device->setSizeLockData(word); break;
    case Holding::DetThCoefMin: device->setDetThCoefMin(real); break;
    case Holding::DetThCoefMax: device->setDetThCoefMax(real); break;
    case Holding::DetSmthCoef: device->setDetSmthCoef(real); break;
    case Holding::DetMtiCoef: device->setDetMtiCoef(real); break;
    case Holding::DetThCoefDC: device->setDetThCoefDC(real); break;
    case Holding::TrsSmthCoef: device->setTrsSmthCoef(real); break;
    default: break;
    }
}
