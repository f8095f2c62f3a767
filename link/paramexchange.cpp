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
    saveRequest = 0;
    downloadDone = 0;
    statusIndex = StatusNone;
    commandCode = READ_PARAM_1;
    // 1 = gimbal not connected; a silence count above the loss threshold keeps
    // the link down until the controller proves otherwise.
    gimbalState = 1;
    silenceCount = kSilenceAfterReset;
    blockDownloaded_ = false;
    uploadHeld_ = false;
    heldChannels_.fill(0);
}

void ParamExchange::writeChannels(const Channels &channels)
{
    for (int f = 0; f < kFunctionCount; ++f)
        paramBlock[kFunctionSlot[f]] = channels[f];
    commandCode = WRITE_PARAM_1;
}

void ParamExchange::requestUpload(const Channels &channels)
{
    if (!blockDownloaded_) {
        // A later press replaces an earlier one: the newest choice is written.
        heldChannels_ = channels;
        uploadHeld_ = true;
        return;
    }
    writeChannels(channels);
}

void ParamExchange::requestBlockWrite(const ParamBlock &block)
{
    uploadHeld_ = false;
    paramBlock = block;
    commandCode = WRITE_PARAM_1;
}

void ParamExchange::requestDownload()
{
    uploadHeld_ = false;
    commandCode = READ_PARAM_1;
}

void ParamExchange::requestSave()
{
    saveRequest = kSaveRequested;
}

// The controller stores its RAM as it is when the flag arrives. Riding on the
// first or second write request, it would store the new block's first part
// beside the old rest and report success; from the last write on, the RAM
// holds the whole block.
std::uint8_t ParamExchange::saveFlagFor(std::uint8_t command) const
{
    return command == WRITE_PARAM_1 || command == WRITE_PARAM_2 ? 0 : saveRequest;
}

Frame ParamExchange::nextRequest()
{
    if (silenceCount < kSilenceCeiling)
        ++silenceCount;
    lastSent_ = commandCode;
    return buildRequest(commandCode, saveFlagFor(commandCode), paramBlock);
}

ReplyEffect ParamExchange::replyArrived(const Frame &reply)
{
    silenceCount = 0;
    ReplyEffect effect;

    // The save result rides on any reply, whatever it answers.
    switch (reply[FrameOffset::kSave]) {
    case kSaveStored:
        statusIndex = StatusSaveDone;
        saveRequest = 0;
        effect.save = ReplyEffect::Stored;
        break;
    case kSaveFailed:
        statusIndex = StatusSaveFailed;
        saveRequest = 0;
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

ReplyEffect::Step ParamExchange::applyReply(const Frame &reply)
{
    const auto payload = reply.begin() + kPayload;
    switch (commandCode) {
    case WRITE_PARAM_1:
        commandCode = WRITE_PARAM_2;
        statusIndex = StatusUploading;
        break;
    case WRITE_PARAM_2:
        commandCode = WRITE_PARAM_3;
        break;
    case WRITE_PARAM_3:
        commandCode = POLL_POSITIONS_1;
        statusIndex = StatusUploadDone;
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
        if (uploadHeld_) {
            // The combo boxes already show what the operator chose; they are
            // not set from the block, only the write follows.
            uploadHeld_ = false;
            writeChannels(heldChannels_);
        } else {
            downloadDone = 1;
            commandCode = POLL_POSITIONS_1;
        }
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
