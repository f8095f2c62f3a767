// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <string>
#include <vector>

#include "lang/language.h"
#include "port/portfacts.h"

// Why a serial device node can't be opened, in terms an operator can act on.
// The facts come from portfacts.h; what is said of them is made here, from
// the facts alone, so one look at the system serves every language.
namespace PortDiagnostics {

// The language of a report's texts. The texts are UTF-8; paths, group, user
// and process names and commands inside them stay as the system has them.
using Language = ::Language;

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

// What the facts mean for an operator, in the given language. Asks the
// system nothing.
Report words(const Facts &facts, Language language = Language::English);

// words(gather(devicePath), language): one look, told once.
Report examine(const std::string &devicePath, Language language = Language::English);

// The report as lines for a person, fit for a terminal and a tooltip: the
// reasons, then each fix after "  fix: " ("  解决：" in Chinese). Empty when
// there is nothing to say.
std::string describe(const Report &report);

// Opens an error message, so a bench user reads what stands in the way before any detail; empty when nothing does.
std::string summary(const Report &report);

// What to do about an open that failed with nothing found in its way: the
// general advice for the platform.
std::string generalAdvice(Language language = Language::English);

// Why Windows refused to open `port` ("COM3"), from the error its open gave:
// words(windowsOpenFacts(port, error), language). For an error that tells
// nothing the report is Unknown and says nothing.
Report explainWindowsOpenError(const std::string &port, long error, Language language = Language::English);

// What to say where the system lists no serial port at all, one line and
// what to do; on Windows that is most often an adapter without its driver.
std::string noPortsFound(Language language = Language::English);

} // namespace PortDiagnostics
