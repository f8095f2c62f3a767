// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// The commands that write a block to the controller, and the one way they all
// write it: show what changes, ask, write, store and read back as asked.
// Each command takes the arguments after its name; its help text heads its
// --help.
#include <QString>
#include <QStringList>

#include "cli/command.h"
#include "cli/session.h"
#include "link/frame.h"

namespace Cli {

// --save and --verify, which every command that writes takes.
void addWriteOptions(Command &c);

extern const char kSetHelp[];
int set(Command &c, const QStringList &arguments);

extern const char kRestoreHelp[];
int restore(Command &c, const QStringList &arguments);

extern const char kUndoHelp[];
int undo(Command &c, const QStringList &arguments);

// What restore does once it has read the controller: shows what writing the
// file's block changes, asks unless --yes, and writes, stores and verifies it.
// The batch runs it for each unit.
int restoreUnit(const Command &c, Session &s, const QString &path, const ParamBlock &target);

} // namespace Cli
