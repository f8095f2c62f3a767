// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <cstdio>

#include "app/tiravo.h"
#include "os/safefile.h"
#include "rig/keptfile.h"

// The language file of a window that starts in English. The settings library
// keeps a group named General under [%General]; a plain [General] section
// would hold top-level keys instead.
inline constexpr char kEnglishLanguageFile[] = "[%General]\nLangureType=2\n";

// Measurements compare English captions, so the window must start in English
// whatever the bench's stored choice is. This puts an English file there for
// the life of the object and leaves the file as it was found afterwards.
// Make it after the application object, which knows the executable's directory.
class EnglishConfig
{
public:
    EnglishConfig()
    {
        QString why;
        if (!SafeFile::replace(kept.path(), QByteArray(kEnglishLanguageFile), &why))
            std::fprintf(stderr, "could not write %s, so the window may not start in English: %s\n",
                         qPrintable(kept.path()), qPrintable(why));
    }

private:
    KeptFile kept{Tiravo::languageFilePath()};
};
