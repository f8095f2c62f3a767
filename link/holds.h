// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// What the controller holds when a job that writes it stops, however it
// stops: the window closing its port in the middle of a load, or the command
// line ending on a signal, a silent line or a refusal. The operator is told
// from this what is in the controller and whether a power cycle loses it.
// Plain C++, like the rest of the link.
enum class Holds {
    Unchanged,     // nothing was written: it keeps the block it had
    PartlyWritten, // a write was cut off: its RAM may mix the old block and the new
    InRam,         // the new block is in RAM only and is lost when it is switched off
    StoreUnknown,  // the new block is in RAM; whether it was stored is not known
    StoreFailed,   // the new block is in RAM; the controller answered that storing it failed
    Stored,        // the new block is stored permanently
};
