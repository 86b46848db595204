// The request engine's receive path: whatever the line hands over, in any
// chunks, around whatever request is in flight: the requests the program
// sends, and reads of any register.
#include "fuzzsupport.h"

#include "frametext.h"
#include "linemonitor.h"
#include "linewording.h"
#include "modbuscodec.h"
#include "registermap.h"
#include "serialtop.h"

namespace {
// More than the longest answer plus the noise a line may put around it,
// as the receive path keeps it.
constexpr int kMaxPendingBytes = 1024;
} // namespace

// Stands where the send loop stands: hands the receive path its request and
// its bytes, and reads what it concluded.
class FrameProcessingProbe
{
public:
    explicit FrameProcessingProbe(SerialTop &top) : top(top) {}

    // What the send loop does as a request goes out.
    void send(const QByteArray &request, int answerSize)
    {
        top.prepareRequest(request, answerSize);
        top.reportLine(FrameDecoder::request(request));
    }
    // What the send loop does when the wait ends without an answer.
    void timeOut()
    {
        top.reportTimeOut(top.curRequest);
        top.answerSize = 0;
    }
    void receive(const QByteArray &chunk) { top._logRx(chunk); }
    void logBytes(bool on) { top.logRxByteEn = on; }

    const QByteArray &request() const { return top.curRequest; }
    int answerSize() const { return top.answerSize; }
    bool acknowledged() const { return top.ackReceived; }
    bool refused() const { return top.pendingFailure.failure == RequestOutcome::Failure::Refused; }
    bool awaiting() const { return answerSize() > 0 && !acknowledged() && !refused(); }
    int pendingBytes() const { return top.rxBuffer.size(); }

private:
    SerialTop &top;
};

namespace {

using namespace RegisterMap;
using ModbusCodec::readRequest;

struct Request
{
    QByteArray bytes;
    int answerSize;
};

Request read(uint8_t function, uint16_t address, uint16_t quantity)
{
    return {readRequest(function, address, quantity), ModbusCodec::answerSize(function, quantity)};
}

Request write(uint8_t function, uint16_t address, uint16_t first, uint16_t second = 0)
{
    const uint16_t values[2] = {first, second};
    const uint16_t quantity = function == ModbusCodec::WriteMultipleRegisters ? 2 : 1;
    return {ModbusCodec::writeRequest(function, address, values, quantity), ModbusCodec::answerSize(function, quantity)};
}

// The requests the program sends, as the engine builds them.
const QVector<Request> &knownRequests()
{
    static const QByteArray block(256, '\x5A');
    static const QVector<Request> requests = {
        {ModbusCodec::resetAddressRequest(), 0}, // the broadcast: nobody awaits its echo
        read(ModbusCodec::ReadInputRegisters, Input::Distance, 2),
        read(ModbusCodec::ReadInputRegisters, Input::Period, 2),
        read(ModbusCodec::ReadInputRegisters, Input::SelfTestVerdict, 2),
        read(ModbusCodec::ReadInputRegisters, Input::FlashStatus, 2),
        read(ModbusCodec::ReadInputRegisters, Input::RawDataCount, 1),
        read(ModbusCodec::ReadInputRegisters, Input::RawDataFirst, 100),
        read(ModbusCodec::ReadHoldingRegisters, Holding::Revision, Holding::RevisionLength),
        read(ModbusCodec::ReadHoldingRegisters, Holding::First, Holding::Last - Holding::First + 2),
        read(ModbusCodec::ReadHoldingRegisters, Holding::ProtType, 1),
        read(ModbusCodec::ReadHoldingRegisters, Holding::DetThCoefMax, 2),
        write(ModbusCodec::WriteSingleCoil, Coil::ConnectionProbe, 0),
        write(ModbusCodec::WriteSingleCoil, Coil::StartSelfTest, Coil::On),
        write(ModbusCodec::WriteSingleRegister, Holding::RawDataType, 2),
        write(ModbusCodec::WriteMultipleRegisters, Holding::DetThCoefMin, ModbusCodec::floatHigh(0.5f),
              ModbusCodec::floatLow(0.5f)),
        {ModbusCodec::programBlockRequest(0x200, block.size(), reinterpret_cast<const uint8_t *>(block.constData())),
         ModbusCodec::answerSize(ModbusCodec::ProgramBlock, 1)},
    };
    return requests;
}

// The input as records, so that a seed is a request's number and the
// bytes of a real answer.
class Records
{
public:
    Records(const uint8_t *data, size_t size) : data(data), size(size) {}
    bool atEnd() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t word()
    {
        const uint16_t high = byte();
        return static_cast<uint16_t>(high << 8 | byte());
    }
    QByteArray bytes(int count)
    {
        const int n = int(qMin(size - at, size_t(count)));
        const QByteArray taken(reinterpret_cast<const char *>(data + at), n);
        at += size_t(n);
        return taken;
    }

private:
    const uint8_t *data;
    size_t size;
    size_t at = 0;
};

// Whether bytes hold, anywhere, a whole answer or refusal to the request
// with a good CRC, an answer carrying the request's byte count or echo.
bool holdsAnswer(const QByteArray &bytes, const QByteArray &request, int answerSize)
{
    const char function = request[1];
    for (int at = 0; at + 1 < bytes.size(); ++at) {
        if (bytes[at] != request[0])
            continue;
        const bool refusal =
            static_cast<uint8_t>(bytes[at + 1]) == (static_cast<uint8_t>(function) | ModbusCodec::kExceptionFlag);
        const int size = bytes[at + 1] == function ? answerSize : refusal ? ModbusCodec::kExceptionAnswerSize : 0;
        if (size == 0 || at + size > bytes.size())
            continue;
        const QByteArray frame = bytes.mid(at, size);
        // An answer of the right length that names another request (its
        // byte count or echo) is not this one's.
        if (ModbusCodec::crcValid(frame) && (refusal || ModbusCodec::answerFits(frame, request)))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication();
    return 0;
}

// Records: 0 REQUEST (a known request's number; past them, an arbitrary
// read: function, address, quantity), 1 LENGTH CHUNK BYTES... (received in
// pieces of CHUNK, 0 for one piece), 2 the wait times out, 3 FLAG (log the
// received bytes or not, and hand out the monitor's frames).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    Records input(bytes, size);
    SerialTop top;
    FrameProcessingProbe probe(top);
    LineCounters counters;
    // Every frame the monitor records is worded as the window and the trace word it.
    QObject::connect(&top, &SerialTop::lineFrames, [](const QVector<LineFrame> &frames) {
        for (const LineFrame &frame : frames) {
            LineWording::describe(frame);
            FrameText::values(frame);
            FrameText::hex(frame.bytes);
        }
    });
    QObject::connect(&top, &SerialTop::lineCounters, [&counters](const LineCounters &latest) { counters = latest; });

    while (!input.atEnd()) {
        switch (input.byte() % 4) {
        case 0: {
            const int which = input.byte();
            if (which < knownRequests().size()) {
                probe.send(knownRequests().at(which).bytes, knownRequests().at(which).answerSize);
                break;
            }
            const uint8_t functions[] = {ModbusCodec::ReadCoils, ModbusCodec::ReadHoldingRegisters,
                                         ModbusCodec::ReadInputRegisters};
            const uint8_t function = functions[which % 3];
            const uint16_t address = input.word();
            // Modbus caps a register read at 125 registers, a coil read at 2000.
            const uint16_t quantity = input.word() % (function == ModbusCodec::ReadCoils ? 2001 : 126);
            const Request request = read(function, address, quantity);
            probe.send(request.bytes, request.answerSize);
            break;
        }
        case 1: {
            const int length = input.byte();
            const int chunk = input.byte();
            const QByteArray received = input.bytes(length);
            const bool settles = probe.awaiting() && holdsAnswer(received, probe.request(), probe.answerSize());
            for (int at = 0; at < received.size(); at += chunk > 0 ? chunk : received.size()) {
                probe.receive(received.mid(at, chunk > 0 ? chunk : received.size()));
                FUZZ_CHECK(probe.pendingBytes() <= kMaxPendingBytes);
                FUZZ_CHECK(!(probe.acknowledged() && probe.refused()));
            }
            // A whole answer or refusal to the request in flight settles it,
            // whatever came around it and however it was cut.
            if (settles)
                FUZZ_CHECK(probe.acknowledged() || probe.refused());
            break;
        }
        case 2:
            if (probe.awaiting())
                probe.timeOut();
            break;
        default:
            probe.logBytes(input.byte() & 1);
            top.flushLineMonitor();
            FUZZ_CHECK(counters.roundTrips == counters.answers + counters.refusals);
            LineWording::describeCounters(counters);
            break;
        }
    }
    top.flushLineMonitor();
    FUZZ_CHECK(counters.roundTrips == counters.answers + counters.refusals);
    return 0;
}
