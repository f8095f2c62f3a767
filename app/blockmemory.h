// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

#include "formats/blockhistory.h"
#include "link/paramexchange.h"

// What the window remembers of the controllers it talked to, kept in the
// per-user history of blocks: each contact's first read, every write the
// controller confirmed and every store it answered. From that it tells at
// the first read of a contact whether the controller still holds what was
// last stored through this adapter, whether this contact wrote a block not
// stored since, and what the last write replaced. Qt Core only: the window
// shows what this finds.
class BlockMemory
{
public:
    explicit BlockMemory(const QString &historyPath = BlockHistory::History::defaultPath());

    // A port was opened: the next full read is a new contact.
    void startContact(const BlockHistory::Adapter &adapter);
    // The link was lost, or the port closed: whatever comes next is a new
    // contact, and nothing written in this one is at stake any more.
    void endContact();

    // Follows a reply; true when the contact check's finding changed.
    bool afterReply(const ReplyEffect &effect, const ParamExchange &link, const QDateTime &now);

    // A block was written in this contact and not stored since.
    bool unstoredWrite() const { return unstoredWrite_; }
    // The last write through this adapter; its `before` is what an undo writes back.
    std::optional<BlockHistory::Entry> lastWrite();
    // The contact check's finding, empty when the controller holds what was
    // stored or nothing was stored through this adapter.
    QString contactWarning(Language language) const;
    // What went wrong with the history file, once.
    QString takeProblem(Language language) { return history_.takeProblem(language); }

private:
    void record(BlockHistory::Event event, const ParamBlock &block, const QDateTime &now, bool stored = false,
                std::optional<ParamBlock> before = std::nullopt);

    BlockHistory::History history_;
    BlockHistory::Adapter adapter_;
    bool contactRead_ = false;
    bool unstoredWrite_ = false;
    // The block the controller holds, as last read or confirmed written.
    ParamBlock held_{};
    // The last successful store through this adapter, when the first read
    // of this contact found something else.
    std::optional<BlockHistory::Entry> storedElsewise_;
    ParamBlock foundAtContact_{};
};
