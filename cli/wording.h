#pragma once

#include "requestoutcome.h"

#include <QString>

// English words for what the device object reports: the command line's,
// and the production station's, whose records keep them.
namespace Wording {

// "refused (function 03, register 70): code 02, illegal data address".
QString outcome(const RequestOutcome &outcome);

} // namespace Wording
