// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

class QComboBox;

// The form gives the port selector room for about a dozen characters, and
// port names share their beginnings (/dev/tty..., /dev/serial/by-id/usb-...)
// while they differ at their ends. So a name that does not fit is cut at its
// start, in the closed box and in the drop-down list alike. The items keep
// the whole name: it is what the window opens.
namespace PortSelector {

// Cuts names at their start when painted and, hovering the closed box,
// shows the current item's tooltip, led by the whole name where it is cut.
void install(QComboBox &box);

// What the closed box shows of a name before it is cut to fit. udev ends
// every name it makes under serial/by-id and serial/by-path with the
// interface and port number, and nearly every adapter has one of each:
// "-if00-port0" is left out, so the serial number or the USB path is what
// stays in view.
QString shownName(const QString &name);

} // namespace PortSelector
