// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <string>
#include <vector>

#include "lang/language.h"

// Why a serial device node can't be opened, in terms an operator can act on.
// Plain C++ over the operating system's own facts (the node's owner and mode,
// the user's groups, the processes holding it, lock files); nothing here opens
// the device, so asking never disturbs an adapter.
namespace PortDiagnostics {

// The language of a report's texts. The texts are UTF-8; paths, group, user
// and process names and commands inside them stay as the system has them.
using Language = ::Language;

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
    std::string name;  // process name as the system reports it; empty when unknown
};

struct Report {
    Access access = Access::Unknown;
    std::string devicePath;
    // Group owning the node, when the mode grants the group read and write.
    std::string group;
    std::vector<Holder> holders;
    // ModemManager probes freshly plugged serial adapters and may hold them.
    bool modemManagerRunning = false;
    // What is wrong, one line each; then what to do about it, one entry per
    // step or alternative. A fix quoting a file's line runs over several lines.
    std::vector<std::string> reasons;
    std::vector<std::string> fixes;
    // What stands in the way, in one line; summary() gives it.
    std::string headline;
    // What the texts above are written in; describe() adds its words in the same.
    Language language = Language::English;
};

// Looks at the node. devicePath is a full path ("/dev/ttyUSB0"); a bare name
// ("ttyUSB0") is looked for under /dev. On Windows a port is a DOS device
// name ("COM3", also as "\\.\COM3"), and all that can be learnt without
// opening it is whether the system has it.
Report examine(const std::string &devicePath, Language language = Language::English);

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

// The report as lines for a person, fit for a terminal and a tooltip: the
// reasons, then each fix after "  fix: " ("  解决：" in Chinese). Empty when
// there is nothing to say.
std::string describe(const Report &report);

// Opens an error message, so a bench user reads what stands in the way before any detail; empty when nothing does.
std::string summary(const Report &report);

// The hint for an open that failed: describe(examine(path)), or, when the
// system shows nothing, the general advice for the platform.
std::string hintForFailedOpen(const std::string &devicePath, Language language = Language::English);

// The Windows error codes (winerror.h) that tell an operator why a port did
// not open, named here so the judgement below is the same, and tested, on
// every platform.
namespace WindowsError {
constexpr long kFileNotFound = 2;
constexpr long kPathNotFound = 3;
constexpr long kAccessDenied = 5;
constexpr long kSharingViolation = 32;
} // namespace WindowsError

// Why Windows refused to open `port` ("COM3"), from the error its open gave:
// another program holds it (access denied: a COM port serves one program at a
// time), or it is gone (not found: the adapter was unplugged). For any other
// error the report is Unknown and says nothing.
Report explainWindowsOpenError(const std::string &port, long error, Language language = Language::English);

// What to say where the system lists no serial port at all, one line and
// what to do; on Windows that is most often an adapter without its driver.
std::string noPortsFound(Language language = Language::English);

} // namespace PortDiagnostics
