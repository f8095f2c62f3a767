// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/output.h"

#include <QJsonDocument>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "formats/functionnames.h"
#include "formats/liverecord.h"
#include "link/linktask.h"
#include "link/paramexchange.h"

namespace {
QString stdoutFailure;
bool stdoutClosedAtStart = false;
bool stdoutFinished = false;

void noteStdoutFailure(int error)
{
    if (stdoutFailure.isEmpty())
        stdoutFailure = stdoutClosedAtStart ? QStringLiteral("it is closed")
                                            : QString::fromLocal8Bit(std::strerror(error ? error : EIO));
}

bool writeBytes(FILE *stream, const QByteArray &bytes, bool newline)
{
    if (stream == stdout && (stdoutFinished || !stdoutFailure.isEmpty())) {
        noteStdoutFailure(EBADF);
        return false;
    }
    errno = 0;
    const bool ok = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) == std::size_t(bytes.size()) &&
                    (!newline || std::fputc('\n', stream) != EOF) && std::fflush(stream) == 0;
    if (!ok && stream == stdout)
        noteStdoutFailure(errno);
    return ok;
}

void writeLine(FILE *stream, const QByteArray &bytes)
{
    writeBytes(stream, bytes, true);
}

QString signedNumber(int v)
{
    return v > 0 ? QStringLiteral("+%1").arg(v) : QString::number(v);
}
} // namespace

namespace Output {

QString slotName(int slot)
{
    for (int f = 0; f < kFunctionCount; ++f) {
        if (kFunctionSlot[f] == slot)
            return QStringLiteral("slot %1 (%2)").arg(slot).arg(functionName(f));
    }
    return QStringLiteral("slot %1").arg(slot);
}

QJsonObject channelsJson(const ParamBlock &block)
{
    QJsonObject o;
    for (int f = 0; f < kFunctionCount; ++f)
        o.insert(functionName(f), int(block[std::size_t(kFunctionSlot[f])]));
    return o;
}

QString channelsLine(const ParamBlock &block)
{
    QStringList parts;
    for (int f = 0; f < kFunctionCount; ++f)
        parts << QStringLiteral("%1 %2").arg(functionName(f)).arg(block[std::size_t(kFunctionSlot[f])]);
    return parts.join(QStringLiteral(", "));
}

QString blockReport(const ParamBlock &block)
{
    QString text;
    for (int f = 0; f < kFunctionCount; ++f) {
        const int channel = block[std::size_t(kFunctionSlot[f])];
        text += QStringLiteral("%1 channel %2%3\n")
                    .arg(functionName(f), -5)
                    .arg(channel, 2)
                    .arg(isSbusChannel(channel) ? QString() : QStringLiteral("  (outside 1..18)"));
    }
    QStringList dec, hex;
    for (std::uint8_t b : block) {
        dec << QString::number(b);
        hex << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
    }
    text += QStringLiteral("block %1\n").arg(dec.join(QLatin1Char(' ')));
    text += QStringLiteral("hex   %1").arg(hex.join(QLatin1Char(' ')));
    return text;
}

QJsonArray outOfRangeJson(const ParamBlock &block)
{
    QJsonArray names;
    for (int f : functionsOutOfRange(block))
        names.append(functionName(f));
    return names;
}

QString outOfRangeLine(const ParamBlock &block)
{
    QStringList parts;
    for (int f : functionsOutOfRange(block))
        parts << QStringLiteral("%1 %2").arg(functionName(f)).arg(block[std::size_t(kFunctionSlot[f])]);
    return parts.join(QStringLiteral(", "));
}

QStringList differences(const ParamBlock &from, const ParamBlock &to)
{
    QStringList lines;
    for (int i = 0; i < kParamSlots; ++i) {
        if (from[std::size_t(i)] != to[std::size_t(i)])
            lines << QStringLiteral("%1: %2 -> %3").arg(slotName(i)).arg(from[std::size_t(i)]).arg(to[std::size_t(i)]);
    }
    return lines;
}

QJsonObject liveJson(const LinkTask &task, const QDateTime &time)
{
    const ParamExchange &x = task.exchange();
    QJsonObject positions, test;
    for (int f = 0; f < kFunctionCount; ++f) {
        positions.insert(functionName(f), int(x.channelPos[std::size_t(f)]));
        test.insert(functionName(f), LiveRecord::testValue(x.testData[std::size_t(f)]));
    }
    QJsonObject o;
    o.insert(QStringLiteral("time"), LiveRecord::isoTime(time));
    o.insert(QStringLiteral("cycle"), qint64(task.pollCycles()));
    o.insert(QStringLiteral("positions"), positions);
    o.insert(QStringLiteral("testData"), test);
    // The controller reports 1 while no gimbal is attached.
    o.insert(QStringLiteral("gimbalConnected"), x.gimbalState == 0);
    return o;
}

QStringList liveTable(const LinkTask &task, const QDateTime &time)
{
    const ParamExchange &x = task.exchange();
    QStringList lines;
    lines << QStringLiteral("function  channel  position  test data");
    for (int f = 0; f < kFunctionCount; ++f) {
        lines << QStringLiteral("%1  %2  %3  %4")
                     .arg(functionName(f), -8)
                     .arg(x.paramBlock[std::size_t(kFunctionSlot[f])], 7)
                     .arg(signedNumber(x.channelPos[std::size_t(f)]), 8)
                     .arg(LiveRecord::testValue(x.testData[std::size_t(f)]), 9);
    }
    // Someone watching a screen reads their own clock, not UTC.
    lines << QStringLiteral("gimbal %1, cycle %2 at %3")
                 .arg(LiveRecord::gimbalText(x.gimbalState))
                 .arg(task.pollCycles())
                 .arg(time.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
    return lines;
}

QString liveLine(const LinkTask &task, const QDateTime &time)
{
    const ParamExchange &x = task.exchange();
    QStringList parts{LiveRecord::isoTime(time)};
    for (int f = 0; f < kFunctionCount; ++f)
        parts << QStringLiteral("%1 %2 (%3)")
                     .arg(functionName(f))
                     .arg(signedNumber(x.channelPos[std::size_t(f)]))
                     .arg(LiveRecord::testValue(x.testData[std::size_t(f)]));
    parts << QStringLiteral("gimbal ") + LiveRecord::gimbalText(x.gimbalState);
    return parts.join(QStringLiteral("  "));
}

void print(const QString &text)
{
    writeLine(stdout, text.toUtf8());
}

void printError(const QString &text)
{
    writeLine(stderr, text.toUtf8());
}

void printJson(const QJsonObject &object)
{
    writeLine(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void printJson(const QJsonArray &array)
{
    writeLine(stdout, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

bool writeRaw(const QByteArray &bytes)
{
    return writeBytes(stdout, bytes, false);
}

void guardStandardStreams()
{
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one, as those below it are open.
        const int placeholder = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (placeholder >= 0 && placeholder != fd) {
            ::dup2(placeholder, fd);
            ::close(placeholder);
        }
        if (fd == 1)
            stdoutClosedAtStart = true;
    }
#endif
}

bool standardOutputWritable()
{
#ifdef _WIN32
    return _fileno(stdout) >= 0;
#else
    const int flags = ::fcntl(1, F_GETFL);
    return !stdoutClosedAtStart && flags != -1 && (flags & O_ACCMODE) != O_RDONLY;
#endif
}

bool finishStandardOutput()
{
    if (stdoutFinished || !stdoutFailure.isEmpty())
        return stdoutFailure.isEmpty();
    stdoutFinished = true;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(stdout) == 0;
    if (!flushed || !closed)
        noteStdoutFailure(flushed ? errno : flushError);
    return flushed && closed;
}

QString outputFailure()
{
    return stdoutFailure;
}

} // namespace Output
