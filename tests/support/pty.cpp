// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "pty.h"

#include <unistd.h>

#include "sim/rawpty.h"

PtyPair::PtyPair()
{
    const RawPty pty = openRawPty();
    masterFd = pty.master;
    slaveFd = pty.slave;
    path = pty.path;
}

PtyPair::~PtyPair()
{
    if (slaveFd >= 0)
        ::close(slaveFd);
    if (masterFd >= 0)
        ::close(masterFd);
}
