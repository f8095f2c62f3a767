// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/output.h"

#include <QJsonDocument>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#include <fcntl.h>
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

#ifdef _WIN32
// The console as it was before prepareConsole(), put back at exit: the code
// page belongs to the console, not to us, and whatever runs in it after us
// would otherwise get ours. A handle of our own, as standard output is
// closed before the end.
struct {
    HANDLE out = nullptr;
    DWORD mode = 0;
    UINT codePage = 0;
    bool redraws = false;
} console;

void restoreConsole()
{
    if (console.out)
        ::SetConsoleMode(console.out, console.mode);
    if (console.codePage)
        ::SetConsoleOutputCP(console.codePage);
}

HANDLE consoleOf(DWORD stream)
{
    const HANDLE handle = ::GetStdHandle(stream);
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) ? handle : nullptr;
}
#endif

// The reason a write just failed. Windows' C runtime has no errno for a pipe
// whose reader has gone (it says EINVAL); that is the broken pipe it is
// everywhere else, and reads so.
int writeError()
{
    const int error = errno;
#ifdef _WIN32
    const unsigned long system = _doserrno;
    if (error == EINVAL &&
        (system == ERROR_NO_DATA || system == ERROR_BROKEN_PIPE || system == ERROR_PIPE_NOT_CONNECTED))
        return EPIPE;
#endif
    return error;
}

void clearWriteError()
{
    errno = 0;
#ifdef _WIN32
    _doserrno = 0;
#endif
}

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
    clearWriteError();
    const bool ok = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) == std::size_t(bytes.size()) &&
                    (!newline || std::fputc('\n', stream) != EOF) && std::fflush(stream) == 0;
    if (!ok && stream == stdout)
        noteStdoutFailure(writeError());
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

void prepareConsole()
{
#ifdef _WIN32
    const HANDLE out = consoleOf(STD_OUTPUT_HANDLE);
    if (!out && !consoleOf(STD_ERROR_HANDLE))
        return;
    // Everything we write is UTF-8, errors included, and goes to the console
    // as it is: in text mode the C runtime reads each byte in the locale's
    // code page and hands the console something else, and unbuffered (as it
    // keeps a console) it hands over a character's bytes one by one, which
    // the console can't put together. Every write here is flushed at its end.
    console.codePage = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(CP_UTF8);
    for (FILE *stream : {stdout, stderr}) {
        if (consoleOf(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE)) {
            ::_setmode(_fileno(stream), _O_BINARY);
            std::setvbuf(stream, nullptr, _IOFBF, 64 * 1024);
        }
    }
    if (out && ::GetConsoleMode(out, &console.mode) &&
        ::DuplicateHandle(::GetCurrentProcess(), out, ::GetCurrentProcess(), &console.out, 0, FALSE,
                          DUPLICATE_SAME_ACCESS)) {
        // A console from before Windows 10 refuses it and would show the
        // cursor sequences as text: redrawsInPlace() then says no.
        console.redraws = ::SetConsoleMode(out, console.mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    }
    std::atexit(restoreConsole);
#endif
}

bool redrawsInPlace()
{
#ifdef _WIN32
    return console.redraws;
#else
    return ::isatty(1) == 1;
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
    clearWriteError();
    const bool flushed = std::fflush(stdout) == 0;
    const int flushError = writeError();
    const bool closed = std::fclose(stdout) == 0;
    if (!flushed || !closed)
        noteStdoutFailure(flushed ? writeError() : flushError);
    return flushed && closed;
}

QString outputFailure()
{
    return stdoutFailure;
}

} // namespace Output
