// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Command codes carried at offset 36 of every request and echoed by the reply.
// This is the whole set the controller knows; nothing else is ever sent.
enum CommandCode : std::uint8_t {
    WRITE_PARAM_1 = 0x19,
    WRITE_PARAM_2 = 0x20,
    WRITE_PARAM_3 = 0x21,
    READ_PARAM_1 = 0x99,
    READ_PARAM_2 = 0xA0,
    READ_PARAM_3 = 0xA1,
    POLL_POSITIONS_1 = 0xC0,
    POLL_POSITIONS_2 = 0xC1,
    POLL_GIMBAL = 0xC7,
    POLL_TEST_DATA = 0xE3,
};

// Every frame on the line, either way, is exactly this long.
constexpr std::size_t kFrameSize = 47;
using Frame = std::array<std::uint8_t, kFrameSize>;

constexpr int kParamSlots = 18;
using ParamBlock = std::array<std::uint8_t, kParamSlots>;

namespace FrameOffset {
constexpr std::size_t kSave = 4;      // request: save flag; reply: save result
constexpr std::size_t kCommand = 36;  // request: command; reply: its echo
constexpr std::size_t kPayload = 37;  // 8 payload bytes, 37..44
constexpr std::size_t kCrcHigh = 45;  // CRC over 0..44, high byte first
constexpr std::size_t kCrcLow = 46;
} // namespace FrameOffset

constexpr std::uint8_t kRequestHeader[2] = {0xAB, 0xCD};
constexpr std::uint8_t kReplyHeader[2] = {0xBE, 0xA0};

// Offset-4 values. A request carries kSaveRequested to ask the controller to
// store its block permanently; the reply answers with one of the results.
constexpr std::uint8_t kSaveRequested = 0x02;
constexpr std::uint8_t kSaveStored = 0x02;
constexpr std::uint8_t kSaveFailed = 0x82;

// The request the PC sends for a command. Only the write commands carry part
// of the block; every byte the command does not use is zero.
Frame buildRequest(std::uint8_t commandCode, std::uint8_t saveRequest, const ParamBlock &paramBlock);

// Writes the CRC of everything before it into the frame's last two bytes,
// high byte first, so that the CRC over the whole frame comes out zero.
void sealFrame(Frame &f);

// Reassembles reply frames from the serial byte stream, whatever size the
// reads come in. The state lives as long as its owner, not as long as a port,
// so a frame cut off by closing and reopening the port is finished by the
// first bytes after the reopen, exactly as the controller's stream resumes.
class ReplyAssembler
{
public:
    enum class State : std::uint8_t { Hunting, SawHeader, Collecting };

    // Takes one byte. Returns true when it completes a reply whose CRC is good;
    // the reply is then in `reply`, which is left alone otherwise.
    bool push(std::uint8_t byte, Frame &reply);

    // Calls onReply(const Frame &) for each good reply in the bytes, in order.
    // The same as pushing every byte, with two shortcuts that change nothing
    // but speed: bytes before a possible header are skipped in one search, and
    // a body is copied in one piece up to its last byte.
    template <typename OnReply>
    void feed(const std::uint8_t *data, std::size_t size, OnReply &&onReply)
    {
        Frame reply;
        std::size_t i = 0;
        while (i < size) {
            const std::size_t left = size - i;
            if (state_ == State::Hunting) {
                const void *header = std::memchr(data + i, kReplyHeader[0], left);
                const std::size_t skip = header ? std::size_t(static_cast<const std::uint8_t *>(header) - (data + i))
                                                : left;
                bytesSeen_ += skip;
                i += skip;
                if (i == size)
                    break;
            } else if (state_ == State::Collecting && index_ + 1u < kFrameSize) {
                const std::size_t body = std::min<std::size_t>(left, kFrameSize - 1 - index_);
                std::memcpy(buffer_.data() + index_, data + i, body);
                index_ = static_cast<std::uint8_t>(index_ + body);
                bytesSeen_ += body;
                i += body;
                continue;
            }
            if (push(data[i++], reply))
                onReply(static_cast<const Frame &>(reply));
        }
    }

    State state() const { return state_; }
    // Bytes taken since construction; lets a caller tell when a read has been consumed.
    std::uint64_t bytesSeen() const { return bytesSeen_; }
    // Good replies handed over, and completed frames dropped for a bad CRC.
    std::uint64_t framesGood() const { return framesGood_; }
    std::uint64_t framesDropped() const { return framesDropped_; }

private:
    Frame buffer_{};
    State state_ = State::Hunting;
    // The next position to fill; the header is not stored while hunting, so
    // the body starts at 2 and the header is written in when the frame is whole.
    std::uint8_t index_ = 2;
    std::uint64_t bytesSeen_ = 0;
    std::uint64_t framesGood_ = 0;
    std::uint64_t framesDropped_ = 0;
};
