#pragma once

#include "deviceparameters.h"
#include "requestoutcome.h"

#include <QMetaType>
#include <QString>
#include <QVector>

// What a parameter read-out or write-out did, parameter by parameter, so
// that a front end can say exactly what a run that stopped part-way left
// behind.
struct ParameterReport
{
    struct Failed
    {
        const DeviceParameters::Parameter *parameter;
        RequestOutcome outcome;
    };

    bool revisionAsked = false;
    bool revisionRead = false;
    QString revision;
    // Asked and not read: how the revision's request ended.
    RequestOutcome revisionOutcome;
    // Read, or written and read back as written, in the order done.
    DeviceParameters::ParameterValues done;
    // Refused reads (a read-out goes on past them), a write that did not read
    // back as written (a write-out goes on past it), or the request that
    // stopped the run.
    QVector<Failed> failed;
    // Not tried because an earlier request stopped the run.
    QVector<const DeviceParameters::Parameter *> notAttempted;
    // What stopped the run early, or done.
    RequestOutcome stop;

    bool complete() const
    {
        return failed.isEmpty() && notAttempted.isEmpty() && (!revisionAsked || revisionRead);
    }
    // The value done for a parameter, or nullptr.
    const DeviceParameters::ParameterValue *value(const DeviceParameters::Parameter &parameter) const
    {
        for (const DeviceParameters::ParameterValue &entry : done)
            if (entry.parameter == &parameter)
                return &entry;
        return nullptr;
    }
};

Q_DECLARE_METATYPE(ParameterReport)
Q_DECLARE_METATYPE(DeviceParameters::ParameterValue)
