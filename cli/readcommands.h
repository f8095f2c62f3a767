// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// The commands that write nothing to a controller: they list the ports, read
// the controller, files or the history of blocks, and say what they found.
// Each takes the arguments after its name; its help text heads its --help.
#include <QStringList>

#include "cli/command.h"

namespace Cli {

extern const char kPortsHelp[];
int ports(Command &c, const QStringList &arguments);

extern const char kGetHelp[];
int get(Command &c, const QStringList &arguments);

extern const char kBackupHelp[];
int backup(Command &c, const QStringList &arguments);

extern const char kDiffHelp[];
int diff(Command &c, const QStringList &arguments);

extern const char kHistoryHelp[];
int historyCommand(Command &c, const QStringList &arguments);

extern const char kMonitorHelp[];
int monitor(Command &c, const QStringList &arguments);

} // namespace Cli
