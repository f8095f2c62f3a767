// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

#include <vector>

#include "link/paramexchange.h"

// The five functions as files and command lines spell them, in the window's
// row order. They are keys of the backup format and the prefixes of the log
// columns, so a caption renamed in the window must not rename them.
inline constexpr const char *kFunctionNames[kFunctionCount] = {"tilt", "pan", "mode", "rec", "zoom"};

inline QString functionName(int function)
{
    return QString::fromLatin1(kFunctionNames[function]);
}

// SBUS carries channels 1 to 18. A slot holding any other number (a
// controller never set up, or set by another tool) drives its function from
// no channel at all.
inline bool isSbusChannel(int channel)
{
    return channel >= 1 && channel <= 18;
}

// The functions whose slot in `block` holds no SBUS channel, in row order.
inline std::vector<int> functionsOutOfRange(const ParamBlock &block)
{
    std::vector<int> out;
    for (int f = 0; f < kFunctionCount; ++f) {
        if (!isSbusChannel(block[std::size_t(kFunctionSlot[f])]))
            out.push_back(f);
    }
    return out;
}
