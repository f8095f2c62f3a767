// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/closeguard.h"

#include <QEvent>
#include <QSocketNotifier>
#include <QWidget>

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#endif
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "link/paramexchange.h"
#include "os/stopsignals.h"

CloseGuard::CloseGuard(QWidget &window, const ParamExchange &link) : window_(window), link_(link)
{
    window_.installEventFilter(this);
}

bool CloseGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &window_ && event->type() == QEvent::Close && !released_ && link_.writing()) {
        // A second close (a second Ctrl+C) waits for the same end, not a new one.
        if (!closeWanted_) {
            closeWanted_ = true;
            ticksHeld_ = 0;
            if (shown_)
                shown_(true);
        }
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void CloseGuard::afterTick()
{
    if (closeWanted_ && (!link_.writing() || ++ticksHeld_ >= kMaxTicks))
        release();
}

void CloseGuard::release()
{
    closeWanted_ = false;
    released_ = true;
    if (shown_)
        shown_(false);
    window_.close();
}

void closeOnStopSignals(QWidget &window)
{
    StopSignals::install();
#ifdef Q_OS_UNIX
    const int wake = StopSignals::wakeDescriptor();
    if (wake < 0)
        return;
    // Owned by the window, so it goes with it.
    auto *notifier = new QSocketNotifier(wake, QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, wake] {
        char drain[64];
        while (::read(wake, drain, sizeof drain) > 0) {
        }
        window.close();
    });
#elif defined(Q_OS_WIN)
    // The console's handler runs on a thread of its own and only sets the
    // event; the close happens here, on the window's thread.
    auto *notifier = new QWinEventNotifier(StopSignals::wakeEvent(), &window);
    QObject::connect(notifier, &QWinEventNotifier::activated, &window, [&window] { window.close(); });
#else
    Q_UNUSED(window);
#endif
}
