// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/paramexchange.h"

// A gimbal controller as it looks from the serial line: it reads request
// frames, keeps an 18-slot parameter block in RAM and a stored copy in
// "flash" (a file), and answers every good request with one reply frame.
// Plain C++ with no clock of its own: the caller says what time it is, so a
// test can run it tick by tick and a program can run it on the wall clock.
class GimbalModel
{
public:
    static constexpr int kSbusChannels = 18;
    // The PC counts as gone after this long without a request; the next
    // request starts a new contact, and the gimbal reports itself again.
    static constexpr std::int64_t kContactGapMs = 250;
    // How long after the start of a contact the gimbal reports "not connected".
    static constexpr std::int64_t kGimbalBootMs = 1000;
    static constexpr std::int64_t kForever = std::numeric_limits<std::int64_t>::max();

    // Tilt 1, heading 2, mode 5, video 6, zoom 7; every other slot holds a
    // value of its own, none zero and none a channel number, so a host that
    // zeroes or shifts them is caught at once.
    static const ParamBlock kDefaultBlock;
    // The default block with these channels in the function slots.
    static ParamBlock defaultWith(const Channels &channels);

    // NotAFile: the path is a FIFO, a device, a directory... it is never read
    // or replaced, and every store fails.
    enum class FlashState { Loaded, Missing, Unusable, NotAFile, InMemory };

    // What happened to the last good request's reply.
    enum class Outcome { None, Answered, Silent, Dropped, Corrupted, WrongEcho };

    // Fault knobs. Shares are probabilities from 0 to 1, drawn per reply.
    struct Faults {
        double dropShare = 0;
        double corruptShare = 0;
        double wrongEchoShare = 0;
        bool splitReplies = false;  // send replies in random pieces
        bool noise = false;         // put random bytes before replies
        int failSaves = 0;          // this many coming saves fail
        int forgetSaves = 0;        // this many coming saves answer "stored" and store nothing
        bool ignoreStores = false;  // answer as if no store had been asked for
        std::int64_t silentUntilMs = 0;
    };

    // An empty path keeps the flash in memory: stores succeed but are gone with the process.
    explicit GimbalModel(std::string flashPath = {}, std::uint32_t seed = 1);

    // Takes request bytes, split in any way, and returns what goes back on the
    // line, in order. Each element is written separately, so a split reply
    // leaves as several writes.
    std::vector<std::vector<std::uint8_t>> receive(const std::uint8_t *data, std::size_t size, std::int64_t nowMs);

    Faults faults;
    void silenceFor(std::int64_t nowMs, std::int64_t durationMs);
    void silenceForGood() { faults.silentUntilMs = kForever; }
    void speakAgain() { faults.silentUntilMs = 0; }
    void failNextSave() { ++faults.failSaves; }

    const ParamBlock &ram() const { return ram_; }
    const ParamBlock &flash() const { return flash_; }
    // As if the operator had set the block at the controller itself.
    void setRam(const ParamBlock &block) { ram_ = block; }
    FlashState flashState() const { return flashState_; }
    const std::string &flashPath() const { return flashPath_; }

    // One live SBUS channel (1..18) at a time: sticks sweep smoothly, channels
    // 5 to 8 are three-position switches. 0 for a number that is no channel.
    static std::int8_t channelValue(int channel, std::int64_t ms);
    // The position reported for a function: the value of the channel that RAM assigns to it.
    std::int8_t position(Function f, std::int64_t ms) const;
    // Output pulse width in tens of microseconds (100..200), as the test data poll reports it.
    std::uint8_t testValue(Function f, std::int64_t ms) const;
    bool gimbalConnected(std::int64_t ms) const;

    std::uint64_t requestsSeen() const { return requestsSeen_; }
    // Complete frames with a request header whose CRC was wrong.
    std::uint64_t requestsIgnored() const { return requestsIgnored_; }
    Outcome lastOutcome() const { return lastOutcome_; }
    std::uint8_t lastCommand() const { return lastCommand_; }
    // When the position polls were last answered, to tell what a host should now show.
    std::int64_t lastPositionPollMs() const { return lastPositionPollMs_; }

private:
    void handle(const Frame &request, std::int64_t nowMs, std::vector<std::vector<std::uint8_t>> &out);
    Frame answer(const Frame &request, std::int64_t nowMs);
    std::uint8_t store();
    bool draw(double share);

    std::string flashPath_;
    FlashState flashState_ = FlashState::InMemory;
    ParamBlock ram_{};
    ParamBlock flash_{};
    std::vector<std::uint8_t> pending;
    std::mt19937 rng;
    std::int64_t lastRequestMs = std::numeric_limits<std::int64_t>::min() / 2;
    std::int64_t contactStartMs = 0;
    std::int64_t lastPositionPollMs_ = 0;
    std::uint64_t requestsSeen_ = 0;
    std::uint64_t requestsIgnored_ = 0;
    Outcome lastOutcome_ = Outcome::None;
    std::uint8_t lastCommand_ = 0;
};
