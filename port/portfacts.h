// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <string>
#include <vector>

// What the operating system says about a serial device node: its owner and
// mode, the user's groups, the processes holding it, lock files naming one,
// the adapter's USB ids, and what all that means for an open. Facts only, in
// no language: PortDiagnostics::words() tells them to a person, as often and
// in as many languages as wanted, from one look. Nothing here opens the
// device, so asking never disturbs an adapter.
namespace PortDiagnostics {

enum class Access {
    Openable,      // nothing found that would stop this user (ModemManager may still be noted)
    Missing,       // no such device node
    NoPermission,  // the node's mode and owner keep this user out
    Busy,          // another process holds it, or a live lock file names one
    NotSerial,     // the path is there but is no serial device (a file, a FIFO, /dev/null, ...)
    Unknown,       // the operating system offers no more (not Linux), or the path can't be looked at
};

struct Holder {
    long pid = 0;
    std::string name;     // process name as the system reports it; empty when unknown
    std::string lockFile; // the lock file naming it; empty when it was found holding or locking the node itself
};

// What stat shows at the path; Unseen until it was looked at, or when it can't be.
enum class NodeKind {
    Unseen,
    SerialDevice,
    OtherCharacterDevice, // /dev/null and its kin among them
    RegularFile,
    Directory,
    Fifo,
    Socket,
    BlockDevice,
    Strange, // a kind stat knows and this program does not
};

// Where this user stands with the group owning a node.
enum class Membership {
    Outside,       // not listed in the group database
    NotInSession,  // listed, but joined after this login session began
    InSession,     // this session carries the group
};

// The Windows error codes (winerror.h) that tell an operator why a port did
// not open, named here so the judgement is the same, and tested, on every
// platform.
namespace WindowsError {
constexpr long kFileNotFound = 2;
constexpr long kPathNotFound = 3;
constexpr long kAccessDenied = 5;
constexpr long kSharingViolation = 32;
} // namespace WindowsError

struct Facts {
    // The path looked at: a bare name ("ttyUSB0") taken as one under /dev; on
    // Windows the device name in capitals ("COM3"). Empty when none was given.
    std::string devicePath;
    Access access = Access::Unknown;
    NodeKind kind = NodeKind::Unseen;
    // Where devicePath leads when it is a symbolic link; empty otherwise.
    std::string linkTarget;
    // The node could not be looked at: a directory on the way is closed to this user.
    bool closedOnTheWay = false;

    // The node's ownership, as far as it keeps this user out; only gathered
    // then, as asking the user and group databases may take a network's time.
    unsigned mode = 0; // the permission bits (07777)
    std::string owner;
    std::string group;
    bool ownedByUser = false;
    // Only asked when the group may read and write and the user is not the owner.
    Membership membership = Membership::Outside;
    std::string userName; // this (effective) user's

    // The USB adapter behind the node, as four hex digits each; empty for a
    // node with no USB device above it (a built-in UART, a pseudo-terminal).
    std::string usbVendor;
    std::string usbProduct;

    std::vector<Holder> holders;
    // ModemManager probes freshly plugged serial adapters and may hold them.
    bool modemManagerRunning = false;
    // The error a Windows open gave, when the facts come from it (0 otherwise).
    long windowsError = 0;
};

// Looks at the node. devicePath is a full path ("/dev/ttyUSB0"); a bare name
// ("ttyUSB0") is looked for under /dev. On Windows a port is a DOS device
// name ("COM3", also as "\\.\COM3"), and all that can be learnt without
// opening it is whether the system has it. Reads every process's open files
// on Linux: one look per question, kept while it is told.
Facts gather(const std::string &devicePath);

// What Windows' refusal to open `port` ("COM3") tells: another program holds
// it (access denied: a COM port serves one program at a time), or it is gone
// (not found: the adapter was unplugged). For any other error, Unknown.
Facts windowsOpenFacts(const std::string &port, long error);

// Whether the path can be a serial port at all: false for a missing path and
// for anything that is no serial device. Only stat and sysfs, no search for
// holders, so it is cheap enough to ask before every open.
bool mayBeSerialPort(const std::string &devicePath);

// The processes that have locked the port the way serial programs on Linux
// do, by a lock file or a lock on the device node, other than this one. Lock
// files and the kernel's lock list only, no search of every process, so it
// is cheap enough to ask before every open; and it removes nothing, so a
// program that found the port in use leaves the holder's lock in place.
std::vector<Holder> lockHolders(const std::string &devicePath);

} // namespace PortDiagnostics
