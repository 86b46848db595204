#pragma once

#include <QSet>
#include <QString>

// What the simulated altimeter is like and which of its steps misbehave.
// Filled from the command line; tests fill it directly.
struct ModelConfig
{
    // A fixed distance in metres; when unset the distance drifts slowly.
    bool fixedDistance = false;
    float distance = 10.0f;

    float period = 0.1f;                    // measurement period in seconds
    QString revision = QStringLiteral("ZSIM v1.0");
    bool selfTestFails = false;
    int rawPoints = 1025;                   // points announced in the raw buffer
    int eraseMs = 1500;                     // flash stays busy this long after an erase
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
