// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>

#include <io.h>
#endif

#include "port/portlist.h"
#include "version.h"

namespace WindowCommandLine {

namespace {
#ifdef Q_OS_WIN
DWORD standardHandle(FILE *stream)
{
    return stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

bool usable(FILE *stream)
{
    const HANDLE handle = ::GetStdHandle(standardHandle(stream));
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// A window program has no console: started from cmd or PowerShell its
// standard output and error lead nowhere, and what it has to say goes to the
// console of whoever started it. A stream already handed over (redirected to
// a file or a pipe, or a Unix shell's under Wine) is kept as it is.
bool reachable(FILE *stream)
{
    if (usable(stream))
        return true;
    // Denied: attached already (Wine attaches a window program to the
    // console it was started from).
    static const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) || ::GetLastError() == ERROR_ACCESS_DENIED;
    if (!attached)
        return false;
    const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE)
        ::SetStdHandle(standardHandle(stream), console);
    return usable(stream);
}
#endif

bool print(FILE *stream, const QString &text)
{
#ifdef Q_OS_WIN
    // A console shows UTF-16 as it is, where bytes would be read in its own
    // code page; and it may be one attached to after the C runtime started.
    const HANDLE handle = ::GetStdHandle(standardHandle(stream));
    DWORD mode, written;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        return ::WriteConsoleW(handle, text.utf16(), DWORD(text.size()), &written, nullptr) &&
               written == DWORD(text.size());
    }
#endif
    const QByteArray bytes = text.toLocal8Bit();
    return std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) == std::size_t(bytes.size()) &&
           std::fflush(stream) == 0;
}

// What the command line itself answers: help, the version, a usage error.
bool answer(FILE *stream, const QString &text)
{
#ifdef Q_OS_WIN
    // Nobody to read it on a stream: a message box, then.
    if (!reachable(stream)) {
        ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t *>(text.trimmed().utf16()), L"sbus-channel",
                      MB_OK | (stream == stderr ? MB_ICONWARNING : MB_ICONINFORMATION));
        return true;
    }
#endif
    return print(stream, text);
}

// Help or version that did not reach standard output (a full disk, a closed
// pipe) is a failure, said where it can still be read.
int printAnswer(const QString &text)
{
    if (answer(stdout, text))
        return 0;
    const int error = errno;
    answer(stderr, QStringLiteral("sbus-channel: could not write to standard output (%1)\n")
                      .arg(QString::fromLocal8Bit(std::strerror(error))));
    return 1;
}
} // namespace

Outcome parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sets which SBUS receiver channel drives each of a camera gimbal's five functions,\n"
        "over a serial line to the gimbal controller. For scripts and terminals without a\n"
        "display, use sbus-channel-cli."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("List the serial device at <path> first and choose it (a /dev/serial/by-id name, "
                       "a pseudo-terminal, ...). May be given more than once; a device that is not there "
                       "yet is listed when it appears."),
        QStringLiteral("path"));
    parser.addOptions({help, version, port});

    Outcome outcome;
    if (!parser.parse(arguments)) {
        answer(stderr, QStringLiteral("sbus-channel: %1\nSee: sbus-channel --help\n").arg(parser.errorText()));
        outcome.exitCode = 2;
        return outcome;
    }
    if (!parser.positionalArguments().isEmpty()) {
        answer(stderr, QStringLiteral("sbus-channel: unexpected argument \"%1\"; ports are chosen with --port PATH\n"
                                     "See: sbus-channel --help\n")
                          .arg(parser.positionalArguments().constFirst()));
        outcome.exitCode = 2;
        return outcome;
    }
    if (parser.isSet(help)) {
        outcome.exitCode = printAnswer(parser.helpText());
        return outcome;
    }
    if (parser.isSet(version)) {
        outcome.exitCode = printAnswer(QStringLiteral("sbus-channel %1\n").arg(QStringLiteral(SBUS_CHANNEL_VERSION)));
        return outcome;
    }
    for (const QString &path : parser.values(port)) {
        if (path.isEmpty()) {
            answer(stderr, QStringLiteral("sbus-channel: --port takes a device path\nSee: sbus-channel --help\n"));
            outcome.exitCode = 2;
            return outcome;
        }
    }
    outcome.run = true;
    // Relative to where we were started, whatever the directory is later.
    for (const QString &path : parser.values(port))
        outcome.ports << PortList::absoluteName(path);
    return outcome;
}

bool displayAvailable(const QStringList &arguments)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS) && !defined(Q_OS_ANDROID) && !defined(Q_OS_IOS)
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    return arguments.contains(QStringLiteral("-platform")) || arguments.contains(QStringLiteral("--platform"));
#else
    Q_UNUSED(arguments);
    return true;
#endif
}

bool displayAvailable(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return displayAvailable(arguments);
}

int noDisplay(const char *program, const char *instead)
{
    std::fprintf(stderr,
                 "%s: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set); %s\n",
                 program, instead);
    return 1;
}

void registerPorts(const QStringList &ports)
{
    for (const QString &path : ports) {
        PortList::registerPort(path);
        if (!PortList::isPresent(path))
            print(stderr, QStringLiteral("sbus-channel: %1 is not there now; it is listed when it appears\n")
                              .arg(PortList::systemLocation(path)));
    }
}

} // namespace WindowCommandLine
