// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include "link/frame.h"
#include "link/holds.h"
#include "link/paramexchange.h"

// Loading a parameter file into the controller through the window's own
// sequencer: read the controller's block again, let the operator compare,
// write all 18 bytes, offer to store them. The window asks the questions and
// shows the results; this class keeps the order, and never leaves a write
// half-done while the port stays open: when the link is lost or a Download
// cuts in, the next complete read decides whether the file's block must go
// out again. Plain C++, like the sequencer it drives.
class BlockLoad
{
public:
    enum class Stage { Idle, Reading, Asking, Writing, OfferingStore, Storing };
    // What the window has to do after a reply.
    enum class Next { Nothing, AskToWrite, AlreadyHeld, AskToStore, Stored, StoreFailed, WriteDropped };
    // What the controller holds when the port is closed in the middle of a
    // load: one of Unchanged, PartlyWritten, InRam and StoreUnknown.
    using Holds = ::Holds;

    // Reads the controller's block again, so the comparison is with what it
    // holds now rather than with what the window read earlier.
    void start(const ParamBlock &target, ParamExchange &link);
    Next afterReply(const ReplyEffect &effect, ParamExchange &link);
    // The operator's answers; ignored unless the job waits for that answer.
    void answerWrite(bool yes, ParamExchange &link);
    void answerStore(bool yes, ParamExchange &link);
    // The port was closed: the job ends here.
    Holds abandon();

    Stage stage() const { return stage_; }
    bool running() const { return stage_ != Stage::Idle; }
    const ParamBlock &target() const { return target_; }
    // The block read back at the start, for the comparison shown to the operator.
    const ParamBlock &before() const { return before_; }

private:
    Next written(ParamExchange &link);
    void write(ParamExchange &link);

    Stage stage_ = Stage::Idle;
    ParamBlock target_{};
    ParamBlock before_{};
    // Set once the operator has said yes to storing, so a store cut off by a
    // lost link is asked for again without a second question.
    bool storeAgreed_ = false;
};
