// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QStringList>

#include <array>
#include <functional>
#include <memory>

#include "port/portdiagnostics.h"

class QSerialPort;

namespace PortList {
class DeviceNotices;
}

// The one place that enumerates serial ports. Besides the system's ports it
// lists ports registered by a program that embeds the window (a simulated
// controller on a pseudo-terminal), so those are probed and offered exactly
// like a plugged-in adapter.
namespace PortList {

// Enumerating the system's ports looks at every tty the kernel knows and costs
// 10 to 20 ms, a fifth of a core or more when done on every 50 ms tick for
// hours on a laptop's battery. A serial port comes and goes with its device
// node, so where the device directory can be watched (inotify on Linux), or
// the system announces its devices (WM_DEVICECHANGE on Windows), the
// enumeration repeats only on the call after a change notice, plus once in a
// long while as a safety net. The notices are read by names() itself, not by
// the event loop: a node that appeared before a call is always seen by it.
class SystemPortScan
{
public:
    using Enumerate = std::function<QStringList()>;

    // Calls between two enumerations while no notice comes. Where the device
    // directory is watched, only a notice the system failed to give is at
    // stake (a full queue says so itself): a minute of 50 ms ticks. Where it
    // is not, this is how soon a plugged adapter shows: 10 s.
    static constexpr int kRecheckCalls = 1200;
    static constexpr int kUnwatchedRecheckCalls = 200;

    // deviceDir is watched, and within it serial/ and serial/by-id/ whenever
    // they exist. An empty directory, or one that can't be watched, leaves
    // only the safety net. Windows has no directory to watch; any deviceDir
    // but an empty one follows its device notices there.
    explicit SystemPortScan(QString deviceDir = defaultDeviceDir(), Enumerate enumerate = systemPortNames);
    ~SystemPortScan();
    SystemPortScan(const SystemPortScan &) = delete;
    SystemPortScan &operator=(const SystemPortScan &) = delete;

    QStringList names();
    // Readable when a change notice waits, for a caller that rests between
    // calls and wants waking; -1 where the device directory is not watched.
    int noticeDescriptor() const;
    // The next call enumerates, notice or not.
    void expire() { enumerated_ = false; }

    static QString defaultDeviceDir();
    // Scans made after this watch dir instead of the system's device
    // directory, so that a test wakes a resting window by a file of its own,
    // never by a node under the real /dev. A null string goes back to the
    // system's.
    static void watchInsteadOfSystem(const QString &dir);
    static QStringList systemPortNames();

private:
    // Drains the pending notices; true if there were any.
    bool takeNotices();
    // Watches each directory that exists and is not watched yet.
    void watchDirectories();
    bool watched() const;

    QString deviceDir_;
    Enumerate enumerate_;
    QStringList cached_;
    int notices_ = -1; // the inotify descriptor
    // The device directory, its serial/ and serial/by-id/: watch descriptors, -1 for none.
    std::array<int, 3> watches_{{-1, -1, -1}};
    int sinceEnumeration_ = 0;
    bool enumerated_ = false;
#ifdef Q_OS_WIN
    std::unique_ptr<DeviceNotices> deviceNotices_;
#endif
};

// Names that QSerialPort::setPortName accepts: registered ports first, in the
// order they were registered, then the system's other ports in the system's
// order.
// A registered path is listed only while its device is there, so a port
// named on the command line comes and goes with its adapter like any other.
// The first form enumerates now; the second goes through a scan's gate.
QStringList availablePortNames();
QStringList availablePortNames(SystemPortScan &scan);

// A name with a slash is a path, and a relative one is taken from the
// working directory now ("h1/tty" -> "/home/me/h1/tty"), so that where it
// leads no longer depends on it. Bare names ("ttyUSB0") and absolute paths
// stay as they are; on Windows a device name becomes knownName()'s.
QString absoluteName(const QString &name);

// The name users know a port by, whatever form it was given in: on Windows
// the device name in capitals, as Windows lists it ("COM3" for "com3",
// "\\.\COM3" or "//./COM3"); elsewhere, and for a path, the name as it is.
QString knownName(const QString &name);

// The device node behind a port name, to look at it from outside
// ("ttyUSB0" -> "/dev/ttyUSB0"); a path stays as absoluteName() gives it.
// On Windows, where a port is looked at by its device name, knownName().
QString systemLocation(const QString &name);

// The device a port name stands for, with every symbolic link resolved
// ("/dev/serial/by-id/usb-..." -> "/dev/ttyUSB0"). The port is opened, and so
// locked, under this name, so a second name for a port already in use is
// refused as busy; messages keep the name the user gave. A name that leads
// nowhere stays as it is. On Windows a device name in the form every COM
// port opens under, COM10 and up too ("com10" -> "\\.\COM10").
QString deviceName(const QString &name);

// Opens the port `name` for reading and writing under its device's own name,
// but only where no other serial program has it. A live lock file or a lock
// on the device node refuses it before the port is touched, so nothing of
// ours reaches that program's line, and its lock stays where it is (the
// serial port library would take a lock file it can't read for a stale one
// and remove it). Once open, the node is locked too, so that programs that
// look for such a lock see this one. On false, *error holds the system's
// words; whyNotOpened() gives the operator's.
bool open(QSerialPort &port, const QString &name, QString *error);

// A port that did not open, as the system showed it just after: looked at
// once, and told from that look in either language as often as wanted.
struct FailedOpen {
    QString location;    // systemLocation() of the name, as it was then
    QString systemError; // the serial port's own error text
    PortDiagnostics::Facts facts;
};
// Looks at the port `name` after its open failed with systemError.
FailedOpen lookAtFailedOpen(const QString &name, const QString &systemError);

// Why the port did not open, in a bench user's words and the given language:
// one line saying what stands in the way, then what to do about it, each
// after "  fix: " ("  解决："). The serial port's own error text is used when
// nothing better is known. Asks the system nothing.
QString whyNotOpened(const FailedOpen &failure, Language language);
// whyNotOpened(lookAtFailedOpen(name, systemError), language).
QString whyNotOpened(const QString &name, const QString &systemError,
                     Language language = Language::English);
// The same as a report: the port's state and the texts whyNotOpened() words.
PortDiagnostics::Report examineFailedOpen(const QString &name, const QString &systemError,
                                          Language language = Language::English);

// What the system knows of a port, to tell two adapters apart; each field
// is empty where nothing is known.
struct Facts {
    QString device;        // the device node, "/dev/ttyUSB0" or "COM3"
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString usbId;         // "0403:6001"
    QString stableName;    // its /dev/serial/by-id name, which survives replugging
};

// Facts for each name, in the same order; the system is asked once.
QList<Facts> factsOf(const QStringList &names);

// While one lives, the system's ports are listed once: the names and the
// facts asked for in its time all come from its first listing. Each listing
// walks some two thousand paths under /sys on Linux, and a window's start
// wants the names, then the facts of those that opened. Not for anything
// that must notice a change: the listing is as old as the object.
class OneListing
{
public:
    OneListing();
    ~OneListing();
    OneListing(const OneListing &) = delete;
    OneListing &operator=(const OneListing &) = delete;

private:
    bool outermost_ = false;
};

// Whether a registered name's device is there now. Looked up without
// opening it, so a port another program holds stays undisturbed.
bool isPresent(const QString &name);

void registerPort(const QString &name);
// A port whose adapter the host program knows better than the system: a
// simulated controller that stands for a USB adapter. factsOf() gives these
// facts for it (the device always the name's own).
void registerPort(const QString &name, const Facts &facts);
void unregisterPort(const QString &name);
// Registered ports are looked at on every call, not followed by notices.
bool anyRegistered();

} // namespace PortList
