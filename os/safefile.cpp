// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "os/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <iterator>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define SBUS_READ ::read
#define SBUS_WRITE ::write
#else
#include <windows.h>

#include <io.h>
#define SBUS_READ ::_read
#define SBUS_WRITE ::_write
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

#ifdef Q_OS_WIN
// Windows resolves only symbolic links and junctions, in the file system. A
// shortcut (.lnk), which Qt counts as a link too, is a file like any other
// to the system and to every program that opens it by name; it is read and
// replaced as the file it is, never the file Explorer would open for it.
std::wstring nativeName(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString systemError(DWORD error)
{
    // The words the other systems use, and the messages of both programs.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return QString::fromLocal8Bit(std::strerror(ENOENT));
    return qt_error_string(int(error)).trimmed();
}

// What the path names, links followed; only looked at, never read or written.
HANDLE openToLook(const QString &path)
{
    return ::CreateFileW(nativeName(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

QString kindOfHandle(HANDLE handle)
{
    switch (::GetFileType(handle)) {
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info;
        if (::GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return QStringLiteral("a directory");
        return QStringLiteral("a regular file");
    }
    case FILE_TYPE_CHAR: return QStringLiteral("a character device");
    case FILE_TYPE_PIPE: return QStringLiteral("a pipe");
    default: return QStringLiteral("not a regular file");
    }
}

const QString kRegular = QStringLiteral("a regular file");

// The file a link leads to, by the name the system gives it.
QString finalName(HANDLE handle)
{
    wchar_t buffer[32768];
    const DWORD n = ::GetFinalPathNameByHandleW(handle, buffer, DWORD(std::size(buffer)), FILE_NAME_NORMALIZED);
    if (n == 0 || n >= std::size(buffer))
        return {};
    QString name = QString::fromWCharArray(buffer, int(n));
    if (name.startsWith(QLatin1String("\\\\?\\UNC\\")))
        name = QLatin1String("\\\\") + name.mid(8);
    else if (name.startsWith(QLatin1String("\\\\?\\")))
        name = name.mid(4);
    return QDir::fromNativeSeparators(name);
}

bool writeHandle(HANDLE handle, const QByteArray &data, QString *why)
{
    qint64 done = 0;
    while (done < data.size()) {
        DWORD n = 0;
        if (!::WriteFile(handle, data.constData() + done, DWORD(data.size() - done), &n, nullptr)) {
            *why = systemError(::GetLastError());
            return false;
        }
        if (n == 0) {
            *why = QStringLiteral("the system took no more of it");
            return false;
        }
        done += n;
    }
    // A full disk may only say so here.
    if (!::FlushFileBuffers(handle)) {
        *why = systemError(::GetLastError());
        return false;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle, &size)) {
        *why = systemError(::GetLastError());
        return false;
    }
    if (size.QuadPart != data.size()) {
        *why = QStringLiteral("only %1 of %2 bytes reached the file").arg(size.QuadPart).arg(data.size());
        return false;
    }
    return true;
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
    const HANDLE handle = openToLook(path);
    if (handle == INVALID_HANDLE_VALUE)
        return systemError(::GetLastError());
    const QString kind = kindOfHandle(handle);
    ::CloseHandle(handle);
    return kind;
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
        // A new file: its directory has to be there; the write says the rest.
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
    const DWORD attributes = ::GetFileAttributesW(nativeName(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            *why = systemError(error);
            return {};
        }
        const QString dir = QFileInfo(path).absolutePath();
        if (!QFileInfo(dir).isDir()) {
            *why = QStringLiteral("there is no directory %1").arg(dir);
            return {};
        }
        return path;
    }
    const bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    const HANDLE handle = openToLook(path);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        *why = link && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                   ? QStringLiteral("it is a link to %1, which does not exist").arg(QFileInfo(path).symLinkTarget())
                   : systemError(error);
        return {};
    }
    const QString kind = kindOfHandle(handle);
    // A link is followed to its end, so a file kept elsewhere stays linked.
    const QString target = link && kind == kRegular ? finalName(handle) : path;
    ::CloseHandle(handle);
    if (kind != kRegular) {
        *why = link ? QStringLiteral("it is a link to %1, which is %2, not a regular file")
                          .arg(QFileInfo(path).symLinkTarget(), kind)
                    : QStringLiteral("it is %1, not a regular file").arg(kind);
        return {};
    }
    if (target.isEmpty())
        *why = QStringLiteral("it is a link, and the system does not say to what");
    return target;
#endif
}

#ifdef Q_OS_UNIX
namespace {
// Beside the file it will replace, so that the rename stays on one file
// system, and never a name that is already there.
int createTemporary(const QString &target, mode_t mode, QString *name, QString *why)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString suffix;
        for (int i = 0; i < 6; ++i)
            suffix += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)]);
        *name = target + QLatin1Char('.') + suffix;
        const int fd = ::open(QFile::encodeName(*name).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST) {
            *why = systemError(errno);
            return -1;
        }
    }
    *why = QStringLiteral("no free name for a temporary file beside it");
    return -1;
}

// Everything up to the rename, on the temporary file: a step the system
// refuses, or a file that ends up shorter than the data, fails the save.
bool fillTemporary(int fd, const QByteArray &data, QString *why)
{
    qint64 written = 0;
    if (!writeAll(fd, data, &written, why))
        return false;
    // A file system that allocates late says it is full only here.
    int result;
    do
        result = ::fsync(fd);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        *why = systemError(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *why = systemError(errno);
        return false;
    }
    if (st.st_size != data.size()) {
        *why = QStringLiteral("only %1 of %2 bytes reached the file").arg(st.st_size).arg(data.size());
        return false;
    }
    return true;
}

// The rename is only as lasting as the directory that holds it. Where the
// directory can't be opened or the file system can't sync one, there is
// nothing more to be done, and the file is in place.
bool syncDirectory(const QString &target, QString *why)
{
    const int dir = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return true;
    const bool synced = ::fsync(dir) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS;
    if (!synced)
        *why = QStringLiteral("it was replaced, but the system could not confirm that the change is on the disk: %1")
                   .arg(systemError(errno));
    ::close(dir);
    return synced;
}
} // namespace
#endif

bool writeAll(int fd, const QByteArray &data, qint64 *written, QString *why)
{
    *written = 0;
    while (*written < data.size()) {
        const auto n = SBUS_WRITE(fd, data.constData() + *written, unsigned(data.size() - *written));
        if (n > 0) {
            *written += n;
        } else if (n == 0) {
            *why = QStringLiteral("the system took no more of it");
            return false;
        } else if (errno != EINTR) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool replace(const QString &path, const QByteArray &data, QString *why)
{
    const QString target = writeTarget(path, why);
    if (target.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    // An existing file keeps its permissions; until they are set, nobody
    // else can open the new one. A new file gets what the umask leaves.
    struct stat old;
    const bool existed = ::stat(QFile::encodeName(target).constData(), &old) == 0;
    QString temporary;
    const int fd = createTemporary(target, existed ? 0600 : 0666, &temporary, why);
    if (fd < 0)
        return false;
    const QByteArray temporaryName = QFile::encodeName(temporary);
    bool ok = true;
    if (existed && ::fchmod(fd, old.st_mode & 0777) != 0) {
        *why = systemError(errno);
        ok = false;
    }
    ok = ok && fillTemporary(fd, data, why);
    // Some file systems report a lost write only when the file is closed.
    if (::close(fd) != 0 && ok) {
        *why = systemError(errno);
        ok = false;
    }
    // The rename at the end replaces whatever is there by then; something put
    // there while we wrote is left alone.
    QString again;
    if (ok && writeTarget(path, &again) != target) {
        *why = again.isEmpty() ? QStringLiteral("it changed while it was being written") : again;
        ok = false;
    }
    if (ok && ::rename(temporaryName.constData(), QFile::encodeName(target).constData()) != 0) {
        *why = systemError(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporaryName.constData());
        return false;
    }
    return syncDirectory(target, why);
#else
    // QSaveFile would follow a shortcut to its target: the same steps as on
    // Unix instead, beside the file, renamed over it at the end.
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        QString suffix;
        for (int i = 0; i < 6; ++i)
            suffix += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)]);
        temporary = target + QLatin1Char('.') + suffix;
        handle = ::CreateFileW(nativeName(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            *why = systemError(::GetLastError());
            return false;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        *why = QStringLiteral("no free name for a temporary file beside it");
        return false;
    }
    bool ok = writeHandle(handle, data, why);
    if (!::CloseHandle(handle) && ok) {
        *why = systemError(::GetLastError());
        ok = false;
    }
    QString again;
    if (ok && writeTarget(path, &again) != target) {
        *why = again.isEmpty() ? QStringLiteral("it changed while it was being written") : again;
        ok = false;
    }
    if (ok && !::MoveFileExW(nativeName(temporary).c_str(), nativeName(target).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *why = systemError(::GetLastError());
        ok = false;
    }
    if (!ok)
        ::DeleteFileW(nativeName(temporary).c_str());
    return ok;
#endif
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

bool readRegular(const QString &path, qint64 maxBytes, QByteArray *data, QString *why, bool tail)
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
    bool ok = regular;
    if (ok && tail && st.st_size > maxBytes + 1 && ::lseek(fd, st.st_size - (maxBytes + 1), SEEK_SET) < 0) {
        *why = systemError(errno);
        ok = false;
    }
    ok = ok && readToEnd(fd, maxBytes, data, why);
    ::close(fd);
    return ok;
#else
    // Looked at through the handle it is read by: a pipe or a device is
    // refused before anything is read from it, so nothing can block.
    const HANDLE handle = ::CreateFileW(nativeName(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *why = systemError(::GetLastError());
        return false;
    }
    const QString kind = kindOfHandle(handle);
    bool ok = kind == kRegular;
    if (!ok)
        *why = QStringLiteral("it is %1, not a regular file").arg(kind);
    LARGE_INTEGER size;
    if (ok && tail && ::GetFileSizeEx(handle, &size) && size.QuadPart > maxBytes + 1) {
        LARGE_INTEGER from;
        from.QuadPart = size.QuadPart - (maxBytes + 1);
        if (!::SetFilePointerEx(handle, from, nullptr, FILE_BEGIN)) {
            *why = systemError(::GetLastError());
            ok = false;
        }
    }
    QByteArray out;
    char buffer[8192];
    while (ok && out.size() <= maxBytes) {
        DWORD n = 0;
        if (!::ReadFile(handle, buffer, sizeof buffer, &n, nullptr)) {
            *why = systemError(::GetLastError());
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            out.append(buffer, int(n));
        }
    }
    ::CloseHandle(handle);
    if (ok)
        *data = out.left(int(maxBytes + 1));
    return ok;
#endif
}

} // namespace SafeFile
