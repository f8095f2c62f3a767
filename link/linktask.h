// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/frame.h"
#include "link/paramexchange.h"

// One job at a time on the command sequencer, for a program without a window:
// read the block, write a block, store it, or keep polling. The sequencer and
// its frames are the window's own (ParamExchange); this class only adds what a
// script needs and a person at the window does not: knowing when a job has
// finished, and giving up with a reason instead of repeating a request forever.
// Plain C++, no clock: the caller asks for a request every 50 ms and hands
// over every good reply.
class LinkTask
{
public:
    // The window's tick: one request every 50 ms.
    static constexpr int kTickMs = 50;
    // Requests without the job moving on while the device does answer (wrong
    // echoes, a save result that never comes). Generous, so a lossy line
    // still gets through; two seconds at 50 ms. A device that does not
    // answer at all is the window's lost link instead (ParamExchange::linkLost).
    static constexpr int kStallAfter = 40;

    LinkTask();

    enum class Job { None, Download, Upload, Save, Poll };
    enum class State { Idle, Running, Done, Silent, Refused };

    // Reads READ_PARAM_1..3. A second call reads the block again (a verify).
    void download();
    // Writes the whole block with WRITE_PARAM_1..3. Only after a download: the
    // controller's own slots must come from the controller, never from zeros.
    // Returns false, starting nothing, when no block has been read yet.
    bool upload(const ParamBlock &block);
    // Asks the controller to store its block permanently (offset 4 of every
    // request until a reply carries the result).
    void save();
    // Polls positions, gimbal state and test data until the caller stops.
    void poll();

    // The request to send now, or nothing when the job has ended; a job that
    // can't go on ends here, before a request too many goes out.
    std::optional<Frame> nextRequest();
    // A reply whose CRC was good.
    void replyArrived(const Frame &reply);

    Job job() const { return job_; }
    State state() const { return state_; }
    bool running() const { return state_ == State::Running; }
    // Why the job ended Silent or Refused, for a person at the bench.
    const std::string &failure() const { return failure_; }
    // Requests of the last upload that the controller confirmed, 0 to 3: each
    // carries its own part of the block, so after a cut-off upload the
    // controller's RAM may be a mix of old and new.
    int writesConfirmed() const;

    const ParamExchange &exchange() const { return exchange_; }
    // Complete poll cycles (positions, gimbal state, test data) since poll().
    std::uint64_t pollCycles() const { return pollCycles_; }
    std::uint64_t requestsSent() const { return requestsSent_; }

private:
    void start(Job job);
    void finish(State state, std::string failure = {});
    std::string activity() const;

    ParamExchange exchange_;
    Job job_ = Job::None;
    State state_ = State::Idle;
    std::string failure_;
    int sinceProgress_ = 0;
    std::uint64_t pollCycles_ = 0;
    std::uint64_t requestsSent_ = 0;
};

// The command's name as the protocol tables call it ("READ_PARAM_2").
const char *commandName(std::uint8_t code);
