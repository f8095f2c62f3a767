// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// What the commands that talk to a controller share with the batch restore:
// the command's parser and output, and a session on one port.
#include <QCommandLineParser>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <optional>

#include "cli/exitcodes.h"
#include "cli/linkrunner.h"
#include "cli/output.h"
#include "formats/backupfile.h"
#include "formats/blockhistory.h"
#include "link/holds.h"
#include "link/linktask.h"
#include "link/paramexchange.h"
#include "os/stopsignals.h"
#include "port/portlist.h"

namespace Cli {

using Language = PortDiagnostics::Language;

// What every command shares: its parser, --json and the port.
struct Command {
    QString name;
    QCommandLineParser parser;
    bool json = false;
    bool needsPort = false;
    // restore with --wait may go without a port, and says itself when it can't.
    bool portOptional = false;
    QString port;
    QStringList arguments;
    // Where the batch sends what a unit's command says (stderr: true), with
    // the port in front; unset, it goes to the standard streams.
    std::function<void(const QString &text, bool toStderr)> sink;
    // The last failure said, for a batch's report.
    mutable QString failure;

    Command(const QString &commandName, const QString &description, bool withPort)
        : name(commandName), needsPort(withPort)
    {
        parser.setApplicationDescription(description);
        parser.addHelpOption();
        parser.addOption({QStringLiteral("json"), QStringLiteral("Print JSON for scripts instead of text.")});
        if (needsPort)
            parser.addOption({{QStringLiteral("p"), QStringLiteral("port")},
                              QStringLiteral("Serial port: ttyUSB0 (in /dev), COM3, or a path: /dev/ttyUSB0, ./pty, ..."),
                              QStringLiteral("port")});
    }

    QString help() const
    {
        QString text = parser.helpText();
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                     QStringLiteral("Usage: sbus-channel-cli ") + name);
        return text;
    }

    // For a command that takes exactly one FILE: -1 when it goes on, with the
    // file in *file; otherwise the exit code to return.
    int parseWithFile(const QStringList &given, const QString &about, QString *file)
    {
        parser.addPositionalArgument(QStringLiteral("FILE"), about);
        if (const int code = parse(given); code >= 0)
            return code;
        const QStringList files = parser.positionalArguments();
        if (files.size() != 1)
            return usage(QStringLiteral("give exactly one FILE"));
        *file = files.first();
        return -1;
    }

    // -1 when the command goes on; otherwise the exit code to return.
    int parse(const QStringList &given)
    {
        arguments = given;
        if (!parser.parse(QStringList{QStringLiteral("sbus-channel-cli")} + arguments))
            return usage(parser.errorText());
        if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
            Output::print(help().trimmed());
            return ExitCode::kOk;
        }
        json = parser.isSet(QStringLiteral("json"));
        if (needsPort) {
            // "com3" and "\\.\COM3" are COM3, and output and backups say so.
            port = PortList::knownName(parser.value(QStringLiteral("port")));
            if (port.isEmpty() && !portOptional)
                return usage(QStringLiteral("which port? Give --port (sbus-channel-cli ports lists them)"));
        }
        return -1;
    }

    int usage(const QString &message) const
    {
        return fail(ExitCode::kUsage, message + QStringLiteral("\nSee: sbus-channel-cli %1 --help").arg(name));
    }

    int fail(int code, const QString &message) const
    {
        failure = message;
        err(QStringLiteral("sbus-channel-cli %1: %2").arg(name, message));
        if (json) {
            QJsonObject o;
            o.insert(QStringLiteral("error"), message);
            o.insert(QStringLiteral("exitCode"), code);
            Output::printJson(o);
        }
        return code;
    }

    void say(const QString &text) const
    {
        if (json)
            return;
        if (sink)
            sink(text, false);
        else
            Output::print(text);
    }

    void err(const QString &text) const
    {
        if (sink)
            sink(text, true);
        else
            Output::printError(text);
    }

    // This very command, to paste into a shell.
    QString commandLine() const
    {
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./=:,+@%-]+$"));
        QStringList words{QStringLiteral("sbus-channel-cli"), name};
        for (QString a : arguments)
            words << (plain.match(a).hasMatch()
                          ? a
                          : QLatin1Char('\'') + a.replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\''));
        return words.join(QLatin1Char(' '));
    }
};

// The window's language, read once: a batch reads it before its threads start.
Language windowLanguage();
QString said(const char *english, const char *chinese);

// The per-user history of blocks; units of a batch take turns at it.
BlockHistory::History &history();
std::recursive_mutex &historyLock();
void tellHistoryProblem(const Command &c);
BlockHistory::Adapter adapterBehind(const QString &port);
QJsonArray differencesJson(const std::vector<BlockHistory::Difference> &diffs, const QString &fromKey,
                           const QString &toKey);
// ISO 8601 with the time's own offset, to the millisecond.
QString timeText(const QDateTime &time);
QJsonObject adapterJson(const BlockHistory::Adapter &adapter);
void warnOfSharedChannels(const Command &c, const ParamBlock &block);

// An open link to the controller and the job it is running.
struct Session {
    LinkRunner runner;
    LinkTask task;
    // What the controller holds as far as this command knows, so that
    // however a job ends, the user is told.
    Holds holds = Holds::Unchanged;
    // --save was asked for, so a block only in RAM is a job not finished.
    bool saveWanted = false;

    BlockHistory::Adapter adapter;
    // Set by a batch, which asks the system about all its ports at once.
    bool adapterKnown = false;
    // What the verifying read found, once it has read the whole block.
    std::optional<ParamBlock> readBack;
    // The newest store through this adapter that the controller, at this
    // contact, turned out not to hold.
    std::optional<BlockHistory::Entry> notHeld;
    QString contactWarning;

    // The next controller on this line (a batch waiting on one adapter) is
    // a contact of its own: nothing of the last one's job carries over.
    void newContact()
    {
        holds = Holds::Unchanged;
        readBack.reset();
        notHeld.reset();
        contactWarning.clear();
    }

    // Every command that talks to the controller begins as the window's every
    // contact does: with a read of the whole block.
    int openAndRead(const Command &c)
    {
        QString error;
        if (!runner.open(c.port, &error))
            return c.fail(ExitCode::kPortUnavailable, error);
        if (!adapterKnown)
            adapter = adapterBehind(c.port);
        if (const int code = download(c); code >= 0)
            return code;
        checkContact(c);
        return -1;
    }

    // A controller that said it stored a block and holds another one now
    // (its flash lost the store, or another controller is on this adapter)
    // is told at once, before anyone relies on it. Nothing is written.
    void checkContact(const Command &c)
    {
        const std::lock_guard<std::recursive_mutex> lock(historyLock());
        const std::optional<BlockHistory::Entry> stored = history().lastStored(adapter);
        tellHistoryProblem(c);
        record(c, BlockHistory::Event::Read, block());
        if (!stored || stored->block == block())
            return;
        contactWarning = BlockHistory::contactWarning(*stored, block(), windowLanguage());
        if (contactWarning.isEmpty())
            return;
        notHeld = stored;
        c.err(QStringLiteral("sbus-channel-cli %1: %2\n").arg(c.name, contactWarning) +
                           said("  Another controller is on this adapter, or this one did not keep its last store. "
                                "What was stored when: sbus-channel-cli history --port %1",
                                "  此适配器上换了控制器，或此控制器未保留上次烧写的参数。烧写记录：sbus-channel-cli "
                                "history --port %1")
                               .arg(c.port));
    }

    // The contact check for scripts: null when the controller holds what was
    // last stored through this adapter, or nothing was.
    QJsonValue contactCheckJson() const
    {
        if (!notHeld)
            return QJsonValue::Null;
        QJsonObject o;
        o.insert(QStringLiteral("storedAt"), timeText(notHeld->time));
        o.insert(QStringLiteral("differences"),
                 differencesJson(BlockHistory::differences(notHeld->block, block()), QStringLiteral("stored"),
                                 QStringLiteral("now")));
        o.insert(QStringLiteral("message"), contactWarning);
        return o;
    }

    void record(const Command &c, BlockHistory::Event event, const ParamBlock &held, bool stored = false,
                std::optional<ParamBlock> before = std::nullopt)
    {
        const std::lock_guard<std::recursive_mutex> lock(historyLock());
        history().append(BlockHistory::makeEntry(QDateTime::currentDateTime(), QStringLiteral("cli"), adapter, event, held,
                                                 stored, before));
        tellHistoryProblem(c);
    }

    // Runs the task's job; -1 when it finished, otherwise the exit code. A
    // step that writes is not interruptible: a signal waits for its end,
    // which the give-up rules bound.
    int step(const Command &c, const QString &what, bool interruptible, const std::function<void()> &onCycle = {},
             const std::function<bool()> &stopWhen = {})
    {
        const LinkRunner::Result result = runner.run(task, onCycle, [&] {
            return (interruptible && StopSignals::pending() != 0) || (stopWhen && stopWhen());
        });
        switch (result) {
        case LinkRunner::Result::Done:
            return -1;
        case LinkRunner::Result::Interrupted:
            return interruptible && StopSignals::pending() != 0 ? stopped(c) : -1;
        case LinkRunner::Result::Silent:
            return failed(c, ExitCode::kDeviceSilent, what);
        case LinkRunner::Result::Refused:
            return failed(c, ExitCode::kDeviceRefused, what);
        case LinkRunner::Result::PortLost:
            return failed(c, ExitCode::kPortUnavailable, what);
        }
        return -1;
    }

    int download(const Command &c) { task.download(); return step(c, QStringLiteral("reading the parameters"), true); }

    // After a step: a signal that came while it ran ends the command here.
    int stopIfSignalled(const Command &c) const { return StopSignals::pending() != 0 ? stopped(c) : -1; }

    int stopped(const Command &c) const
    {
        const int signalNumber = StopSignals::pending();
        return c.fail(ExitCode::kSignalled + signalNumber, StopSignals::describe(signalNumber) + QStringLiteral("; ") + aftermath(c));
    }

    int failed(const Command &c, int code, const QString &what) const
    {
        QString text = QStringLiteral("%1: %2").arg(what, runner.failure());
        if (holds != Holds::Unchanged)
            text += QLatin1Char('\n') + aftermath(c);
        return c.fail(code, text);
    }

    // What the controller now holds, and the command that puts it right.
    QString aftermath(const Command &c) const
    {
        const QString again = QStringLiteral("\nTo put it right, run again:\n  ") + c.commandLine();
        switch (current()) {
        case Holds::Unchanged:
            return QStringLiteral("nothing was written; the controller keeps the parameters it had.");
        case Holds::PartlyWritten:
            return QStringLiteral("the write was cut off after %1 of its 3 parts: the controller's RAM may hold part "
                                  "of the new parameters and part of the old. Nothing was stored permanently; "
                                  "switching the controller off and on brings back the stored ones.")
                       .arg(task.writesConfirmed()) +
                   again;
        case Holds::InRam:
            return QStringLiteral("the controller holds the new parameters in RAM; they are not stored "
                                  "permanently and last until it is switched off.") +
                   (saveWanted ? QStringLiteral("\nTo store them, run again:\n  ") + c.commandLine() : QString());
        case Holds::StoreUnknown:
            return QStringLiteral("the controller holds the new parameters in RAM; whether it stored them "
                                  "permanently is not known.") +
                   again;
        case Holds::StoreFailed:
            return QStringLiteral("the controller holds the new parameters in RAM, but could not store them "
                                  "permanently.") +
                   again;
        case Holds::Stored:
            return QStringLiteral("the controller holds the new parameters, stored permanently.");
        }
        return {};
    }

    // A save that a reply answered and that still ended refused is one the
    // controller reported as failed; any other end leaves it unknown.
    Holds current() const
    {
        const bool reportedFailed = task.job() == LinkTask::Job::Save && task.state() == LinkTask::State::Refused &&
                                    task.exchange().saveRequest == 0;
        return holds == Holds::StoreUnknown && reportedFailed ? Holds::StoreFailed : holds;
    }

    ParamBlock block() const { return task.exchange().paramBlock; }
};

int doneWith(const Command &c, QJsonObject report, const ParamBlock &block);
int writeBlock(const Command &c, Session &s, const ParamBlock &current, const ParamBlock &target, QJsonObject report);
int askAndWrite(const Command &c, Session &s, const ParamBlock &target, const std::function<QString(int)> &heading,
                const QString &question);
// What restore does once it has read the controller: shows what writing the
// file's block changes, asks unless --yes, and writes, stores and verifies it.
int restoreUnit(const Command &c, Session &s, const QString &path, const ParamBlock &target);

} // namespace Cli
