// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

#include <optional>

#include "formats/blockhistory.h"

// What the window keeps of the port between runs, in the language choice's
// file but under a group of its own, so that a file an older version wrote
// (the language alone) reads as "nothing remembered" and the language entry
// stays as it was.
namespace PortMemory {

struct Remembered {
    // The adapter of the last good connect, by what identifies it: its USB
    // serial number, vendor:product and by-id name, else its path.
    std::optional<BlockHistory::Adapter> adapter;
    // Connect again by itself when that adapter comes back after vanishing.
    bool reconnect = false;
};

// A file edited by hand, or by something else, may hold anything: an entry
// that is not a short line of text, or one that names no adapter at all,
// leaves the adapter forgotten rather than half-remembered. An empty path
// reads as nothing remembered.
Remembered read(const QString &file);

// Keeps `adapter` as the last one, unless the file holds it already. A
// pseudo-terminal (a simulated controller, a network bridge) gets a new name
// each time and is no adapter that could come back: the one remembered
// before it stays. Each true when the file took it; an empty path takes nothing.
bool storeAdapter(const QString &file, const BlockHistory::Adapter &adapter);
bool storeReconnect(const QString &file, bool on);

} // namespace PortMemory
