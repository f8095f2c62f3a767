// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// Whether a copy is installed, and whether a folder takes files, are asked
// by programs without a window too; they live with the other system questions.
#include "os/installedcopy.h"
