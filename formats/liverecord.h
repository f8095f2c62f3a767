// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>

#include "link/paramexchange.h"

// One poll cycle's live data as a log record, in the one format every log of
// this program is written in, so that one spreadsheet reads them all.
namespace LiveRecord {

// "2026-12-06T17:25:03.120Z": UTC to the millisecond, whatever zone `time` is in.
QString isoTime(const QDateTime &time);

// The controller sends test data in tens; people see it in units, as the
// window shows it (1500 for a centred stick).
int testValue(std::uint8_t sent);

// The column names, without a line end. They are a file format: a renamed
// function elsewhere must not rename a column.
QString csvHeader();
// "connected" or "not connected": the controller reports 1 while no gimbal is attached.
QString gimbalText(std::uint8_t gimbalState);
// One row under csvHeader(), without a line end: the time, the five positions
// and the five test values in function order, then "connected" or "not connected".
QString csvRow(const QDateTime &time, const std::array<std::int8_t, kFunctionCount> &positions,
               const std::array<std::uint8_t, kFunctionCount> &testData, std::uint8_t gimbalState);

} // namespace LiveRecord
