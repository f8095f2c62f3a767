// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <array>
#include <cstdint>

#include "link/frame.h"

// The five gimbal functions, in the order the window lists them and the
// position and test-data arrays hold them.
enum Function : int { Tilt = 0, Heading, Mode, Video, Zoom };
constexpr int kFunctionCount = 5;
using Channels = std::array<std::uint8_t, kFunctionCount>;

// Slot of paramBlock that holds each function's SBUS channel number. The other
// 13 slots belong to the controller and are carried through unchanged.
constexpr std::array<int, kFunctionCount> kFunctionSlot = {9, 13, 4, 10, 12};

// Status messages, by the value of statusIndex.
enum StatusMessage : std::uint8_t {
    StatusNone = 0,
    StatusUploading,
    StatusUploadDone,
    StatusDownloading,
    StatusDownloadDone,
    StatusSaveDone,
    StatusSaveFailed,
};

// What a good reply did to the sequence, for a caller that follows a job
// through it without looking at the sequencer's state before and after.
struct ReplyEffect {
    enum Step : std::uint8_t {
        Ignored,       // not an answer to the current request
        Advanced,      // the current request was answered and the next one is due
        DownloadDone,  // the last read request was answered: the whole block is in
        UploadDone,    // the last write request was answered: the whole block is out
    };
    enum Save : std::uint8_t { NoSaveResult, Stored, StoreFailed };
    Step step = Ignored;
    // The command the reply answered; 0 when it was ignored.
    std::uint8_t answered = 0;
    Save save = NoSaveResult;
};

// The link data the window shows and the command sequencer that drives the
// conversation: one current command, sent on every tick until a reply with
// the matching echo moves it on. Plain data and rules only: no Qt, no clock.
class ParamExchange
{
public:
    // Requests sent without a good reply after which the link counts as lost;
    // the count saturates one above the reset value.
    static constexpr std::uint8_t kLostAbove = 14;
    static constexpr std::uint8_t kSilenceAfterReset = 20;
    static constexpr std::uint8_t kSilenceCeiling = 21;

    ParamExchange() { reset(); }

    // Back to "nothing known": the next contact starts with a download and the
    // link counts as lost until a good reply arrives. Drops a held-back upload.
    void reset();

    // The operator's five selections (tilt, heading, mode, video, zoom) go into
    // their slots and the write sequence starts on the next tick. Until this
    // contact's block has been read in full, the write is held back and made
    // as soon as the download ends (see replyArrived), so the 13 slots the
    // operator cannot see go back to the controller as it sent them, never as
    // zeros or half of an earlier block.
    void requestUpload(const Channels &channels);
    // All 18 bytes, as a parameter file gives them, go out with the write
    // sequence from the next tick on. Unlike requestUpload it needs no read
    // first: no slot comes from what the window holds.
    void requestBlockWrite(const ParamBlock &block);
    // Starts the read sequence; it supersedes an upload that is still held back.
    void requestDownload();
    // From the next request on, every frame asks the controller to store its
    // block, until a reply reports the result.
    void requestSave();

    // The request for this tick. Counts it as unanswered until a good reply comes.
    Frame nextRequest();
    // A reply whose CRC is good: any such reply is a sign of life and may carry
    // a save result; its payload is used only when it answers the current
    // command and that command has been sent since it became current.
    ReplyEffect replyArrived(const Frame &reply);

    bool linkLost() const { return silenceCount > kLostAbove; }
    // A write request or a store is on the line: the controller's RAM or flash
    // is changing, and cutting in now could leave a mix of old and new.
    bool writing() const
    {
        return commandCode == WRITE_PARAM_1 || commandCode == WRITE_PARAM_2 || commandCode == WRITE_PARAM_3 ||
               saveRequest == kSaveRequested;
    }
    // True while an upload waits for the download to finish.
    bool uploadHeld() const { return uploadHeld_; }
    const Channels &heldChannels() const { return heldChannels_; }
    // The save flag a request for this command carries: held back while the
    // first two parts of a block are still going out.
    std::uint8_t saveFlagFor(std::uint8_t command) const;
    // True once this contact's whole block has been read since the last reset.
    bool blockDownloaded() const { return blockDownloaded_; }

    ParamBlock paramBlock{};
    std::array<std::int8_t, kFunctionCount> channelPos{};
    std::uint8_t commandCode = 0;
    std::array<std::uint8_t, kFunctionCount> testData{};
    std::uint8_t saveRequest = 0;
    std::uint8_t silenceCount = 0;
    std::uint8_t gimbalState = 0;
    std::uint8_t downloadDone = 0;
    std::uint8_t statusIndex = 0;

private:
    ReplyEffect::Step applyReply(const Frame &reply);
    void writeChannels(const Channels &channels);

    // The command of the request that went out last. Not cleared by reset: it
    // is a fact about the line, and the request sent in the tick that found
    // the link lost is the one the next contact's first reply answers.
    std::uint8_t lastSent_ = 0;
    bool blockDownloaded_ = false;
    bool uploadHeld_ = false;
    Channels heldChannels_{};
};
