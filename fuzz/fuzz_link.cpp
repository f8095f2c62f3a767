// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Feeds arbitrary serial bytes, cut into arbitrary slices, through the reply
// assembler into the sequencer, interleaved with ticks and operator actions,
// and checks after every step what the window relies on.
//
// Input: a sequence of steps, each opened by one control byte:
//   00nnnnnn  line bytes: the next n+1 input bytes arrive as one read
//   01nnnnnn  n%4+1 ticks: a request goes out, then the display refresh
//   10xxxxaa  operator: aa = 0 upload (five channel bytes follow), 1 download,
//             2 save, 3 disconnect
//   11xxxxxx  a reply with a good CRC: echo, save byte, 8 payload bytes and a
//             cut point follow, so the deep states are reached without the
//             fuzzer having to find CRCs
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/frame.h"
#include "link/paramexchange.h"

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

// Written here bit by bit, apart from the table-driven one under test, so a
// wrong table cannot agree with itself.
std::uint16_t bitwiseCrc(const std::uint8_t *data, std::size_t size)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= std::uint16_t(data[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x1021) : std::uint16_t(crc << 1);
    }
    return crc;
}

bool goodCrc(const Frame &f)
{
    const std::uint16_t crc = bitwiseCrc(f.data(), FrameOffset::kCrcHigh);
    return f[FrameOffset::kCrcHigh] == (crc >> 8) && f[FrameOffset::kCrcLow] == (crc & 0xFF);
}

const std::uint8_t kCodes[] = {WRITE_PARAM_1,    WRITE_PARAM_2,    WRITE_PARAM_3, READ_PARAM_1,  READ_PARAM_2,
                               READ_PARAM_3,     POLL_POSITIONS_1, POLL_POSITIONS_2, POLL_GIMBAL, POLL_TEST_DATA};

bool knownCode(std::uint8_t c)
{
    for (std::uint8_t k : kCodes)
        if (k == c)
            return true;
    return false;
}

bool isWrite(std::uint8_t c)
{
    return c == WRITE_PARAM_1 || c == WRITE_PARAM_2 || c == WRITE_PARAM_3;
}

class Input
{
public:
    Input(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Up to n bytes, fewer at the end of the input.
    std::size_t take(std::size_t n, const std::uint8_t *&out)
    {
        out = data_ + pos_;
        const std::size_t got = n < size_ - pos_ ? n : size_ - pos_;
        pos_ += got;
        return got;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

struct Link {
    ReplyAssembler assembler;
    ReplyAssembler reference;
    ParamExchange exchange;
    unsigned statusTicks = 0;

    void invariants() const
    {
        const ParamExchange &x = exchange;
        check(x.silenceCount <= ParamExchange::kSilenceCeiling, "silenceCount above its ceiling");
        check(knownCode(x.commandCode), "commandCode outside the ten codes");
        check(x.saveRequest == 0 || x.saveRequest == kSaveRequested, "saveRequest neither 0 nor 2");
        check(x.statusIndex <= StatusSaveFailed, "statusIndex names no message");
        check(x.gimbalState <= 1 && x.downloadDone <= 1, "flag outside 0/1");
        check(assembler.framesGood() + assembler.framesDropped() <= assembler.bytesSeen() / kFrameSize,
              "more frames than bytes");
    }

    // feed() takes shortcuts through the bytes; taking them one at a time
    // must hand over exactly the same replies.
    void receive(const std::uint8_t *data, std::size_t size)
    {
        std::vector<Frame> oneByOne;
        Frame frame;
        for (std::size_t i = 0; i < size; ++i)
            if (reference.push(data[i], frame))
                oneByOne.push_back(frame);
        std::size_t handed = 0;
        assembler.feed(data, size, [&](const Frame &reply) {
            check(reply[0] == kReplyHeader[0] && reply[1] == kReplyHeader[1], "reply handed over without header");
            check(goodCrc(reply), "reply handed over with a bad CRC");
            check(handed < oneByOne.size() && oneByOne[handed] == reply, "feed and push disagree on a reply");
            ++handed;
            exchange.replyArrived(reply);
            invariants();
        });
        check(handed == oneByOne.size(), "feed missed a reply that push found");
        check(assembler.bytesSeen() == reference.bytesSeen() && assembler.state() == reference.state() &&
                  assembler.framesDropped() == reference.framesDropped(),
              "feed and push end in different states");
    }

    // What the window's tick does to the link data: one request out, then
    // the refresh, which resets a lost link and ages the status message.
    void tick()
    {
        const std::uint8_t command = exchange.commandCode;
        const bool downloaded = exchange.blockDownloaded();
        const ParamBlock block = exchange.paramBlock;
        const std::uint8_t flag = exchange.saveFlagFor(command);
        const bool unfinished = exchange.writeUnfinished();
        const Frame request = exchange.nextRequest();
        invariants();
        check(request[0] == kRequestHeader[0] && request[1] == kRequestHeader[1], "request without header");
        check(goodCrc(request), "request with a bad CRC");
        check(request[FrameOffset::kCommand] == command, "request for another command");
        // A store goes out only while the controller holds a whole block: not
        // with a write's first two parts, not while a cut-off write waits.
        check(request[FrameOffset::kSave] == flag, "save flag not as the sequencer says");
        const bool partOfBlock = command == WRITE_PARAM_1 || command == WRITE_PARAM_2;
        check(flag == 0 || (!partOfBlock && (!unfinished || command == WRITE_PARAM_3) && downloaded),
              "store sent with part of a block");
        // Writing a block the controller has not sent in full would overwrite
        // its own slots with zeros or with a stale half of another block.
        if (isWrite(command)) {
            check(downloaded, "write before the block was read");
            const std::size_t first = command == WRITE_PARAM_1 ? 0 : command == WRITE_PARAM_2 ? 8 : 16;
            for (std::size_t i = 0; i < 8 && first + i < block.size(); ++i)
                check(request[FrameOffset::kPayload + i] == block[first + i], "write carries another block");
        }
        if (exchange.linkLost())
            exchange.reset();
        if (exchange.statusIndex != StatusNone && ++statusTicks == 45) {
            statusTicks = 0;
            exchange.statusIndex = StatusNone;
        }
        exchange.downloadDone = 0;
        invariants();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in(data, size);
    Link link;
    link.invariants();
    while (!in.empty()) {
        const std::uint8_t op = in.byte();
        switch (op >> 6) {
        case 0: {
            const std::uint8_t *slice = nullptr;
            const std::size_t got = in.take(std::size_t(op & 0x3F) + 1, slice);
            link.receive(slice, got);
            break;
        }
        case 1:
            for (int i = 0; i <= (op & 0x03); ++i)
                link.tick();
            break;
        case 2:
            switch (op & 0x03) {
            case 0: {
                Channels channels;
                for (auto &c : channels)
                    c = in.byte();
                link.exchange.requestUpload(channels);
                break;
            }
            case 1: link.exchange.requestDownload(); break;
            case 2: link.exchange.requestSave(); break;
            case 3: link.exchange.reset(); break;
            }
            link.invariants();
            break;
        case 3: {
            Frame reply{};
            reply[0] = kReplyHeader[0];
            reply[1] = kReplyHeader[1];
            const std::uint8_t echo = in.byte();
            // Mostly an answer the sequencer waits for, sometimes any byte at all.
            reply[FrameOffset::kCommand] = (op & 0x20) ? echo : (op & 0x10) ? link.exchange.commandCode
                                                                             : kCodes[echo % 10];
            reply[FrameOffset::kSave] = in.byte();
            for (std::size_t i = 0; i < 8; ++i)
                reply[FrameOffset::kPayload + i] = in.byte();
            const std::uint16_t crc = bitwiseCrc(reply.data(), FrameOffset::kCrcHigh);
            reply[FrameOffset::kCrcHigh] = std::uint8_t(crc >> 8);
            reply[FrameOffset::kCrcLow] = std::uint8_t(crc & 0xFF);
            const std::size_t cut = in.byte() % (kFrameSize + 1);
            link.receive(reply.data(), cut);
            link.receive(reply.data() + cut, kFrameSize - cut);
            break;
        }
        }
    }
    return 0;
}
