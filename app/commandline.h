// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QStringList>

// The window program's own command line, taken apart before any window
// exists, so --help and --version work where no display is.
namespace WindowCommandLine {

struct Outcome {
    bool run = false;    // false: exit at once with exitCode
    int exitCode = 0;
    QStringList ports;   // --port paths, in the order given
};

// Parses the arguments (argv[0] first; Qt's own options already taken out),
// printing help, version or a usage error itself.
Outcome parse(const QStringList &arguments);

// Whether a window can be shown: on X11 and Wayland systems that needs a
// display named in the environment, or a platform chosen explicitly.
bool displayAvailable(const QStringList &arguments);
// The same for a program's own argv, before any application object exists.
bool displayAvailable(int argc, char *argv[]);

// Says in one line on standard error that `program` has no display to show
// its window on, and what to use instead; returns the exit status for it.
int noDisplay(const char *program, const char *instead);

// Lists each path first among the ports, following its device as it comes
// and goes; a path that is not there yet is reported on standard error.
void registerPorts(const QStringList &ports);

} // namespace WindowCommandLine
