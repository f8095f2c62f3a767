// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/commands.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <iterator>

#include "cli/command.h"
#include "cli/exitcodes.h"
#include "cli/output.h"
#include "cli/readcommands.h"
#include "cli/writecommands.h"
#include "os/stopsignals.h"

namespace {

using namespace Cli;

const char kOverviewHead[] =
    "Usage: sbus-channel-cli COMMAND [options]\n"
    "\n"
    "Reads and writes a gimbal controller's SBUS channel assignments over a serial line\n"
    "(115200 8N1), with the same requests as the SBUS Channel window, one every 50 ms.\n"
    "\n"
    "Commands:\n";

const char kOverviewTail[] =
    "Every command takes --help and --json (output for scripts).\n"
    "\n"
    "Options:\n"
    "  -h, --help                   this overview (help COMMAND: one command's options)\n"
    "  --version                    print the program's version\n"
    "\n"
    "Exit codes:\n";

// Every command, in the order the overview lists them; the overview, the
// dispatch and "help COMMAND" all read this one table.
struct CommandEntry {
    const char *name;
    int (*handler)(Command &, const QStringList &);
    const char *synopsis;    // what follows the name on its overview line
    const char *summary;     // lines after the first are indented under it
    enum { Local, Reads, Writes } line; // Writes: --save and --verify too
    const char *description; // the head of the command's own --help
};

const CommandEntry kCommands[] = {
    {"ports", ports, "", "list serial ports and whether you can open them", CommandEntry::Local, kPortsHelp},
    {"get", get, "--port P", "print the five channels and the 18-byte block", CommandEntry::Reads, kGetHelp},
    {"set", set, "--port P tilt=N ...", "change channels (tilt, pan, mode, rec, zoom)", CommandEntry::Writes, kSetHelp},
    {"backup", backup, "--port P FILE", "save the whole block to a JSON file", CommandEntry::Reads, kBackupHelp},
    {"restore", restore, "--port P FILE", "write a saved block back, after showing the changes;\n"
     "many --port, or --wait: a production line", CommandEntry::Writes, kRestoreHelp},
    {"undo", undo, "--port P", "write back what the last write replaced", CommandEntry::Writes, kUndoHelp},
    {"diff", diff, "A B", "compare two blocks, each a FILE or --port P", CommandEntry::Local, kDiffHelp},
    {"monitor", monitor, "--port P",
     "live positions, test data and gimbal state, each\nwith its time; --csv for a spreadsheet", CommandEntry::Reads, kMonitorHelp},
    {"history", historyCommand, "[--port P]", "what was read, written and stored, oldest first", CommandEntry::Local,
     kHistoryHelp},
};

const CommandEntry *findCommand(const QString &name)
{
    for (const CommandEntry &c : kCommands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

int runCommand(const CommandEntry &entry, const QStringList &arguments)
{
    Command c(QLatin1String(entry.name), QString::fromUtf8(entry.description), entry.line != CommandEntry::Local);
    if (entry.line == CommandEntry::Writes)
        addWriteOptions(c);
    return entry.handler(c, arguments);
}

// The exit codes' lines, one per code: its meanings in table order, each
// line after the first indented under the first's text.
QString exitCodeLines()
{
    QString text;
    for (std::size_t i = 0; i < std::size(ExitCode::kMeanings);) {
        const ExitCode::Meaning &first = ExitCode::kMeanings[i];
        const QString code = QString::number(first.code) + (first.plusSignal ? QStringLiteral("+N") : QString());
        const QString indent(code.size() + 4, QLatin1Char(' '));
        QStringList meanings;
        for (; i < std::size(ExitCode::kMeanings) && ExitCode::kMeanings[i].code == first.code; ++i)
            meanings << QString::fromLatin1(ExitCode::kMeanings[i].description);
        text += QStringLiteral("  ") + code + QStringLiteral("  ") +
                meanings.join(QStringLiteral("; ")).replace(QLatin1Char('\n'), QLatin1Char('\n') + indent) +
                QLatin1Char('\n');
    }
    return text;
}

QString overview()
{
    QString text = QString::fromLatin1(kOverviewHead);
    const QString indent(31, QLatin1Char(' '));
    for (const CommandEntry &c : kCommands) {
        const QString head = QStringLiteral("  %1 %2").arg(QLatin1String(c.name), -7).arg(QLatin1String(c.synopsis), -20);
        text += head + QLatin1Char(' ') +
                QString::fromLatin1(c.summary).replace(QLatin1Char('\n'), QLatin1Char('\n') + indent) + QLatin1Char('\n');
    }
    return (text + QLatin1Char('\n') + QString::fromLatin1(kOverviewTail) + exitCodeLines()).trimmed();
}

} // namespace

namespace Cli {

int run(const QStringList &arguments)
{
    StopSignals::install();
    const QString first = arguments.value(0);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        Output::print(overview());
        return ExitCode::kOk;
    }
    if (first == QLatin1String("--version")) {
        Output::print(QStringLiteral("sbus-channel-cli ") + QCoreApplication::applicationVersion());
        return ExitCode::kOk;
    }
    if (first == QLatin1String("help")) {
        const QString topic = arguments.value(1);
        if (topic.isEmpty()) {
            Output::print(overview());
            return ExitCode::kOk;
        }
        const CommandEntry *command = findCommand(topic);
        if (!command) {
            Output::printError(QStringLiteral("sbus-channel-cli: no command \"%1\"").arg(topic));
            return ExitCode::kUsage;
        }
        return runCommand(*command, {QStringLiteral("--help")});
    }
    const CommandEntry *command = findCommand(first);
    if (!command) {
        Output::printError(first.isEmpty() ? overview()
                                           : QStringLiteral("sbus-channel-cli: no command \"%1\"; see sbus-channel-cli --help").arg(first));
        return ExitCode::kUsage;
    }
    int code = runCommand(*command, arguments.mid(1));
    // Output that never arrived makes a command that did its work a failure
    // all the same: a script reading it got nothing, or half.
    if (!Output::finishStandardOutput() && code == ExitCode::kOk) {
        Output::printError(QStringLiteral("sbus-channel-cli %1: could not write to standard output (%2); the command "
                                          "itself ran to its end")
                               .arg(first, Output::outputFailure()));
        code = ExitCode::kNotDone;
    }
    return code;
}

} // namespace Cli
