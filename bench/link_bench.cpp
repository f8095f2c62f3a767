// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The protocol code alone, without Qt or a port: what one byte, one frame and
// one tick of the conversation cost in plain computation.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "link/crc16.h"
#include "link/frame.h"
#include "link/paramexchange.h"

namespace {

// A reply as the controller sends it: header, echo, some payload, good CRC.
Frame reply(std::uint8_t command, std::mt19937 &rng)
{
    Frame f{};
    f[0] = kReplyHeader[0];
    f[1] = kReplyHeader[1];
    f[FrameOffset::kCommand] = command;
    for (std::size_t i = FrameOffset::kPayload; i < FrameOffset::kCrcHigh; ++i)
        f[i] = static_cast<std::uint8_t>(rng());
    sealFrame(f);
    return f;
}

constexpr std::uint8_t kPolls[] = {POLL_POSITIONS_1, POLL_POSITIONS_2, POLL_GIMBAL, POLL_TEST_DATA};

void append(std::vector<std::uint8_t> &out, const Frame &f)
{
    out.insert(out.end(), f.begin(), f.end());
}

// About 64 KiB of back-to-back good replies.
std::vector<std::uint8_t> cleanStream()
{
    std::mt19937 rng(1);
    std::vector<std::uint8_t> out;
    while (out.size() < 64 * 1024)
        append(out, reply(kPolls[rng() % 4], rng));
    return out;
}

// Good replies with roughly noiseShare of the bytes being line trouble:
// random bytes, a lone or doubled first header byte, a whole header leading
// into garbage, or a complete frame whose CRC is broken. Some good replies
// are swallowed by a false header before them, as they would be on the line.
std::vector<std::uint8_t> noisyStream(double noiseShare, std::size_t &noiseBytes)
{
    std::mt19937 rng(2);
    std::vector<std::uint8_t> out;
    noiseBytes = 0;
    while (out.size() < 64 * 1024) {
        if (double(noiseBytes) >= noiseShare * double(out.size() + kFrameSize)) {
            append(out, reply(kPolls[rng() % 4], rng));
            continue;
        }
        const std::size_t before = out.size();
        switch (rng() % 4) {
        case 0:
            for (unsigned n = 1 + rng() % 8; n > 0; --n)
                out.push_back(static_cast<std::uint8_t>(rng()));
            break;
        case 1:
            out.push_back(kReplyHeader[0]);
            if (rng() % 2)
                out.push_back(kReplyHeader[0]);
            break;
        case 2:
            out.push_back(kReplyHeader[0]);
            out.push_back(kReplyHeader[1]);
            for (unsigned n = 1 + rng() % 20; n > 0; --n)
                out.push_back(static_cast<std::uint8_t>(rng()));
            break;
        default: {
            Frame bad = reply(kPolls[rng() % 4], rng);
            bad[FrameOffset::kCrcLow] ^= 0x5A;
            append(out, bad);
            break;
        }
        }
        noiseBytes += out.size() - before;
    }
    return out;
}

void BM_Crc16Frame(benchmark::State &state)
{
    std::mt19937 rng(3);
    const Frame f = reply(POLL_TEST_DATA, rng);
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.data());
        benchmark::DoNotOptimize(crc16(f.data(), static_cast<std::uint8_t>(kFrameSize)));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kFrameSize));
}
BENCHMARK(BM_Crc16Frame);

void assemble(benchmark::State &state, const std::vector<std::uint8_t> &stream)
{
    ReplyAssembler assembler;
    std::uint64_t good = 0;
    for (auto _ : state) {
        assembler.feed(stream.data(), stream.size(), [&good](const Frame &f) {
            benchmark::DoNotOptimize(f.data());
            ++good;
        });
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(stream.size()));
    const double its = double(state.iterations());
    state.counters["good_per_pass"] = double(assembler.framesGood()) / its;
    state.counters["dropped_per_pass"] = double(assembler.framesDropped()) / its;
    state.counters["bytes_per_pass"] = double(stream.size());
    benchmark::DoNotOptimize(good);
}

void BM_AssembleClean(benchmark::State &state)
{
    assemble(state, cleanStream());
}
BENCHMARK(BM_AssembleClean);

void BM_AssembleNoisy30(benchmark::State &state)
{
    std::size_t noiseBytes = 0;
    const std::vector<std::uint8_t> stream = noisyStream(0.30, noiseBytes);
    assemble(state, stream);
    state.counters["noise_share"] = double(noiseBytes) / double(stream.size());
}
BENCHMARK(BM_AssembleNoisy30);

// The replies a controller gives in the poll loop, by command code.
struct PollReplies {
    std::array<Frame, 256> byCommand{};
    PollReplies()
    {
        std::mt19937 rng(4);
        for (std::uint8_t c : kPolls)
            byCommand[c] = reply(c, rng);
    }
};

// A sequencer past its download, cycling through the four polls.
ParamExchange pollingExchange()
{
    ParamExchange x;
    std::mt19937 rng(5);
    for (std::uint8_t c : {READ_PARAM_1, READ_PARAM_2, READ_PARAM_3}) {
        x.nextRequest();
        x.replyArrived(reply(c, rng));
    }
    return x;
}

// One tick's work for the sequencer: build the request, take its answer.
void BM_SequencerStep(benchmark::State &state)
{
    const PollReplies replies;
    ParamExchange x = pollingExchange();
    for (auto _ : state) {
        const Frame request = x.nextRequest();
        benchmark::DoNotOptimize(request.data());
        x.replyArrived(replies.byCommand[request[FrameOffset::kCommand]]);
    }
    if (x.linkLost())
        state.SkipWithError("the sequencer lost the link on a clean loop");
}
BENCHMARK(BM_SequencerStep);

// The same with the reply's bytes going through the assembler first, as they
// do in the window: everything of a tick that is not Qt.
void BM_SequencerStepWithAssembly(benchmark::State &state)
{
    const PollReplies replies;
    ParamExchange x = pollingExchange();
    ReplyAssembler assembler;
    for (auto _ : state) {
        const Frame request = x.nextRequest();
        benchmark::DoNotOptimize(request.data());
        const Frame &answer = replies.byCommand[request[FrameOffset::kCommand]];
        assembler.feed(answer.data(), answer.size(), [&x](const Frame &f) { x.replyArrived(f); });
    }
    if (x.linkLost() || assembler.framesGood() != std::uint64_t(state.iterations()))
        state.SkipWithError("a reply went missing");
}
BENCHMARK(BM_SequencerStepWithAssembly);

} // namespace

BENCHMARK_MAIN();
