// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>
#include <QStringList>

#include "link/frame.h"

// restore on a production line: many ports at once, or every controller that
// appears, each unit configured exactly as restore configures one, and one
// row per unit in a report that is whole after every unit.
namespace Batch {

struct Options {
    QString file;        // the backup restored, as given
    ParamBlock target{}; // its block
    QStringList ports;   // in --port order; empty with wait: any port that appears
    bool wait = false;
    bool save = false;
    bool verify = false;
    bool force = false;
    bool json = false;   // the report on standard output at the end, too
    QString report;      // the report file, or empty; .json for JSON, else CSV
};

// The exit code: 128+N when a signal stopped a unit's job, else the first
// failing unit's code in unit order, else 1 when the report could not be
// written, else 0.
int run(const Options &options);

// Why `ports` can't be one batch (a port given twice, or two names for one
// device), or empty.
QString duplicatePorts(const QStringList &ports);

} // namespace Batch
