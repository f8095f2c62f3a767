// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

// A freshly opened pseudo-terminal pair in raw mode, so no byte of a frame is
// taken for a control character on either side. The slave side is a serial
// device node that QSerialPort opens by path like any adapter. The caller
// owns and closes both descriptors; on failure both are -1 and error says why.
struct RawPty {
    int master = -1;
    int slave = -1;
    QString path;
    QString error;
};

RawPty openRawPty();
