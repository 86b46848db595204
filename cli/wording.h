#pragma once

#include "requestoutcome.h"

#include <QString>

// The command line's English words for what the device object reports.
namespace Wording {

// "refused (function 03, register 70): code 02, illegal data address".
QString outcome(const RequestOutcome &outcome);

} // namespace Wording
