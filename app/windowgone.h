// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

// Another X client may destroy the window's native window (a session tool,
// `xdotool windowclose`). Qt then gets no close event, and the program would
// go on without a window, a dialog of its own open and the port held. This
// turns that into an ordinary close of the window, with everything a close
// does: a write under way finishes first, dialogs end, the port is freed.
class WindowGone : public QAbstractNativeEventFilter
{
public:
    explicit WindowGone(QWidget &window) : window_(&window) {}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
#else
    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;
#endif

private:
    QPointer<QWidget> window_;
};
