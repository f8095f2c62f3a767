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

#include <sys/stat.h>
#include <unistd.h>

#include "cli/exitcodes.h"
#include "rig/englishconfig.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"
#include "support/cliprocess.h"
#include "support/files.h"

namespace {
struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;

    // The exit code and every text on standard error (said) or output
    // (printed); both streams are shown where not.
    bool said(int expected, std::initializer_list<QByteArray> texts) const { return holds(expected, err, texts); }
    bool printed(int expected, std::initializer_list<QByteArray> texts) const { return holds(expected, out, texts); }
    bool holds(int expected, const QByteArray &stream, std::initializer_list<QByteArray> texts) const
    {
        bool ok = code == expected;
        for (const QByteArray &text : texts)
            ok = ok && stream.contains(text);
        if (!ok)
            qWarning("exit code %d\nstandard output:\n%s\nstandard error:\n%s", code, out.constData(), err.constData());
        return ok;
    }
};

ParamBlock withSlots(ParamBlock block, std::initializer_list<std::pair<int, int>> changes)
{
    for (auto [slot, value] : changes)
        block[std::size_t(slot)] = std::uint8_t(value);
    return block;
}

QJsonObject json(const QByteArray &text) { return QJsonDocument::fromJson(text).object(); }

const QByteArray kChinese = "[%General]\nLangureType=1\n";
} // namespace

class TstCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    // The program runs from a copy of its own, so that the window's language
    // file beside it is this test's.
    QTemporaryDir bin;
    std::unique_ptr<GimbalModel> model;
    std::unique_ptr<PtyController> pty;

    QString device() const { return pty->devicePath(); }
    QString program() const { return bin.filePath(QStringLiteral("sbus-channel-cli")); }
    QString historyFile() const { return dir.filePath(QStringLiteral("data/sbus-channel/history.jsonl")); }
    bool chooseLanguage(const QByteArray &file) { return writeFile(bin.filePath(QStringLiteral("config.ini")), file); }

    // An adapter's port name, which stays whatever controller is behind it.
    QString linkToDevice(const QString &name)
    {
        const QString link = dir.filePath(name);
        QFile::remove(link);
        return QFile::link(device(), link) ? link : QString();
    }

    // Another controller, or the same one after a power cycle, on a new device.
    void replaceController(const QString &flash)
    {
        pty.reset();
        model = std::make_unique<GimbalModel>(flash.toStdString());
        pty = std::make_unique<PtyController>(*model);
        QVERIFY2(pty->isOpen(), qPrintable(pty->errorString()));
    }

    // RAM and flash, to compare as one.
    std::pair<ParamBlock, ParamBlock> blocks() const { return {model->ram(), model->flash()}; }

    // Calls `step` with each request's command once the controller has answered it.
    template <typename Step> QMetaObject::Connection onEachRequest(Step step)
    {
        return connect(pty.get(), &PtyController::requestsHandled, this, [this, step] { step(model->lastCommand()); });
    }

    // gimbal-sim as a process of its own, up once it has said which device it serves.
    bool startSim(QProcess &sim, const QStringList &args)
    {
        sim.setProcessEnvironment(underTestDir(dir));
        sim.start(QStringLiteral(SBUS_SIM), args);
        if (!sim.waitForStarted())
            return false;
        while (!sim.canReadLine())
            if (!sim.waitForReadyRead(10000))
                return false;
        return true;
    }

    // This test's event loop keeps the controller answering until the exit.
    // With `shell`, the program runs inside that bash snippet as "$0" "$@".
    Run cli(QStringList args, const QByteArray &input = {}, QProcess *process = nullptr, const QString &shell = {})
    {
        args.replaceInStrings(QStringLiteral("$PORT"), device());
        args.replaceInStrings(QStringLiteral("$DIR"), dir.path());
        QProcess own;
        QProcess &p = process ? *process : own;
        QSignalSpy finished(&p, SIGNAL(finished(int, QProcess::ExitStatus)));
        p.setProcessEnvironment(underTestDir(dir));
        if (shell.isEmpty())
            p.start(program(), args);
        else
            p.start(QStringLiteral("bash"), QStringList{QStringLiteral("-c"), shell, program()} + args);
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
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        qputenv("TZ", "XST-5:30");
        QVERIFY(QFile::copy(QStringLiteral(SBUS_CLI), program()));
    }

    void init() { replaceController(dir.filePath(QStringLiteral("flash"))); }

    void cleanup()
    {
        pty.reset();
        model.reset();
        QFile::remove(bin.filePath(QStringLiteral("config.ini")));
        QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()));
    }

    // Found before the port is opened, files that can't be used included.
    void usageErrorsSendNothing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        const auto row = [](const char *name, QStringList args, int code, const char *says) {
            QTest::newRow(name) << args << code << QString::fromUtf8(says);
        };
        row("overview", {"--help"}, 0, "--version");
        for (const char *cmd : {"ports", "get", "set", "backup", "restore", "undo", "diff", "monitor", "history"})
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
        // Nothing can be asked of many units, nor can one port be two of them.
        row("two ports, no --yes", {"restore", "a", "-p", "$PORT", "-p", "b"}, ExitCode::kUsage, "add --yes");
        row("--report, no --yes", {"restore", "a", "-p", "$PORT", "--report", "$DIR/r"}, ExitCode::kUsage, "add --yes");
        row("--wait, no --yes", {"restore", "a", "--wait"}, ExitCode::kUsage, "add --yes");
        row("a port twice", {"restore", "a", "--yes", "-p", "$PORT", "-p", "$PORT"}, ExitCode::kUsage, "given twice");
        row("two names, one device", {"restore", "a", "--yes", "-p", "$PORT", "-p", "/dev/..$PORT"}, ExitCode::kUsage,
            "the same device");
        row("count 0", {"monitor", "-p", "$PORT", "--count", "0"}, ExitCode::kUsage, "whole number of 1 or more");
        row("csv and json", {"monitor", "-p", "$PORT", "--csv", "--json"}, ExitCode::kUsage, "not both");
        row("undo without a port", {"undo", "--yes"}, ExitCode::kUsage, "--port");
        row("undo with a file", {"undo", "-p", "$PORT", "a.json"}, ExitCode::kUsage, "a.json");
        row("diff of one", {"diff", "-p", "$PORT"}, ExitCode::kUsage, "give two blocks");
        row("diff of three", {"diff", "a", "b", "-p", "$PORT"}, ExitCode::kUsage, "give two blocks");
        row("diff of a missing file", {"diff", "$DIR/none.json", "-p", "$PORT"}, ExitCode::kFileRefused, "cannot read");
        row("diff of standard input", {"diff", "-", "-p", "$PORT"}, ExitCode::kFileRefused, "- refused: it is not JSON");
        row("diff, told in JSON", {"diff", "-", "-p", "$PORT", "--json"}, ExitCode::kFileRefused, R"("exitCode":6})");
        row("history by port and text", {"history", "-p", "$PORT", "--adapter", "x"}, ExitCode::kUsage, "not both");
        row("backup to a directory", {"backup", "-p", "$PORT", "$DIR"}, ExitCode::kNotDone, "; nothing was read");
        row("restore from a device", {"restore", "-p", "$PORT", "$PORT", "--yes"}, ExitCode::kFileRefused,
            "cannot read $PORT: it is a character device");
        row("restore from standard input", {"restore", "-p", "$PORT", "-", "--yes"}, ExitCode::kFileRefused,
            "- refused, nothing sent: it is not JSON");
    }
    void usageErrorsSendNothing()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, says);
        const Run r = cli(args);
        QCOMPARE(r.code, code);
        says.replace(QStringLiteral("$DIR"), dir.path()).replace(QStringLiteral("$PORT"), device());
        QVERIFY2((r.out + r.err).contains(says.toUtf8()), (r.out + r.err).constData());
        QCOMPARE(model->requestsSeen(), quint64(0));
    }

    // Completion asks for the names alone; they are the ports the full listing shows.
    void portNamesAreTheListedPorts()
    {
        QStringList listed;
        for (const QJsonValue &port : QJsonDocument::fromJson(cli({"ports", "--json"}).out).array())
            listed << port.toObject().value(QStringLiteral("location")).toString();
        const Run r = cli({"ports", "--names"});
        QCOMPARE(r.code, 0);
        QCOMPARE(QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts), listed);
        QCOMPARE(QJsonDocument::fromJson(cli({"ports", "--names", "--json"}).out).array(),
                 QJsonArray::fromStringList(listed));
    }

    // set writes the whole block back, so it must not leave a function on no
    // channel unless told to with --force. Both ends of 1..18 are crossed
    // here; zoom alone is on a channel.
    void channelsOutOfRange()
    {
        const ParamBlock ram =
            withSlots(GimbalModel::kDefaultBlock, {{0, 255}, {9, 0}, {13, 19}, {4, 200}, {10, 255}, {12, 9}});
        const QByteArray held = "tilt 0, pan 19, mode 200, rec 255";
        const QJsonArray outside{"tilt", "pan", "mode", "rec"};
        model->setRam(ram);
        Run r = cli({"get", "-p", "$PORT"});
        QVERIFY(r.printed(0, {"tilt  channel  0  (outside 1..18)\n"
                              "pan   channel 19  (outside 1..18)\n"
                              "mode  channel 200  (outside 1..18)\n"
                              "rec   channel 255  (outside 1..18)\n"
                              "zoom  channel  9\n",
                              "hex   ff ", "Not on an SBUS channel (1 to 18): " + held + "."}));
        QJsonObject o = json(cli({"get", "-p", "$PORT", "--json"}).out);
        QCOMPARE(o.value("channels").toObject(),
                 (QJsonObject{{"tilt", 0}, {"pan", 19}, {"mode", 200}, {"rec", 255}, {"zoom", 9}}));
        QCOMPARE(o.value("outOfRange").toArray(), outside);
        QCOMPARE(o.value("block").toArray().size(), 18);
        for (int i = 0; i < 18; ++i)
            QCOMPARE(o.value("block")[i].toInt(), int(ram[std::size_t(i)]));

        const QString file = dir.filePath(QStringLiteral("odd.json"));
        r = cli({"backup", "-p", "$PORT", file});
        QVERIFY(r.said(0, {"warning: the controller holds " + held + ", outside", "--force"}));
        // What the file holds shows in what its restore leaves.
        model->setRam(GimbalModel::kDefaultBlock);
        const quint64 seen = model->requestsSeen();
        r = cli({"restore", "-p", "$PORT", file, "--yes"});
        QVERIFY(r.said(ExitCode::kFileRefused, {"tilt is on channel ", "Add --force"}));
        QCOMPARE(model->requestsSeen(), seen);
        r = cli({"restore", "-p", "$PORT", file, "--yes", "--force", "--save", "--verify"});
        QVERIFY(r.said(0, {held + ", outside 1..18"}));
        QCOMPARE(blocks(), std::pair(ram, ram));

        // One of them given a channel leaves the others, which are named; nothing is written.
        r = cli({"set", "-p", "$PORT", "zoom=3", "tilt=4", "--save"});
        QVERIFY(r.said(ExitCode::kUsage, {"the controller holds pan 19, mode 200, rec 255, outside", "--force",
                                          "tilt=4 --save pan=N mode=N rec=N"}));
        QCOMPARE(blocks(), std::pair(ram, ram));
        r = cli({"set", "-p", "$PORT", "--verify", "tilt=10", "pan=11", "mode=12", "rec=13"});
        QVERIFY(r.said(0, {}));
        QCOMPARE(model->ram(), withSlots(ram, {{9, 10}, {13, 11}, {4, 12}, {10, 13}}));
        // With every function on a channel, not a word of 1..18.
        r = cli({"get", "-p", "$PORT"});
        QVERIFY2(r.code == 0 && !r.out.contains("outside 1..18") && !r.out.contains("SBUS channel"), r.out.constData());
        QCOMPARE(json(cli({"get", "-p", "$PORT", "--json"}).out).value("outOfRange"), QJsonValue(QJsonArray()));

        model->setRam(ram);
        r = cli({"set", "-p", "$PORT", "zoom=3", "--force", "--verify", "--json"});
        QVERIFY(r.said(0, {}));
        QCOMPARE(model->ram(), withSlots(ram, {{12, 3}}));
        QCOMPARE(json(r.out).value("outOfRange").toArray(), outside);
    }

    // --save stores a change RAM already holds; a bad line changes nothing unnamed.
    void setChangesOnlyTheNamedFunctions()
    {
        Run r = cli({"set", "-p", "$PORT", "tilt=3"});
        QVERIFY(r.printed(0, {"in the controller's RAM and is lost when it is powered off; add --save to store it.\n"}));
        QCOMPARE(json(cli({"set", "-p", "$PORT", "tilt=4", "--json"}).out).value("saved").toBool(true), false);
        r = cli({"set", "-p", "$PORT", "tilt=4", "--save"});
        QVERIFY(r.printed(0, {"nothing to write", "Stored permanently.\n"}));
        QCOMPARE(model->flash()[9], 4);

        // Replies dropped, corrupted, echoing another request, in pieces, after noise.
        model->faults = {0.25, 0.1, 0.1, true, true};
        r = cli({"set", "-p", "$PORT", "tilt=3", "video=11", "--save", "--verify", "--json"});
        QVERIFY(r.said(0, {}));
        const ParamBlock expected = withSlots(GimbalModel::kDefaultBlock, {{9, 3}, {10, 11}});
        QCOMPARE(blocks(), std::pair(expected, expected));
        const QJsonObject o = json(r.out);
        QCOMPARE(o.value("before").toObject().value("tilt").toInt(), 4);
        QCOMPARE(o.value("channels").toObject().value("rec").toInt(), 11);
        QVERIFY(o.value("written").toBool() && o.value("saved").toBool() && o.value("verified").toBool());
    }

    // A bounded number of requests, never repeating for ever.
    void deviceFaultsGiveTheirExitCodes_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("requests"); // exactly this many, or -1 for any
        QTest::addColumn<QString>("says");
        const QStringList get{"get", "-p", "$PORT"};
        QTest::newRow("silent") << "silent" << get << ExitCode::kDeviceSilent << 15 << "reading the parameters: ";
        // Another program on the line, without a lock, may be what takes the replies.
        QTest::newRow("silent, line shared") << "shared" << get << ExitCode::kPortUnavailable << 15
                                             << "no answer came, and the port is in use by PID ";
        QTest::newRow("save fails") << "fail save" << QStringList{"set", "-p", "$PORT", "tilt=3", "--save"}
                                    << ExitCode::kDeviceRefused << -1
                                    << "in RAM, but could not store them permanently.\nTo put it right, run again:\n"
                                       "  sbus-channel-cli set -p ";
        QTest::newRow("read-back differs") << "rewrite" << QStringList{"set", "-p", "$PORT", "tilt=3", "--verify"}
                                           << ExitCode::kDeviceRefused << -1 << "slot 9 (tilt): 3 -> 1";
        // Pulled half way through a write: what the controller may hold, and how to mend it.
        QTest::newRow("unplugged while writing")
            << "unplug" << QStringList{"set", "-p", "$PORT", "tilt=3"} << ExitCode::kPortUnavailable << -1
            << "the port went away (adapter unplugged?)\nthe write was cut off after ";
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
            sharer.start("sh", {"-c", "exec 3<\"$0\"; echo; exec cat", device()});
            QVERIFY(sharer.waitForReadyRead());
        }
        if (fault == "fail save")
            model->failNextSave();
        // "rewrite": a controller that takes the write and then puts its old value back.
        bool written = false;
        const auto hook = onEachRequest([&](std::uint8_t last) {
            written = written || last == WRITE_PARAM_3;
            if (fault == "rewrite" && written && last == READ_PARAM_1)
                model->setRam(GimbalModel::kDefaultBlock);
            if (fault == "unplug" && last == WRITE_PARAM_2)
                pty->unplug();
        });
        const Run r = cli(args);
        disconnect(hook);
        sharer.kill();
        sharer.waitForFinished();
        // No program's own names for its requests, no system error jargon.
        QVERIFY(r.said(code, {says.toUtf8()}) && !r.err.contains("_PARAM") && !r.err.contains("ioctl"));
        if (requests >= 0)
            QCOMPARE(model->requestsSeen(), quint64(requests));
        if (fault == "fail save")
            QCOMPARE(blocks(), std::pair(withSlots(GimbalModel::kDefaultBlock, {{9, 3}}), GimbalModel::kDefaultBlock));
    }

    // diff compares in the order given, and two files without opening the port.
    void backupRestoreAndDiff()
    {
        const QString file = dir.path() + "/airframe.json";
        const ParamBlock known = withSlots(GimbalModel::kDefaultBlock, {{9, 3}, {13, 8}, {0, 17}});
        model->setRam(known);
        QCOMPARE(cli({"backup", "-p", "$PORT", file}).code, 0);
        QVERIFY(cli({"diff", file, "-p", "$PORT"}).printed(0, {"hold the same 18 bytes"}));
        Run r = cli({"diff", "--port", "$PORT", "--port=$PORT", "--json"});
        QVERIFY(r.code == 0 && json(r.out).value("equal").toBool(false));

        const ParamBlock other = withSlots(GimbalModel::kDefaultBlock, {{12, 18}});
        model->setRam(other);
        const quint64 seen = model->requestsSeen();
        r = cli({"diff", "-p", "$PORT", file});
        QVERIFY(r.printed(ExitCode::kDiffers, {device().toUtf8() + " and " + file.toUtf8() + " differ in 4 byte(s)",
                                               "\n  slot 0: 60 -> 17\n  slot 9 (tilt): 1 -> 3\n"
                                               "  slot 12 (zoom): 18 -> 7\n"}));
        QVERIFY(model->requestsSeen() > seen);
        r = cli({"diff", file, "-p", "$PORT", "--json"});
        const QJsonObject o = json(r.out);
        const QJsonArray differences = o.value("differences").toArray();
        QVERIFY(r.code == int(ExitCode::kDiffers) && !o.value("equal").toBool(true) && o.value("a").toString() == file);
        QCOMPARE(differences.size(), 4);
        QCOMPARE(differences[0].toObject().toVariantMap(),
                 (QVariantMap{{"function", "tilt"}, {"slot", 9}, {"a", 3}, {"b", 1}}));
        QVERIFY(differences[3].toObject().value("function").isNull());

        QVERIFY(cli({"restore", "-p", "$PORT", file}).said(ExitCode::kNotDone, {"Add --yes"}));
        // A bare Enter takes the question's default, which is no.
        r = cli({"restore", "-p", "$PORT", file}, "\n");
        QVERIFY(r.said(ExitCode::kNotDone, {"slot 0: 60 -> 17", "slot 9 (tilt): 1 -> 3", "slot 12 (zoom): 18 -> 7"}));
        QCOMPARE(model->ram(), other);
        r = cli({"restore", "-p", "$PORT", file, "--save"}, "y\n");
        QVERIFY2(r.code == 0 && !r.out.contains("powered off"), r.out.constData());
        QCOMPARE(blocks(), std::pair(known, known));
        // Nothing to change: nothing written, nothing asked, nothing to keep.
        quint64 before = model->requestsSeen();
        r = cli({"restore", "-p", "$PORT", file});
        QVERIFY2(r.code == 0 && r.out.contains("nothing to write") && !r.out.contains("powered off"), r.out.constData());
        QVERIFY(model->requestsSeen() - before < 10);

        QVERIFY(writeFile(dir.filePath(QStringLiteral("new.json")), kGoodBackup));
        before = model->requestsSeen();
        r = cli({"diff", file, dir.filePath(QStringLiteral("new.json"))});
        QVERIFY(r.printed(ExitCode::kDiffers, {"slot 13 (pan): 8 -> 2"}));
        QCOMPARE(model->requestsSeen(), before);
    }
    // A job on the controller is never cut short by a failing standard output.
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
        QVERIFY(r.said(ExitCode::kNotDone, {says.toUtf8()}));
        QCOMPARE(model->requestsSeen() > 0, talked);
        if (args.first() == "set") // written, stored and read back all the same
            QCOMPARE(model->flash()[9], 3);
    }

    // Reading ends at once, a write or a store runs to its end first, so RAM
    // and flash only ever hold the old block or the new one.
    void signalsLeaveWholeBlocks_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("second"); // 0: none
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("inRam");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("says");
        // The three signals are one to the program; each comes once while it writes.
        const std::tuple<int, int, const char *, bool, bool, const char *> rows[] = {
            {SIGINT, 0, "reading", false, false, "nothing was written"},
            {SIGTERM, 0, "writing", true, false, "in RAM; they are not stored permanently"},
            {SIGHUP, 0, "storing", true, true, "stored permanently"},
            {SIGTERM, 0, "verifying", true, true, "stored permanently"},
            {SIGINT, SIGTERM, "writing", true, false, "interrupted (Ctrl+C)"}};
        for (const auto &[sig, second, step, inRam, stored, says] : rows) {
            const QString sent = second ? QStringLiteral("%1+%2").arg(sig).arg(second) : QString::number(sig);
            QTest::newRow(qPrintable(sent + " while " + step)) << sig << second << step << inRam << stored << says;
        }
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
        const auto hook = onEachRequest([&](std::uint8_t last) {
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
        disconnect(hook);
        QVERIFY(sent);
        QVERIFY2(r.code == 128 + signal && r.err.contains(says.toUtf8()), r.err.constData());
        QCOMPARE(blocks(), std::pair(inRam ? fresh : old, stored ? fresh : old));
    }

    // The same device under a second name is the same port: in use.
    void secondNameIsBusy()
    {
        const QString link = linkToDevice(QStringLiteral("ttyGIMBAL"));
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
        QCOMPARE(cli({"monitor", "-p", "$PORT"}, {}, &holder).code, 0);
        // This test holds the device too, but as the far end of the line: not named.
        QVERIFY(second.said(ExitCode::kPortUnavailable,
                            {"the port is in use by PID " + QByteArray::number(holderPid) + " (sbus-channel-cl)\n"}));
    }

    // Lock files as minicom and the old UUCP tools write them, and picocom's
    // flock on the node; another program's lock is never taken for stale.
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
        holder.start("flock", {"-o", lockFile.isEmpty() ? device() : dir.path(), "sh", "-c", "echo; cat"});
        QVERIFY(holder.waitForReadyRead());
        const qint64 pid = holder.processId();
        const QString lockDir = QFileInfo(QStringLiteral("/var/lock")).isWritable() ? "/var/lock" : "/tmp";
        QFile lock(lockDir + QStringLiteral("/LCK..") + device().mid(5).replace(QLatin1Char('/'), QLatin1Char('_')));
        if (!lockFile.isEmpty()) {
            const qint32 binary = qint32(pid);
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(lockFile == "#binary" ? QByteArray(reinterpret_cast<const char *>(&binary), 4)
                                             : lockFile.replace("%1", QByteArray::number(pid)));
            // The serial port library takes a lock it can't read for a stale
            // one once it is half a minute old; minicom's have been there longer.
            QVERIFY(lock.flush() &&
                    lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
            lock.close();
        }
        QSignalSpy handled(pty.get(), &PtyController::requestsHandled);
        const Run r = cli({"get", "-p", "$PORT"});
        const bool kept = lockFile.isEmpty() || lock.exists();
        lock.remove();
        holder.kill();
        holder.waitForFinished();
        QVERIFY(r.said(ExitCode::kPortUnavailable,
                       {"the port is in use by PID " + QByteArray::number(pid) + " (flock)"}));
        QVERIFY(kept);
        QCOMPARE(handled.count(), 0);
    }

    // Into a pipe, standard output holds records only, for scripts.
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

    // Each contact is checked against the last store through its adapter, to
    // catch a controller that answered a store as done and forgot it.
    void forgottenStoreIsTold()
    {
        const QString port = linkToDevice(QStringLiteral("ttyBENCH"));
        QCOMPARE(cli({"set", "-p", port, "tilt=3", "--save"}).code, 0);
        replaceController(dir.filePath(QStringLiteral("flash")));
        QVERIFY(!linkToDevice(QStringLiteral("ttyBENCH")).isEmpty());
        Run r = cli({"get", "-p", port, "--json"});
        QVERIFY2(r.code == 0 && r.err.isEmpty(), r.err.constData());
        QVERIFY(json(r.out).contains("contactCheck") && json(r.out).value("contactCheck").isNull());
        const ParamBlock swapped = withSlots(GimbalModel::kDefaultBlock, {{0, 61}});
        const QString other = dir.filePath(QStringLiteral("other.flash"));
        QVERIFY(writeFile(other, QByteArray(reinterpret_cast<const char *>(swapped.data()), 18)));
        replaceController(other);
        QVERIFY(!linkToDevice(QStringLiteral("ttyBENCH")).isEmpty());
        r = cli({"monitor", "-p", port, "--count", "1"});
        QVERIFY2(r.code == 0 && r.err.contains("through this adapter: tilt 3 → 1, slot 0 60 → 61"), r.err.constData());
        QCOMPARE(blocks(), std::pair(swapped, swapped));
        r = cli({"get", "-p", "$PORT"});
        QVERIFY2(r.code == 0 && r.err.isEmpty(), r.err.constData());

        const QString flash = dir.filePath(QStringLiteral("bench.flash")), link = dir.filePath(QStringLiteral("ttyGIMBAL"));
        const QStringList sim{"--flash", flash, "--link", link};
        QProcess forgetful, restarted;
        QVERIFY(startSim(forgetful, sim + QStringList{"--forget-saves", "1"}));
        QVERIFY(cli({"set", "-p", link, "tilt=3", "zoom=9", "--save"}).printed(0, {"Stored permanently."}));
        forgetful.terminate();
        QVERIFY(forgetful.waitForFinished() && !QFileInfo::exists(flash));

        QVERIFY(startSim(restarted, sim));
        const QJsonArray history = QJsonDocument::fromJson(cli({"history", "--json"}).out).array();
        QCOMPARE(history.last().toObject().value("event").toString(), QStringLiteral("store"));
        const QDateTime storedAt = QDateTime::fromString(history.last()["time"].toString(), Qt::ISODateWithMs);
        const QString when = storedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        const QString english = QStringLiteral("This controller does not hold what was stored on %1 through this "
                                               "adapter: tilt 3 → 1, zoom 9 → 7")
                                    .arg(when);
        r = cli({"get", "-p", link});
        QVERIFY2(r.code == 0 && r.err.startsWith("sbus-channel-cli get: " + english.toUtf8() + '\n') &&
                     r.err.count(english.toUtf8()) == 1 && r.out.contains("tilt  channel  1"),
                 r.err.constData());
        r = cli({"get", "-p", link, "--json"});
        QCOMPARE(r.code, 0);
        const QJsonObject check = json(r.out).value("contactCheck").toObject();
        QCOMPARE(check.value("message").toString(), english);
        QCOMPARE(QDateTime::fromString(check.value("storedAt").toString(), Qt::ISODateWithMs), storedAt);
        QCOMPARE(check.value("differences").toArray(),
                 (QJsonArray{QJsonObject{{"function", "tilt"}, {"slot", 9}, {"stored", 3}, {"now", 1}},
                             QJsonObject{{"function", "zoom"}, {"slot", 12}, {"stored", 9}, {"now", 7}}}));
        // Told, not mended: the controller still holds its own block.
        QCOMPARE(json(r.out).value("channels").toObject().value("tilt").toInt(), 1);

        QVERIFY(chooseLanguage(kChinese));
        const QString chinese = QStringLiteral("此控制器未保存 %1 通过此适配器烧写的参数：俯仰 3 → 1，变焦 9 → 7").arg(when);
        r = cli({"get", "-p", link});
        QVERIFY2(r.code == 0 && r.err.count(chinese.toUtf8()) == 1, r.err.constData());
        QVERIFY(chooseLanguage(kEnglishLanguageFile));
        QVERIFY2(cli({"get", "-p", link}).err.contains(english.toUtf8()), "English chosen");
        restarted.terminate();
        QVERIFY(restarted.waitForFinished() && !QFileInfo::exists(flash));
    }

    // Run again, undo undoes the undo.
    void undoRestoresTheBlockBefore()
    {
        Run r = cli({"undo", "-p", "$PORT", "--yes"});
        QVERIFY(r.said(ExitCode::kFileRefused, {"there is nothing to undo", "nothing was sent"}));
        QCOMPARE(model->requestsSeen(), quint64(0));
        // A write through another adapter is not this one's to undo.
        QCOMPARE(cli({"set", "-p", linkToDevice(QStringLiteral("ttyOTHER")), "tilt=5"}).code, 0);
        const quint64 seen = model->requestsSeen();
        QCOMPARE(cli({"undo", "-p", "$PORT", "--yes"}).code, int(ExitCode::kFileRefused));
        QCOMPARE(model->requestsSeen(), seen);
        QCOMPARE(model->ram()[9], 5);

        const ParamBlock before = withSlots(GimbalModel::kDefaultBlock, {{0, 0}, {9, 4}, {17, 255}});
        model->setRam(before);
        QCOMPARE(cli({"set", "-p", "$PORT", "tilt=3", "pan=9"}).code, 0);
        const ParamBlock after = withSlots(before, {{9, 3}, {13, 9}});
        QCOMPARE(model->ram(), after);
        r = cli({"undo", "-p", "$PORT"}, "n\n");
        QVERIFY(r.said(ExitCode::kNotDone, {"slot 9 (tilt): 3 -> 4", "slot 13 (pan): 9 -> 2"}));
        QCOMPARE(model->ram(), after);
        QVERIFY(cli({"undo", "-p", "$PORT", "--save"}, "y\n").printed(0, {"Stored permanently."}));
        QCOMPARE(blocks(), std::pair(before, before));
        QVERIFY(cli({"undo", "-p", "$PORT", "--yes"}).printed(0, {"lost when it is powered off"}));
        QCOMPARE(blocks(), std::pair(after, before));
    }

    void historyListsAndFilters()
    {
        const QString bench = linkToDevice(QStringLiteral("ttyBENCH"));
        QCOMPARE(cli({"get", "-p", bench}).code, 0);
        model->failNextSave();
        QCOMPARE(cli({"set", "-p", "$PORT", "tilt=3", "--save"}).code, int(ExitCode::kDeviceRefused));
        QCOMPARE(cli({"set", "-p", "$PORT", "tilt=4", "--save"}).code, 0);

        Run r = cli({"history"});
        QCOMPARE(r.code, 0);
        const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList shape = {"read +" + QRegularExpression::escape(bench) + " +tilt 1, pan 2",
                                   "read +" + device() + " +tilt 1,",
                                   "write +" + device() + " +tilt 3,",
                                   "store FAILED +" + device() + " +tilt 3,",
                                   "read +" + device() + " +tilt 3,",
                                   "write +" + device() + " +tilt 4,",
                                   "store ok +" + device() + " +tilt 4, pan 2, mode 5, rec 6, zoom 7$"};
        QCOMPARE(lines.size(), shape.size());
        const QString stamp = QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  cli +)");
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(QRegularExpression(stamp + shape[i]).match(lines[i]).hasMatch(), qPrintable(lines[i]));

        QCOMPARE(cli({"history", "--port", bench}).out.count('\n'), 1);
        const QJsonArray listed = QJsonDocument::fromJson(cli({"history", "--adapter", "TTYbench", "--json"}).out).array();
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed[0].toObject().value("event").toString(), QStringLiteral("read"));
        QCOMPARE(listed[0].toObject().value("adapter").toObject().value("port").toString(), bench);
        const QJsonArray all = QJsonDocument::fromJson(cli({"history", "--json"}).out).array();
        QCOMPARE(all.size(), 7);
        QCOMPARE(all[3].toObject().value("stored").toBool(true), false);
        QCOMPARE(all[5].toObject().value("before").toArray(), all[4].toObject().value("block").toArray());
        QVERIFY(cli({"history", "--adapter", "nothing-like-it"}).printed(0, {"holds nothing through that adapter"}));
    }

    // Sharing a channel may be meant: said, not refused.
    void sharedChannelIsSaid()
    {
        Run r = cli({"set", "-p", "$PORT", "tilt=7"});
        QVERIFY(r.said(0, {"sbus-channel-cli set: warning: tilt and zoom are both on channel 7\n"}));
        QCOMPARE(model->ram()[9], 7);
        QVERIFY(chooseLanguage(kChinese));
        QVERIFY(cli({"set", "-p", "$PORT", "zoom=3", "tilt=3"}).said(0, {"俯仰和变焦都在通道 3"}));
        r = cli({"set", "-p", "$PORT", "tilt=1"});
        QVERIFY2(r.code == 0 && !r.err.contains("通道"), r.err.constData());
    }

    // A history that can't be used never stops a job on the controller.
    void historyTroubles_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("says");
        QTest::newRow("FIFO") << "FIFO" << "is not a regular file (a FIFO)";
        QTest::newRow("corrupt") << "corrupt" << "has 2 unreadable lines, which were skipped.";
    }
    void historyTroubles()
    {
        QFETCH(QString, node);
        QFETCH(QString, says);
        QVERIFY(QDir().mkpath(QFileInfo(historyFile()).absolutePath()));
        if (node == "FIFO")
            QCOMPARE(::mkfifo(QFile::encodeName(historyFile()).constData(), 0600), 0);
        else
            QVERIFY(writeFile(historyFile(), "{\"time\": 1}\nnot an entry\n"));
        Run r = cli({"set", "-p", "$PORT", "tilt=3", "--save", "--verify"});
        QVERIFY2(r.code == 0 && r.err.count(says.toUtf8()) == 1, r.err.constData());
        QCOMPARE(model->flash()[9], 3);
        r = cli({"history"});
        QVERIFY2(r.err.count(says.toUtf8()) == 1, r.err.constData());
        QCOMPARE(r.code, node == "corrupt" ? 0 : int(ExitCode::kNotDone));
        QVERIFY2(node != "corrupt" || r.out.contains("store ok"), r.out.constData());
        QCOMPARE(QFileInfo(historyFile()).isFile(), node == "corrupt");
    }
};

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
