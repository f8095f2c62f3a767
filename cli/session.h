// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// A session on one port with the controller, as the commands that talk to one
// and the batch restore share it: the job it runs, what the controller holds
// when the job stops, and the per-user history of blocks that every contact
// is checked against and adds to.
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "cli/command.h"
#include "cli/linkrunner.h"
#include "formats/blockhistory.h"
#include "link/holds.h"
#include "link/linktask.h"
#include "port/portdiagnostics.h"

namespace Cli {

// The window's language, read once: a batch reads it before its threads start.
Language windowLanguage();
QString said(const char *english, const char *chinese);

// The per-user history of blocks; units of a batch take turns at it.
BlockHistory::History &history();
std::recursive_mutex &historyLock();
void tellHistoryProblem(const Command &c);
BlockHistory::Adapter adapterBehind(const QString &port);
QJsonArray differencesJson(const std::vector<BlockHistory::Difference> &diffs, const QString &fromKey,
                           const QString &toKey);
// ISO 8601 with the time's own offset, to the millisecond.
QString timeText(const QDateTime &time);
QJsonObject adapterJson(const BlockHistory::Adapter &adapter);

// An open link to the controller and the job it is running.
struct Session {
    LinkRunner runner;
    LinkTask task;
    // What the controller holds as far as this command knows, so that
    // however a job ends, the user is told.
    Holds holds = Holds::Unchanged;
    // --save was asked for, so a block only in RAM is a job not finished.
    bool saveWanted = false;

    BlockHistory::Adapter adapter;
    // Set by a batch, which asks the system about all its ports at once.
    bool adapterKnown = false;
    // What the verifying read found, once it has read the whole block.
    std::optional<ParamBlock> readBack;
    // The newest store through this adapter that the controller, at this
    // contact, turned out not to hold.
    std::optional<BlockHistory::Entry> notHeld;
    QString contactWarning;

    // The next controller on this line (a batch waiting on one adapter) is
    // a contact of its own: nothing of the last one's job carries over.
    void newContact();

    // Every command that talks to the controller begins as the window's every
    // contact does: with a read of the whole block. -1 when it goes on,
    // otherwise the exit code.
    int openAndRead(const Command &c);

    // A controller that said it stored a block and holds another one now
    // (its flash lost the store, or another controller is on this adapter)
    // is told at once, before anyone relies on it. Nothing is written.
    void checkContact(const Command &c);

    // The contact check for scripts: null when the controller holds what was
    // last stored through this adapter, or nothing was.
    QJsonValue contactCheckJson() const;

    void record(const Command &c, BlockHistory::Event event, const ParamBlock &held, bool stored = false,
                std::optional<ParamBlock> before = std::nullopt);

    // Runs the task's job; -1 when it finished, otherwise the exit code. A
    // step that writes is not interruptible: a signal waits for its end,
    // which the give-up rules bound.
    int step(const Command &c, const QString &what, bool interruptible, const std::function<void()> &onCycle = {},
             const std::function<bool()> &stopWhen = {});

    int download(const Command &c);

    // After a step: a signal that came while it ran ends the command here.
    int stopIfSignalled(const Command &c) const;
    int stopped(const Command &c) const;
    int failed(const Command &c, int code, const QString &what) const;

    // What the controller now holds, and the command that puts it right.
    QString aftermath(const Command &c) const;

    // holds, with a store that the controller answered as failed told from
    // one whose answer never came.
    Holds current() const;

    ParamBlock block() const { return task.exchange().paramBlock; }
};

} // namespace Cli
