#pragma once

#include "requestoutcome.h"

#include <QMetaType>

// How a firmware update ended: the step it stopped at, and whether the
// erase had begun, after which the unit holds no complete firmware until an
// update runs to the end.
struct FirmwareOutcome
{
    enum class Step {
        None,             // the update ran to the end
        File,             // the image file is missing or unreadable
        Image,            // the image fails its check
        Revision,
        ProgrammingMode,
        FlashCheck,
        Erase,
        Program,
        Flag,
    };

    Step failedStep = Step::None;
    bool eraseBegan = false;
    // The request that failed at that step; done when the device answered
    // but reported a fault (flash not ready), or the file was at fault, or
    // the update was interrupted (then Interrupted).
    RequestOutcome request;
    int blockOffset = 0;    // Program: where the failed block starts

    bool ok() const { return failedStep == Step::None; }
    // The device answered, but said the step did not succeed.
    bool deviceFault() const
    {
        return !ok() && request.ok() && failedStep != Step::File && failedStep != Step::Image;
    }
};

Q_DECLARE_METATYPE(FirmwareOutcome)
Q_DECLARE_METATYPE(FirmwareOutcome::Step)
