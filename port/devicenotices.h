// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN

namespace PortList {

// Windows has no device directory to watch: it announces a serial port coming
// or going with WM_DEVICECHANGE, broadcast to every top-level window and sent
// to those registered for the COM port interface. A hidden window of our own
// takes them, whatever else the program shows or does not, and a loopback
// socket pair turns each into a descriptor that a resting event loop can wait
// on, as the inotify descriptor is on Linux. Both live on the thread that made
// the object, whose event loop delivers the messages.
class DeviceNotices
{
public:
    DeviceNotices();
    ~DeviceNotices();
    DeviceNotices(const DeviceNotices &) = delete;
    DeviceNotices &operator=(const DeviceNotices &) = delete;

    // Whether notices reach us at all; without the window none ever come.
    bool listening() const { return window_ != nullptr; }
    // Whether a notice that may concern a serial port came since the last
    // call; the descriptor is drained, so it is readable again only after
    // the next notice.
    bool take();
    // Readable while a notice waits; -1 where no socket pair could be made.
    // Socket handles fit an int: Windows keeps handle values 32-bit.
    int descriptor() const;

    // Whether WM_DEVICECHANGE with these parameters can mean a serial port
    // came or went: a port or COM port interface arriving or removed, or any
    // change of the device tree (for drivers that announce nothing else).
    static bool aboutPorts(quintptr wParam, qintptr lParam);
    // The hidden window's class, for finding it from outside.
    static const wchar_t kWindowClass[];

private:
    struct Window;
    void noticed();

    void *window_ = nullptr;       // HWND
    void *registration_ = nullptr; // HDEVNOTIFY
    quintptr wakeRead_;            // SOCKET, INVALID_SOCKET for none
    quintptr wakeWrite_;
    bool winsock_ = false;
    bool pending_ = false;
};

} // namespace PortList

#endif
