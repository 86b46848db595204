#pragma once

#include "flashmemory.h"
#include "modelconfig.h"

#include <QByteArray>
#include <QVector>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>

// The altimeter as its Modbus slave presents it: coils, holding and input
// registers, the drifting distance, the self-test, the raw data buffer and
// the program flash. It takes complete request frames and returns answer
// frames; how bytes reach it and when answers leave is the line's business.
class DeviceModel
{
public:
    // Milliseconds on a monotonic clock; tests pass their own to step time.
    using Clock = std::function<int64_t()>;

    // Points the raw data registers can hold; past the announced count they read 0.
    static constexpr int kMaxRawPoints = 1100;
    static constexpr int kSelfTestMs = 100;
    static constexpr int kDistanceSwingPeriodMs = 20000;
    static constexpr float kDistanceSwing = 2.0f;
    // Modbus limits on the quantity of one read and one write-multiple.
    static constexpr int kMaxReadQuantity = 125;
    static constexpr int kMaxWriteQuantity = 123;

    explicit DeviceModel(const ModelConfig &config, Clock clock = {});

    // The answer to one request frame, or nothing when the device stays
    // silent: a frame not for it, a bad CRC, or a step that fails on purpose.
    std::optional<QByteArray> handle(const QByteArray &request);

    float distance() const;
    // Told each distance a read was answered with, as it is drawn.
    void setDistanceObserver(std::function<void(float)> observer) { distanceGiven = std::move(observer); }
    const FlashMemory &flash() const { return flashMemory; }

    struct Register
    {
        uint16_t address;
        uint16_t value;
    };
    // Every holding register the map defines, in address order.
    QVector<Register> holdingRegisters() const;

private:
    std::optional<QByteArray> readRegisters(const QByteArray &request, bool input);
    std::optional<QByteArray> writeCoil(const QByteArray &request);
    // Flash commands work only in programming mode.
    std::optional<QByteArray> flashCommand(const QByteArray &request, uint16_t coil);
    std::optional<QByteArray> writeRegister(const QByteArray &request);
    std::optional<QByteArray> writeRegisters(const QByteArray &request);
    std::optional<QByteArray> programBlock(const QByteArray &request);
    std::optional<QByteArray> resetAddress(const QByteArray &request, bool broadcast);

    bool holdingReadable(int adr) const;
    bool holdingWritable(int adr) const;
    bool inputReadable(int adr) const;
    bool valueAcceptable(int adr, uint16_t value) const;
    void storeHolding(uint16_t adr, uint16_t value);
    uint16_t inputRegister(int adr) const;
    void prepareRawBuffer();
    void finishSelfTest();

    float drawDistance();

    ModelConfig config;
    Clock clock;
    std::mt19937_64 spreadRandom;
    std::optional<float> drawnDistance;     // the read under way's, with the spread
    std::function<void(float)> distanceGiven;
    int64_t startMs;
    int64_t nowMs = 0;          // time of the request being handled

    QVector<uint16_t> holding;  // indexed by address
    QVector<bool> holdingMapped;

    bool selfTestRunning = false;
    int64_t selfTestDoneAtMs = 0;
    uint32_t selfTestVerdict = 0;

    QVector<float> rawBuffer;
    uint32_t rawSeed = 1;

    FlashMemory flashMemory;
};
