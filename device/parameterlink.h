#pragma once

#include "deviceparameters.h"

#include <functional>

class QObject;
class SerialTop;

// The device object's per-parameter slots and reports, reached by the
// parameter's holding register.
namespace ParameterLink {

void requestRead(SerialTop *top, const DeviceParameters::Parameter &parameter);
void requestWrite(SerialTop *top, const DeviceParameters::Parameter &parameter, double value);

// Calls handler(holding, value) in context's thread for every parameter
// value the device object reports.
void onValues(SerialTop *top, QObject *context, const std::function<void(uint16_t, double)> &handler);

} // namespace ParameterLink
