// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

// SIGINT, SIGTERM and SIGHUP are recorded instead of ending the process on
// the spot, so that a write to the controller under way can finish the step
// it is in (bounded by the give-up rules) before the program stops. SIGPIPE
// is ignored: a reader that went away shows up as a failed write, which is
// reported, not as a death half way through a job.
//
// Windows has no such signals: the console tells its programs of Ctrl+C,
// Ctrl+Break, its own closing, a logoff and a shutdown instead, each of
// which is recorded as the signal a Unix system sends for it, so that exit
// codes read alike: Ctrl+C as SIGINT (130), Ctrl+Break as SIGBREAK (149), a
// closed console or a logoff as SIGHUP (129), a shutdown as SIGTERM (143).
namespace StopSignals {

// No SA_RESTART: a blocking read of an answer or of standard input returns,
// so a signal there ends the wait at once.
void install();

// The first of those signals received since install(), or 0.
int pending();

// "interrupted (Ctrl+C)", "terminated (SIGTERM)", "hung up (SIGHUP)".
QString describe(int signalNumber);

#ifdef _WIN32
// SIGHUP's number on every Unix; Windows' C runtime has none.
constexpr int kHangUp = 1;
// How long a closing console, a logoff or a shutdown is held back at most
// for the write under way: as long as the system gives a closing console,
// and well over the two seconds a stalled write is given.
constexpr unsigned long kHoldMs = 5000;

// An event (a HANDLE) that is set when one arrives, for an event loop to wake on.
void *wakeEvent();
// The signal a console event counts as, or 0 for one that is not ours.
int signalForConsoleEvent(unsigned long event);
// What the console handler does, on the thread the system runs it on:
// records the event and wakes the main thread. After a close, a logoff or a
// shutdown the system ends the process once this returns, so it returns only
// when the thread that called install() has ended (in practice never: the
// exit takes this thread with it) or after kHoldMs. False for an event that
// is not ours.
bool consoleEvent(unsigned long event);
#else
// Becomes readable when a signal arrives, for an event loop to wake on.
// Whoever watches it drains it.
int wakeDescriptor();
#endif

} // namespace StopSignals
