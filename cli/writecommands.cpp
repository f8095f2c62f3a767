// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/writecommands.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "cli/batch.h"
#include "cli/exitcodes.h"
#include "cli/output.h"
#include "formats/backupfile.h"
#include "formats/blockhistory.h"
#include "formats/functionnames.h"
#include "link/paramexchange.h"
#include "os/stopsignals.h"
#include "port/portlist.h"

namespace Cli {

namespace {

// Two functions driven by one receiver channel move together; that may be
// meant, so it is said, never refused.
void warnOfSharedChannels(const Command &c, const ParamBlock &block)
{
    if (BlockHistory::sharedChannelWarning(block, Language::English).isEmpty())
        return;
    const QString shared = BlockHistory::sharedChannelWarning(block, windowLanguage());
    if (!shared.isEmpty())
        c.err(QStringLiteral("sbus-channel-cli %1: %2%3").arg(c.name, said("warning: ", "警告："), shared));
}

// Writes `target` over what the controller holds (`current`, just read), then
// stores and reads back as asked, and reports on top of `report`.
int writeBlock(const Command &c, Session &s, const ParamBlock &current, const ParamBlock &target, QJsonObject report)
{
    const bool save = c.parser.isSet(QStringLiteral("save"));
    const bool verify = c.parser.isSet(QStringLiteral("verify"));
    const bool changed = current != target;
    s.saveWanted = save;
    if (const int code = s.stopIfSignalled(c); code >= 0)
        return code;
    warnOfSharedChannels(c, target);
    if (changed) {
        if (!s.task.upload(target))
            return c.fail(ExitCode::kDeviceRefused, QStringLiteral("the block was not read; nothing written"));
        s.holds = Holds::PartlyWritten;
        if (const int code = s.step(c, QStringLiteral("writing the parameters"), false); code >= 0)
            return code;
        s.holds = Holds::InRam;
        // What undo goes back to: the block this command found.
        s.record(c, BlockHistory::Event::Write, target, false, current);
        c.say(QStringLiteral("Written to the controller (RAM): %1").arg(Output::channelsLine(target)));
    } else {
        c.say(QStringLiteral("The controller already holds these values; nothing to write."));
    }
    report.insert(QStringLiteral("written"), changed);
    if (const int code = s.stopIfSignalled(c); code >= 0)
        return code;

    if (save) {
        s.holds = Holds::StoreUnknown;
        s.task.save();
        if (const int code = s.step(c, QStringLiteral("storing the parameters"), false); code >= 0) {
            // A store the controller answered is history either way; one it
            // never answered is not known to be anything.
            if (s.current() == Holds::StoreFailed)
                s.record(c, BlockHistory::Event::Store, target, false);
            return code;
        }
        s.holds = Holds::Stored;
        s.record(c, BlockHistory::Event::Store, target, true);
        c.say(QStringLiteral("Stored permanently."));
        if (const int stop = s.stopIfSignalled(c); stop >= 0)
            return stop;
    }
    report.insert(QStringLiteral("saved"), save);

    if (verify) {
        if (const int code = s.download(c); code >= 0)
            return code;
        s.readBack = s.block();
        const QStringList wrong = Output::differences(target, s.block());
        if (!wrong.isEmpty())
            return c.fail(ExitCode::kDeviceRefused,
                          QStringLiteral("read back differs from what was written (written -> read):\n  ") +
                              wrong.join(QStringLiteral("\n  ")));
        c.say(QStringLiteral("Verified: the controller reads back all 18 bytes as written."));
    }
    report.insert(QStringLiteral("verified"), verify);
    // Otherwise a change that works now is silently gone after the next power cycle.
    if (changed && !save)
        c.say(QStringLiteral("The change is in the controller's RAM and is lost when it is powered off; "
                             "add --save to store it."));
    return doneWith(c, report, target);
}

enum class Answer { Yes, No, None };

Answer ask(const QString &question)
{
    std::fputs(question.toUtf8().constData(), stderr);
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return Answer::None;
    const QString a = QString::fromStdString(answer).trimmed().toLower();
    return a == QLatin1String("y") || a == QLatin1String("yes") ? Answer::Yes : Answer::No;
}

// Lists every byte that writing `target` changes, under the heading made
// for their number, asks unless --yes, and writes it as set does.
int askAndWrite(const Command &c, Session &s, const ParamBlock &target, const std::function<QString(int)> &heading,
                const QString &question)
{
    const bool yes = c.parser.isSet(QStringLiteral("yes"));
    const ParamBlock current = s.block();
    const QStringList changes = Output::differences(current, target);
    QJsonObject report;
    QJsonArray diff;
    for (const QString &line : changes)
        diff.append(line);
    report.insert(QStringLiteral("differences"), diff);
    if (!changes.isEmpty()) {
        const QString list = QStringLiteral("  ") + changes.join(QStringLiteral("\n  "));
        if (!c.json || !yes)
            c.err(heading(int(changes.size())) + QLatin1Char('\n') + list);
        const Answer answer = yes ? Answer::Yes : ask(question);
        if (const int code = s.stopIfSignalled(c); code >= 0)
            return code;
        if (answer == Answer::None)
            return c.fail(ExitCode::kNotDone, QStringLiteral("no answer to the question (standard input ended or is not "
                                                             "a terminal); nothing was written. Add --yes to write "
                                                             "without asking"));
        if (answer == Answer::No)
            return c.fail(ExitCode::kNotDone, QStringLiteral("nothing was written"));
    }
    return writeBlock(c, s, current, target, report);
}

} // namespace

int restoreUnit(const Command &c, Session &s, const QString &path, const ParamBlock &target)
{
    const auto heading = [&](int n) {
        return QStringLiteral("%1 differs from the controller on %2 in %3 byte(s) (controller -> file):")
            .arg(path, c.port, QString::number(n));
    };
    return askAndWrite(c, s, target, heading, QStringLiteral("Write the file's block to the controller? [y/N] "));
}

void addWriteOptions(Command &c)
{
    c.parser.addOption({QStringLiteral("save"), QStringLiteral("Then have the controller store the block permanently.")});
    c.parser.addOption({QStringLiteral("verify"),
                        QStringLiteral("Then read the block back and compare every byte.")});
}

// --- set --------------------------------------------------------------------

const char kSetHelp[] =
    "Reads the block, changes only the functions named, and writes it back.\n"
    "Functions: tilt, pan (or heading), mode, rec (or video), zoom; channels 1 to 18.\n"
    "A function the controller holds on no channel of 1 to 18 is not written back\n"
    "so unless this command gives it a channel or says --force.\n"
    "Example: sbus-channel-cli set --port ttyUSB0 tilt=3 zoom=9 --save --verify";

int set(Command &c, const QStringList &arguments)
{
    c.parser.addPositionalArgument(QStringLiteral("FUNCTION=CHANNEL"), QStringLiteral("For example tilt=3."),
                                   QStringLiteral("FUNCTION=CHANNEL..."));
    c.parser.addOption({QStringLiteral("force"),
                        QStringLiteral("Write back as they are the channels outside 1..18 that the controller holds "
                                       "for functions not named.")});
    if (const int code = c.parse(arguments); code >= 0)
        return code;

    static const std::map<QString, int> kFunctions = {
        {QStringLiteral("tilt"), Tilt}, {QStringLiteral("pan"), Heading}, {QStringLiteral("heading"), Heading},
        {QStringLiteral("mode"), Mode}, {QStringLiteral("rec"), Video},   {QStringLiteral("video"), Video},
        {QStringLiteral("zoom"), Zoom},
    };
    // Everything is checked before the port is opened: a typo sends nothing.
    std::map<int, int> wanted;
    for (const QString &arg : c.parser.positionalArguments()) {
        const int eq = arg.indexOf(QLatin1Char('='));
        const QString name = arg.left(eq).trimmed().toLower();
        const auto function = kFunctions.find(name);
        if (eq < 0 || function == kFunctions.end())
            return c.usage(QStringLiteral("\"%1\" is not FUNCTION=CHANNEL with FUNCTION one of tilt, pan, mode, rec, zoom")
                               .arg(arg));
        bool ok = false;
        const int channel = arg.mid(eq + 1).trimmed().toInt(&ok);
        if (!ok || channel < 1 || channel > 18)
            return c.usage(QStringLiteral("%1: channel \"%2\" is not an SBUS channel (1 to 18); nothing was sent")
                               .arg(functionName(function->second), arg.mid(eq + 1)));
        if (wanted.count(function->second))
            return c.usage(QStringLiteral("%1 is given twice").arg(functionName(function->second)));
        wanted[function->second] = channel;
    }
    if (wanted.empty())
        return c.usage(QStringLiteral("nothing to set; give for example tilt=3"));

    Session s;
    if (const int code = s.openAndRead(c); code >= 0)
        return code;
    const ParamBlock before = s.block();
    ParamBlock after = before;
    for (const auto &[function, channel] : wanted)
        after[std::size_t(kFunctionSlot[function])] = std::uint8_t(channel);
    // The whole block goes back, so a function left on no channel would be
    // written (and with --save stored) so again, as if it were meant.
    if (const QString held = Output::outOfRangeLine(after); !held.isEmpty() && !c.parser.isSet(QStringLiteral("force"))) {
        QStringList missing;
        for (int f : functionsOutOfRange(after))
            missing << functionName(f) + QStringLiteral("=N");
        return c.fail(ExitCode::kUsage,
                      QStringLiteral("the controller holds %1, outside the SBUS channels 1 to 18; nothing was written.\n"
                                     "Give them channels in the same command:\n  %2 %3\n"
                                     "or add --force to write them back as they are.")
                          .arg(held, c.commandLine(), missing.join(QLatin1Char(' '))));
    }
    for (const auto &[function, channel] : wanted) {
        c.say(QStringLiteral("%1: channel %2 -> %3")
                  .arg(functionName(function))
                  .arg(before[std::size_t(kFunctionSlot[function])])
                  .arg(channel));
    }
    QJsonObject report;
    report.insert(QStringLiteral("before"), Output::channelsJson(before));
    return writeBlock(c, s, before, after, report);
}

// --- restore ----------------------------------------------------------------

const char kRestoreHelp[] =
    "Writes a block saved by backup back to the controller. Reads the controller\n"
    "first, shows every byte that would change, and asks before writing.\n"
    "A file that is malformed or not a backup is refused before the port is opened,\n"
    "and so is one with a channel outside 1..18, unless --force is given.\n"
    "\n"
    "A production line: --port given more than once configures every port at the\n"
    "same time, each as restore configures one, with its messages on standard error\n"
    "after its port's name and one line per unit on standard output as it finishes.\n"
    "--wait configures every controller that appears, on the ports given, or without\n"
    "--port on every serial port plugged in after the start, until Ctrl+C. --report\n"
    "keeps one row per unit (time, port, adapter, block before and after, what the\n"
    "controller holds, the result, its exit code) in a CSV file, or JSON for a name\n"
    "ending in .json, written anew after every unit. These take --yes. The exit code\n"
    "is the first failing unit's (in --port order; with --wait, in the order units\n"
    "finished), 128+N when a signal stopped a unit's job, 1 when the report could not\n"
    "be written, else 0; Ctrl+C while only waiting ends a --wait run with that code.\n"
    "With --json, the report is printed on standard output at the end as well.";

int restore(Command &c, const QStringList &arguments)
{
    c.parser.addOption({{QStringLiteral("y"), QStringLiteral("yes")}, QStringLiteral("Write without asking.")});
    c.parser.addOption({QStringLiteral("force"),
                        QStringLiteral("Restore channels outside 1..18 in the file as they are (every other check "
                                       "of the file stays).")});
    c.parser.addOption({QStringLiteral("wait"),
                        QStringLiteral("Configure every controller that appears, one after another, until Ctrl+C.")});
    c.parser.addOption({QStringLiteral("report"),
                        QStringLiteral("One row per unit in FILE: CSV, or JSON when it ends in .json."),
                        QStringLiteral("FILE")});
    c.portOptional = true;
    QString path;
    if (const int code = c.parseWithFile(arguments, QStringLiteral("A file written by backup (- for standard input)."), &path);
        code >= 0)
        return code;
    const bool yes = c.parser.isSet(QStringLiteral("yes"));
    const bool force = c.parser.isSet(QStringLiteral("force"));
    const bool wait = c.parser.isSet(QStringLiteral("wait"));
    QStringList ports = c.parser.values(QStringLiteral("port"));
    for (QString &port : ports)
        port = PortList::knownName(port);
    ports.removeAll(QString());
    const bool batch = ports.size() > 1 || wait || c.parser.isSet(QStringLiteral("report"));
    if (ports.isEmpty() && !wait)
        return c.usage(QStringLiteral("which port? Give --port (sbus-channel-cli ports lists them)"));
    // Ten questions at once can't be asked, nor one of a controller not plugged in yet.
    if (batch && !yes)
        return c.usage(QStringLiteral("more than one --port, --wait and --report leave no way to ask; add --yes"));
    if (const QString twice = Batch::duplicatePorts(ports); !twice.isEmpty())
        return c.usage(twice);
    if (path == QLatin1String("-") && !yes)
        return c.usage(QStringLiteral("reading the file from standard input leaves no way to ask; add --yes"));

    QString why;
    ParamBlock target{};
    const BackupFile::LoadResult loaded = loadBackup(path, &target, &why);
    if (StopSignals::pending() != 0)
        return c.fail(ExitCode::kSignalled + StopSignals::pending(),
                      StopSignals::describe(StopSignals::pending()) + QStringLiteral("; nothing was sent"));
    if (loaded == BackupFile::LoadResult::Unreadable)
        return c.fail(ExitCode::kFileRefused, QStringLiteral("cannot read %1: %2; nothing was sent").arg(path, why));
    if (loaded == BackupFile::LoadResult::Refused)
        return c.fail(ExitCode::kFileRefused, QStringLiteral("%1 refused, nothing sent: %2").arg(path, why));
    // Taken in full above, so that the one thing --force changes is said alone.
    if (const QString outside = BackupFile::outOfRangeReason(target); !outside.isEmpty()) {
        if (!force)
            return c.fail(ExitCode::kFileRefused,
                          QStringLiteral("%1 refused, nothing sent: %2. Add --force to restore it as it is.")
                              .arg(path, outside));
        Output::printError(QStringLiteral("sbus-channel-cli restore: warning: %1 holds %2, outside 1..18; "
                                          "taken as it is (--force).")
                               .arg(path, Output::outOfRangeLine(target)));
    }

    if (batch) {
        Batch::Options o;
        o.file = path;
        o.target = target;
        o.ports = ports;
        o.wait = wait;
        o.save = c.parser.isSet(QStringLiteral("save"));
        o.verify = c.parser.isSet(QStringLiteral("verify"));
        o.force = force;
        o.json = c.json;
        o.report = c.parser.value(QStringLiteral("report"));
        return Batch::run(o);
    }
    Session s;
    if (const int code = s.openAndRead(c); code >= 0)
        return code;
    return restoreUnit(c, s, path, target);
}

// --- undo -------------------------------------------------------------------

const char kUndoHelp[] =
    "Writes back the block the controller held before the last write through\n"
    "this adapter (by this program or the window), as the history of blocks\n"
    "remembers it. Shows every byte that would change and asks before writing.\n"
    "Run again, it undoes the undo. With no write in the history, sends nothing.";

int undo(Command &c, const QStringList &arguments)
{
    c.parser.addOption({{QStringLiteral("y"), QStringLiteral("yes")}, QStringLiteral("Write without asking.")});
    c.parser.addOption({QStringLiteral("force"),
                        QStringLiteral("Write back channels outside 1..18 in the earlier block as they are.")});
    if (const int code = c.parse(arguments); code >= 0)
        return code;
    if (!c.parser.positionalArguments().isEmpty())
        return c.usage(QStringLiteral("undo takes no FILE or other argument: \"%1\"").arg(c.parser.positionalArguments().first()));

    // Looked up before the port is opened: with nothing to undo, nothing is sent.
    const BlockHistory::Adapter adapter = adapterBehind(c.port);
    const std::optional<BlockHistory::Entry> last = history().lastWrite(adapter);
    tellHistoryProblem(c);
    if (!last)
        return c.fail(ExitCode::kFileRefused,
                      QStringLiteral("there is nothing to undo: the history of blocks (%1) holds no write through %2; "
                                     "nothing was sent")
                          .arg(QDir::toNativeSeparators(history().path()), BlockHistory::adapterText(adapter)));
    const ParamBlock target = *last->before;
    const QString when = last->time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (const QString held = Output::outOfRangeLine(target); !held.isEmpty()) {
        if (!c.parser.isSet(QStringLiteral("force")))
            return c.fail(ExitCode::kUsage,
                          QStringLiteral("before the write of %1 the controller held %2, outside the SBUS channels 1 to "
                                         "18; nothing was sent. Add --force to write that back as it is.")
                              .arg(when, held));
        Output::printError(QStringLiteral("sbus-channel-cli undo: warning: the earlier block holds %1, outside 1..18; "
                                          "taken as it is (--force).")
                               .arg(held));
    }
    c.say(QStringLiteral("Undoing the write of %1, which wrote %2; going back to %3.")
              .arg(when, Output::channelsLine(last->block), Output::channelsLine(target)));

    Session s;
    if (const int code = s.openAndRead(c); code >= 0)
        return code;
    const auto heading = [&](int n) {
        return QStringLiteral("The block from before the write of %1 differs from the controller on %2 in %3 byte(s) "
                              "(controller -> before that write):")
            .arg(when, c.port, QString::number(n));
    };
    return askAndWrite(c, s, target, heading, QStringLiteral("Write the earlier block to the controller? [y/N] "));
}

} // namespace Cli
