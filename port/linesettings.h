// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QSerialPort>

// The controller's line: 115200 baud both ways, 8 data bits, no parity, one
// stop bit, no flow control. Applied once the port is open, so the settings
// reach the device itself and not only the port object; the CLI goes through
// the same call so the window and it can't drift apart.
inline void applyLineSettings(QSerialPort &port)
{
    port.setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    port.setParity(QSerialPort::NoParity);
    port.setDataBits(QSerialPort::Data8);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}
