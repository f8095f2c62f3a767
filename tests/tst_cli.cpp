// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// sbus-channel-cli run as a separate process against the simulated controller,
// which this test serves on a pseudo-terminal from its own event loop.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <unistd.h>

#include "cli/exitcodes.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"

namespace {
struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

ParamBlock withSlots(ParamBlock block, std::initializer_list<std::pair<int, int>> changes)
{
    for (auto [slot, value] : changes)
        block[std::size_t(slot)] = std::uint8_t(value);
    return block;
}

QJsonObject json(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush();
}

// A backup that restores the default block with tilt on 3 and slot 0 at 17.
const char *const kFunctions[] = {"tilt", "pan", "mode", "rec", "zoom"};
const int kSlot[] = {9, 13, 4, 10, 12};

// Rows where every function holds, over the rows, each value of a slot that
// is no SBUS channel once, and channel 9 once: the block, and the functions
// outside 1..18 in row order.
void outOfRangeRows()
{
    QTest::addColumn<QByteArray>("held");
    QTest::addColumn<QStringList>("outside");
    const int values[5] = {0, 19, 200, 255, 9};
    for (int r = 0; r < 5; ++r) {
        ParamBlock block = GimbalModel::kDefaultBlock;
        QStringList outside, name;
        for (int f = 0; f < 5; ++f) {
            const int value = values[(f + r) % 5];
            block[std::size_t(kSlot[f])] = std::uint8_t(value);
            name << QStringLiteral("%1 %2").arg(QLatin1String(kFunctions[f])).arg(value);
            if (value != 9)
                outside << QLatin1String(kFunctions[f]);
        }
        QTest::newRow(qPrintable(name.join(", "))) << QByteArray(reinterpret_cast<const char *>(block.data()), 18)
                                                  << outside;
    }
}

ParamBlock blockOf(const QByteArray &bytes)
{
    ParamBlock block{};
    std::copy(bytes.begin(), bytes.end(), block.begin());
    return block;
}

// "tilt 0, pan 19" for the functions named, as the block holds them.
QByteArray heldLine(const ParamBlock &block, const QStringList &functions)
{
    QStringList parts;
    for (int f = 0; f < 5; ++f) {
        if (functions.contains(QLatin1String(kFunctions[f])))
            parts << QStringLiteral("%1 %2").arg(QLatin1String(kFunctions[f])).arg(block[std::size_t(kSlot[f])]);
    }
    return parts.join(", ").toUtf8();
}

const QByteArray kGoodBackup = R"({"format": "sbus-channel parameter block", "version": 1, )"
                               R"("channels": {"tilt": 3, "pan": 2, "mode": 5, "rec": 6, "zoom": 7}, )"
                               R"("block": [17,90,100,33,5,120,30,150,45,3,6,200,7,2,80,35,175,65]})";
} // namespace

class TstCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<GimbalModel> model;
    std::unique_ptr<PtyController> pty;

    QString device() const { return pty->devicePath(); }

    // The process runs on its own clock; this test's event loop keeps the
    // controller answering while it waits for the exit. With `shell`, the
    // program runs inside that bash snippet as "$0" "$@".
    Run cli(QStringList args, const QByteArray &input = {}, QProcess *process = nullptr, const QString &shell = {})
    {
        args.replaceInStrings(QStringLiteral("$PORT"), device());
        args.replaceInStrings(QStringLiteral("$DIR"), dir.path());
        QProcess own;
        QProcess &p = process ? *process : own;
        QSignalSpy finished(&p, SIGNAL(finished(int, QProcess::ExitStatus)));
        if (shell.isEmpty())
            p.start(QStringLiteral(SBUS_CLI), args);
        else
            p.start(QStringLiteral("bash"), QStringList{QStringLiteral("-c"), shell, QStringLiteral(SBUS_CLI)} + args);
        if (!p.waitForStarted())
            return {};
        p.write(input);
        p.closeWriteChannel();
        if (!finished.wait(30000))
            p.kill();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                p.readAllStandardError()};
    }

private slots:
    // The program runs in a zone other than UTC, where a local time passed off as UTC shows.
    void initTestCase() { qRegisterMetaType<QProcess::ExitStatus>(); qputenv("TZ", "XST-5:30"); }

    void init()
    {
        model = std::make_unique<GimbalModel>((dir.path() + QStringLiteral("/flash")).toStdString());
        pty = std::make_unique<PtyController>(*model);
        QVERIFY2(pty->isOpen(), qPrintable(pty->errorString()));
    }

    void cleanup()
    {
        pty.reset();
        model.reset();
        QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()));
    }

    // Everything wrong on the command line is found before the port is
    // opened, and so is a file that can't be used: a backup's target, a
    // restore's file or standard input.
    void usageErrorsSendNothing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        const auto row = [](const char *name, QStringList args, int code, const char *says) {
            QTest::newRow(name) << args << code << QString::fromUtf8(says);
        };
        row("overview", {"--help"}, 0, "--version");
        for (const char *cmd : {"ports", "get", "set", "backup", "restore", "monitor"})
            row(cmd, {cmd, "--help"}, 0, "Usage: sbus-channel-cli ");
        row("help monitor", {"help", "monitor"}, 0, "--csv");
        row("nothing", {}, ExitCode::kUsage, "Commands:");
        row("unknown command", {"flash"}, ExitCode::kUsage, "no command");
        row("no port", {"get"}, ExitCode::kUsage, "--port");
        row("unknown option", {"get", "-p", "$PORT", "--fast"}, ExitCode::kUsage, "fast");
        row("channel 19", {"set", "-p", "$PORT", "tilt=19"}, ExitCode::kUsage, "1 to 18");
        row("channel 0", {"set", "-p", "$PORT", "zoom=0", "tilt=3"}, ExitCode::kUsage, "1 to 18");
        row("not a number", {"set", "-p", "$PORT", "pan=3x"}, ExitCode::kUsage, "1 to 18");
        row("no such function", {"set", "-p", "$PORT", "roll=3"}, ExitCode::kUsage, "roll=3");
        row("twice", {"set", "-p", "$PORT", "tilt=3", "tilt=4"}, ExitCode::kUsage, "twice");
        row("nothing to set", {"set", "-p", "$PORT", "--save"}, ExitCode::kUsage, "nothing to set");
        row("two files", {"backup", "-p", "$PORT", "a", "b"}, ExitCode::kUsage, "one FILE");
        row("stdin without --yes", {"restore", "-p", "$PORT", "-"}, ExitCode::kUsage, "--yes");
        for (const char *count : {"0", "-1"})
            row(count, {"monitor", "-p", "$PORT", "--count", count}, ExitCode::kUsage, "whole number of 1 or more");
        row("csv and json", {"monitor", "-p", "$PORT", "--csv", "--json"}, ExitCode::kUsage, "not both");
        row("backup to a directory", {"backup", "-p", "$PORT", "$DIR"}, ExitCode::kNotDone,
            "it is a directory, not a regular file; nothing was read");
        row("restore from a device", {"restore", "-p", "$PORT", "$PORT", "--yes"}, ExitCode::kFileRefused,
            "it is a character device, not a regular file; nothing was sent");
        row("restore from standard input", {"restore", "-p", "$PORT", "-", "--yes"}, ExitCode::kFileRefused,
            "- refused, nothing sent: it is not JSON");
        row("restore --force waives the channel range only", {"restore", "-p", "$PORT", "-", "--yes", "--force"},
            ExitCode::kFileRefused, "- refused, nothing sent: it is not JSON");
    }
    void usageErrorsSendNothing()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, says);
        const Run r = cli(args);
        QCOMPARE(r.code, code);
        QVERIFY2((r.out + r.err).contains(says.toUtf8()), (r.out + r.err).constData());
        QCOMPARE(model->requestsSeen(), quint64(0));
    }

    // Completion asks for the names alone; they are the ports the full listing shows.
    void portNamesAreTheListedPorts()
    {
        QStringList listed;
        for (const QJsonValue &port : QJsonDocument::fromJson(cli({"ports", "--json"}).out).array())
            listed << port.toObject().value(QStringLiteral("location")).toString();
        const Run names = cli({"ports", "--names"});
        QCOMPARE(names.code, 0);
        QCOMPARE(QString::fromUtf8(names.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts), listed);
        QCOMPARE(QJsonDocument::fromJson(cli({"ports", "--names", "--json"}).out).array().toVariantList(),
                 QJsonArray::fromStringList(listed).toVariantList());
    }

    void getPrintsTheWholeBlock()
    {
        const ParamBlock ram = withSlots(GimbalModel::kDefaultBlock, {{9, 4}, {0, 255}});
        model->setRam(ram);
        const Run r = cli({"get", "--port", "$PORT"});
        QVERIFY2(r.code == 0 && r.out.contains("tilt  channel  4") && r.out.contains("hex   ff "), r.out.constData());
        const QJsonObject o = json(cli({"get", "--port", "$PORT", "--json"}).out);
        QCOMPARE(o.value("channels").toObject().value("tilt").toInt(), 4);
        QJsonArray block;
        for (std::uint8_t b : ram)
            block.append(int(b));
        QCOMPARE(o.value("block").toArray(), block);
        QVERIFY(o.value("outOfRange").isArray() && o.value("outOfRange").toArray().isEmpty());
        QVERIFY2(!r.out.contains("outside 1..18") && !r.out.contains("SBUS channel"), r.out.constData());
    }

    // Each function's slot holding each value that is no SBUS channel: named
    // in the text, marked on its line, and listed for scripts.
    void getNamesChannelsOutOfRange_data() { outOfRangeRows(); }
    void getNamesChannelsOutOfRange()
    {
        QFETCH(QByteArray, held);
        QFETCH(QStringList, outside);
        const ParamBlock ram = blockOf(held);
        model->setRam(ram);
        const Run r = cli({"get", "-p", "$PORT"});
        QCOMPARE(r.code, 0);
        for (int f = 0; f < 5; ++f) {
            const QRegularExpression line(QStringLiteral("^%1 +channel +%2(  \\(outside 1\\.\\.18\\))?$")
                                              .arg(QLatin1String(kFunctions[f]))
                                              .arg(ram[std::size_t(kSlot[f])]),
                                          QRegularExpression::MultilineOption);
            const QRegularExpressionMatch m = line.match(QString::fromUtf8(r.out));
            QVERIFY2(m.hasMatch() && !m.captured(1).isEmpty() == outside.contains(QLatin1String(kFunctions[f])),
                     r.out.constData());
        }
        QVERIFY2(r.out.contains("Not on an SBUS channel (1 to 18): " + heldLine(ram, outside) + "."), r.out.constData());

        const Run j = cli({"get", "-p", "$PORT", "--json"});
        QCOMPARE(j.code, 0);
        const QJsonObject o = json(j.out);
        QCOMPARE(o.value("outOfRange").toArray().toVariantList(), QJsonArray::fromStringList(outside).toVariantList());
        for (int f = 0; f < 5; ++f)
            QCOMPARE(o.value("channels").toObject().value(kFunctions[f]).toInt(), int(ram[std::size_t(kSlot[f])]));
        QCOMPARE(model->ram(), ram);
    }

    // Changes only what was named, over a line that loses, splits and
    // mislabels replies; stores and reads back.
    void setChangesOnlyTheNamedFunctions()
    {
        model->faults.dropShare = 0.25;
        model->faults.corruptShare = 0.1;
        model->faults.wrongEchoShare = 0.1;
        model->faults.splitReplies = true;
        model->faults.noise = true;
        const Run r = cli({"set", "-p", "$PORT", "tilt=3", "video=11", "--save", "--verify", "--json"});
        QVERIFY2(r.code == 0, r.err.constData());
        const ParamBlock expected = withSlots(GimbalModel::kDefaultBlock, {{9, 3}, {10, 11}});
        QCOMPARE(model->ram(), expected);
        QCOMPARE(model->flash(), expected);
        const QJsonObject o = json(r.out);
        QCOMPARE(o.value("before").toObject().value("tilt").toInt(), 1);
        QCOMPARE(o.value("channels").toObject().value("rec").toInt(), 11);
        QVERIFY(o.value("written").toBool() && o.value("saved").toBool() && o.value("verified").toBool());
    }

    // What the controller does wrong decides the exit code, and the CLI gives
    // up after a bounded number of requests instead of repeating for ever.
    void deviceFaultsGiveTheirExitCodes_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("requests");  // exactly this many, or -1 for any
        QTest::addColumn<QString>("says");
        QTest::newRow("silent") << "silent" << QStringList{"get", "-p", "$PORT"} << ExitCode::kDeviceSilent << 15
                                << "did not answer while its parameters were being read: 15 requests, 0.75 s";
        // Another program on the line, without a lock, may be what takes the replies.
        QTest::newRow("silent, line shared") << "shared" << QStringList{"get", "-p", "$PORT"}
                                             << ExitCode::kPortUnavailable << 15
                                             << "no answer came, and the port is in use by PID ";
        QTest::newRow("save fails") << "fail save" << QStringList{"set", "-p", "$PORT", "tilt=3", "--save"}
                                    << ExitCode::kDeviceRefused << -1
                                    << "in RAM, but could not store them permanently.\nTo put it right, run again:\n"
                                       "  sbus-channel-cli set -p ";
        QTest::newRow("read-back differs") << "rewrite" << QStringList{"set", "-p", "$PORT", "tilt=3", "--verify"}
                                           << ExitCode::kDeviceRefused << -1 << "slot 9 (tilt): 3 -> 1";
        QTest::newRow("no such port") << "" << QStringList{"get", "-p", "$DIR/ttyNothing"}
                                      << ExitCode::kPortUnavailable << 0 << "there is no port ";
        // Pulled half way through a write: what the controller may hold, and how to mend it.
        QTest::newRow("unplugged while writing") << "unplug" << QStringList{"set", "-p", "$PORT", "tilt=3"}
                                                 << ExitCode::kPortUnavailable << -1
                                                 << "the port went away (adapter unplugged?)\nthe write was cut off "
                                                    "after ";
    }
    void deviceFaultsGiveTheirExitCodes()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(int, requests);
        QFETCH(QString, says);
        QProcess sharer;
        if (fault == "silent" || fault == "shared")
            model->silenceForGood();
        if (fault == "shared") {
            sharer.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\"; echo; exec cat"), device()});
            QVERIFY(sharer.waitForReadyRead());
        }
        if (fault == "fail save")
            model->failNextSave();
        // A controller that takes the write and then puts its old value back.
        bool written = false;
        QMetaObject::Connection rewrite;
        if (fault == "rewrite") {
            rewrite = connect(pty.get(), &PtyController::requestsHandled, this, [&] {
                if (model->lastCommand() == WRITE_PARAM_3)
                    written = true;
                if (written && model->lastCommand() == READ_PARAM_1)
                    model->setRam(GimbalModel::kDefaultBlock);
            });
        }
        if (fault == "unplug") {
            rewrite = connect(pty.get(), &PtyController::requestsHandled, this, [&] {
                if (model->lastCommand() == WRITE_PARAM_2)
                    pty->unplug();
            });
        }
        const Run r = cli(args);
        sharer.kill();
        sharer.waitForFinished();
        disconnect(rewrite);
        // No program's own names for its requests, no system error jargon.
        QVERIFY2(r.code == code && r.err.contains(says.toUtf8()) && !r.err.contains("_PARAM") && !r.err.contains("ioctl"),
                 r.err.constData());
        if (requests >= 0)
            QCOMPARE(model->requestsSeen(), quint64(requests));
        if (fault == "fail save") {
            QCOMPARE(model->ram()[9], 3);
            QCOMPARE(model->flash(), GimbalModel::kDefaultBlock);
        }
    }

    void backupAndRestore()
    {
        const QString file = dir.path() + "/airframe.json";
        const ParamBlock known = withSlots(GimbalModel::kDefaultBlock, {{9, 3}, {13, 8}, {0, 17}});
        model->setRam(known);
        QCOMPARE(cli({"backup", "-p", "$PORT", file}).code, 0);

        const ParamBlock other = withSlots(GimbalModel::kDefaultBlock, {{12, 18}});
        model->setRam(other);
        Run r = cli({"restore", "-p", "$PORT", file});
        QCOMPARE(r.code, ExitCode::kNotDone);
        QVERIFY2(r.err.contains("Add --yes"), r.err.constData());
        // A bare Enter takes the question's default, which is no.
        r = cli({"restore", "-p", "$PORT", file}, "\n");
        QCOMPARE(r.code, ExitCode::kNotDone);
        QVERIFY2(r.err.contains("slot 0: 60 -> 17") && r.err.contains("slot 9 (tilt): 1 -> 3") &&
                     r.err.contains("slot 12 (zoom): 18 -> 7"),
                 r.err.constData());
        QCOMPARE(model->ram(), other);

        r = cli({"restore", "-p", "$PORT", file, "--save"}, "y\n");
        QVERIFY2(r.code == 0 && !r.out.contains("powered off"), r.out.constData());
        QCOMPARE(model->ram(), known);
        QCOMPARE(model->flash(), known);

        // Nothing to change: nothing written, nothing asked, nothing to keep.
        const quint64 before = model->requestsSeen();
        r = cli({"restore", "-p", "$PORT", file});
        QVERIFY2(r.code == 0 && r.out.contains("nothing to write") && !r.out.contains("powered off"), r.out.constData());
        QVERIFY(model->requestsSeen() - before < 10);
    }

    // A backup is what the controller holds, channels outside 1..18 too, and
    // says so; restore refuses it unless given --force, and then writes it
    // as it is. The file is read by name and from standard input.
    void backupOfChannelsOutOfRange_data() { outOfRangeRows(); }
    void backupOfChannelsOutOfRange()
    {
        QFETCH(QByteArray, held);
        QFETCH(QStringList, outside);
        const ParamBlock ram = blockOf(held);
        model->setRam(ram);
        const QString file = dir.filePath(QStringLiteral("odd.json"));
        const Run b = cli({"backup", "-p", "$PORT", file, "--json"});
        QCOMPARE(b.code, 0);
        QVERIFY2(b.err.contains("warning: the controller holds " + heldLine(ram, outside) + ", outside") &&
                     b.err.contains("--force"),
                 b.err.constData());
        QCOMPARE(json(b.out).value("outOfRange").toArray().toVariantList(),
                 QJsonArray::fromStringList(outside).toVariantList());
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray content = saved.readAll();
        QJsonArray bytes;
        for (std::uint8_t v : ram)
            bytes.append(int(v));
        QCOMPARE(json(content).value("block").toArray(), bytes);

        const ParamBlock other = GimbalModel::kDefaultBlock;
        model->setRam(other);
        const quint64 before = model->requestsSeen();
        const Run refused = cli({"restore", "-p", "$PORT", file, "--yes"});
        QCOMPARE(refused.code, int(ExitCode::kFileRefused));
        for (int f = 0; f < 5; ++f) {
            const QByteArray says = QStringLiteral("%1 is on channel %2")
                                        .arg(QLatin1String(kFunctions[f]))
                                        .arg(ram[std::size_t(kSlot[f])])
                                        .toUtf8();
            QVERIFY2(refused.err.contains(says) == outside.contains(QLatin1String(kFunctions[f])), refused.err.constData());
        }
        QVERIFY2(refused.err.contains("Add --force"), refused.err.constData());
        QCOMPARE(model->requestsSeen(), before);
        QCOMPARE(model->ram(), other);

        const Run forced = cli({"restore", "-p", "$PORT", "-", "--yes", "--force", "--save", "--verify"}, content);
        QVERIFY2(forced.code == 0 && forced.err.contains(heldLine(ram, outside) + ", outside 1..18"),
                 forced.err.constData());
        QCOMPARE(model->ram(), ram);
        QCOMPARE(model->flash(), ram);
    }

    // set writes the whole block back, so a function the controller holds on
    // no SBUS channel is written so only when the command says --force; a
    // command that gives each of them a channel goes ahead as well.
    void setLeavesNoChannelOutOfRangeUnasked_data() { outOfRangeRows(); }
    void setLeavesNoChannelOutOfRangeUnasked()
    {
        QFETCH(QByteArray, held);
        QFETCH(QStringList, outside);
        const ParamBlock ram = blockOf(held);
        int inRange = 0;
        while (outside.contains(QLatin1String(kFunctions[inRange])))
            ++inRange;
        const QString fine = QLatin1String(kFunctions[inRange]);
        model->setRam(ram);
        const ParamBlock flash = model->flash();
        bool wrote = false;
        const auto watch = connect(pty.get(), &PtyController::requestsHandled, this, [&] {
            const std::uint8_t last = model->lastCommand();
            wrote = wrote || last == WRITE_PARAM_1 || last == WRITE_PARAM_2 || last == WRITE_PARAM_3;
        });
        // One of them given a channel leaves the others, which are named.
        Run r = cli({"set", "-p", "$PORT", fine + "=3", outside.first() + "=4", "--save"});
        QCOMPARE(r.code, int(ExitCode::kUsage));
        QVERIFY2(r.err.contains("the controller holds " + heldLine(ram, outside.mid(1)) + ", outside") &&
                     r.err.contains("--force") && r.err.contains(outside.mid(1).join("=N ").toUtf8() + "=N"),
                 r.err.constData());
        QVERIFY(!wrote);
        QCOMPARE(model->ram(), ram);
        QCOMPARE(model->flash(), flash);

        QStringList all{"set", "-p", "$PORT", "--verify"};
        ParamBlock expected = ram;
        for (int f = 0; f < 5; ++f) {
            if (outside.contains(QLatin1String(kFunctions[f]))) {
                all << QStringLiteral("%1=%2").arg(QLatin1String(kFunctions[f])).arg(10 + f);
                expected[std::size_t(kSlot[f])] = std::uint8_t(10 + f);
            }
        }
        r = cli(all);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(model->ram(), expected);

        model->setRam(ram);
        r = cli({"set", "-p", "$PORT", fine + "=3", "--force", "--verify", "--json"});
        disconnect(watch);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(model->ram(), withSlots(ram, {{kSlot[inRange], 3}}));
        QCOMPARE(json(r.out).value("outOfRange").toArray().toVariantList(),
                 QJsonArray::fromStringList(outside).toVariantList());
    }

    // Standard output that can't take what is written: the failure is said
    // and the exit is not 0, but a job on the controller is never cut short.
    void outputFailures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("says");
        QTest::addColumn<bool>("talked");
        const QStringList backup{"backup", "-p", "$PORT", "-"};
        const QStringList set{"set", "-p", "$PORT", "tilt=3", "--save", "--verify"};
        QTest::newRow("backup - into a full disk") << backup << R"("$0" "$@" > /dev/full)"
                                                   << "No space left on device" << true;
        QTest::newRow("backup - with stdout closed") << backup << R"("$0" "$@" >&-)"
                                                     << "standard output is closed; nothing was read" << false;
        QTest::newRow("set into a pipe nobody reads") << set << R"("$0" "$@" | true; exit "${PIPESTATUS[0]}")"
                                                      << "could not write to standard output (Broken pipe)" << true;
    }
    void outputFailures()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, shell);
        QFETCH(QString, says);
        QFETCH(bool, talked);
        const Run r = cli(args, {}, nullptr, shell);
        QCOMPARE(r.code, int(ExitCode::kNotDone));
        QVERIFY2(r.err.contains(says.toUtf8()), r.err.constData());
        QCOMPARE(model->requestsSeen() > 0, talked);
        if (args.first() == "set") // written, stored and read back all the same
            QCOMPARE(model->flash()[9], 3);
    }

    // A signal in each step of `restore --save --verify` over a lossy line:
    // reading ends at once, a write or a store runs to its end first. The
    // controller's RAM and flash are always the old block or the new one.
    void signalsLeaveWholeBlocks_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("second"); // 0: none
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("inRam");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("says");
        // The three signals are one to the program; each comes once while it writes.
        const std::tuple<int, const char *, bool, bool, const char *> steps[] = {
            {SIGINT, "reading", false, false, "nothing was written"},
            {SIGTERM, "writing", true, false, "in RAM; they are not stored permanently"},
            {SIGHUP, "storing", true, true, "stored permanently"},
            {SIGTERM, "verifying", true, true, "stored permanently"}};
        for (const auto &[sig, step, inRam, stored, says] : steps)
            QTest::newRow(qPrintable(QStringLiteral("%1 while %2").arg(sig).arg(QLatin1String(step))))
                << sig << 0 << step << inRam << stored << says;
        QTest::newRow("two signals while writing") << int(SIGINT) << int(SIGTERM) << "writing" << true << false
                                                   << "interrupted (Ctrl+C)";
    }
    void signalsLeaveWholeBlocks()
    {
        QFETCH(int, signal);
        QFETCH(int, second);
        QFETCH(QString, step);
        QFETCH(bool, inRam);
        QFETCH(bool, stored);
        QFETCH(QString, says);
        const QString file = dir.filePath(QStringLiteral("new.json"));
        QVERIFY(writeFile(file, kGoodBackup));
        const ParamBlock old = GimbalModel::kDefaultBlock;
        const ParamBlock fresh = withSlots(old, {{0, 17}, {9, 3}});
        model->faults.dropShare = 0.3;
        QProcess p;
        bool wrote = false, sent = false;
        const auto connection = connect(pty.get(), &PtyController::requestsHandled, this, [&] {
            const std::uint8_t last = model->lastCommand();
            wrote = wrote || last == WRITE_PARAM_1;
            const bool now = (step == "reading" && last == READ_PARAM_2) ||
                             (step == "writing" && last == WRITE_PARAM_1) ||
                             (step == "storing" && model->flash() == fresh) ||
                             (step == "verifying" && wrote && model->flash() == fresh && last == READ_PARAM_1);
            if (now && !sent) {
                sent = true;
                ::kill(pid_t(p.processId()), signal);
                if (second)
                    ::kill(pid_t(p.processId()), second);
            }
            // Flash only ever takes a whole block.
            QVERIFY(model->flash() == old || model->flash() == fresh);
        });
        const Run r = cli({"restore", "-p", "$PORT", file, "--yes", "--save", "--verify"}, {}, &p);
        disconnect(connection);
        QVERIFY(sent);
        QVERIFY2(r.code == 128 + signal && r.err.contains(says.toUtf8()), r.err.constData());
        QCOMPARE(model->ram(), inRam ? fresh : old);
        QCOMPARE(model->flash(), stored ? fresh : old);
    }

    // The same device under a second name is the same port: in use.
    void secondNameIsBusy()
    {
        const QString link = dir.filePath(QStringLiteral("ttyGIMBAL"));
        QVERIFY(QFile::link(device(), link));
        QProcess holder;
        Run second;
        qint64 holderPid = 0;
        connect(&holder, &QProcess::readyReadStandardOutput, this, [&] {
            if (holderPid)
                return;
            holderPid = holder.processId();
            second = cli({"get", "-p", link});
            ::kill(pid_t(holder.processId()), SIGINT);
        });
        const Run first = cli({"monitor", "-p", "$PORT"}, {}, &holder);
        QCOMPARE(first.code, 0);
        QCOMPARE(second.code, int(ExitCode::kPortUnavailable));
        // This test holds the device too, but as the far end of the line: not named.
        QVERIFY2(second.err.contains("the port is in use by PID " + QByteArray::number(holderPid) +
                                     " (sbus-channel-cl)\n"),
                 second.err.constData());
    }

    // Another serial program's lock refuses the port with the holder named,
    // before a byte goes out, and the lock is left where it was: a lock file
    // in the forms minicom and the old UUCP tools write, and picocom's flock
    // on the node.
    void otherProgramsLocksRefuse_data()
    {
        QTest::addColumn<QByteArray>("lockFile"); // %1 the PID; empty: an flock instead
        QTest::newRow("minicom") << QByteArray("      %1 minicom bench\n");
        QTest::newRow("binary") << QByteArray("#binary");
        QTest::newRow("flock") << QByteArray();
    }
    void otherProgramsLocksRefuse()
    {
        QFETCH(QByteArray, lockFile);
        QProcess holder;
        // flock runs its command once it has the lock; what it prints says so.
        holder.start(QStringLiteral("flock"), {QStringLiteral("-o"), lockFile.isEmpty() ? device() : dir.path(),
                                               QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("echo; cat")});
        QVERIFY(holder.waitForReadyRead());
        const qint64 pid = holder.processId();
        const QString lockDir = QFileInfo(QStringLiteral("/var/lock")).isWritable() ? QStringLiteral("/var/lock")
                                                                                   : QStringLiteral("/tmp");
        QFile lock(lockDir + QStringLiteral("/LCK..") + device().mid(5).replace(QLatin1Char('/'), QLatin1Char('_')));
        if (!lockFile.isEmpty()) {
            const qint32 binary = qint32(pid);
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(lockFile == "#binary" ? QByteArray(reinterpret_cast<const char *>(&binary), 4)
                                             : lockFile.replace("%1", QByteArray::number(pid)));
            // The serial port library takes a lock it can't read for a stale
            // one once it is half a minute old; minicom's have been there longer.
            QVERIFY(lock.flush() && lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
            lock.close();
        }
        QSignalSpy handled(pty.get(), &PtyController::requestsHandled);
        const Run r = cli({"get", "-p", "$PORT"});
        const bool kept = lockFile.isEmpty() || lock.exists();
        lock.remove();
        holder.kill();
        holder.waitForFinished();
        QCOMPARE(r.code, int(ExitCode::kPortUnavailable));
        QVERIFY2(r.err.contains("the port is in use by PID " + QByteArray::number(pid) + " (flock)"), r.err.constData());
        QVERIFY(kept);
        QCOMPARE(handled.count(), 0);
    }

    // Into a pipe, standard output holds records only, each with the UTC time
    // of its poll cycle to the millisecond, whatever the local zone.
    void monitorRecords_data()
    {
        QTest::addColumn<QString>("format");
        for (const char *format : {"json", "csv", "text"})
            QTest::newRow(format) << format;
    }
    void monitorRecords()
    {
        QFETCH(QString, format);
        QDateTime previous = QDateTime::currentDateTimeUtc().addMSecs(-1);
        const Run r = cli(QStringList{"monitor", "-p", "$PORT", "--count", "3"} +
                          (format == "text" ? QStringList() : QStringList{"--" + format}));
        const QDateTime end = QDateTime::currentDateTimeUtc();
        QVERIFY2(r.code == 0 && r.err.contains("Ctrl+C to stop."), r.err.constData());
        QList<QByteArray> lines = r.out.split('\n');
        QVERIFY(lines.takeLast().isEmpty());
        if (format == "csv")
            QCOMPARE(lines.takeFirst(), "time,tilt_pos,pan_pos,mode_pos,rec_pos,zoom_pos,"
                                        "tilt_test,pan_test,mode_test,rec_test,zoom_test,gimbal");
        QCOMPARE(lines.size(), 3);
        const QRegularExpression shape(
            format == "csv" ? R"(^(?<time>[^,]*)(,-?\d+){5},(?<test>\d+)(,\d+){4},(not )?connected$)"
                            : R"(^(?<time>\S*)  tilt [-+]?\d+ \((?<test>\d+)\)  pan .*  gimbal (not )?connected$)");
        for (int i = 0; i < 3; ++i) {
            const QJsonObject o = json(lines[i]);
            const QRegularExpressionMatch m = shape.match(QString::fromUtf8(lines[i]));
            QVERIFY2(format == "json" ? o.value("cycle").toInt() == i + 1 : m.hasMatch(), lines[i].constData());
            const QString time = format == "json" ? o.value("time").toString() : m.captured("time");
            const int test = format == "json" ? o.value("testData").toObject().value("tilt").toInt()
                                              : m.captured("test").toInt();
            // Sent in tens, shown in units as the window shows it.
            QVERIFY2(test >= 1000 && test <= 2000, lines[i].constData());
            const QDateTime t = QDateTime::fromString(time, Qt::ISODateWithMs);
            QVERIFY2(time.endsWith('Z') && t.toString(Qt::ISODateWithMs) == time && t > previous && t <= end,
                     lines[i].constData());
            previous = t;
        }
    }

    // A change left in RAM only is said to be lost at power-off, with the
    // option that keeps it; said to people, not into JSON. Asked for again
    // with --save, it is stored, though RAM already holds it.
    void setLeavesRamUntilSaved()
    {
        Run r = cli({"set", "-p", "$PORT", "tilt=3"});
        QVERIFY2(r.code == 0 && r.out.endsWith("in the controller's RAM and is lost when it is powered off; add --save "
                                               "to store it.\n"),
                 r.out.constData());
        QCOMPARE(json(cli({"set", "-p", "$PORT", "tilt=4", "--json"}).out).value("saved").toBool(true), false);
        r = cli({"set", "-p", "$PORT", "tilt=4", "--save"});
        QVERIFY2(r.code == 0 && r.out.contains("nothing to write") && r.out.endsWith("Stored permanently.\n"),
                 r.out.constData());
        QCOMPARE(model->flash()[9], 4);
    }
};

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
