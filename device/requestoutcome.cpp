#include "requestoutcome.h"

#include "modbuscodec.h"

namespace {
constexpr int kMinRequestSize = 4; // address, function and a 16-bit address
}

RequestOutcome RequestOutcome::failed(Failure failure, const QByteArray &request)
{
    RequestOutcome outcome;
    outcome.failure = failure;
    if (request.size() >= kMinRequestSize) {
        outcome.function = static_cast<uint8_t>(request[1]);
        outcome.address = static_cast<uint16_t>(ModbusCodec::bigEndian(request, 2, 2));
    }
    return outcome;
}

RequestOutcome RequestOutcome::refused(const QByteArray &request, uint8_t code)
{
    RequestOutcome outcome = failed(Failure::Refused, request);
    outcome.exceptionCode = code;
    return outcome;
}

RequestOutcome RequestOutcome::portLost(const QByteArray &request, const QString &port, const QString &portError)
{
    RequestOutcome outcome = failed(Failure::PortLost, request);
    outcome.port = port;
    outcome.portError = portError;
    return outcome;
}

RequestOutcome RequestOutcome::notConfirmed(uint16_t address, double written, double readBack)
{
    RequestOutcome outcome;
    outcome.failure = Failure::NotConfirmed;
    outcome.function = ModbusCodec::ReadHoldingRegisters;
    outcome.address = address;
    outcome.written = written;
    outcome.readBack = readBack;
    return outcome;
}
