// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "formats/livelog.h"

#include <QFileInfo>

#include "formats/liverecord.h"
#include "os/safefile.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
#ifdef Q_OS_UNIX
QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
#endif
} // namespace

bool LiveLog::active() const
{
#ifdef Q_OS_UNIX
    return fd_ >= 0;
#else
    return file_.isOpen();
#endif
}

bool LiveLog::start(const QString &path, QString *why)
{
    stop();
    path_ = path;
    rows_ = 0;
    end_ = 0;
    lost_ = false;
    const QString target = SafeFile::writeTarget(path, why);
    if (target.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    // Emptied only once it is known to be a regular file: what was one a
    // moment ago may be a FIFO now, and one without a reader must not block.
    fd_ = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        *why = systemError(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("it is not a regular file");
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    device_ = quint64(st.st_dev);
    inode_ = quint64(st.st_ino);
    if (::ftruncate(fd_, 0) != 0) {
        *why = systemError(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
#else
    file_.setFileName(target);
    // Unbuffered, so that a write the system refuses is known with its row.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *why = file_.errorString();
        return false;
    }
#endif
    if (writeLine(LiveRecord::csvHeader(), why))
        return true;
    closeFile();
    return false;
}

void LiveLog::closeFile()
{
#ifdef Q_OS_UNIX
    ::close(fd_);
    fd_ = -1;
#else
    file_.close();
#endif
}

bool LiveLog::append(const QString &row, QString *why)
{
    if (!stillAtPath()) {
        *why = QStringLiteral("the file was deleted or replaced");
        return false;
    }
    if (!writeLine(row, why))
        return false;
    ++rows_;
    return true;
}

bool LiveLog::writeLine(const QString &line, QString *why)
{
    const QByteArray bytes = line.toUtf8() + '\n';
#ifdef Q_OS_UNIX
    qint64 written = 0;
    if (SafeFile::writeAll(fd_, bytes, &written, why)) {
        end_ += bytes.size();
        return true;
    }
    // Part of a row would make the file no CSV: the part goes.
    if (written > 0 && (::ftruncate(fd_, end_) != 0 || ::lseek(fd_, end_, SEEK_SET) != end_))
        *why += QStringLiteral("; the part of a row written could not be taken back: %1").arg(systemError(errno));
#else
    if (file_.write(bytes) == bytes.size()) {
        end_ += bytes.size();
        return true;
    }
    *why = file_.errorString();
    if (!file_.resize(end_) || !file_.seek(end_))
        *why += QStringLiteral("; the part of a row written could not be taken back: %1").arg(file_.errorString());
#endif
    return false;
}

bool LiveLog::stillAtPath()
{
    if (lost_)
        return false;
#ifdef Q_OS_UNIX
    struct stat own, there;
    if (::fstat(fd_, &own) == 0 && own.st_nlink == 0) {
        lost_ = true;
    } else if (::stat(QFile::encodeName(path_).constData(), &there) != 0) {
        // A directory we may no longer read says nothing about the file.
        lost_ = errno == ENOENT || errno == ENOTDIR;
    } else {
        lost_ = quint64(there.st_dev) != device_ || quint64(there.st_ino) != inode_;
    }
#else
    lost_ = !QFileInfo::exists(path_);
#endif
    return !lost_;
}

void LiveLog::stop()
{
    if (!active())
        return;
    stillAtPath();
    closeFile();
}
