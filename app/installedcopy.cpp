// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/installedcopy.h"

#include <QDir>
#include <QFileInfo>

bool isInstalledCopy(const QString &dir)
{
    if (dir.isEmpty())
        return false;
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(dir));
    const auto within = [&clean](const QString &prefix) {
        return clean == prefix || clean.startsWith(prefix + QLatin1Char('/'));
    };
#ifdef Q_OS_UNIX
    for (const char *prefix : {"/usr", "/bin", "/sbin", "/snap"}) {
        if (within(QLatin1String(prefix)))
            return true;
    }
    const QString home = QDir::cleanPath(qEnvironmentVariable("HOME"));
    if (home.startsWith(QLatin1Char('/')) && home != QLatin1String("/") && within(home + QStringLiteral("/.local")))
        return true;
#endif
    // The executable's directory comes with its links resolved; the
    // configured one may run through a link, such as /usr/local.
    const QString bindir = QDir::cleanPath(QStringLiteral(SBUS_CHANNEL_INSTALL_BINDIR));
    const QString resolved = QFileInfo(bindir).canonicalFilePath();
    return clean == bindir || (!resolved.isEmpty() && clean == resolved);
}
