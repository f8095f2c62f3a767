// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// The two languages the program speaks, a text in both, and the one way a
// text is picked for a language. Plain C++ on the ground floor, so the port
// diagnostics, the file formats and the window's own tables all speak
// through the same three names. Texts are UTF-8.

enum class Language { English, Chinese };

struct TextPair {
    const char *chinese;
    const char *english;
};

constexpr const char *pick(const TextPair &text, Language language)
{
    return language == Language::Chinese ? text.chinese : text.english;
}
