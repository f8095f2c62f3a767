// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "os/installedcopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#ifdef Q_OS_WIN
#include <initguid.h>
#include <knownfolders.h>
#include <shlobj.h>
#endif

namespace {
#ifdef Q_OS_WIN
// Where installers put programs, for all users and for this one; asked of the
// system, as the folders' names and drives differ between installations.
QString knownFolder(const KNOWNFOLDERID &id)
{
    PWSTR path = nullptr;
    QString folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path && path[0])
        folder = QDir::cleanPath(QDir::fromNativeSeparators(QString::fromWCharArray(path)));
    ::CoTaskMemFree(path);
    return folder;
}

QStringList installPlaces()
{
    QStringList places{knownFolder(FOLDERID_ProgramFiles), knownFolder(FOLDERID_ProgramFilesX86)};
    // Where per-user installers put programs; older systems (and Wine) know
    // the folder only by where it lies.
    QString perUser = knownFolder(FOLDERID_UserProgramFiles);
    if (perUser.isEmpty()) {
        const QString local = knownFolder(FOLDERID_LocalAppData);
        if (!local.isEmpty())
            perUser = local + QStringLiteral("/Programs");
    }
    places.append(perUser);
    places.removeAll(QString());
    return places;
}
#endif
} // namespace

bool isInstalledCopy(const QString &dir)
{
    if (dir.isEmpty())
        return false;
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(dir));
#ifdef Q_OS_WIN
    // "C:\Program Files" is "c:/program files" too.
    constexpr Qt::CaseSensitivity kCase = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity kCase = Qt::CaseSensitive;
#endif
    const auto within = [&clean, kCase](const QString &prefix) {
        return clean.compare(prefix, kCase) == 0 || clean.startsWith(prefix + QLatin1Char('/'), kCase);
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
#ifdef Q_OS_WIN
    for (const QString &place : installPlaces()) {
        if (within(place))
            return true;
    }
#endif
    // The executable's directory comes with its links resolved; the
    // configured one may run through a link, such as /usr/local.
    const QString bindir = QDir::cleanPath(QStringLiteral(SBUS_CHANNEL_INSTALL_BINDIR));
    const QString resolved = QFileInfo(bindir).canonicalFilePath();
    return clean.compare(bindir, kCase) == 0 || (!resolved.isEmpty() && clean.compare(resolved, kCase) == 0);
}

bool directoryTakesFiles(const QString &dir, QString *why)
{
#ifdef Q_OS_UNIX
    // Judged by the effective identity, the one a write is judged by; plain
    // access() asks about the real one.
    if (::faccessat(AT_FDCWD, QFile::encodeName(dir).constData(), W_OK | X_OK, AT_EACCESS) == 0)
        return true;
    if (why)
        *why = QDir::toNativeSeparators(dir) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
#else
    // Removed again when the probe goes out of scope.
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral("sbus-channel-write-test-XXXXXX.tmp")));
    if (probe.open())
        return true;
    if (why)
        *why = QDir::toNativeSeparators(dir) + QStringLiteral(": ") + probe.errorString();
    return false;
#endif
}
