// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "link/frame.h"

#include <algorithm>

#include "link/crc16.h"

Frame buildRequest(std::uint8_t commandCode, std::uint8_t saveRequest, const ParamBlock &paramBlock)
{
    Frame f{};
    f[0] = kRequestHeader[0];
    f[1] = kRequestHeader[1];
    f[FrameOffset::kSave] = saveRequest;
    f[FrameOffset::kCommand] = commandCode;

    const auto payload = f.begin() + FrameOffset::kPayload;
    switch (commandCode) {
    case WRITE_PARAM_1:
        std::copy(paramBlock.begin(), paramBlock.begin() + 8, payload);
        break;
    case WRITE_PARAM_2:
        std::copy(paramBlock.begin() + 8, paramBlock.begin() + 16, payload);
        break;
    case WRITE_PARAM_3:
        std::copy(paramBlock.begin() + 16, paramBlock.end(), payload);
        break;
    default:
        break;
    }

    sealFrame(f);
    return f;
}

void sealFrame(Frame &f)
{
    const std::uint16_t crc = crc16(f.data(), FrameOffset::kCrcHigh);
    f[FrameOffset::kCrcHigh] = static_cast<std::uint8_t>(crc >> 8);
    f[FrameOffset::kCrcLow] = static_cast<std::uint8_t>(crc & 0xFF);
}

bool ReplyAssembler::push(std::uint8_t byte, Frame &reply)
{
    ++bytesSeen_;
    switch (state_) {
    case State::Hunting:
        if (byte == kReplyHeader[0])
            state_ = State::SawHeader;
        return false;
    case State::SawHeader:
        // A repeated first header byte may still be the real start: BE BE A0 opens a frame.
        if (byte == kReplyHeader[1])
            state_ = State::Collecting;
        else if (byte != kReplyHeader[0])
            state_ = State::Hunting;
        return false;
    case State::Collecting:
        break;
    }

    // While collecting, every byte is body: a BE A0 inside it is data, and a
    // dropped frame is not searched again for a header.
    buffer_[index_] = byte;
    if (++index_ < kFrameSize)
        return false;

    buffer_[0] = kReplyHeader[0];
    buffer_[1] = kReplyHeader[1];
    state_ = State::Hunting;
    index_ = 2;
    // With the CRC appended high byte first, a correct frame's CRC over all
    // 47 bytes is zero.
    if (crc16(buffer_.data(), static_cast<std::uint8_t>(kFrameSize)) != 0) {
        ++framesDropped_;
        return false;
    }
    ++framesGood_;
    reply = buffer_;
    buffer_.fill(0);
    return true;
}
