#pragma once

#include <QString>

// SIGINT, SIGTERM and SIGHUP are recorded instead of ending the process on
// the spot, so that a job writing to the controller can finish the step it is
// in (bounded by the give-up rules) and then say what the controller holds.
// SIGPIPE is ignored: a reader that went away shows up as a failed write to
// standard output, which is reported, not as a death half way through a job.
namespace StopSignals {

// No SA_RESTART: a blocking read of an answer or of standard input returns,
// so a signal there ends the command at once.
void install();

// The first of those signals received since install(), or 0.
int pending();

// "interrupted (Ctrl+C)", "terminated (SIGTERM)", "hung up (SIGHUP)".
QString describe(int signalNumber);

} // namespace StopSignals
