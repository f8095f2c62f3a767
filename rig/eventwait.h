// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <functional>

// Runs the event loop until done() holds, or false after timeoutMs. A waker
// looks at done() every few milliseconds even when nothing arrives for this
// loop: what is awaited may change on the far side of a pseudo-terminal, or
// in a descriptor the loop does not watch. The wait is for I/O, never a sleep.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000);
