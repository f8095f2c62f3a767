// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "os/stopsignals.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
#ifdef _WIN32
// Set from the thread the system runs the console handler on.
std::atomic<int> received{0};
HANDLE wakeHandle = nullptr;
HANDLE mainThread = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    return StopSignals::consoleEvent(event) ? TRUE : FALSE;
}
#else
volatile std::sig_atomic_t received = 0;
int wakeFds[2] = {-1, -1};

// Only what is safe in a handler: note the signal, wake whoever waits.
extern "C" void record(int signalNumber)
{
    // A second signal changes nothing: the first decides how the job ends.
    if (received == 0)
        received = signalNumber;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
}
#endif
} // namespace

namespace StopSignals {

void install()
{
#ifdef _WIN32
    // Once: the handler stays registered for the life of the process, so a
    // second Ctrl+C finds it as the first did (the C runtime's signal() puts
    // the default, which ends the process, back after one).
    if (wakeHandle)
        return;
    wakeHandle = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &mainThread, SYNCHRONIZE,
                      FALSE, 0);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (wakeFds[0] < 0 && ::pipe(wakeFds) == 0) {
        for (int fd : wakeFds) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    struct sigaction action {};
    action.sa_handler = record;
    // The others wait while one is recorded, so the first one sent is the one kept.
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, s);
    action.sa_flags = 0;
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
#endif
}

int pending()
{
    return received;
}

#ifdef _WIN32
void *wakeEvent()
{
    return wakeHandle;
}

int signalForConsoleEvent(unsigned long event)
{
    switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT: return kHangUp;
    case CTRL_SHUTDOWN_EVENT: return SIGTERM;
    default: return 0;
    }
}

bool consoleEvent(unsigned long event)
{
    const int signalNumber = signalForConsoleEvent(event);
    if (signalNumber == 0)
        return false;
    int none = 0;
    received.compare_exchange_strong(none, signalNumber);
    ::SetEvent(wakeHandle);
    // Ctrl+C and Ctrl+Break leave the process be once handled. For the
    // others the system ends it as soon as this returns, so it returns only
    // when the main thread is through; that ends in exit(), which takes this
    // thread down with the process and leaves the exit code ours. The bound
    // is for a main thread stuck elsewhere, and the system's own comes first.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(mainThread, kHoldMs);
    return true;
}
#else
int wakeDescriptor()
{
    return wakeFds[0];
}
#endif

QString describe(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT: return QStringLiteral("interrupted (Ctrl+C)");
    case SIGTERM:
#ifdef _WIN32
        return QStringLiteral("terminated (the system is shutting down)");
    case SIGBREAK: return QStringLiteral("interrupted (Ctrl+Break)");
    case kHangUp: return QStringLiteral("hung up (the console was closed, or the user logged off)");
#else
        return QStringLiteral("terminated (SIGTERM)");
    case SIGHUP: return QStringLiteral("hung up (SIGHUP: the terminal went away)");
#endif
    default: return QStringLiteral("stopped by signal %1").arg(signalNumber);
    }
}

} // namespace StopSignals
