#include "link/portlist.h"

#include <QSerialPortInfo>

quint16 portCount = 0;

namespace {
QStringList &registeredPorts()
{
    static QStringList ports;
    return ports;
}
} // namespace

namespace PortList {

QStringList availablePortNames()
{
    QStringList names = registeredPorts();
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        names.append(info.portName());
    return names;
}

void registerPort(const QString &name)
{
    if (!registeredPorts().contains(name))
        registeredPorts().append(name);
}

void unregisterPort(const QString &name)
{
    registeredPorts().removeAll(name);
}

} // namespace PortList
