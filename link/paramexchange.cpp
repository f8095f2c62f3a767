// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "link/paramexchange.h"

#include <algorithm>

namespace {
constexpr std::size_t kPayload = FrameOffset::kPayload;

std::int8_t asSigned(std::uint8_t b)
{
    return static_cast<std::int8_t>(b);
}
} // namespace

void ParamExchange::reset()
{
    paramBlock.fill(0);
    channelPos.fill(0);
    testData.fill(0);
    // A store asked for with a cut-off write waits for that write to be
    // finished; any other is dropped, as its result can no longer be known.
    if (!writeUnfinished_)
        saveRequest = 0;
    downloadDone = 0;
    statusIndex = StatusNone;
    commandCode = READ_PARAM_1;
    // 1 = gimbal not connected; a silence count above the loss threshold keeps
    // the link down until the controller proves otherwise.
    gimbalState = 1;
    silenceCount = kSilenceAfterReset;
    blockDownloaded_ = false;
    saveSent_ = false;
}

void ParamExchange::beginWrite(const ParamBlock &block)
{
    for (std::size_t slot = 0; slot < block.size(); ++slot) {
        if (!writeUnfinished_)
            mayHold_[slot].reset();
        mayHold_[slot].set(paramBlock[slot]);
        mayHold_[slot].set(block[slot]);
    }
    writeTarget_ = block;
    paramBlock = block;
    writeUnfinished_ = true;
    writesConfirmed_ = 0;
    commandCode = WRITE_PARAM_1;
}

bool ParamExchange::requestUpload(const Channels &channels)
{
    if (!blockDownloaded_)
        return false;
    ParamBlock block = paramBlock;
    for (int f = 0; f < kFunctionCount; ++f)
        block[kFunctionSlot[f]] = channels[f];
    beginWrite(block);
    return true;
}

void ParamExchange::requestBlockWrite(const ParamBlock &block)
{
    beginWrite(block);
}

void ParamExchange::requestDownload()
{
    commandCode = READ_PARAM_1;
}

void ParamExchange::requestSave()
{
    if (blockDownloaded_)
        saveRequest = kSaveRequested;
}

void ParamExchange::abandonWrite()
{
    if (!writeUnfinished_)
        return;
    writeUnfinished_ = false;
    saveRequest = 0;
}

// The controller stores its RAM as it is when the flag arrives. Riding on the
// first or second write request, it would store the new block's first part
// beside the old rest and report success; from the last write on, the RAM
// holds the whole block. After a cut-off write the RAM may hold a mix until
// the write is finished, so the reads in between carry no flag either.
std::uint8_t ParamExchange::saveFlagFor(std::uint8_t command) const
{
    if (command == WRITE_PARAM_1 || command == WRITE_PARAM_2 || linkLost())
        return 0;
    if (writeUnfinished_ && command != WRITE_PARAM_3)
        return 0;
    return saveRequest;
}

Frame ParamExchange::nextRequest()
{
    // Judged as the link stands when the request leaves, before it counts
    // as one more unanswered.
    const std::uint8_t save = saveFlagFor(commandCode);
    if (silenceCount < kSilenceCeiling)
        ++silenceCount;
    lastSent_ = commandCode;
    if (save != 0)
        saveSent_ = true;
    return buildRequest(commandCode, save, paramBlock);
}

ReplyEffect ParamExchange::replyArrived(const Frame &reply)
{
    silenceCount = 0;
    ReplyEffect effect;

    // The save result rides on any reply, whatever it answers, once a store
    // has been asked for on the line.
    switch (saveSent_ ? reply[FrameOffset::kSave] : 0) {
    case kSaveStored:
        statusIndex = StatusSaveDone;
        saveRequest = 0;
        saveSent_ = false;
        effect.save = ReplyEffect::Stored;
        break;
    case kSaveFailed:
        statusIndex = StatusSaveFailed;
        saveRequest = 0;
        saveSent_ = false;
        effect.save = ReplyEffect::StoreFailed;
        break;
    default:
        break;
    }

    // A reply to an earlier command (or garbage with a good CRC) is not ours to
    // use; the current request goes out again on the next tick. Nor is one that
    // names a command not yet asked for: after Download, Upload or a lost link
    // the request still on the line is the old one, and a controller that
    // mislabels its answer would have that payload taken as the block, or an
    // unsent write reported as done.
    if (reply[FrameOffset::kCommand] != commandCode || lastSent_ != commandCode)
        return effect;
    effect.answered = commandCode;
    effect.step = applyReply(reply);
    return effect;
}

// The read that follows a cut-off write: the controller holds the new block
// already (only a reply was lost), part of it beside part of the old one, or
// something else altogether: another controller plugged in meanwhile, whose
// slots must not be overwritten with the first one's. The selectors keep
// showing the block being written unless it is given up.
ReplyEffect::Step ParamExchange::afterCutOffWrite()
{
    if (paramBlock == writeTarget_) {
        writeUnfinished_ = false;
        writesConfirmed_ = 3;
        statusIndex = StatusUploadDone;
        commandCode = POLL_POSITIONS_1;
        return ReplyEffect::UploadDone;
    }
    bool mix = true;
    for (std::size_t slot = 0; slot < paramBlock.size(); ++slot)
        mix = mix && mayHold_[slot].test(paramBlock[slot]);
    if (!mix) {
        writeUnfinished_ = false;
        saveRequest = 0;
        downloadDone = 1;
        commandCode = POLL_POSITIONS_1;
        return ReplyEffect::WriteDropped;
    }
    beginWrite(writeTarget_);
    return ReplyEffect::WriteResumed;
}

ReplyEffect::Step ParamExchange::applyReply(const Frame &reply)
{
    const auto payload = reply.begin() + kPayload;
    switch (commandCode) {
    case WRITE_PARAM_1:
        commandCode = WRITE_PARAM_2;
        statusIndex = StatusUploading;
        writesConfirmed_ = 1;
        break;
    case WRITE_PARAM_2:
        commandCode = WRITE_PARAM_3;
        writesConfirmed_ = 2;
        break;
    case WRITE_PARAM_3:
        commandCode = POLL_POSITIONS_1;
        statusIndex = StatusUploadDone;
        writesConfirmed_ = 3;
        writeUnfinished_ = false;
        return ReplyEffect::UploadDone;
    case READ_PARAM_1:
        std::copy(payload, payload + 8, paramBlock.begin());
        commandCode = READ_PARAM_2;
        statusIndex = StatusDownloading;
        break;
    case READ_PARAM_2:
        std::copy(payload, payload + 8, paramBlock.begin() + 8);
        commandCode = READ_PARAM_3;
        break;
    case READ_PARAM_3:
        std::copy(payload, payload + 2, paramBlock.begin() + 16);
        statusIndex = StatusDownloadDone;
        blockDownloaded_ = true;
        if (writeUnfinished_)
            return afterCutOffWrite();
        downloadDone = 1;
        commandCode = POLL_POSITIONS_1;
        return ReplyEffect::DownloadDone;
    // Each position sits at the offset where its function's slot travels in
    // the write frames: slot n of 0..7 at 37+n, slot n of 8..15 at 29+n.
    case POLL_POSITIONS_1:
        channelPos[Mode] = asSigned(reply[41]);
        commandCode = POLL_POSITIONS_2;
        break;
    case POLL_POSITIONS_2:
        channelPos[Tilt] = asSigned(reply[38]);
        channelPos[Video] = asSigned(reply[39]);
        channelPos[Zoom] = asSigned(reply[41]);
        channelPos[Heading] = asSigned(reply[42]);
        commandCode = POLL_GIMBAL;
        break;
    case POLL_GIMBAL:
        gimbalState = reply[41] & 0x01;
        commandCode = POLL_TEST_DATA;
        break;
    case POLL_TEST_DATA:
        std::copy(payload + 2, payload + 7, testData.begin());
        commandCode = POLL_POSITIONS_1;
        break;
    default:
        // commandCode only ever holds one of the ten codes.
        break;
    }
    return ReplyEffect::Advanced;
}
