// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// What every subcommand of sbus-channel-cli is made of: its parser, where
// what it says goes, and how it ends.
#include <QCommandLineParser>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>

#include "cli/exitcodes.h"
#include "cli/output.h"
#include "formats/backupfile.h"
#include "link/frame.h"
#include "port/portlist.h"

namespace Cli {

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

// Success: with --json, the command's report with the port and the block it ends with.
int doneWith(const Command &c, QJsonObject report, const ParamBlock &block);

// A backup named on the command line, or - for standard input, whose read a
// stop signal cuts short. Channels outside 1..18 are taken: what to make of
// them is the command's to say.
BackupFile::LoadResult loadBackup(const QString &path, ParamBlock *block, QString *why);

} // namespace Cli
