// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "link/frame.h"

class LinkTask;

// What the CLI prints, for people and for scripts. Functions go by the names
// `set` takes (tilt, pan, mode, rec, zoom), in the window's row order.
namespace Output {

// "slot 9 (tilt)" for the five channel slots, "slot 0" for the controller's own.
QString slotName(int slot);

QJsonObject channelsJson(const ParamBlock &block);
// "tilt 1, pan 2, mode 5, rec 6, zoom 7"
QString channelsLine(const ParamBlock &block);
// The five assignments one per line, each holding no SBUS channel marked so,
// then the 18 bytes in decimal and hex.
QString blockReport(const ParamBlock &block);
// The functions whose slot holds no SBUS channel (1..18): their names, and
// "tilt 0, pan 19" for people; empty when there are none.
QJsonArray outOfRangeJson(const ParamBlock &block);
QString outOfRangeLine(const ParamBlock &block);

// One line per slot that differs: "slot 9 (tilt): 1 -> 3".
QStringList differences(const ParamBlock &from, const ParamBlock &to);

// The live data of the last poll cycle, which ended at `time`.
QJsonObject liveJson(const LinkTask &task, const QDateTime &time);
// The table monitor redraws in place, with the local time of day, and the
// one-line form for a pipe, which starts with the time in UTC.
QStringList liveTable(const LinkTask &task, const QDateTime &time);
QString liveLine(const LinkTask &task, const QDateTime &time);

// Every write to standard output is checked, flush included; after the
// first failure nothing more is tried there, and outputFailure() says why.
void print(const QString &text);        // stdout, a newline added
void printError(const QString &text);   // stderr, a newline added
void printJson(const QJsonObject &object);
void printJson(const QJsonArray &array);
// Bytes as they are, no newline added; false when they did not all get out.
bool writeRaw(const QByteArray &bytes);

// A descriptor 0, 1 or 2 that the process was started without is taken by
// /dev/null opened read-only, before anything else is opened: otherwise the
// serial port would get descriptor 1 and our text would go to the controller.
// Writes to such a stdout then fail, and are reported, as they should.
void guardStandardStreams();
// A console for standard output or standard error, on Windows, is set to
// show UTF-8 and to take the cursor sequences monitor redraws with, as far
// as it can; both are put back at exit. A pipe or a file is left as it is.
void prepareConsole();
// Standard output is a terminal that takes those sequences.
bool redrawsInPlace();
// Standard output is open for writing (it may still fail, as /dev/full does).
bool standardOutputWritable();
// Flushes and closes standard output; false when that or any earlier write failed.
bool finishStandardOutput();
// Why standard output failed, or empty.
QString outputFailure();

} // namespace Output
