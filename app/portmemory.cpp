// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/portmemory.h"

#include <QSettings>

#include "port/portlist.h"

namespace PortMemory {

namespace {

const QString kGroup = QStringLiteral("Adapter");

// Longer than any device path or serial number a system gives.
constexpr int kMaxLength = 512;

// A stored field: empty when absent; nothing at all when it is not a short
// line of text (a list, a path with a line break in it, a megabyte).
std::optional<QString> field(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(kGroup + QLatin1Char('/') + key);
    if (!value.isValid())
        return QString();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    if (value.typeId() != QMetaType::QString)
#else
    if (value.type() != QVariant::String)
#endif
        return std::nullopt;
    const QString text = value.toString();
    if (text.size() > kMaxLength)
        return std::nullopt;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
    }
    return text;
}

bool written(QSettings &settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace

Remembered read(const QString &file)
{
    Remembered remembered;
    if (file.isEmpty())
        return remembered;
    const QSettings settings(file, QSettings::IniFormat);
    remembered.reconnect = settings.value(kGroup + QStringLiteral("/Reconnect")).toString() == QLatin1String("1");
    const auto serial = field(settings, QStringLiteral("Serial"));
    const auto usbId = field(settings, QStringLiteral("UsbId"));
    const auto byId = field(settings, QStringLiteral("ById"));
    const auto port = field(settings, QStringLiteral("Port"));
    if (!serial || !usbId || !byId || !port)
        return remembered;
    if (serial->isEmpty() && usbId->isEmpty() && byId->isEmpty() && port->isEmpty())
        return remembered;
    remembered.adapter = BlockHistory::Adapter{*serial, *usbId, *byId, *port};
    return remembered;
}

bool storeAdapter(const QString &file, const BlockHistory::Adapter &adapter)
{
    const bool pseudoTerminal = adapter.serial.isEmpty() && adapter.usbId.isEmpty() && adapter.byId.isEmpty() &&
                                PortList::deviceName(adapter.port).startsWith(QLatin1String("/dev/pts/"));
    if (file.isEmpty() || pseudoTerminal)
        return false;
    if (const std::optional<BlockHistory::Adapter> held = read(file).adapter;
        held && held->serial == adapter.serial && held->usbId == adapter.usbId && held->byId == adapter.byId &&
        held->port == adapter.port)
        return true;
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("Serial"), adapter.serial);
    settings.setValue(QStringLiteral("UsbId"), adapter.usbId);
    settings.setValue(QStringLiteral("ById"), adapter.byId);
    settings.setValue(QStringLiteral("Port"), adapter.port);
    settings.endGroup();
    return written(settings);
}

bool storeReconnect(const QString &file, bool on)
{
    if (file.isEmpty())
        return false;
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(kGroup + QStringLiteral("/Reconnect"), on ? QStringLiteral("1") : QStringLiteral("0"));
    return written(settings);
}

} // namespace PortMemory
