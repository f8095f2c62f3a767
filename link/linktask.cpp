// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "link/linktask.h"

namespace {
// "0.75 s" for 15 requests.
std::string duration(int requests)
{
    const int ms = requests * LinkTask::kTickMs;
    const int hundredths = (ms % 1000) / 10;
    return std::to_string(ms / 1000) + (hundredths < 10 ? ".0" : ".") + std::to_string(hundredths) + " s";
}
} // namespace

std::string LinkTask::activity() const
{
    switch (job_) {
    case Job::Download: return "while its parameters were being read";
    case Job::Upload: return "while its parameters were being written";
    case Job::Save: return "while it was being asked to store its parameters";
    case Job::Poll: return "while it was being polled for live data";
    case Job::None: break;
    }
    return "";
}

int LinkTask::writesConfirmed() const
{
    return job_ == Job::Upload ? exchange_.writesConfirmed() : 0;
}

// The window counts the link as lost from its start until the first reply,
// and waits for it as long as the operator likes. A job has an end: a fresh
// line gets the same requests to answer as one that has answered before, so
// the count starts here, at zero.
LinkTask::LinkTask()
{
    exchange_.silenceCount = 0;
}

void LinkTask::start(Job job)
{
    job_ = job;
    state_ = State::Running;
    failure_.clear();
    sinceProgress_ = 0;
}

void LinkTask::finish(State state, std::string failure)
{
    state_ = state;
    failure_ = std::move(failure);
}

void LinkTask::download()
{
    exchange_.requestDownload();
    start(Job::Download);
}

bool LinkTask::upload(const ParamBlock &block)
{
    if (!exchange_.blockDownloaded())
        return false;
    exchange_.requestBlockWrite(block);
    start(Job::Upload);
    return true;
}

void LinkTask::save()
{
    exchange_.requestSave();
    start(Job::Save);
}

void LinkTask::poll()
{
    pollCycles_ = 0;
    start(Job::Poll);
}

std::optional<Frame> LinkTask::nextRequest()
{
    if (state_ != State::Running)
        return std::nullopt;
    // The window's own rule, counted by the sequencer itself: the request
    // that made the count too high has had its tick to be answered, so the
    // job ends here, as the window's link ends, without a request too many.
    if (exchange_.linkLost()) {
        const int unanswered = exchange_.silenceCount;
        finish(State::Silent, "the controller did not answer " + activity() + ": " + std::to_string(unanswered) +
                                  " requests, " + duration(unanswered) +
                                  " \u2014 check its power, the TX/RX wires and the port");
        return std::nullopt;
    }
    if (sinceProgress_ >= kStallAfter) {
        finish(State::Refused,
               job_ == Job::Save
                   ? "the controller answered " + std::to_string(sinceProgress_) + " requests (" +
                         duration(sinceProgress_) + ") but never said whether it stored its parameters"
                   : "the controller answered " + std::to_string(sinceProgress_) + " requests (" +
                         duration(sinceProgress_) + ") " + activity() +
                         ", but never with what was asked \u2014 is it a gimbal controller of this kind, and is "
                         "the line clean?");
        return std::nullopt;
    }
    ++sinceProgress_;
    ++requestsSent_;
    return exchange_.nextRequest();
}

void LinkTask::replyArrived(const Frame &reply)
{
    const ReplyEffect effect = exchange_.replyArrived(reply);
    if (state_ != State::Running)
        return;
    // A save moves on only with its result: the polls answered meanwhile say
    // nothing about the store, and a controller that never reports one must
    // not keep the job running for ever.
    const bool progress = job_ == Job::Save ? effect.save != ReplyEffect::NoSaveResult
                                            : effect.step != ReplyEffect::Ignored;
    if (progress)
        sinceProgress_ = 0;

    switch (job_) {
    case Job::Download:
        // Not blockDownloaded(): that stays true from an earlier read, and a
        // verify must see a new one.
        if (effect.answered == READ_PARAM_3)
            finish(State::Done);
        break;
    case Job::Upload:
        if (effect.step == ReplyEffect::UploadDone)
            finish(State::Done);
        break;
    case Job::Save:
        if (effect.save == ReplyEffect::Stored)
            finish(State::Done);
        else if (effect.save == ReplyEffect::StoreFailed)
            finish(State::Refused, "the controller reported that storing the parameters failed");
        break;
    case Job::Poll:
        if (effect.answered == POLL_TEST_DATA)
            ++pollCycles_;
        break;
    case Job::None:
        break;
    }
}

const char *commandName(std::uint8_t code)
{
    switch (code) {
    case WRITE_PARAM_1: return "WRITE_PARAM_1";
    case WRITE_PARAM_2: return "WRITE_PARAM_2";
    case WRITE_PARAM_3: return "WRITE_PARAM_3";
    case READ_PARAM_1: return "READ_PARAM_1";
    case READ_PARAM_2: return "READ_PARAM_2";
    case READ_PARAM_3: return "READ_PARAM_3";
    case POLL_POSITIONS_1: return "POLL_POSITIONS_1";
    case POLL_POSITIONS_2: return "POLL_POSITIONS_2";
    case POLL_GIMBAL: return "POLL_GIMBAL";
    case POLL_TEST_DATA: return "POLL_TEST_DATA";
    default: return "unknown command";
    }
}
