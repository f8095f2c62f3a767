#pragma once

#include <cstdint>

// Command codes carried at offset 36 of every request and echoed by the reply.
// This is the whole set the controller knows; nothing else is ever sent.
enum CommandCode : std::uint8_t {
    WRITE_PARAM_1 = 0x19,
    WRITE_PARAM_2 = 0x20,
    WRITE_PARAM_3 = 0x21,
    READ_PARAM_1 = 0x99,
    READ_PARAM_2 = 0xA0,
    READ_PARAM_3 = 0xA1,
    POLL_POSITIONS_1 = 0xC0,
    POLL_POSITIONS_2 = 0xC1,
    POLL_GIMBAL = 0xC7,
    POLL_TEST_DATA = 0xE3,
};

// Offset-4 value of a request that asks the controller to store its block permanently.
constexpr std::uint8_t kSaveRequested = 0x02;
