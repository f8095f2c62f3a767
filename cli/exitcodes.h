// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <string_view>

// What sbus-channel-cli returns. Scripts on a production line branch on these,
// so the numbers never change meaning. The constants and the overview's list
// (sbus-channel-cli --help) both come from the one table below, so what the
// program returns and what it tells scripts it returns can't part.
namespace ExitCode {

struct Meaning {
    int code;
    const char *name; // the constant that stands for it
    // What the overview says of it. Rows of one code stand together and share
    // its line, joined by "; "; lines after the first are indented under it.
    const char *description;
    // The code is a base that a signal's number is added to: listed as 128+N.
    bool plusSignal = false;
};

inline constexpr Meaning kMeanings[] = {
    {0, "kOk", "done"},
    {0, "kSame", "diff: the two blocks are the same"},
    {1, "kNotDone",
     "not done: you declined or gave no answer, or the backup file or standard\n"
     "output could not be written"},
    {1, "kDiffers", "diff: the two blocks differ"},
    {2, "kUsage",
     "usage error, or a channel outside 1..18 given, or left in place by set\n"
     "without --force (nothing was written)"},
    {3, "kPortUnavailable", "the port could not be opened, or went away"},
    {4, "kDeviceSilent", "the controller is silent (15 requests in a row unanswered)"},
    {5, "kDeviceRefused", "the controller refused: a save failed, a read-back differs, or its answers never fit"},
    {6, "kFileRefused",
     "the backup file was refused: it can't be read, is not a regular file, is not\n"
     "a well-formed backup, or holds a channel outside 1..18 and restore was not\n"
     "given --force; or undo found no write through that adapter in the history\n"
     "(nothing was sent)"},
    {128, "kSignalled",
     "stopped by signal N (130 Ctrl+C, 143 SIGTERM, 129 SIGHUP); a write under way\n"
     "is finished first, and what the controller then holds is said",
     true},
};

// The code of the row called `name`. Evaluated while compiling: a name the
// table lacks stops the build rather than making up a number.
constexpr int codeNamed(std::string_view name)
{
    for (const Meaning &m : kMeanings) {
        if (name == m.name)
            return m.code;
    }
    throw "no exit code of that name";
}

constexpr int kOk = codeNamed("kOk");
constexpr int kSame = codeNamed("kSame");
constexpr int kNotDone = codeNamed("kNotDone");
constexpr int kDiffers = codeNamed("kDiffers");
constexpr int kUsage = codeNamed("kUsage");
constexpr int kPortUnavailable = codeNamed("kPortUnavailable");
constexpr int kDeviceSilent = codeNamed("kDeviceSilent");
constexpr int kDeviceRefused = codeNamed("kDeviceRefused");
constexpr int kFileRefused = codeNamed("kFileRefused");
constexpr int kSignalled = codeNamed("kSignalled"); // plus the signal's number

} // namespace ExitCode
