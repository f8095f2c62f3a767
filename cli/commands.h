// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QStringList>

// The subcommands of sbus-channel-cli. Takes the arguments after the program
// name and returns the process's exit code (cli/exitcodes.h).
namespace Cli {
int run(const QStringList &arguments);
} // namespace Cli
