// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "os/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define SBUS_READ ::read
#else
#include <io.h>
#define SBUS_READ ::_read
#endif

namespace SafeFile {
namespace {

#ifdef Q_OS_UNIX
QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindOfMode(mode_t mode)
{
    static const struct {
        mode_t type;
        const char *name;
    } kKinds[] = {
        {S_IFREG, "a regular file"},     {S_IFDIR, "a directory"},    {S_IFIFO, "a FIFO"},
        {S_IFCHR, "a character device"}, {S_IFBLK, "a block device"}, {S_IFSOCK, "a socket"},
    };
    for (const auto &kind : kKinds)
        if ((mode & S_IFMT) == kind.type)
            return QString::fromLatin1(kind.name);
    return QStringLiteral("not a regular file");
}
#endif

} // namespace

QString kindOf(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return systemError(errno);
    return kindOfMode(st.st_mode);
#else
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("missing");
    return info.isDir() ? QStringLiteral("a directory")
                        : info.isFile() ? QStringLiteral("a regular file") : QStringLiteral("not a regular file");
#endif
}

QString writeTarget(const QString &path, QString *why)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) != 0) {
        const int error = errno;
        if (error != ENOENT) {
            *why = systemError(error);
            return {};
        }
        // A new file: its directory has to be there; QSaveFile says the rest.
        const QString dir = QFileInfo(path).absolutePath();
        if (!QFileInfo(dir).isDir()) {
            *why = QStringLiteral("there is no directory %1").arg(dir);
            return {};
        }
        return path;
    }
    if (S_ISREG(st.st_mode))
        return path;
    if (!S_ISLNK(st.st_mode)) {
        *why = QStringLiteral("it is %1, not a regular file").arg(kindOfMode(st.st_mode));
        return {};
    }
    // A link is followed to its end, so a file kept elsewhere stays linked.
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) {
        *why = QStringLiteral("it is a link to %1, which does not exist").arg(QFileInfo(path).symLinkTarget());
        return {};
    }
    if (::stat(QFile::encodeName(target).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("it is a link to %1, which is %2, not a regular file").arg(target, kindOf(target));
        return {};
    }
    return target;
#else
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *why = QStringLiteral("it is %1").arg(kindOf(path));
        return {};
    }
    return info.isSymLink() ? info.canonicalFilePath() : path;
#endif
}

bool replace(const QString &path, const QByteArray &data, QString *why)
{
    const QString target = writeTarget(path, why);
    if (target.isEmpty())
        return false;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        *why = file.errorString();
        return false;
    }
    // The rename at the end replaces whatever is there by then; something put
    // there while we wrote is left alone.
    QString again;
    if (writeTarget(path, &again) != target) {
        file.cancelWriting();
        *why = again.isEmpty() ? QStringLiteral("it changed while it was being written") : again;
        return false;
    }
    if (!file.commit()) {
        *why = file.errorString();
        return false;
    }
    return true;
}

bool readToEnd(int fd, qint64 maxBytes, QByteArray *data, QString *why, const std::function<bool()> &stop)
{
    QByteArray out;
    char buf[8192];
    while (out.size() <= maxBytes) {
        const auto n = SBUS_READ(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, int(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR || (stop && stop())) {
            *why = errno == EINTR ? QStringLiteral("interrupted") : QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    *data = out.left(int(maxBytes + 1));
    return true;
}

bool readRegular(const QString &path, qint64 maxBytes, QByteArray *data, QString *why)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0) {
        *why = systemError(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = QStringLiteral("it is %1, not a regular file").arg(kindOfMode(st.st_mode));
        return false;
    }
    // Non-blocking, and checked again once open: what was a file a moment ago
    // may be a FIFO now.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = systemError(errno);
        return false;
    }
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular)
        *why = QStringLiteral("it is not a regular file");
    const bool ok = regular && readToEnd(fd, maxBytes, data, why);
    ::close(fd);
    return ok;
#else
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        *why = QStringLiteral("it is %1, not a regular file").arg(kindOf(path));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return false;
    }
    *data = file.read(maxBytes + 1);
    return true;
#endif
}

} // namespace SafeFile
