#include "registermap.h"

#include "deviceparameters.h"

namespace RegisterMap {

int holdingBlockSize(uint16_t adr)
{
    if (adr == Holding::Revision)
        return Holding::RevisionLength;
    if (adr == Holding::RawDataType)
        return 1;
    const DeviceParameters::Parameter *parameter = DeviceParameters::atRegister(adr);
    return parameter ? DeviceParameters::registerCount(parameter->kind) : 0;
}

int inputBlockSize(uint16_t adr)
{
    switch (adr) {
    case Input::Period:
    case Input::Distance:
    case Input::SelfTestVerdict:
    case Input::FlashStatus:
        return 2;
    case Input::RawDataCount:
        return 1;
    default:
        return (adr >= Input::RawDataFirst && adr <= Input::RawDataLast) ? 2 : 0;
    }
}

} // namespace RegisterMap
