#include "registermap.h"

namespace RegisterMap {

namespace {
// Indexed by address - 16; 75 entries cover 16..90.
constexpr int kHoldParamSize[Holding::Last - Holding::First + 1] = {
    1, 0, 18, 0, 0, 0, 0, 0, 0, 0,  // 16..25
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // 26..35
    0, 1, 1, 1, 0, 0, 0, 0, 0, 0,   // 36..45
    0, 0, 0, 0, 1, 0, 0, 0, 0, 0,   // 46..55
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // 56..65
    0, 0, 0, 0, 1, 2, 0, 2, 0, 2,   // 66..75
    0, 2, 0, 2, 0, 0, 0, 0, 0, 0,   // 76..85
    0, 0, 0, 0, 2,                  // 86..90
};
} // namespace

int holdingBlockSize(uint16_t adr)
{
    if (adr < Holding::First || adr > Holding::Last)
        return 0;
    return kHoldParamSize[adr - Holding::First];
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
