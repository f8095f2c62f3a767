// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

#include "link/paramexchange.h"

// The five functions as files and command lines spell them, in the window's
// row order. They are keys of the backup format and the prefixes of the log
// columns, so a caption renamed in the window must not rename them.
inline constexpr const char *kFunctionNames[kFunctionCount] = {"tilt", "pan", "mode", "rec", "zoom"};

inline QString functionName(int function)
{
    return QString::fromLatin1(kFunctionNames[function]);
}
