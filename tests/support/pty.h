// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

// A pseudo-terminal pair. The slave side is a real serial device node that
// QSerialPort opens like an adapter; the test plays the controller on the master.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return masterFd >= 0; }
    QString slavePath() const { return path; }
    int master() const { return masterFd; }
    // Line settings are the terminal's, so they can be read through this side too.
    int slave() const { return slaveFd; }

private:
    int masterFd = -1;
    int slaveFd = -1;
    QString path;
};
