#pragma once

#include <QByteArray>
#include <cstdint>

// The altimeter's program flash as the update procedure sees it: a
// programming mode, a chip check, a timed erase, block writes and the flag
// that marks the written firmware valid. Times are in milliseconds on the
// owner's clock, so a test can step time without waiting.
class FlashMemory
{
public:
    static constexpr int kSize = 2000000;
    static constexpr int kMaxBlock = 256;
    static constexpr uint8_t kErased = 0xFF;
    // What the status registers hold when the flash is ready.
    static constexpr uint32_t kReady = 1;

    enum class WriteResult {
        Written,
        NotAllowed,     // not in programming mode, or not erased since entering it
        Busy,           // erase still running
        OutOfRange,     // block reaches past the end of the flash
        BadLength,      // empty or longer than kMaxBlock
    };

    FlashMemory(int eraseMs, bool checkFails, bool eraseFails);

    void enterProgrammingMode();
    bool programmingMode() const { return progMode; }

    void checkChip();
    void startErase(int64_t nowMs);
    bool eraseRunning(int64_t nowMs) const;
    // kReady once the chip check passed and no erase is running; 0 otherwise.
    uint32_t status(int64_t nowMs) const;

    WriteResult writeBlock(uint32_t address, const QByteArray &data, int64_t nowMs);
    // Program blocks accepted since the last erase.
    int blocksWritten() const { return blockCount; }

    void setFirmwareFlag() { flag = true; }
    bool firmwareFlag() const { return flag; }

    // The flash from address 0 up to the highest byte any block wrote.
    QByteArray writtenImage() const;

private:
    int eraseMs;
    bool checkFails;
    bool eraseFails;

    bool progMode = false;
    bool chipChecked = false;
    bool eraseStarted = false;
    int64_t eraseDoneAtMs = 0;
    bool flag = false;
    int blockCount = 0;
    int highWater = 0;      // one past the highest written byte
    QByteArray cells;
};
