#pragma once

#include <QStringList>

// Number of ports comComboBox was last filled with. Process-wide on purpose:
// the refresh compares against it, and it must not be reset by a new window.
extern quint16 portCount;

// The one place that enumerates serial ports. Besides the system's ports it
// lists ports registered by a program that embeds the window (a simulated
// controller on a pseudo-terminal), so those are probed and offered exactly
// like a plugged-in adapter.
namespace PortList {

// Names that QSerialPort::setPortName accepts: registered ports first, in the
// order they were registered, then the system's ports in the system's order.
QStringList availablePortNames();

void registerPort(const QString &name);
void unregisterPort(const QString &name);

} // namespace PortList
