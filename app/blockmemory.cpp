// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/blockmemory.h"

BlockMemory::BlockMemory(const QString &historyPath) : history_(historyPath) {}

void BlockMemory::startContact(const BlockHistory::Adapter &adapter)
{
    adapter_ = adapter;
    contactRead_ = false;
    unstoredWrite_ = false;
}

// The finding stays until the next contact's first read: it is about the
// controller last seen, which is what the operator is looking at.
void BlockMemory::endContact()
{
    contactRead_ = false;
    unstoredWrite_ = false;
}

bool BlockMemory::afterReply(const ReplyEffect &effect, const ParamExchange &link, const QDateTime &now)
{
    bool changed = false;
    switch (effect.step) {
    case ReplyEffect::DownloadDone:
        held_ = link.paramBlock;
        if (!contactRead_) {
            contactRead_ = true;
            record(BlockHistory::Event::Read, held_, now);
            const bool had = storedElsewise_.has_value();
            storedElsewise_.reset();
            if (const auto stored = history_.lastStored(adapter_); stored && stored->block != held_) {
                storedElsewise_ = stored;
                foundAtContact_ = held_;
            }
            changed = had || storedElsewise_.has_value();
        }
        break;
    case ReplyEffect::UploadDone: {
        const ParamBlock before = held_;
        held_ = link.paramBlock;
        record(BlockHistory::Event::Write, held_, now, false, before);
        unstoredWrite_ = true;
        break;
    }
    default:
        break;
    }
    // A store goes out only while the controller's RAM holds a whole block,
    // the one the link holds: answered with the reply that finished a write,
    // it is a store of that write.
    if (effect.save != ReplyEffect::NoSaveResult) {
        const bool stored = effect.save == ReplyEffect::Stored;
        record(BlockHistory::Event::Store, link.paramBlock, now, stored);
        if (stored)
            unstoredWrite_ = false;
    }
    return changed;
}

std::optional<BlockHistory::Entry> BlockMemory::lastWrite()
{
    auto write = history_.lastWrite(adapter_);
    if (!write || !write->before)
        return std::nullopt;
    return write;
}

QString BlockMemory::contactWarning(Language language) const
{
    return storedElsewise_ ? BlockHistory::contactWarning(*storedElsewise_, foundAtContact_, language) : QString();
}

void BlockMemory::record(BlockHistory::Event event, const ParamBlock &block, const QDateTime &now, bool stored,
                         std::optional<ParamBlock> before)
{
    history_.append(BlockHistory::makeEntry(now, QStringLiteral("window"), adapter_, event, block, stored, before));
}
