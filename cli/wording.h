#pragma once

#include "firmwareoutcome.h"
#include "requestoutcome.h"
#include "cause.h"

#include <QString>

// English words for what the device object reports and for what a
// station's records keep: the command line's, in one place.
namespace Wording {

// "refused (function 03, register 70): code 02, illegal data address".
QString outcome(const RequestOutcome &outcome);
// "erasing the flash": a firmware update's step, as a failure names it.
QString firmwareStep(FirmwareOutcome::Step step);
// "mean 5.2 outside [4.95, 5.05]": why a step or a run did not pass, as the
// records keep it; a record older than causes keeps its own sentence.
QString cause(const Station::Cause &cause);

} // namespace Wording
