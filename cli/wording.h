#pragma once

#include "firmwareoutcome.h"
#include "requestoutcome.h"

#include <QString>

// English words for what the device object reports: the command line's,
// and the production station's, whose records keep them.
namespace Wording {

// "refused (function 03, register 70): code 02, illegal data address".
QString outcome(const RequestOutcome &outcome);
// "erasing the flash": a firmware update's step, as a failure names it.
QString firmwareStep(FirmwareOutcome::Step step);

} // namespace Wording
