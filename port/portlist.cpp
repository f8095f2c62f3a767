// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "port/portlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <optional>

#ifdef Q_OS_LINUX
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#endif

#include <utility>

#include "port/devicenotices.h"
#include "lang/qtlanguage.h"
#include "port/portdiagnostics.h"


namespace {
QStringList &registeredPorts()
{
    static QStringList ports;
    return ports;
}

// What a host program said of the ports it registered; the system knows
// nothing of a pseudo-terminal.
QHash<QString, PortList::Facts> &registeredFacts()
{
    static QHash<QString, PortList::Facts> facts;
    return facts;
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
#ifdef Q_OS_WIN
    if (!deviceDir_.isEmpty()) {
        deviceNotices_ = std::make_unique<DeviceNotices>();
        if (!deviceNotices_->listening())
            deviceNotices_.reset();
    }
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

namespace {
QString &watchedInstead()
{
    static QString dir;
    return dir;
}
} // namespace

void SystemPortScan::watchInsteadOfSystem(const QString &dir)
{
    watchedInstead() = dir;
}

QString SystemPortScan::defaultDeviceDir()
{
    if (!watchedInstead().isNull())
        return watchedInstead();
    // Watched through inotify, which only Linux has; Windows's device
    // namespace stands for the notices it sends instead.
#if defined(Q_OS_LINUX)
    return QStringLiteral("/dev");
#elif defined(Q_OS_WIN)
    return QStringLiteral("\\\\.\\");
#else
    return QString();
#endif
}

bool SystemPortScan::watched() const
{
#ifdef Q_OS_WIN
    return deviceNotices_ != nullptr;
#else
    return watches_[0] >= 0;
#endif
}

int SystemPortScan::noticeDescriptor() const
{
#ifdef Q_OS_WIN
    return deviceNotices_ ? deviceNotices_->descriptor() : -1;
#else
    return watches_[0] >= 0 ? notices_ : -1;
#endif
}

namespace {
// The OneListing in force, and its listing once taken.
struct HeldListing {
    bool active = false;
    std::optional<QList<QSerialPortInfo>> ports;
};
HeldListing &held()
{
    static HeldListing h;
    return h;
}

QList<QSerialPortInfo> systemPorts()
{
    if (!held().active)
        return QSerialPortInfo::availablePorts();
    if (!held().ports)
        held().ports = QSerialPortInfo::availablePorts();
    return *held().ports;
}
} // namespace

OneListing::OneListing()
    : outermost_(!held().active)
{
    held().active = true;
}

OneListing::~OneListing()
{
    if (!outermost_)
        return;
    held().active = false;
    held().ports.reset();
}

QStringList SystemPortScan::systemPortNames()
{
    QStringList names;
    const auto infos = systemPorts();
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
#ifdef Q_OS_WIN
    any = deviceNotices_ && deviceNotices_->take();
#endif
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
    const int recheck = watched() ? kRecheckCalls : kUnwatchedRecheckCalls;
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

// A port registered under the system's own name ("--port COM3") is listed
// once, where it was registered.
QStringList withSystemPorts(QStringList registered, const QStringList &system)
{
    for (const QString &name : system) {
        if (!registered.contains(name))
            registered.append(name);
    }
    return registered;
}

#ifdef Q_OS_WIN
// A device name without its "\\.\" or "//./"; empty for a path, which names
// no device ("C:\ports\x", "\\.\pipe\x").
QString bareDeviceName(const QString &name)
{
    QString bare = name;
    if (bare.startsWith(QLatin1String("\\\\.\\")) || bare.startsWith(QLatin1String("//./")))
        bare.remove(0, 4);
    static const QRegularExpression pathLike(QStringLiteral("[:\\\\/]"));
    return bare.contains(pathLike) ? QString() : bare;
}
#endif
} // namespace

QStringList availablePortNames()
{
    return withSystemPorts(presentRegisteredPorts(), SystemPortScan::systemPortNames());
}

QStringList availablePortNames(SystemPortScan &scan)
{
    return withSystemPorts(presentRegisteredPorts(), scan.names());
}

bool isPresent(const QString &name)
{
#ifdef Q_OS_UNIX
    // Follows links: a by-id name whose adapter is unplugged dangles. A bare
    // name is looked for under /dev directly; asking the system's port list
    // would cost an enumeration on every tick.
    return QFileInfo::exists(name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
#elif defined(Q_OS_WIN)
    // A COM port is no file; the system's table of device names has it
    // exactly while its adapter is plugged in. Asking the port list instead
    // would cost an enumeration on every tick.
    if (bareDeviceName(name).isEmpty())
        return QFileInfo::exists(name);
    return PortDiagnostics::mayBeSerialPort(QFile::encodeName(knownName(name)).toStdString());
#else
    Q_UNUSED(name);
    return true;
#endif
}

QList<Facts> factsOf(const QStringList &names)
{
    const QList<QSerialPortInfo> infos = systemPorts();
    const QHash<QString, QString> byId = stableNames();
    QList<Facts> all;
    for (const QString &name : names) {
        if (const auto given = registeredFacts().constFind(name); given != registeredFacts().constEnd()) {
            Facts facts = *given;
            facts.device = systemLocation(name);
            all.append(facts);
            continue;
        }
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

void registerPort(const QString &name, const Facts &facts)
{
    registerPort(name);
    registeredFacts().insert(name, facts);
}

void unregisterPort(const QString &name)
{
    registeredPorts().removeAll(name);
    registeredFacts().remove(name);
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
#ifdef Q_OS_WIN
    // The serial port library puts "\\.\" only before names that start
    // with "COM" in capitals; "com10", or another driver's "CNCA0", would be
    // taken for a file in the working directory.
    const QString bare = bareDeviceName(name);
    if (!bare.isEmpty())
        return QStringLiteral("\\\\.\\") + knownName(bare);
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

#ifdef Q_OS_WIN
namespace {
// The serial port library words a failed open with the system's own message
// for its error code, in the system's language; the codes that say more
// than that are found by the same words.
long windowsErrorOf(const QString &systemError)
{
    namespace E = PortDiagnostics::WindowsError;
    for (const long code : {E::kAccessDenied, E::kSharingViolation, E::kFileNotFound, E::kPathNotFound}) {
        if (systemError == qt_error_string(int(code)))
            return code;
    }
    return 0;
}
} // namespace
#endif

FailedOpen lookAtFailedOpen(const QString &name, const QString &systemError)
{
    FailedOpen failure{systemLocation(name), systemError, {}};
    const std::string path = QFile::encodeName(failure.location).toStdString();
    failure.facts = PortDiagnostics::gather(path);
#ifdef Q_OS_WIN
    // All the system shows without opening the port is whether it is there;
    // the open's own error says the rest.
    if (failure.facts.access == PortDiagnostics::Access::Unknown) {
        if (const long code = windowsErrorOf(systemError))
            failure.facts = PortDiagnostics::windowsOpenFacts(path, code);
    }
#endif
    return failure;
}

PortDiagnostics::Report examineFailedOpen(const QString &name, const QString &systemError,
                                          Language language)
{
    return PortDiagnostics::words(lookAtFailedOpen(name, systemError).facts, language);
}

QString whyNotOpened(const QString &name, const QString &systemError, Language language)
{
    return whyNotOpened(lookAtFailedOpen(name, systemError), language);
}

QString whyNotOpened(const FailedOpen &failure, Language language)
{
    const QString &location = failure.location;
    const QString &systemError = failure.systemError;
    PortDiagnostics::Report report = PortDiagnostics::words(failure.facts, language);
    // The Chinese texts are UTF-8 literals, which a Windows code page would garble.
    const auto decoded = [](const std::string &s) { return QString::fromUtf8(s.data(), int(s.size())); };
    const QString summary = decoded(PortDiagnostics::summary(report));
    const QString cannotOpen = textIn({"无法打开 %1：%2", "cannot open %1: %2"}, language);
#ifdef Q_OS_LINUX
    // Busy with no holder in sight: another user's program has it, in
    // exclusive mode, and its processes are closed to us.
    if (summary.isEmpty() && report.access == PortDiagnostics::Access::Openable &&
        systemError == QString::fromLocal8Bit(std::strerror(EBUSY))) {
        const QString find = QStringLiteral("sudo fuser -v ") + location;
        return textIn({"串口已被另一个程序独占（属于其他用户，无法查看是哪个）\n  解决：关闭另一个串口程序；"
                       "可用这条命令找到它：%1",
                       "the port is in use by another program (another user's, which this user may not look "
                       "at)\n  fix: close the other serial program; to find it, run: %1"},
                      language)
            .arg(find);
    }
#endif
    const QString first = summary.isEmpty() ? cannotOpen.arg(location, systemError) : summary;
    // With nothing found in the way, the platform's general advice is the fix;
    // describe() words it like every other.
    if (report.reasons.empty() && report.fixes.empty())
        report.fixes.push_back(PortDiagnostics::generalAdvice(language));
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
    return knownName(name);
}

QString knownName(const QString &name)
{
#ifdef Q_OS_WIN
    const QString bare = bareDeviceName(name);
    return bare.isEmpty() ? name : bare.toUpper();
#else
    return name;
#endif
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
    // Asking the serial port library would enumerate every port (10 to 20 ms)
    // for each name, and give "\\.\COM3", a form users never see.
    return knownName(name);
#endif
}

} // namespace PortList
