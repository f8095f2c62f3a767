// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "port/portlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

#include <sys/stat.h>

#include <utility>

#include "port/portdiagnostics.h"

quint16 portCount = 0;

namespace {
QStringList &registeredPorts()
{
    static QStringList ports;
    return ports;
}
} // namespace

namespace PortList {

SystemPortScan::SystemPortScan(QString deviceDir, Enumerate enumerate)
    : deviceDir_(std::move(deviceDir))
    , enumerate_(std::move(enumerate))
{
}

QString SystemPortScan::defaultDeviceDir()
{
    // Only Linux is known to stamp /dev whenever a node is added or removed.
#ifdef Q_OS_LINUX
    return QStringLiteral("/dev");
#else
    return QString();
#endif
}

QStringList SystemPortScan::systemPortNames()
{
    QStringList names;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        names.append(info.portName());
    return names;
}

std::int64_t SystemPortScan::directoryStamp() const
{
    struct stat st;
    if (deviceDir_.isEmpty() || ::stat(QFile::encodeName(deviceDir_).constData(), &st) != 0)
        return -1;
#ifdef Q_OS_LINUX
    return std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#else
    return std::int64_t(st.st_mtime) * 1000000000;
#endif
}

QStringList SystemPortScan::names()
{
    const std::int64_t stamp = directoryStamp();
    bool due = true;
    if (!enumerated_) {
        stamp_ = stamp;
    } else if (stamp < 0 || stamp != stamp_) {
        stamp_ = stamp;
        settleLeft_ = kSettleCalls;
    } else if (settleLeft_ > 0) {
        --settleLeft_;
    } else {
        due = ++sinceEnumeration_ >= kRecheckCalls;
    }
    if (due) {
        cached_ = enumerate_();
        enumerated_ = true;
        sinceEnumeration_ = 0;
    }
    return cached_;
}

namespace {
QStringList presentRegisteredPorts()
{
    QStringList present;
    for (const QString &name : registeredPorts()) {
        if (isPresent(name))
            present.append(name);
    }
    return present;
}

// Canonical device -> its by-id link, for the adapters that have one.
QHash<QString, QString> stableNames()
{
    QHash<QString, QString> names;
#ifdef Q_OS_LINUX
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    const QStringList links = byId.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &link : links) {
        const QString path = byId.filePath(link);
        const QString device = QFileInfo(path).canonicalFilePath();
        if (!device.isEmpty() && !names.contains(device))
            names.insert(device, path);
    }
#endif
    return names;
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}
} // namespace

QStringList availablePortNames()
{
    return presentRegisteredPorts() + SystemPortScan::systemPortNames();
}

QStringList availablePortNames(SystemPortScan &scan)
{
    return presentRegisteredPorts() + scan.names();
}

bool isPresent(const QString &name)
{
#ifdef Q_OS_UNIX
    // Follows links: a by-id name whose adapter is unplugged dangles. A bare
    // name is looked for under /dev directly; asking the system's port list
    // would cost an enumeration on every tick.
    return QFileInfo::exists(name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
#else
    // A COM port name is no file to look at; the open tells.
    Q_UNUSED(name);
    return true;
#endif
}

QList<Facts> factsOf(const QStringList &names)
{
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    const QHash<QString, QString> byId = stableNames();
    QList<Facts> all;
    for (const QString &name : names) {
        Facts facts;
        facts.device = systemLocation(name);
        const QString device = deviceName(name);
        for (const QSerialPortInfo &info : infos) {
            if (info.portName() != name && info.systemLocation() != facts.device && info.systemLocation() != device)
                continue;
            facts.description = info.description();
            facts.manufacturer = info.manufacturer();
            facts.serialNumber = info.serialNumber();
            if (info.hasVendorIdentifier() && info.hasProductIdentifier())
                facts.usbId = hex4(info.vendorIdentifier()) + QLatin1Char(':') + hex4(info.productIdentifier());
            break;
        }
        // The name the user chose may be the by-id link itself.
        const QString stable = byId.value(device);
        if (stable != name)
            facts.stableName = stable;
        all.append(facts);
    }
    return all;
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

// Gone from the system's list (unplugged) or never there: where QSerialPort
// looks for a bare name.
QString deviceName(const QString &name)
{
#ifdef Q_OS_UNIX
    const QString device = QFileInfo(systemLocation(name)).canonicalFilePath();
    if (!device.isEmpty())
        return device;
#endif
    return name;
}

QString whyNotOpened(const QString &name, const QString &systemError, PortDiagnostics::Language language)
{
    const QString location = systemLocation(name);
    const std::string path = QFile::encodeName(location).toStdString();
    PortDiagnostics::Report report = PortDiagnostics::examine(path, language);
    // The Chinese texts are UTF-8 literals, which a Windows code page would garble.
    const auto decoded = [](const std::string &s) { return QString::fromUtf8(s.data(), int(s.size())); };
    const QString summary = decoded(PortDiagnostics::summary(report));
    const QString cannotOpen = language == PortDiagnostics::Language::Chinese ? QStringLiteral("无法打开 %1：%2")
                                                                              : QStringLiteral("cannot open %1: %2");
    const QString first = summary.isEmpty() ? cannotOpen.arg(location, systemError) : summary;
    // With nothing found in the way, the platform's general advice is the fix;
    // describe() words it like every other.
    if (report.reasons.empty() && report.fixes.empty())
        report.fixes.push_back(PortDiagnostics::hintForFailedOpen(path, language));
    // The summary says what the reasons say; what follows it is what to do.
    else if (!summary.isEmpty())
        report.reasons.clear();
    const QString fixes = decoded(PortDiagnostics::describe(report));
    return fixes.isEmpty() ? first : first + QLatin1Char('\n') + fixes;
}

QString systemLocation(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
        name.startsWith(QLatin1String("../")))
        return name;
    const QString location = QSerialPortInfo(name).systemLocation();
    if (!location.isEmpty() || name.isEmpty())
        return location;
#ifdef Q_OS_UNIX
    return QStringLiteral("/dev/") + name;
#else
    return name;
#endif
}

} // namespace PortList
