#include "firmwareimage.h"

namespace FirmwareImage {

void Checksum::add(uint32_t word)
{
    // Sums with end-around carry; b takes the unfolded sum of a and word.
    const uint64_t t = uint64_t(a) + word;
    const uint64_t u = uint64_t(b) + t;
    a = static_cast<uint32_t>((t & 0xFFFFFFFFu) + (t >> 32));
    b = static_cast<uint32_t>((u & 0xFFFFFFFFu) + (u >> 32));
}

uint32_t littleEndianWord(const char *bytes)
{
    const auto *p = reinterpret_cast<const uint8_t *>(bytes);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

Checksum checksum(const QByteArray &payload)
{
    Checksum sum;
    for (int i = 0; i + 4 <= payload.size(); i += 4)
        sum.add(littleEndianWord(payload.constData() + i));
    return sum;
}

Problem check(const QByteArray &image)
{
    if (image.size() % 4 != 0)
        return Problem::Length;
    if (image.size() > kMaxSize)
        return Problem::Size;
    if (image.size() < kTrailerSize)
        return Problem::Checksum;
    const Checksum sum = checksum(image.left(image.size() - kTrailerSize));
    const char *trailer = image.constData() + image.size() - kTrailerSize;
    return littleEndianWord(trailer) == sum.a && littleEndianWord(trailer + 4) == sum.b ? Problem::None
                                                                                         : Problem::Checksum;
}

QByteArray withTrailer(const QByteArray &payload)
{
    const Checksum sum = checksum(payload);
    QByteArray image = payload;
    for (uint32_t word : {sum.a, sum.b})
        for (int shift = 0; shift < 32; shift += 8)
            image.append(static_cast<char>((word >> shift) & 0xFF));
    return image;
}

} // namespace FirmwareImage
