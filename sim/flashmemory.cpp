#include "flashmemory.h"

FlashMemory::FlashMemory(int eraseMs, bool checkFails, bool eraseFails)
    : eraseMs(eraseMs), checkFails(checkFails), eraseFails(eraseFails),
      cells(kSize, static_cast<char>(kErased))
{
}

void FlashMemory::enterProgrammingMode()
{
    // Re-entering starts a new session: the old erase no longer vouches
    // for the cells, so blocks need a fresh erase.
    progMode = true;
    chipChecked = false;
    eraseStarted = false;
}

void FlashMemory::checkChip()
{
    chipChecked = !checkFails;
}

void FlashMemory::startErase(int64_t nowMs)
{
    eraseStarted = true;
    eraseDoneAtMs = nowMs + eraseMs;
    cells.fill(static_cast<char>(kErased));
    highWater = 0;
    blockCount = 0;
    flag = false;
}

bool FlashMemory::eraseRunning(int64_t nowMs) const
{
    return eraseStarted && (eraseFails || nowMs < eraseDoneAtMs);
}

uint32_t FlashMemory::status(int64_t nowMs) const
{
    if (!progMode || !chipChecked || eraseRunning(nowMs))
        return 0;
    return kReady;
}

FlashMemory::WriteResult FlashMemory::writeBlock(uint32_t address, const QByteArray &data, int64_t nowMs)
{
    if (data.isEmpty() || data.size() > kMaxBlock)
        return WriteResult::BadLength;
    if (address >= static_cast<uint32_t>(kSize) || data.size() > kSize - static_cast<int>(address))
        return WriteResult::OutOfRange;
    if (!progMode || !eraseStarted)
        return WriteResult::NotAllowed;
    if (eraseRunning(nowMs))
        return WriteResult::Busy;
    const int start = static_cast<int>(address);
    cells.replace(start, data.size(), data);
    highWater = qMax(highWater, start + data.size());
    ++blockCount;
    return WriteResult::Written;
}

QByteArray FlashMemory::writtenImage() const
{
    return cells.left(highWater);
}
