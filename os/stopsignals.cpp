// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "os/stopsignals.h"

#include <csignal>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
volatile std::sig_atomic_t received = 0;
int wakeFds[2] = {-1, -1};

// Only what is safe in a handler: note the signal, wake whoever waits.
extern "C" void record(int signalNumber)
{
    // A second signal changes nothing: the first decides how the job ends.
    if (received == 0)
        received = signalNumber;
#ifndef _WIN32
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
#endif
}
} // namespace

namespace StopSignals {

void install()
{
#ifdef _WIN32
    std::signal(SIGINT, record);
    std::signal(SIGTERM, record);
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

int wakeDescriptor()
{
    return wakeFds[0];
}

QString describe(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT: return QStringLiteral("interrupted (Ctrl+C)");
    case SIGTERM: return QStringLiteral("terminated (SIGTERM)");
#ifndef _WIN32
    case SIGHUP: return QStringLiteral("hung up (SIGHUP: the terminal went away)");
#endif
    default: return QStringLiteral("stopped by signal %1").arg(signalNumber);
    }
}

} // namespace StopSignals
