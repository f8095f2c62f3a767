// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/windowgone.h"

#include <QMetaObject>

#include <cstdint>
#include <cstring>

namespace {
// The X protocol's DestroyNotify, as xcb lays it out; spelled here so the
// program needs no xcb headers to build.
constexpr std::uint8_t kDestroyNotify = 17;
struct DestroyNotify {
    std::uint8_t responseType;
    std::uint8_t pad;
    std::uint16_t sequence;
    std::uint32_t event;
    std::uint32_t window;
};
} // namespace

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
bool WindowGone::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
#else
bool WindowGone::nativeEventFilter(const QByteArray &eventType, void *message, long *)
#endif
{
    if (!window_ || eventType != "xcb_generic_event_t" || !message)
        return false;
    DestroyNotify event;
    std::memcpy(&event, message, sizeof event);
    if ((event.responseType & 0x7F) != kDestroyNotify || !window_->testAttribute(Qt::WA_WState_Created) ||
        event.window != std::uint32_t(window_->winId()))
        return false;
    // Queued: a close may open nothing and run no event loop from in here.
    QMetaObject::invokeMethod(window_.data(), "close", Qt::QueuedConnection);
    return false;
}
