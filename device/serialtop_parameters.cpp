// Parameter operations with one outcome per parameter: the read-out and the
// write-out that the backup, the restore and the command line share.
#include "serialtop.h"

#include "modbuscodec.h"
#include "registermap.h"

#include <QMetaObject>

#include <algorithm>

using DeviceParameters::Kind;
using DeviceParameters::Parameter;
using DeviceParameters::ParameterValue;
using DeviceParameters::ParameterValues;
using RegisterMap::Holding::AdrMb;

namespace {

// What the register holds after writing value: a float pair holds a float.
double asStored(const Parameter &parameter, double value)
{
    return parameter.kind == Kind::Float ? double(float(value)) : value;
}

int registersOf(const Parameter &parameter)
{
    return parameter.kind == Kind::Float ? 2 : 1;
}

} // namespace

quint64 SerialTop::readParameters(const QVector<const Parameter *> &parameters, bool withRevision)
{
    const quint64 ticket = nextTicket++;
    QMetaObject::invokeMethod(
        this, [this, ticket, parameters, withRevision] { runParameterRead(ticket, parameters, withRevision); },
        Qt::AutoConnection);
    return ticket;
}

quint64 SerialTop::writeParameters(const ParameterValues &values)
{
    const quint64 ticket = nextTicket++;
    QMetaObject::invokeMethod(this, [this, ticket, values] { runParameterWrite(ticket, values); }, Qt::AutoConnection);
    return ticket;
}

void SerialTop::requestRead(uint16_t holding)
{
    const Parameter *parameter = DeviceParameters::atHolding(holding);
    QMetaObject::invokeMethod(this, [this, parameter] { queueParameterRead(*parameter); }, Qt::AutoConnection);
}

void SerialTop::requestWrite(uint16_t holding, double value)
{
    const Parameter *parameter = DeviceParameters::atHolding(holding);
    QMetaObject::invokeMethod(this, [this, parameter, value] { writeParameterNow(*parameter, value); },
                              Qt::AutoConnection);
}

bool SerialTop::queueParameterRead(const Parameter &parameter)
{
    return queueRead16(ModbusCodec::ReadHoldingRegisters, parameter.holding, uint16_t(registersOf(parameter)));
}

bool SerialTop::readParameterNow(const Parameter &parameter, double &value)
{
    heldValues.remove(parameter.holding);
    if (!queueParameterRead(parameter))
        return false;
    const uint32_t bits = heldValues.value(parameter.holding);
    value = parameter.kind == Kind::Float ? double(ModbusCodec::floatFromBits(bits)) : double(bits);
    return true;
}

bool SerialTop::writeParameterNow(const Parameter &parameter, double value)
{
    if (parameter.kind == Kind::Float)
        return queueWriteFloat(parameter.holding, float(value));
    return queueWrite16(ModbusCodec::WriteSingleRegister, parameter.holding, uint16_t(value));
}

void SerialTop::runParameterRead(quint64 ticket, const QVector<const Parameter *> &parameters, bool withRevision)
{
    // Run with the ring idle, so that every request's outcome is its own.
    runProcedure([this, ticket, parameters, withRevision] {
        ParameterReport report;
        report.revisionAsked = withRevision;
        bool stopped = false;
        if (withRevision) {
            lastRevision.clear();
            emit appendLogUpdater(tr("Получение текущей версии ПО..."), true, QColor(255, 255, 255, 255));
            report.revisionRead =
                queueRead16(ModbusCodec::ReadHoldingRegisters, RegisterMap::Holding::Revision,
                            RegisterMap::Holding::RevisionLength);
            if (report.revisionRead) {
                report.revision = lastRevision;
            } else {
                report.revisionOutcome = lastFailure;
                if (lastFailure.failure != RequestOutcome::Failure::Refused) {
                    report.stop = lastFailure;
                    stopped = true;
                }
            }
        }
        for (const Parameter *parameter : parameters) {
            if (stopped) {
                report.notAttempted << parameter;
                continue;
            }
            double value = 0;
            if (readParameterNow(*parameter, value)) {
                report.done.append({parameter, value});
                continue;
            }
            report.failed.append({parameter, lastFailure});
            // An older firmware refuses what it lacks; the rest still reads.
            if (lastFailure.failure != RequestOutcome::Failure::Refused) {
                report.stop = lastFailure;
                stopped = true;
            }
        }
        emit parametersRead(ticket, report);
    });
}

void SerialTop::runParameterWrite(quint64 ticket, const ParameterValues &values)
{
    runProcedure([this, ticket, values] {
        // The address last: a device that answers at its new address at once
        // has then taken every other value first.
        ParameterValues ordered = values;
        std::stable_partition(ordered.begin(), ordered.end(),
                              [](const ParameterValue &entry) { return entry.parameter->holding != AdrMb; });
        ParameterReport report;
        bool stopped = false;
        for (const ParameterValue &entry : qAsConst(ordered)) {
            const Parameter &parameter = *entry.parameter;
            if (stopped) {
                report.notAttempted << &parameter;
                continue;
            }
            double held = 0;
            if (!writeParameterNow(parameter, entry.value) || !readParameterNow(parameter, held)) {
                report.failed.append({&parameter, lastFailure});
                report.stop = lastFailure;
                stopped = true;
                continue;
            }
            const double expected = asStored(parameter, entry.value);
            if (held == expected)
                report.done.append({&parameter, held});
            else
                report.failed.append({&parameter, RequestOutcome::notConfirmed(parameter.holding, expected, held)});
        }
        emit parametersWritten(ticket, report);
    });
}
