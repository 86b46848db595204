#include "parameterlink.h"

#include "registermap.h"
#include "serialtop.h"

namespace ParameterLink {

using namespace RegisterMap;
using DeviceParameters::Parameter;

void requestRead(SerialTop *top, const Parameter &parameter)
{
    switch (parameter.holding) {
    case Holding::ProtType: top->getProtType(); break;
    case Holding::AdrMb: top->getAdrMb(); break;
    case Holding::FmcwBand: top->getFmcwBandGHz(); break;
    case Holding::FreqRed: top->getFreqRed(); break;
    case Holding::SizeLockData: top->getSizeLockData(); break;
    case Holding::DetThCoefMin: top->getDetThCoefMin(); break;
    case Holding::DetThCoefMax: top->getDetThCoefMax(); break;
    case Holding::DetSmthCoef: top->getDetSmthCoef(); break;
    case Holding::DetMtiCoef: top->getDetMtiCoef(); break;
    case Holding::DetThCoefDC: top->getDetThCoefDC(); break;
    case Holding::TrsSmthCoef: top->getTrsSmthCoef(); break;
    default: break;
    }
}

void requestWrite(SerialTop *top, const Parameter &parameter, double value)
{
    // The values were checked against their register before they got here.
    const int word = static_cast<int>(value);
    const float real = static_cast<float>(value);
    switch (parameter.holding) {
    case Holding::ProtType: top->setProtType(word); break;
    case Holding::AdrMb: top->setAdrMb(word); break;
    case Holding::FmcwBand: top->setFmcwBandGHz(word); break;
    case Holding::FreqRed: top->setFreqRed(word); break;
    case Holding::SizeLockData: top->setSizeLockData(word); break;
    case Holding::DetThCoefMin: top->setDetThCoefMin(real); break;
    case Holding::DetThCoefMax: top->setDetThCoefMax(real); break;
    case Holding::DetSmthCoef: top->setDetSmthCoef(real); break;
    case Holding::DetMtiCoef: top->setDetMtiCoef(real); break;
    case Holding::DetThCoefDC: top->setDetThCoefDC(real); break;
    case Holding::TrsSmthCoef: top->setTrsSmthCoef(real); break;
    default: break;
    }
}

void onValues(SerialTop *top, QObject *context, const std::function<void(uint16_t, double)> &handler)
{
    auto link = [&](auto signal, uint16_t holding) {
        QObject::connect(top, signal, context, [handler, holding](auto value) { handler(holding, double(value)); });
    };
    link(&SerialTop::rcvProtocolType, Holding::ProtType);
    link(&SerialTop::rcv_AdrMb, Holding::AdrMb);
    link(&SerialTop::rcvFmcwBandGHz, Holding::FmcwBand);
    link(&SerialTop::rcv_FreqReduct, Holding::FreqRed);
    link(&SerialTop::rcv_SizeLockData, Holding::SizeLockData);
    link(&SerialTop::rcv_DetThCoefMin, Holding::DetThCoefMin);
    link(&SerialTop::rcv_DetThCoefMax, Holding::DetThCoefMax);
    link(&SerialTop::rcv_DetSmthCoef, Holding::DetSmthCoef);
    link(&SerialTop::rcv_DetMtiCoef, Holding::DetMtiCoef);
    link(&SerialTop::rcv_DetThCoefDC, Holding::DetThCoefDC);
    link(&SerialTop::rcv_TrsSmthCoef, Holding::TrsSmthCoef);
}

} // namespace ParameterLink
