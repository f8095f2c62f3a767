#include "link/portlist.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <sys/stat.h>

#include <utility>

#include "link/portdiagnostics.h"

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

QStringList availablePortNames()
{
    return registeredPorts() + SystemPortScan::systemPortNames();
}

QStringList availablePortNames(SystemPortScan &scan)
{
    return registeredPorts() + scan.names();
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

QString whyNotOpened(const QString &name, const QString &systemError)
{
    const QString location = systemLocation(name);
    PortDiagnostics::Report report = PortDiagnostics::examine(QFile::encodeName(location).toStdString());
    const QString summary = QString::fromLocal8Bit(PortDiagnostics::summary(report).c_str());
    const QString first = summary.isEmpty() ? QStringLiteral("cannot open %1: %2").arg(location, systemError) : summary;
    if (report.reasons.empty() && report.fixes.empty())
        return first + QStringLiteral("\n  fix: ") +
               QString::fromLocal8Bit(PortDiagnostics::hintForFailedOpen(QFile::encodeName(location).toStdString()).c_str());
    // The summary says what the reasons say; what follows it is what to do.
    if (!summary.isEmpty())
        report.reasons.clear();
    const QString fixes = QString::fromLocal8Bit(PortDiagnostics::describe(report).c_str());
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
