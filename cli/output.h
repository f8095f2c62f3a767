#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "link/frame.h"

class LinkTask;

// What the CLI prints, for people and for scripts. The function names are the
// ones `set` takes (tilt, pan, mode, rec, zoom), in the window's row order.
namespace Output {

QString functionName(int function);
// "slot 9 (tilt)" for the five channel slots, "slot 0" for the controller's own.
QString slotName(int slot);

QJsonObject channelsJson(const ParamBlock &block);
QJsonArray blockJson(const ParamBlock &block);
// "tilt 1, pan 2, mode 5, rec 6, zoom 7"
QString channelsLine(const ParamBlock &block);
// The five assignments one per line, then the 18 bytes in decimal and hex.
QString blockReport(const ParamBlock &block);

// One line per slot that differs: "slot 9 (tilt): 1 -> 3".
QStringList differences(const ParamBlock &from, const ParamBlock &to);

// The live data of the last poll cycle.
QJsonObject liveJson(const LinkTask &task);
// The table monitor redraws in place, and the one-line form for a pipe.
QStringList liveTable(const LinkTask &task);
QString liveLine(const LinkTask &task);

void print(const QString &text);        // stdout, a newline added
void printError(const QString &text);   // stderr, a newline added
void printJson(const QJsonObject &object);
void printJson(const QJsonArray &array);

} // namespace Output
