// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <array>
#include <bitset>
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
        UploadDone,    // the whole block is out: its last write request was answered, or a
                       // read after a cut-off write found the controller holding all of it
        WriteResumed,  // a read after a cut-off write found part of the block missing:
                       // the whole write goes out again
        WriteDropped,  // a read after a cut-off write found a block that is neither the
                       // old one nor the new one: nothing more is written
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
    // link counts as lost until a good reply arrives. A write cut off by the
    // lost link is kept, with a store asked for alongside it: the read that
    // starts the next contact finishes it (see replyArrived).
    void reset();

    // The operator's five selections (tilt, heading, mode, video, zoom) go into
    // their slots and the write sequence starts on the next tick. Refused,
    // changing nothing, until this contact's block has been read in full: the
    // 13 slots the operator cannot see must go back as the controller sent
    // them, never as zeros or half of an earlier block.
    bool requestUpload(const Channels &channels);
    // All 18 bytes, as a parameter file gives them, go out with the write
    // sequence from the next tick on. Unlike requestUpload it needs no read
    // first: no slot comes from what the window holds.
    void requestBlockWrite(const ParamBlock &block);
    // Starts the read sequence. A write it cuts off is finished once the read is in.
    void requestDownload();
    // From the next request on, every frame asks the controller to store its
    // block, until a reply reports the result. Ignored until this contact's
    // block has been read: the controller would store what nobody has seen.
    void requestSave();
    // The port is gone: a cut-off write can't be finished, and a store held
    // back for it is dropped with it.
    void abandonWrite();

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
               saveRequest == kSaveRequested || writeUnfinished_;
    }
    // From a write's first request until the controller holds the whole block:
    // its last part confirmed, or a read finding all of it there. A lost link
    // does not end it; only the port closing does (abandonWrite).
    bool writeUnfinished() const { return writeUnfinished_; }
    // Parts of the last write the controller confirmed, 0 to 3: each carries
    // its own part of the block, so a cut-off write may leave a mix of old and new.
    int writesConfirmed() const { return writesConfirmed_; }
    // The save flag a request for this command carries now. A store goes out
    // only while the controller's RAM holds a whole block: never with the
    // first two parts of a write, never while a cut-off write waits to be
    // finished, and never to a controller that has not answered yet.
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
    void beginWrite(const ParamBlock &block);
    ReplyEffect::Step afterCutOffWrite();

    // The command of the request that went out last. Not cleared by reset: it
    // is a fact about the line, and the request sent in the tick that found
    // the link lost is the one the next contact's first reply answers.
    std::uint8_t lastSent_ = 0;
    bool blockDownloaded_ = false;
    // A request carrying the store flag has gone out in this contact, so a
    // save result in a reply can be an answer to it. A controller that puts
    // one in its poll replies unasked is not believed.
    bool saveSent_ = false;
    bool writeUnfinished_ = false;
    int writesConfirmed_ = 0;
    ParamBlock writeTarget_{};
    // Per slot, every value the controller may hold after this run of
    // writes: what it held before the first, and what each one carried (an
    // Upload pressed again while one is unfinished adds its own). A read
    // after a cut-off write with any other value comes from another block.
    std::array<std::bitset<256>, kParamSlots> mayHold_{};
};
