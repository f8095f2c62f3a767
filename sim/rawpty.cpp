// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "sim/rawpty.h"

#include <cerrno>
#include <cstring>

#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif
#include <fcntl.h>
#include <termios.h>

RawPty openRawPty()
{
    RawPty pty;
    char name[256] = {};
    if (::openpty(&pty.master, &pty.slave, name, nullptr, nullptr) != 0) {
        pty.error = QString::fromLocal8Bit(std::strerror(errno));
        pty.master = pty.slave = -1;
        return pty;
    }
    // Not handed down to programs started later (a CLI under test, a shell):
    // a master held open by a child would keep the line alive after unplug().
    ::fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    termios tio{};
    if (::tcgetattr(pty.slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(pty.slave, TCSANOW, &tio);
    }
    pty.path = QString::fromLocal8Bit(name);
    return pty;
}
