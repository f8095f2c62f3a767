// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "controller.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <poll.h>
#include <unistd.h>

#include "app/tiravo.h"
#include "rig/eventwait.h"

ControllerPeer::ControllerPeer(Tiravo &w, int masterFd)
    : window(w)
    , fd(masterFd)
{
    if (auto *timer = window.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
        timer->stop();
}

void ControllerPeer::readLine()
{
    pollfd p{fd, POLLIN, 0};
    while (fd >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        fromWindow.append(buf, int(n));
    }
}

QByteArray ControllerPeer::tick()
{
    QMetaObject::invokeMethod(&window, "SYS_QTimerUpDate");
    waitUntil([this] {
        readLine();
        return fromWindow.size() >= 47;
    });
    const QByteArray request = fromWindow.left(47);
    fromWindow.remove(0, request.size());
    return request;
}

void ControllerPeer::idleTick()
{
    QMetaObject::invokeMethod(&window, "SYS_QTimerUpDate");
}

bool ControllerPeer::send(const QByteArray &bytes)
{
    const auto target = window.receiver().bytesSeen() + quint64(bytes.size());
    if (::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        return false;
    return waitUntil([&] { return window.receiver().bytesSeen() >= target; });
}
