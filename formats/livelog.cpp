// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "formats/livelog.h"

#include "formats/liverecord.h"
#include "os/safefile.h"

bool LiveLog::start(const QString &path, QString *why)
{
    stop();
    path_ = path;
    rows_ = 0;
    const QString target = SafeFile::writeTarget(path, why);
    if (target.isEmpty())
        return false;
    file_.setFileName(target);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *why = file_.errorString();
        return false;
    }
    if (writeLine(LiveRecord::csvHeader(), why))
        return true;
    stop();
    return false;
}

bool LiveLog::append(const QString &row, QString *why)
{
    if (!writeLine(row, why))
        return false;
    ++rows_;
    return true;
}

bool LiveLog::writeLine(const QString &line, QString *why)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    if (file_.write(bytes) != bytes.size() || !file_.flush()) {
        *why = file_.errorString();
        return false;
    }
    return true;
}

void LiveLog::stop()
{
    file_.close();
}
