// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

#include "lang/language.h"

// The pair's text for the language, for code that speaks QString.
inline QString textIn(const TextPair &text, Language language)
{
    return QString::fromUtf8(pick(text, language));
}
