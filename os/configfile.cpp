// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "os/configfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#endif

#include "os/installedcopy.h"
#include "os/safefile.h"

namespace ConfigFile {
namespace {

// The per-user settings folder, or empty where there is none: a program
// never writes at the file system's root or relative to wherever it was
// started from, which is what the settings library does without HOME.
QString perUserFolder()
{
    const QString own = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString home = qEnvironmentVariable("HOME");
    const bool homeUsable = home.startsWith(QLatin1Char('/'));
    // Test mode puts everything under HOME, whatever XDG_CONFIG_HOME says.
    if (QStandardPaths::isTestModeEnabled())
        return homeUsable ? own : QString();
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.startsWith(QLatin1Char('/')))
        return own;
    if (!homeUsable)
        return {};
    if (configHome.isEmpty())
        return own;
    // A relative XDG_CONFIG_HOME is to be ignored, but Qt 5 takes it as it
    // stands; the folder is rebuilt on the default base.
    const QString generic = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString tail = own.startsWith(generic) ? own.mid(generic.size())
                                                 : QLatin1Char('/') + QCoreApplication::applicationName();
    return QDir::cleanPath(home) + QStringLiteral("/.config") + tail;
#else
    return QDir::isAbsolutePath(own) ? own : QString();
#endif
}

// Like QDir::mkpath, but it says which part stood in the way and why.
bool makeFolder(const QString &folder, QString *why)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    for (int end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? path : path.left(end);
        struct stat st;
        int error = 0;
        if (::stat(part.constData(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                error = ENOTDIR;
        } else if (errno != ENOENT) {
            error = errno;
        } else if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST) {
            error = errno;
        }
        if (error) {
            *why = QFile::decodeName(part) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
            return false;
        }
        if (end < 0)
            return true;
    }
#else
    if (QDir().mkpath(folder))
        return true;
    *why = QStringLiteral("it can't be made");
    return false;
#endif
}

// The file a settings object may be made on: config.ini itself, or the
// regular file it links to. Empty for anything else: the settings library
// would block the window on a FIFO before it ever shows, and its atomic
// rename would turn a device node into a file of ours.
Place placeAt(const QString &file)
{
    Place place;
    QString why;
    place.path = SafeFile::writeTarget(file, &why);
    place.keeps = !place.path.isEmpty();
    if (!place.keeps) {
        place.problem = Problem::NotAFile;
        place.refused = QDir::toNativeSeparators(file);
        place.why = why;
    }
    return place;
}

} // namespace

Place find()
{
    const QString dir = QCoreApplication::applicationDirPath();
    const QString beside = dir + QStringLiteral("/config.ini");
    if (!isInstalledCopy(dir) && directoryTakesFiles(dir))
        return placeAt(beside);
    const QString folder = perUserFolder();
    QString why;
    if (folder.isEmpty() || !makeFolder(folder, &why)) {
        // The file beside us is still read; what it holds is all there is.
        Place place = placeAt(beside);
        place.keeps = false;
        place.problem = folder.isEmpty() ? Problem::NoHome : Problem::NoFolder;
        place.refused = folder.isEmpty() ? QString() : QDir::toNativeSeparators(folder);
        place.why = folder.isEmpty() ? QString() : why;
        place.programDir = QDir::toNativeSeparators(dir);
        return place;
    }
    const QString own = folder + QStringLiteral("/config.ini");
    // A choice stored beside the executable before its directory became
    // read-only, or left there by whoever installed it, is where this user's
    // file starts from, so it is not lost.
    const QString source = SafeFile::writeTarget(beside, &why);
    if (!QFileInfo::exists(own) && !source.isEmpty() && QFileInfo::exists(source))
        QFile::copy(source, own);
    return placeAt(own);
}

} // namespace ConfigFile
