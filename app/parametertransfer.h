#pragma once

#include "deviceparameters.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>

class SerialTop;

// Reads the revision and the eleven parameters from the device object, and
// writes a set of values, reading each back. Works from the window's thread
// through the device object's public slots and report signals only, so it
// covers every parameter whatever the form shows (the debug tab may be
// absent, and its spin boxes clamp what they are given).
class ParameterTransfer : public QObject
{
    Q_OBJECT
public:
    explicit ParameterTransfer(SerialTop *device, QObject *parent = nullptr);

    // A transfer that hears nothing for this long has lost its requests
    // (a full command ring refuses them without a failure report).
    static constexpr int kSilenceLimitMs = 10000;

    bool isBusy() const { return state != State::Idle; }

    // Ends in readFinished.
    void readAll();
    // Writes and reads back one parameter at a time; ends in writeFinished.
    void writeAndVerify(const DeviceParameters::ParameterValues &values);

signals:
    // ok false: error says why, and values are incomplete.
    void readFinished(bool ok, const QString &revision, const DeviceParameters::ParameterValues &values,
                      const QString &error);
    // One line per value that did not read back as written; empty when all did.
    void writeFinished(const QStringList &problems);

private:
    enum class State { Idle, Reading, Writing };

    void received(uint16_t holding, double value);
    void revisionArrived(const QString &text);
    void failed(const QString &reason);
    void finishReadIfComplete();
    void writeNext();

    SerialTop *device;
    State state = State::Idle;
    QTimer silence;

    // Reading
    QString revision;
    bool revisionRead = false;
    QSet<uint16_t> awaited;
    DeviceParameters::ParameterValues readValues;

    // Writing
    DeviceParameters::ParameterValues toWrite;
    int current = -1;
    QStringList problems;
};
