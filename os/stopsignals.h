// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

// SIGINT, SIGTERM and SIGHUP are recorded instead of ending the process on
// the spot, so that a write to the controller under way can finish the step
// it is in (bounded by the give-up rules) before the program stops. SIGPIPE
// is ignored: a reader that went away shows up as a failed write, which is
// reported, not as a death half way through a job.
namespace StopSignals {

// No SA_RESTART: a blocking read of an answer or of standard input returns,
// so a signal there ends the wait at once.
void install();

// The first of those signals received since install(), or 0.
int pending();

// Becomes readable when a signal arrives, for an event loop to wake on
// (Unix; -1 elsewhere). Whoever watches it drains it.
int wakeDescriptor();

// "interrupted (Ctrl+C)", "terminated (SIGTERM)", "hung up (SIGHUP)".
QString describe(int signalNumber);

} // namespace StopSignals
