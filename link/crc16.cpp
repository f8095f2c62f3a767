// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "link/crc16.h"

#include <array>

namespace {
// One entry per byte value: its remainder shifted through the polynomial
// 0x1021, so each byte costs one look-up. Built at compile time from the
// polynomial; the same values as working through the byte nibble by nibble.
constexpr std::array<std::uint16_t, 256> makeTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        std::uint16_t crc = static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        table[byte] = crc;
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kTable = makeTable();
static_assert(kTable[1] == 0x1021 && kTable[0x10] == 0x1231 && kTable[0xFF] == 0x1EF0, "CRC-16/XMODEM table");
} // namespace

std::uint16_t crc16(const std::uint8_t *data, std::uint8_t length)
{
    std::uint16_t crc = 0;
    for (std::uint8_t i = 0; i < length; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[(crc >> 8) ^ data[i]]);
    return crc;
}
