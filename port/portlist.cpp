// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "port/portlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPort>
#include <QSerialPortInfo>

#ifdef Q_OS_LINUX
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#endif

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
#ifdef Q_OS_LINUX
    if (!deviceDir_.isEmpty())
        notices_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
#endif
    watchDirectories();
}

SystemPortScan::~SystemPortScan()
{
#ifdef Q_OS_LINUX
    if (notices_ >= 0)
        ::close(notices_);
#endif
}

QString SystemPortScan::defaultDeviceDir()
{
    // Watched through inotify, which only Linux has.
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

void SystemPortScan::watchDirectories()
{
#ifdef Q_OS_LINUX
    if (notices_ < 0)
        return;
    const QString dirs[] = {deviceDir_, deviceDir_ + QLatin1String("/serial"),
                            deviceDir_ + QLatin1String("/serial/by-id")};
    // A node coming or going, renamed, or given its owner and mode by the
    // device manager; a directory of ours going away ends its watch.
    constexpr std::uint32_t kEvents =
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    for (std::size_t i = 0; i < watches_.size(); ++i) {
        if (watches_[i] < 0)
            watches_[i] = ::inotify_add_watch(notices_, QFile::encodeName(dirs[i]).constData(), kEvents);
    }
#endif
}

bool SystemPortScan::takeNotices()
{
    bool any = false;
#ifdef Q_OS_LINUX
    if (notices_ < 0)
        return false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(notices_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        // Any notice, an overflowed queue's too, means enumerating again.
        any = true;
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            // The directory was removed or moved away; watched again once it is back.
            if (event.mask & IN_IGNORED) {
                for (int &watch : watches_) {
                    if (watch == event.wd)
                        watch = -1;
                }
            }
            at += ssize_t(sizeof event) + ssize_t(event.len);
        }
    }
#endif
    return any;
}

QStringList SystemPortScan::names()
{
    const bool noticed = takeNotices();
    const int recheck = watches_[0] >= 0 ? kRecheckCalls : kUnwatchedRecheckCalls;
    if (!enumerated_ || noticed || ++sinceEnumeration_ >= recheck) {
        // Watches first: whatever changes after them is noticed, whatever
        // changed before them is in this enumeration.
        watchDirectories();
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

bool anyRegistered()
{
    return !registeredPorts().isEmpty();
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
    return absoluteName(name);
}

bool open(QSerialPort &port, const QString &name, QString *error)
{
    port.setPortName(deviceName(name));
    const QString inUse = QStringLiteral("the port is in use by another program");
    if (!PortDiagnostics::lockHolders(QFile::encodeName(systemLocation(name)).toStdString()).empty()) {
        *error = inUse;
        return false;
    }
    if (!port.open(QIODevice::ReadWrite)) {
        *error = port.errorString();
        return false;
    }
#ifdef Q_OS_LINUX
    // Taken after the open, so a holder that locked the node in between is
    // still found; where the file system knows no such locks, the lock
    // files are all there is.
    if (::flock(int(port.handle()), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        port.close();
        *error = inUse;
        return false;
    }
#endif
    error->clear();
    return true;
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
    const bool chinese = language == PortDiagnostics::Language::Chinese;
#ifdef Q_OS_LINUX
    // Busy with no holder in sight: another user's program has it, in
    // exclusive mode, and its processes are closed to us.
    if (summary.isEmpty() && report.access == PortDiagnostics::Access::Openable &&
        systemError == QString::fromLocal8Bit(std::strerror(EBUSY))) {
        const QString find = QStringLiteral("sudo fuser -v ") + location;
        return chinese ? QStringLiteral("串口已被另一个程序独占（属于其他用户，无法查看是哪个）\n  解决：关闭另一个串口程序；"
                                        "可用这条命令找到它：%1").arg(find)
                       : QStringLiteral("the port is in use by another program (another user's, which this user "
                                        "may not look at)\n  fix: close the other serial program; to find it, run: %1")
                             .arg(find);
    }
#endif
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

QString absoluteName(const QString &name)
{
#ifdef Q_OS_UNIX
    // QSerialPort would look for "h1/tty" as /dev/h1/tty.
    if (name.contains(QLatin1Char('/')) && !name.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(QDir::current().absoluteFilePath(name));
#endif
    return name;
}

QString systemLocation(const QString &name)
{
#ifdef Q_OS_UNIX
    if (name.contains(QLatin1Char('/')))
        return absoluteName(name);
    // What the serial port library makes of a bare name, listed or not;
    // asking it would enumerate every port (10 to 20 ms) for each name.
    return name.isEmpty() ? QString() : QStringLiteral("/dev/") + name;
#else
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
        name.startsWith(QLatin1String("../")))
        return name;
    const QString location = QSerialPortInfo(name).systemLocation();
    return location.isEmpty() ? name : location;
#endif
}

} // namespace PortList
