// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

// Whether an executable in the directory `dir` is an installed copy. An
// installed copy shares its directory with other programs and writes nothing
// beside itself, even where it could (run as root or as an administrator, or
// from a prefix its user owns). That is a copy under a system prefix (/usr,
// /bin, /sbin, /snap), under the user's own prefix ~/.local, on Windows under
// Program Files, Program Files (x86) or the per-user %LOCALAPPDATA%\Programs,
// or in the directory this build installs its programs to. Any other copy
// lives in a folder of its own, a build tree or an unpacked archive, and
// keeps its files there.
bool isInstalledCopy(const QString &dir);

// Whether this process can make files in `dir` now; if not, *why says why,
// naming the directory. Unix asks the file system for the effective
// identity's rights. Windows has no such question to ask cheaply: its
// read-only flag, all that QFileInfo::isWritable() looks at, means nothing
// for a folder, and Program Files refuses a user who is no administrator
// without it. There a uniquely named file is made and removed again.
bool directoryTakesFiles(const QString &dir, QString *why = nullptr);
