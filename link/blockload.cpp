// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "link/blockload.h"

void BlockLoad::start(const ParamBlock &target, ParamExchange &link)
{
    target_ = target;
    storeAgreed_ = false;
    stage_ = Stage::Reading;
    link.requestDownload();
}

void BlockLoad::write(ParamExchange &link)
{
    stage_ = Stage::Writing;
    link.requestBlockWrite(target_);
}

BlockLoad::Next BlockLoad::written(ParamExchange &link)
{
    if (storeAgreed_) {
        stage_ = Stage::Storing;
        link.requestSave();
        return Next::Nothing;
    }
    stage_ = Stage::OfferingStore;
    return Next::AskToStore;
}

BlockLoad::Next BlockLoad::afterReply(const ReplyEffect &effect, ParamExchange &link)
{
    switch (stage_) {
    case Stage::Reading:
        if (effect.step != ReplyEffect::DownloadDone)
            return Next::Nothing;
        before_ = link.paramBlock;
        if (before_ == target_) {
            stage_ = Stage::Idle;
            return Next::AlreadyHeld;
        }
        stage_ = Stage::Asking;
        return Next::AskToWrite;
    case Stage::Writing:
        // A lost link or the Download button may cut the write off; the
        // sequencer finishes it after the read that follows, or gives it up
        // when that read finds another controller's block.
        if (effect.step == ReplyEffect::UploadDone) {
            // A Save pressed during the write went out with its last part.
            if (effect.save != ReplyEffect::NoSaveResult) {
                stage_ = Stage::Idle;
                return effect.save == ReplyEffect::Stored ? Next::Stored : Next::StoreFailed;
            }
            return written(link);
        }
        if (effect.step == ReplyEffect::WriteDropped) {
            stage_ = Stage::Idle;
            return Next::WriteDropped;
        }
        return Next::Nothing;
    case Stage::Storing:
        if (effect.save == ReplyEffect::Stored) {
            stage_ = Stage::Idle;
            return Next::Stored;
        }
        if (effect.save == ReplyEffect::StoreFailed) {
            stage_ = Stage::Idle;
            return Next::StoreFailed;
        }
        // A lost link drops the store request; once the block is read again,
        // it goes out again, after the write if the controller lost that too.
        if (effect.step == ReplyEffect::DownloadDone) {
            if (link.paramBlock == target_)
                link.requestSave();
            else
                write(link);
        }
        return Next::Nothing;
    case Stage::Idle:
    case Stage::Asking:
    case Stage::OfferingStore:
        break;
    }
    return Next::Nothing;
}

void BlockLoad::answerWrite(bool yes, ParamExchange &link)
{
    if (stage_ != Stage::Asking)
        return;
    if (yes)
        write(link);
    else
        stage_ = Stage::Idle;
}

void BlockLoad::answerStore(bool yes, ParamExchange &link)
{
    if (stage_ != Stage::OfferingStore)
        return;
    storeAgreed_ = yes;
    if (yes) {
        stage_ = Stage::Storing;
        link.requestSave();
    } else {
        stage_ = Stage::Idle;
    }
}

BlockLoad::Holds BlockLoad::abandon()
{
    const Stage stage = stage_;
    stage_ = Stage::Idle;
    switch (stage) {
    // A write request the controller took in may have lost only its reply.
    case Stage::Writing: return Holds::PartlyWritten;
    case Stage::OfferingStore: return Holds::InRam;
    case Stage::Storing: return Holds::StoreUnknown;
    case Stage::Idle:
    case Stage::Reading:
    case Stage::Asking: break;
    }
    return Holds::Unchanged;
}
