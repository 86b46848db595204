#include "registermap.h"

#include "deviceparameters.h"

namespace RegisterMap {

Block holdingBlock(uint16_t adr)
{
    if (adr == Holding::Revision)
        return {Holding::RevisionLength, ValueType::Text};
    if (adr == Holding::RawDataType)
        return {1, ValueType::Word};
    const DeviceParameters::Parameter *parameter = DeviceParameters::atRegister(adr);
    if (!parameter)
        return {};
    return {DeviceParameters::registerCount(parameter->kind),
            parameter->kind == DeviceParameters::Kind::Float ? ValueType::Float : ValueType::Word};
}

Block inputBlock(uint16_t adr)
{
    switch (adr) {
    case Input::Period:
    case Input::Distance:
        return {2, ValueType::Float};
    case Input::SelfTestVerdict:
    case Input::FlashStatus:
        return {2, ValueType::Long};
    case Input::RawDataCount:
        return {1, ValueType::Word};
    default:
        // A raw point is a float pair; its second register starts nothing.
        if (adr >= Input::RawDataFirst && adr <= Input::RawDataLast && (adr - Input::RawDataFirst) % 2 == 0)
            return {2, ValueType::Float};
        return {};
    }
}

} // namespace RegisterMap
