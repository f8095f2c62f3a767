// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

// The window's settings file, config.ini: its language and the port it last
// used. The command line reads the language from it too, so finding it needs
// nothing but Qt Core.
namespace ConfigFile {

// The stored language choice, "1" Chinese or "2" English, under the
// settings library's General group ("[%General]" in the file).
inline const QString kLanguageGroup = QStringLiteral("General");
inline const QString kLanguageKey = QStringLiteral("LangureType");
inline QString languageEntry()
{
    return kLanguageGroup + QLatin1Char('/') + kLanguageKey;
}

// Why a write to the file would not last.
enum class Problem {
    None,
    NotAFile, // config.ini is something other than a regular file (or a link to one)
    NoHome,   // the copy keeps no file beside itself and there is no per-user folder
    NoFolder, // the per-user folder can't be made
};

struct Place {
    // The file to read from; empty when it is no regular file, which a
    // settings object must never be made on.
    QString path;
    // Whether a write there lasts.
    bool keeps = false;
    Problem problem = Problem::None;
    // What stood in the way, in the system's own separators: NotAFile names
    // the file, NoFolder the folder, each with why; NoHome and NoFolder name
    // the program's own directory, whose file is still read.
    QString refused;
    QString why;
    QString programDir;
};

// A copy in a folder of its own keeps the file beside the executable as long
// as that folder takes it. An installed copy never writes there, even as
// root, and each user keeps a file of their own; so does a copy whose folder
// can't be written, instead of losing what it stores. The per-user folder is
// the application's (QCoreApplication::applicationName()), and is made here
// if it is missing.
Place find();

} // namespace ConfigFile
