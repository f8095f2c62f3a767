// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QByteArray>

class Tiravo;

// The controller's end of a pseudo-terminal, driven step by step by a test.
// The window's own timer is stopped; each tick is run by invoking the slot,
// and the peer waits for I/O (never for a time) until the request is on the
// line or the reply has been taken in.
class ControllerPeer
{
public:
    ControllerPeer(Tiravo &window, int masterFd);

    // Runs one tick of the window and returns the request it put on the line
    // (empty if none came within a generous bound).
    QByteArray tick();
    // Runs one tick that must not send anything (port closed).
    void idleTick();
    // Writes bytes as the controller would and returns once the window has read them all.
    bool send(const QByteArray &bytes);

private:
    void readLine();

    Tiravo &window;
    int fd;
    QByteArray fromWindow;
};
