#pragma once

#include "simdefaults.h"

#include <QSet>
#include <QString>
#include <QVector>

#include <cstdint>

// What the simulated altimeter is like and which of its steps misbehave.
// Filled from the command line; tests fill it directly.
struct ModelConfig
{
    // A fixed distance in metres; when unset the distance drifts slowly.
    bool fixedDistance = false;
    float distance = SimDefaults::kDistance;
    // Each distance read drawn around the distance from a normal spread of
    // this standard deviation (0: none), by a generator of this seed.
    float spread = 0;
    uint64_t seed = 0;

    float period = SimDefaults::kPeriod;    // measurement period in seconds
    QString revision = QString::fromLatin1(SimDefaults::kRevision);
    bool selfTestFails = false;
    int rawPoints = 1025;                   // points announced in the raw buffer
    int eraseMs = 1500;                     // flash stays busy this long after an erase
    QVector<int> missingRegisters;          // holding registers this firmware lacks: exception 02
    // Holding registers whose writes are acknowledged but not stored, as a
    // firmware that ignores a setting: what a master reads back differs.
    QSet<int> ignoredWrites;

    // Firmware update steps that fail on purpose.
    bool failProgrammingMode = false;       // coil 3 gets no answer
    bool failFlashCheck = false;            // flash status stays 0 after the check
    bool failErase = false;                 // flash status never becomes ready after an erase
    bool failFirmwareFlag = false;          // coil 6 gets no answer
    int failBlock = 0;                      // this program block (1 = first since the erase) gets no answer
};
