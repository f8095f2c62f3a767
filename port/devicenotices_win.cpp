// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "port/devicenotices.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
#include <dbt.h>

namespace PortList {

namespace {
// GUID_DEVINTERFACE_COMPORT, spelled out so that no GUID library is needed.
constexpr GUID kComPortInterface = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

void closeSocket(quintptr &s)
{
    if (s != INVALID_SOCKET)
        ::closesocket(SOCKET(s));
    s = INVALID_SOCKET;
}

// A connected pair of loopback sockets, both non-blocking and kept from child
// processes. Another local program may connect to the listener before we do:
// the end accepted must be the one we connected.
bool makeWakePair(quintptr &readEnd, quintptr &writeEnd)
{
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET writer = INVALID_SOCKET;
    SOCKET reader = INVALID_SOCKET;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof at;
    bool ok = listener != INVALID_SOCKET && ::bind(listener, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0 &&
              ::getsockname(listener, reinterpret_cast<sockaddr *>(&at), &size) == 0 && ::listen(listener, 1) == 0;
    if (ok) {
        writer = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ok = writer != INVALID_SOCKET && ::connect(writer, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
    }
    if (ok) {
        reader = ::accept(listener, nullptr, nullptr);
        sockaddr_in mine{}, peer{};
        int mineSize = sizeof mine, peerSize = sizeof peer;
        ok = reader != INVALID_SOCKET && ::getsockname(writer, reinterpret_cast<sockaddr *>(&mine), &mineSize) == 0 &&
             ::getpeername(reader, reinterpret_cast<sockaddr *>(&peer), &peerSize) == 0 &&
             mine.sin_port == peer.sin_port && mine.sin_addr.s_addr == peer.sin_addr.s_addr;
    }
    if (listener != INVALID_SOCKET)
        ::closesocket(listener);
    u_long nonBlocking = 1;
    for (const SOCKET s : {reader, writer}) {
        ok = ok && ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0 &&
             ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    readEnd = reader;
    writeEnd = writer;
    if (!ok) {
        closeSocket(readEnd);
        closeSocket(writeEnd);
    }
    return ok;
}
} // namespace

const wchar_t DeviceNotices::kWindowClass[] = L"SbusChannelDeviceNotices";

struct DeviceNotices::Window {
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_DEVICECHANGE && aboutPorts(wParam, lParam)) {
            if (auto *self = reinterpret_cast<DeviceNotices *>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
                self->noticed();
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
};

DeviceNotices::DeviceNotices()
    : wakeRead_(INVALID_SOCKET)
    , wakeWrite_(INVALID_SOCKET)
{
    WSADATA data;
    winsock_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (winsock_)
        makeWakePair(wakeRead_, wakeWrite_);

    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Window::procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return;
    // A top-level window, never shown: a message-only one would miss the
    // broadcasts that some serial drivers send instead of the interface's.
    // Where there is no desktop to make it on (Wine without a display), a
    // message-only one still gets the interface's notices.
    HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    instance, nullptr);
    if (!window)
        window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!window)
        return;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    window_ = window;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kComPortInterface;
    registration_ = ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

DeviceNotices::~DeviceNotices()
{
    if (registration_)
        ::UnregisterDeviceNotification(registration_);
    if (window_)
        ::DestroyWindow(static_cast<HWND>(window_));
    closeSocket(wakeRead_);
    closeSocket(wakeWrite_);
    if (winsock_)
        ::WSACleanup();
}

bool DeviceNotices::take()
{
    char drained[64];
    while (wakeRead_ != INVALID_SOCKET && ::recv(SOCKET(wakeRead_), drained, sizeof drained, 0) > 0) {
    }
    const bool any = pending_;
    pending_ = false;
    return any;
}

int DeviceNotices::descriptor() const
{
    return wakeRead_ == INVALID_SOCKET ? -1 : int(wakeRead_);
}

void DeviceNotices::noticed()
{
    pending_ = true;
    // A full socket already wakes whoever waits.
    if (wakeWrite_ != INVALID_SOCKET)
        ::send(SOCKET(wakeWrite_), "n", 1, 0);
}

bool DeviceNotices::aboutPorts(quintptr wParam, qintptr lParam)
{
    if (wParam == DBT_DEVNODES_CHANGED)
        return true;
    if ((wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) || lParam == 0)
        return false;
    const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(lParam);
    if (header->dbch_devicetype == DBT_DEVTYP_PORT)
        return true;
    return header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
           header->dbch_size >= sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) - sizeof(wchar_t) &&
           reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(lParam)->dbcc_classguid == kComPortInterface;
}

} // namespace PortList
