// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

// Whether an executable in the directory `dir` is an installed copy. An
// installed copy shares its directory with other programs and writes nothing
// beside itself, even where it could (run as root, or from a prefix its user
// owns). That is a copy under a system prefix (/usr, /bin, /sbin,
// /snap), under the user's own prefix ~/.local, or in the directory this
// build installs its programs to. Any other copy lives in a folder of its
// own, a build tree or an unpacked archive, and keeps its files there.
bool isInstalledCopy(const QString &dir);
