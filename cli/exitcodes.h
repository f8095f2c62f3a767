// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// What sbus-channel-cli returns. Scripts on a production line branch on these,
// so the numbers never change meaning.
namespace ExitCode {
constexpr int kOk = 0;
constexpr int kNotDone = 1;         // the operator declined, or a file could not be written
constexpr int kDiffers = 1;         // diff: the two blocks are not the same, as diff(1) says it
constexpr int kUsage = 2;           // bad command line, channel out of range
constexpr int kPortUnavailable = 3; // the port could not be opened, or went away
constexpr int kDeviceSilent = 4;    // fifteen requests in a row went unanswered
constexpr int kDeviceRefused = 5;   // save failed, read-back differs, or no usable answer
constexpr int kFileRefused = 6;     // the backup file is malformed or not one of ours, or undo has nothing to undo
} // namespace ExitCode
