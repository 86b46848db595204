#pragma once

#include <QByteArray>
#include <cstdint>

// Firmware image rules: length a multiple of 4, at most kMaxSize bytes, and
// two little-endian checksum words at the end over all words before them.
namespace FirmwareImage {

constexpr qint64 kMaxSize = 1999999;
constexpr int kTrailerSize = 8;
constexpr uint32_t kChecksumSeed = 0xDEADBEEF;

struct Checksum
{
    uint32_t a = kChecksumSeed;
    uint32_t b = kChecksumSeed;
    void add(uint32_t word);
};

// Checksum over the little-endian words of payload (its size a multiple of 4).
Checksum checksum(const QByteArray &payload);

uint32_t littleEndianWord(const char *bytes);

// What is wrong with a whole image, if anything; checked in this order.
enum class Problem { None, Length, Size, Checksum };
Problem check(const QByteArray &image);

// Appends the two checksum words to payload, making a valid image.
QByteArray withTrailer(const QByteArray &payload);

} // namespace FirmwareImage
