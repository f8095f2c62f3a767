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

// The kind of node at a path, links not followed: S_IFIFO, S_IFLNK, ...
mode_t kind(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush();
}

// A backup that restores the default block with tilt on 3 and slot 0 at 17.
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

    // Everything wrong on the command line is found before the port is opened.
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
    }

    // Changes only what was named, over a line that loses, splits and
    // mislabels replies; stores and reads back.
    void setChangesOnlyTheNamedFunctions_data()
    {
        QTest::addColumn<bool>("faulty");
        QTest::newRow("clean line") << false;
        QTest::newRow("lossy line") << true;
    }
    void setChangesOnlyTheNamedFunctions()
    {
        QFETCH(bool, faulty);
        if (faulty) {
            model->faults.dropShare = 0.25;
            model->faults.corruptShare = 0.1;
            model->faults.wrongEchoShare = 0.1;
            model->faults.splitReplies = true;
            model->faults.noise = true;
        }
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
        QTest::newRow("wrong echo only") << "wrong echo" << QStringList{"get", "-p", "$PORT"}
                                         << ExitCode::kDeviceRefused << 40 << "but never with what was asked";
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
        if (fault == "silent")
            model->silenceForGood();
        if (fault == "wrong echo")
            model->faults.wrongEchoShare = 1.0;
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
        r = cli({"restore", "-p", "$PORT", file}, "n\n");
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

    void restoreRefusesABadFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const QByteArray head = R"({"format": "sbus-channel parameter block", "version": 1, )";
        const QByteArray goodChannels = R"("channels": {"tilt": 1, "pan": 2, "mode": 5, "rec": 6, "zoom": 7}, )";
        const QByteArray goodBlock = R"("block": [60,90,100,33,5,120,30,150,45,1,6,200,7,2,80,35,175,65]})";
        QTest::newRow("not JSON") << QByteArray("tilt=3\n") << "not JSON";
        QTest::newRow("someone else's") << QByteArray(R"({"format": "other", "version": 1})")
                                        << "not a parameter block backup";
        QTest::newRow("newer version") << (QByteArray(R"({"format": "sbus-channel parameter block", "version": 2, )") +
                                           goodChannels + goodBlock)
                                       << "version 2";
        QTest::newRow("17 bytes") << (head + goodChannels + R"("block": [1,2,3,4,5,6,7,8,9,1,6,12,7,2,15,16,17]})")
                                  << "18 numbers";
        QTest::newRow("byte 256") << (head + goodChannels + R"("block": [256,90,100,33,5,120,30,150,45,1,6,200,7,2,80,35,175,65]})")
                                  << "byte 0";
        QTest::newRow("byte 1.5") << (head + goodChannels + R"("block": [1.5,90,100,33,5,120,30,150,45,1,6,200,7,2,80,35,175,65]})")
                                  << "byte 0";
        QTest::newRow("edited in one place")
            << (head + R"("channels": {"tilt": 4, "pan": 2, "mode": 5, "rec": 6, "zoom": 7}, )" + goodBlock)
            << "changed in one place";
        QTest::newRow("channel 0")
            << (head + R"("channels": {"tilt": 0, "pan": 2, "mode": 5, "rec": 6, "zoom": 7}, )" +
                R"("block": [60,90,100,33,5,120,30,150,45,0,6,200,7,2,80,35,175,65]})")
            << "1 to 18";
        QTest::newRow("70 KB") << QByteArray(70 * 1024, ' ') << "bytes long";
        // The library would take the last of two; a person reading the file sees the first.
        QTest::newRow("block twice, a controller slot changed")
            << (head + goodChannels + R"("block": [61,90,100,33,5,120,30,150,45,1,6,200,7,2,80,35,175,65], )" +
                goodBlock)
            << "gives \"block\" twice";
        QTest::newRow("a channel twice, escaped")
            << (head + R"("channels": {"tilt": 1, "pan": 2, "mode": 5, "rec": 6, "zoom": 7, "t\u0069lt": 1}, )" +
                goodBlock)
            << "its \"channels\" gives \"tilt\" twice";
    }
    void restoreRefusesABadFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString file = dir.path() + "/bad.json";
        QVERIFY(writeFile(file, content));
        const ParamBlock ram = withSlots(GimbalModel::kDefaultBlock, {{9, 9}});
        model->setRam(ram);
        const Run r = cli({"restore", "-p", "$PORT", file, "--yes"});
        QCOMPARE(r.code, ExitCode::kFileRefused);
        QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
        QCOMPARE(model->requestsSeen(), quint64(0));
        QCOMPARE(model->ram(), ram);
    }

    // What a backup is written to and a restore read from: only regular files,
    // a link to one followed and kept; anything else is refused before the
    // controller is asked, left as it was, and never blocks.
    void fileKinds_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("node");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        for (const char *node : {"new file", "link to a file"})
            QTest::newRow(qPrintable(QStringLiteral("backup to a %1").arg(QLatin1String(node))))
                << "backup" << node << 0 << "Saved";
        const std::pair<const char *, const char *> refused[] = {
            {"FIFO", "a FIFO"}, {"link to a FIFO", "which is a FIFO"}, {"link to a device", "a character device"},
            {"directory", "a directory"}, {"dangling link", "which does not exist"}};
        for (const auto &[node, says] : refused)
            QTest::newRow(qPrintable(QStringLiteral("backup to a %1").arg(QLatin1String(node))))
                << "backup" << node << int(ExitCode::kNotDone) << says;
        const std::pair<const char *, const char *> unreadable[] = {
            {"FIFO", "a FIFO"}, {"link to a FIFO", "a FIFO"}, {"link to a device", "a character device"},
            {"directory", "a directory"}, {"missing", "No such file"}};
        for (const auto &[node, says] : unreadable)
            QTest::newRow(qPrintable(QStringLiteral("restore from a %1").arg(QLatin1String(node))))
                << "restore" << node << int(ExitCode::kFileRefused) << says;
        QTest::newRow("restore from a link to a file") << "restore" << "link to a file" << 0 << "add --save to store it";
    }
    void fileKinds()
    {
        QFETCH(QString, command);
        QFETCH(QString, node);
        QFETCH(int, code);
        QFETCH(QString, says);
        const QString path = dir.filePath(QStringLiteral("target")), file = dir.filePath(QStringLiteral("real.json"));
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0 && writeFile(file, kGoodBackup));
        if (node == "FIFO")
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (node == "link to a FIFO")
            QVERIFY(QFile::link(QFile::decodeName(fifo), path));
        else if (node == "link to a device")
            QVERIFY(QFile::link(device(), path));
        else if (node == "link to a file")
            QVERIFY(QFile::link(file, path));
        else if (node == "dangling link")
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), path));
        else if (node == "directory")
            QVERIFY(QDir().mkdir(path));
        const mode_t before = kind(path);

        QStringList args{command, "-p", "$PORT", path};
        if (command == "restore")
            args << "--yes";
        const Run r = cli(args);
        QVERIFY2(r.code == code && (r.out + r.err).contains(says.toUtf8()), (r.out + r.err).constData());
        if (code != 0) {
            QCOMPARE(kind(path), before);
            QCOMPARE(model->requestsSeen(), quint64(0));
        } else if (command == "backup") {
            QVERIFY(QFile::exists(path) && kind(path) == (before ? before : S_IFREG));
            QFile written(path);
            QVERIFY(written.open(QIODevice::ReadOnly) && written.readAll().contains("\"block\": [60,"));
        } else {
            QCOMPARE(model->ram()[9], 3);
        }
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
        const std::tuple<const char *, bool, bool, const char *> steps[] = {
            {"reading", false, false, "nothing was written"},
            {"writing", true, false, "in RAM; they are not stored permanently"},
            {"storing", true, true, "stored permanently"},
            {"verifying", true, true, "stored permanently"}};
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            for (const auto &[step, inRam, stored, says] : steps)
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
    // option that keeps it; said to people, not into JSON.
    void setWithoutSaveSaysTheChangeIsInRam()
    {
        const Run r = cli({"set", "-p", "$PORT", "tilt=3"});
        QVERIFY2(r.code == 0 && r.out.endsWith("in the controller's RAM and is lost when it is powered off; add --save "
                                               "to store it.\n"),
                 r.out.constData());
        QCOMPARE(json(cli({"set", "-p", "$PORT", "tilt=4", "--json"}).out).value("saved").toBool(true), false);
    }
};

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
