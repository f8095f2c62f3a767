// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/batch.h"
#include "cli/exitcodes.h"
#include "cli/linkrunner.h"
#include "cli/output.h"
#include "cli/session.h"
#include "formats/backupfile.h"
#include "formats/blockhistory.h"
#include "formats/functionnames.h"
#include "formats/liverecord.h"
#include "link/paramexchange.h"
#include "port/portdiagnostics.h"
#include "port/portlist.h"
#include "os/configfile.h"
#include "os/safefile.h"
#include "os/stopsignals.h"

namespace {

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

} // namespace

// Shared with the batch (cli/session.h).
namespace Cli {

// --- the history of blocks --------------------------------------------------

// What this program says in common with the window (the contact check, two
// functions on one channel, the history's troubles) is said in the window's
// language, read from the window's own language file. Before any choice is
// stored there, the command line keeps to English.
Language windowLanguage()
{
    static const Language language = [] {
        // The window finds its per-user file under its own name, not ours.
        const QString own = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("sbus-channel"));
        const QString path = ConfigFile::find().path;
        QCoreApplication::setApplicationName(own);
        if (path.isEmpty() || !QFileInfo(path).isFile())
            return Language::English;
        const QVariant stored = QSettings(path, QSettings::IniFormat).value(QStringLiteral("General/LangureType"));
        if (!stored.isValid())
            return Language::English;
        // As the window reads it: 2 is English, anything else Chinese.
        return static_cast<quint8>(stored.toInt()) == 2 ? Language::English : Language::Chinese;
    }();
    return language;
}

QString said(const char *english, const char *chinese)
{
    return QString::fromUtf8(windowLanguage() == Language::Chinese ? chinese : english);
}

// The per-user history the window keeps too. Its troubles are said once a
// run, and never stop a command: the controller's job comes first.
BlockHistory::History &history()
{
    static BlockHistory::History history;
    return history;
}

std::recursive_mutex &historyLock()
{
    static std::recursive_mutex lock;
    return lock;
}

void tellHistoryProblem(const Command &c)
{
    const std::lock_guard<std::recursive_mutex> lock(historyLock());
    // The window's language file is looked for only when there is something to say.
    if (history().problem().isEmpty())
        return;
    const QString problem = history().takeProblem(windowLanguage());
    if (!problem.isEmpty())
        c.err(QStringLiteral("sbus-channel-cli %1: %2").arg(c.name, problem));
}

// The adapter behind a port as given, a relative path made absolute so that
// it means the same from any directory.
BlockHistory::Adapter adapterBehind(const QString &port)
{
    return BlockHistory::adapterOf(PortList::absoluteName(port));
}

// Each slot that differs, its function null for one of the controller's
// own slots, its two values under the names given.
QJsonArray differencesJson(const std::vector<BlockHistory::Difference> &diffs, const QString &fromKey,
                           const QString &toKey)
{
    QJsonArray list;
    for (const BlockHistory::Difference &d : diffs) {
        QJsonObject o;
        o.insert(QStringLiteral("function"),
                 d.function >= 0 ? QJsonValue(functionName(d.function)) : QJsonValue(QJsonValue::Null));
        o.insert(QStringLiteral("slot"), d.slot);
        o.insert(fromKey, int(d.from));
        o.insert(toKey, int(d.to));
        list.append(o);
    }
    return list;
}

QString timeText(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QJsonObject adapterJson(const BlockHistory::Adapter &adapter)
{
    QJsonObject o;
    o.insert(QStringLiteral("serial"), adapter.serial);
    o.insert(QStringLiteral("usb"), adapter.usbId);
    o.insert(QStringLiteral("byId"), adapter.byId);
    o.insert(QStringLiteral("port"), adapter.port);
    o.insert(QStringLiteral("text"), BlockHistory::adapterText(adapter));
    return o;
}

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

// Success: with --json, the command's report with the port and the block it ends with.
int doneWith(const Command &c, QJsonObject report, const ParamBlock &block)
{
    if (c.json) {
        report.insert(QStringLiteral("port"), c.port);
        report.insert(QStringLiteral("channels"), Output::channelsJson(block));
        report.insert(QStringLiteral("outOfRange"), Output::outOfRangeJson(block));
        report.insert(QStringLiteral("block"), BackupFile::blockJson(block));
        Output::printJson(report);
    }
    return ExitCode::kOk;
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

static Answer ask(const QString &question)
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

int restoreUnit(const Command &c, Session &s, const QString &path, const ParamBlock &target)
{
    const auto heading = [&](int n) {
        return QStringLiteral("%1 differs from the controller on %2 in %3 byte(s) (controller -> file):")
            .arg(path, c.port, QString::number(n));
    };
    return askAndWrite(c, s, target, heading, QStringLiteral("Write the file's block to the controller? [y/N] "));
}

} // namespace Cli

namespace {

using namespace Cli;

QJsonObject entryJson(const BlockHistory::Entry &e)
{
    static const char *const kEvents[] = {"read", "write", "store"};
    QJsonObject o;
    o.insert(QStringLiteral("time"), timeText(e.time));
    o.insert(QStringLiteral("program"), e.program);
    o.insert(QStringLiteral("event"), QLatin1String(kEvents[int(e.event)]));
    if (e.event == BlockHistory::Event::Store)
        o.insert(QStringLiteral("stored"), e.stored);
    o.insert(QStringLiteral("adapter"), adapterJson(e.adapter));
    o.insert(QStringLiteral("channels"), Output::channelsJson(e.block));
    o.insert(QStringLiteral("block"), BackupFile::blockJson(e.block));
    if (e.before)
        o.insert(QStringLiteral("before"), BackupFile::blockJson(*e.before));
    return o;
}

void addWriteOptions(Command &c)
{
    c.parser.addOption({QStringLiteral("save"), QStringLiteral("Then have the controller store the block permanently.")});
    c.parser.addOption({QStringLiteral("verify"),
                        QStringLiteral("Then read the block back and compare every byte.")});
}

// --- ports ------------------------------------------------------------------

QString accessName(PortDiagnostics::Access a)
{
    switch (a) {
    case PortDiagnostics::Access::Openable: return QStringLiteral("openable");
    case PortDiagnostics::Access::Missing: return QStringLiteral("missing");
    case PortDiagnostics::Access::NoPermission: return QStringLiteral("no-permission");
    case PortDiagnostics::Access::Busy: return QStringLiteral("busy");
    case PortDiagnostics::Access::NotSerial: return QStringLiteral("not-serial");
    case PortDiagnostics::Access::Unknown: break;
    }
    return QStringLiteral("unknown");
}

QJsonArray toJson(const std::vector<std::string> &lines)
{
    QJsonArray a;
    for (const std::string &l : lines)
        a.append(QString::fromStdString(l));
    return a;
}

const char kPortsHelp[] =
    "Lists the serial ports with what the system knows of them (description, maker,\n"
    "USB vendor:product, serial number), opens each for a moment to see whether you\n"
    "can, and where you can't, says why and what to do about it.";

int ports(Command &c, const QStringList &arguments)
{
    // Opening a port raises its DTR and RTS lines, which resets some boards;
    // shell completion and scripts that only want the names must not do that.
    c.parser.addOption({QStringLiteral("names"),
                        QStringLiteral("Print only each port's path, one a line (--json: an array), and open none.")});
    if (const int code = c.parse(arguments); code >= 0)
        return code;

    QJsonArray list;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    if (c.parser.isSet(QStringLiteral("names"))) {
        for (const QSerialPortInfo &info : infos) {
            if (c.json)
                list.append(PortList::knownName(info.systemLocation()));
            else
                Output::print(PortList::knownName(info.systemLocation()));
        }
        if (c.json)
            Output::printJson(list);
        return ExitCode::kOk;
    }
    for (const QSerialPortInfo &info : infos) {
        // Users know a port as /dev/ttyUSB0, or as COM3 where the system's
        // location is \\.\COM3.
        const QString name = PortList::knownName(info.systemLocation());
        QSerialPort probe;
        QString openError;
        const bool opened = PortList::open(probe, name, &openError);
        probe.close();
        const PortDiagnostics::Report report = opened ? PortDiagnostics::examine(name.toStdString())
                                                      : PortList::examineFailedOpen(name, openError);

        QJsonObject o;
        o.insert(QStringLiteral("name"), info.portName());
        o.insert(QStringLiteral("location"), info.systemLocation());
        o.insert(QStringLiteral("description"), info.description());
        o.insert(QStringLiteral("manufacturer"), info.manufacturer());
        o.insert(QStringLiteral("serialNumber"), info.serialNumber());
        const auto hex4 = [](quint16 v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')); };
        o.insert(QStringLiteral("vendorId"), info.hasVendorIdentifier() ? QJsonValue(hex4(info.vendorIdentifier())) : QJsonValue());
        o.insert(QStringLiteral("productId"), info.hasProductIdentifier() ? QJsonValue(hex4(info.productIdentifier())) : QJsonValue());
        o.insert(QStringLiteral("openable"), opened);
        o.insert(QStringLiteral("openError"), openError);
        o.insert(QStringLiteral("access"), opened ? accessName(PortDiagnostics::Access::Openable) : accessName(report.access));
        o.insert(QStringLiteral("reasons"), toJson(report.reasons));
        o.insert(QStringLiteral("fixes"), toJson(report.fixes));
        list.append(o);

        if (c.json)
            continue;
        QStringList about;
        if (!info.manufacturer().isEmpty())
            about << info.manufacturer();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            about << QStringLiteral("USB %1:%2").arg(hex4(info.vendorIdentifier()), hex4(info.productIdentifier()));
        if (!info.serialNumber().isEmpty())
            about << QStringLiteral("serial %1").arg(info.serialNumber());
        Output::print(QStringLiteral("%1  %2%3")
                          .arg(name,
                               info.description().isEmpty() ? QStringLiteral("(no description)") : info.description(),
                               about.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(about.join(QStringLiteral(", ")))));
        if (opened) {
            Output::print(QStringLiteral("    can be opened"));
            // A port that opens now can still be snatched by a modem prober a moment later.
            if (report.modemManagerRunning)
                Output::print(QStringLiteral("    note: ModemManager is running and may grab this adapter when it is plugged in"));
            continue;
        }
        // The system's own words ("Permission error while locking the device")
        // only where nothing better was found; then what to do about it.
        const QStringList why = PortList::whyNotOpened(name, openError).split(QLatin1Char('\n'));
        Output::print(QStringLiteral("    cannot be opened: %1").arg(why.first()));
        for (const QString &line : why.mid(1))
            Output::print(QStringLiteral("    ") + line);
    }
    if (c.json)
        Output::printJson(list);
    else if (infos.isEmpty())
        Output::print(QString::fromStdString(PortDiagnostics::noPortsFound()));
    return ExitCode::kOk;
}

// --- get, set ---------------------------------------------------------------

const char kGetHelp[] =
    "Reads the controller's parameter block and prints the five channel\n"
    "assignments and all 18 bytes. Where the block differs from what was last\n"
    "stored through the same adapter, says so on standard error (--json: in\n"
    "\"contactCheck\", null when it holds what was stored or nothing was).";

int get(Command &c, const QStringList &arguments)
{
    if (const int code = c.parse(arguments); code >= 0)
        return code;
    Session s;
    if (const int code = s.openAndRead(c); code >= 0)
        return code;
    c.say(QStringLiteral("Controller on %1:\n%2").arg(c.port, Output::blockReport(s.block())));
    if (const QString held = Output::outOfRangeLine(s.block()); !held.isEmpty())
        c.say(QStringLiteral("Not on an SBUS channel (1 to 18): %1. Those functions follow no receiver channel; "
                             "give them one with: sbus-channel-cli set --port %2 FUNCTION=N")
                  .arg(held, c.port));
    QJsonObject report;
    report.insert(QStringLiteral("contactCheck"), s.contactCheckJson());
    return doneWith(c, report, s.block());
}

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

// --- backup, restore --------------------------------------------------------

const char kBackupHelp[] =
    "Reads the controller's whole parameter block and saves it as JSON\n"
    "(format version, time, port, the five channels, the 18 bytes).\n"
    "FILE - writes it to standard output. A block with a channel outside 1..18\n"
    "is saved as it is, with a warning: restoring it so takes restore --force.";

int backup(Command &c, const QStringList &arguments)
{
    QString path;
    if (const int code = c.parseWithFile(arguments, QStringLiteral("Where to save the block."), &path); code >= 0)
        return code;
    const bool toStdout = path == QLatin1String("-");

    // Where the backup goes is checked before the controller is asked: a
    // device node, a FIFO or a directory is never replaced by a file.
    QString why;
    if (toStdout ? !Output::standardOutputWritable() : SafeFile::writeTarget(path, &why).isEmpty())
        return c.fail(ExitCode::kNotDone, toStdout ? QStringLiteral("standard output is closed; nothing was read")
                                                   : QStringLiteral("cannot write %1: %2; nothing was read").arg(path, why));

    Session s;
    if (const int code = s.openAndRead(c); code >= 0)
        return code;
    const QDateTime taken = QDateTime::currentDateTimeUtc();
    // The file is what the controller holds all the same; but restore refuses
    // it, and the time to learn that is now, not when it is needed.
    if (const QString held = Output::outOfRangeLine(s.block()); !held.isEmpty())
        Output::printError(QStringLiteral("sbus-channel-cli backup: warning: the controller holds %1, outside the SBUS "
                                          "channels 1 to 18. The backup keeps them as they are; restore refuses it "
                                          "unless given --force.")
                               .arg(held));
    if (toStdout) {
        if (!Output::writeRaw(BackupFile::write(s.block(), taken, s.runner.portLocation())) ||
            !Output::finishStandardOutput())
            return c.fail(ExitCode::kNotDone,
                          QStringLiteral("could not write the backup to standard output: %1").arg(Output::outputFailure()));
        return ExitCode::kOk;
    }
    // All or nothing: a backup cut short by a full disk must not replace a good one.
    if (!BackupFile::save(path, s.block(), taken, s.runner.portLocation(), &why))
        return c.fail(ExitCode::kNotDone, QStringLiteral("cannot write %1: %2").arg(path, why));
    c.say(QStringLiteral("Saved %1 (%2) to %3").arg(c.port, Output::channelsLine(s.block()), path));
    QJsonObject report;
    report.insert(QStringLiteral("file"), path);
    return doneWith(c, report, s.block());
}

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
    BackupFile::LoadResult loaded = BackupFile::LoadResult::Unreadable;
    if (path == QLatin1String("-")) {
        QByteArray data;
        if (SafeFile::readToEnd(0, BackupFile::kMaxBytes, &data, &why, [] { return StopSignals::pending() != 0; }))
            loaded = BackupFile::read(data, &target, &why, PortDiagnostics::Language::English,
                                      BackupFile::OutOfRange::Allow)
                         ? BackupFile::LoadResult::Loaded
                         : BackupFile::LoadResult::Refused;
    } else {
        loaded = BackupFile::load(path, &target, &why, PortDiagnostics::Language::English, BackupFile::OutOfRange::Allow);
    }
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

// --- diff -------------------------------------------------------------------

const char kDiffHelp[] =
    "Compares two parameter blocks, each a backup FILE (- for standard input) or\n"
    "a controller (--port P), and lists every byte that differs, by function and\n"
    "slot. Exit code 0 when they are the same, 1 when they differ.\n"
    "Example: sbus-channel-cli diff airframe-7.json --port ttyUSB0";

int diff(Command &c, const QStringList &arguments)
{
    c.parser.addOption({{QStringLiteral("p"), QStringLiteral("port")},
                        QStringLiteral("A controller to read, in place of a file (may be given twice)."),
                        QStringLiteral("port")});
    c.parser.addPositionalArgument(QStringLiteral("A B"), QStringLiteral("The two blocks: backup files or --port P."));
    if (const int code = c.parse(arguments); code >= 0)
        return code;

    // Which is A and which B is the order they were given in, options and
    // files alike; the parser keeps the two apart.
    struct Source {
        bool port;
        QString name;
    };
    std::vector<Source> sources;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--")) {
            for (++i; i < arguments.size(); ++i)
                sources.push_back({false, arguments[i]});
            break;
        }
        if ((a == QLatin1String("-p") || a == QLatin1String("--port")) && i + 1 < arguments.size())
            sources.push_back({true, arguments[++i]});
        else if (a.startsWith(QLatin1String("--port=")))
            sources.push_back({true, a.mid(7)});
        else if (a.startsWith(QLatin1String("-p")) && !a.startsWith(QLatin1String("--")))
            sources.push_back({true, a.mid(2)});
        else if (a == QLatin1String("-") || !a.startsWith(QLatin1Char('-')))
            sources.push_back({false, a});
    }
    if (sources.size() != 2)
        return c.usage(QStringLiteral("give two blocks to compare, each a backup FILE or --port P"));
    if (!sources[0].port && !sources[1].port && sources[0].name == QLatin1String("-") &&
        sources[1].name == QLatin1String("-"))
        return c.usage(QStringLiteral("standard input can be only one of the two"));

    // Files first, all checked before a port is opened.
    ParamBlock blocks[2]{};
    QString labels[2];
    for (int i = 0; i < 2; ++i) {
        if (sources[std::size_t(i)].port)
            continue;
        const QString &path = sources[std::size_t(i)].name;
        labels[i] = path;
        QString why;
        BackupFile::LoadResult loaded = BackupFile::LoadResult::Unreadable;
        if (path == QLatin1String("-")) {
            QByteArray data;
            if (SafeFile::readToEnd(0, BackupFile::kMaxBytes, &data, &why, [] { return StopSignals::pending() != 0; }))
                loaded = BackupFile::read(data, &blocks[i], &why, Language::English, BackupFile::OutOfRange::Allow)
                             ? BackupFile::LoadResult::Loaded
                             : BackupFile::LoadResult::Refused;
        } else {
            loaded = BackupFile::load(path, &blocks[i], &why, Language::English, BackupFile::OutOfRange::Allow);
        }
        if (StopSignals::pending() != 0)
            return c.fail(ExitCode::kSignalled + StopSignals::pending(), StopSignals::describe(StopSignals::pending()));
        if (loaded == BackupFile::LoadResult::Unreadable)
            return c.fail(ExitCode::kFileRefused, QStringLiteral("cannot read %1: %2").arg(path, why));
        if (loaded == BackupFile::LoadResult::Refused)
            return c.fail(ExitCode::kFileRefused, QStringLiteral("%1 refused: %2").arg(path, why));
    }
    for (int i = 0; i < 2; ++i) {
        if (!sources[std::size_t(i)].port)
            continue;
        c.port = PortList::knownName(sources[std::size_t(i)].name);
        if (c.port.isEmpty())
            return c.usage(QStringLiteral("--port needs a port"));
        labels[i] = c.port;
        // One at a time: the same port may be both.
        Session s;
        if (const int code = s.openAndRead(c); code >= 0)
            return code;
        blocks[i] = s.block();
    }

    const std::vector<BlockHistory::Difference> diffs = BlockHistory::differences(blocks[0], blocks[1]);
    if (c.json) {
        QJsonObject o;
        o.insert(QStringLiteral("a"), labels[0]);
        o.insert(QStringLiteral("b"), labels[1]);
        o.insert(QStringLiteral("equal"), diffs.empty());
        o.insert(QStringLiteral("differences"), differencesJson(diffs, QStringLiteral("a"), QStringLiteral("b")));
        Output::printJson(o);
    } else if (diffs.empty()) {
        Output::print(QStringLiteral("%1 and %2 hold the same 18 bytes (%3).")
                          .arg(labels[0], labels[1], Output::channelsLine(blocks[0])));
    } else {
        Output::print(QStringLiteral("%1 and %2 differ in %3 byte(s) (%1 -> %2):\n  %4")
                          .arg(labels[0], labels[1])
                          .arg(diffs.size())
                          .arg(Output::differences(blocks[0], blocks[1]).join(QStringLiteral("\n  "))));
    }
    return diffs.empty() ? ExitCode::kSame : ExitCode::kDiffers;
}

// --- history ----------------------------------------------------------------

const char kHistoryHelp[] =
    "Lists what the history of blocks holds, oldest first: each contact's first\n"
    "read, every write the controller confirmed and every store it answered, by\n"
    "this program and the window, with the time, the adapter and the five\n"
    "channels. The history is kept per user; undo and the check at each contact\n"
    "read it.";

int historyCommand(Command &c, const QStringList &arguments)
{
    c.parser.addOption({{QStringLiteral("p"), QStringLiteral("port")},
                        QStringLiteral("Only what went through the adapter behind this port now."),
                        QStringLiteral("port")});
    c.parser.addOption({QStringLiteral("adapter"),
                        QStringLiteral("Only adapters whose by-id name, serial number, USB id or port contains this."),
                        QStringLiteral("text")});
    if (const int code = c.parse(arguments); code >= 0)
        return code;
    if (!c.parser.positionalArguments().isEmpty())
        return c.usage(QStringLiteral("unexpected \"%1\"").arg(c.parser.positionalArguments().first()));
    const bool byPort = c.parser.isSet(QStringLiteral("port"));
    const bool byText = c.parser.isSet(QStringLiteral("adapter"));
    if (byPort && byText)
        return c.usage(QStringLiteral("give --port or --adapter, not both"));
    const QString text = c.parser.value(QStringLiteral("adapter"));
    BlockHistory::Adapter wanted;
    if (byPort)
        wanted = adapterBehind(PortList::knownName(c.parser.value(QStringLiteral("port"))));
    const auto matches = [&](const BlockHistory::Adapter &a) {
        if (byPort)
            return BlockHistory::sameAdapter(a, wanted);
        if (!byText)
            return true;
        for (const QString &field : {a.byId, a.serial, a.usbId, a.port})
            if (field.contains(text, Qt::CaseInsensitive))
                return true;
        return false;
    };

    const QString path = history().path();
    const QList<BlockHistory::Entry> all = history().entries();
    tellHistoryProblem(c);
    // A history that is there and can't be read lists nothing, and is no
    // empty history.
    QByteArray probe;
    QString why;
    if (!path.isEmpty() && QFileInfo::exists(path) && !SafeFile::readRegular(path, 0, &probe, &why))
        return c.fail(ExitCode::kNotDone, QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(path), why));

    QJsonArray list;
    int shown = 0;
    for (const BlockHistory::Entry &e : all) {
        if (!matches(e.adapter))
            continue;
        ++shown;
        if (c.json) {
            list.append(entryJson(e));
            continue;
        }
        const QString event = e.event == BlockHistory::Event::Read    ? QStringLiteral("read")
                              : e.event == BlockHistory::Event::Write ? QStringLiteral("write")
                              : e.stored                              ? QStringLiteral("store ok")
                                                                      : QStringLiteral("store FAILED");
        Output::print(QStringLiteral("%1  %2  %3  %4  %5")
                          .arg(e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                          .arg(e.program, -6)
                          .arg(event, -12)
                          .arg(BlockHistory::adapterText(e.adapter), Output::channelsLine(e.block)));
    }
    if (c.json)
        Output::printJson(list);
    else if (shown == 0)
        Output::print((all.isEmpty() ? QStringLiteral("The history of blocks (%1) holds nothing yet.")
                                     : QStringLiteral("The history of blocks (%1) holds nothing through that adapter."))
                          .arg(QDir::toNativeSeparators(path)));
    return ExitCode::kOk;
}

// --- monitor ----------------------------------------------------------------

const char kMonitorHelp[] =
    "Shows live positions, test data and the gimbal state until Ctrl+C: on a\n"
    "terminal as a table refreshed in place, into a pipe or a file as one line per\n"
    "poll cycle that starts with its time (ISO 8601, UTC, milliseconds).\n"
    "With --json, one JSON object per line per poll cycle, with a \"time\" member.\n"
    "With --csv, a header line, then one row per poll cycle for a spreadsheet:\n"
    "  time,tilt_pos,pan_pos,mode_pos,rec_pos,zoom_pos,\n"
    "  tilt_test,pan_test,mode_test,rec_test,zoom_test,gimbal\n"
    "Standard output carries only these; the note on how to stop goes to\n"
    "standard error. A poll cycle takes 0.2 s (four requests) on a clean line.\n"
    "Example: sbus-channel-cli monitor -p ttyUSB0 --csv --count 300 > log.csv";

int monitor(Command &c, const QStringList &arguments)
{
    c.parser.addOption({QStringLiteral("csv"), QStringLiteral("Print CSV for a spreadsheet instead of text.")});
    c.parser.addOption({QStringLiteral("count"),
                        QStringLiteral("Stop after n poll cycles, n 1 or more (default: run until interrupted)."),
                        QStringLiteral("n")});
    if (const int code = c.parse(arguments); code >= 0)
        return code;
    const bool csv = c.parser.isSet(QStringLiteral("csv"));
    if (csv && c.json)
        return c.usage(QStringLiteral("give --csv or --json, not both"));
    qint64 count = 0; // until interrupted
    if (c.parser.isSet(QStringLiteral("count"))) {
        bool ok = false;
        const QString given = c.parser.value(QStringLiteral("count"));
        count = given.toLongLong(&ok);
        if (!ok || count < 1)
            return c.usage(QStringLiteral("--count takes a whole number of 1 or more, not \"%1\"").arg(given));
    }

    Session s;
    if (const int code = s.openAndRead(c); code >= 0)
        return code;

    const bool inPlace = !c.json && !csv && Output::redrawsInPlace();
    int drawn = 0;
    // Standard output holds records only, so that a pipe gets nothing else.
    Output::printError(QStringLiteral("Monitoring %1 (%2); Ctrl+C to stop.").arg(c.port, Output::channelsLine(s.block())));
    if (csv)
        Output::print(LiveRecord::csvHeader());
    const auto show = [&] {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const ParamExchange &x = s.task.exchange();
        if (c.json) {
            Output::printJson(Output::liveJson(s.task, now));
        } else if (csv) {
            Output::print(LiveRecord::csvRow(now, x.channelPos, x.testData, x.gimbalState));
        } else if (inPlace) {
            const QStringList lines = Output::liveTable(s.task, now);
            QByteArray out;
            if (drawn)
                out += "\033[" + QByteArray::number(drawn) + 'A';
            for (const QString &line : lines)
                out += "\r\033[K" + line.toUtf8() + '\n';
            drawn = lines.size();
            Output::writeRaw(out);
        } else {
            Output::print(Output::liveLine(s.task, now));
        }
    };
    s.task.poll();
    // Ctrl+C is the way to end a monitor, not a failure; and it also ends
    // when nobody reads what it shows any more.
    const int code = s.step(c, QStringLiteral("monitoring"), false, show, [&] {
        return StopSignals::pending() != 0 || !Output::outputFailure().isEmpty() ||
               (count > 0 && s.task.pollCycles() >= std::uint64_t(count));
    });
    return code >= 0 ? code : ExitCode::kOk;
}

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
