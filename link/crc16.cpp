#include "link/crc16.h"

namespace {
// One entry per nibble value: the remainder of that nibble shifted through the
// polynomial 0x1021. Sixteen entries keep the table in a cache line or two.
constexpr std::uint16_t kNibbleTable[16] = {
    0x0000, 0x1021, 0x2042, 0x3063, 0x4084, 0x50A5, 0x60C6, 0x70E7,
    0x8108, 0x9129, 0xA14A, 0xB16B, 0xC18C, 0xD1AD, 0xE1CE, 0xF1EF,
};
} // namespace

std::uint16_t crc16(const std::uint8_t *data, std::uint8_t length)
{
    std::uint16_t crc = 0;
    for (std::uint8_t i = 0; i < length; ++i) {
        const std::uint8_t b = data[i];
        crc = static_cast<std::uint16_t>((crc << 4) ^ kNibbleTable[(crc >> 12) ^ (b >> 4)]);
        crc = static_cast<std::uint16_t>((crc << 4) ^ kNibbleTable[(crc >> 12) ^ (b & 0x0F)]);
    }
    return crc;
}
