// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <cstdint>

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR. The length is a byte because no frame of the protocol is longer than
// 255 bytes; a length of 0 gives 0.
std::uint16_t crc16(const std::uint8_t *data, std::uint8_t length);
