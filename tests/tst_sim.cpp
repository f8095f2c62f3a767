// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window against the simulated controller over a real pseudo-terminal, on
// a clock that moves 50 ms per tick; then the controller model's own edges.
#include <QtTest>

#include <csignal>

#include <sys/stat.h>

#include "app/closeguard.h"
#include "os/stopsignals.h"

#include <map>

#include "support/settingsfile.h"
#include "support/simrig.h"

Q_DECLARE_METATYPE(GimbalModel::Faults)
Q_DECLARE_METATYPE(GimbalModel::FlashState)

namespace {

const char *const kSliders[] = {"tiltSlider", "headingSlider", "modeSlider", "videoSlider", "zoomSlider"};

QByteArray feed(GimbalModel &m, const QByteArray &in)
{
    QByteArray out;
    for (const auto &chunk : m.receive(reinterpret_cast<const std::uint8_t *>(in.data()), std::size_t(in.size()), 0))
        out += raw(chunk);
    return out;
}

QByteArray request(std::uint8_t command, std::uint8_t save = 0, const ParamBlock &block = {})
{
    return raw(buildRequest(command, save, block));
}

ParamBlock withChannels(const Channels &c)
{
    ParamBlock b = kDefault;
    for (int f = 0; f < kFunctionCount; ++f)
        b[kFunctionSlot[f]] = c[f];
    return b;
}

std::uint8_t successor(std::uint8_t command, bool uploadHeld)
{
    static const std::map<std::uint8_t, std::uint8_t> next = {
        {WRITE_PARAM_1, WRITE_PARAM_2},       {WRITE_PARAM_2, WRITE_PARAM_3},  {WRITE_PARAM_3, POLL_POSITIONS_1},
        {READ_PARAM_1, READ_PARAM_2},         {READ_PARAM_2, READ_PARAM_3},    {READ_PARAM_3, POLL_POSITIONS_1},
        {POLL_POSITIONS_1, POLL_POSITIONS_2}, {POLL_POSITIONS_2, POLL_GIMBAL}, {POLL_GIMBAL, POLL_TEST_DATA},
        {POLL_TEST_DATA, POLL_POSITIONS_1}};
    return command == READ_PARAM_3 && uploadHeld ? std::uint8_t(WRITE_PARAM_1) : next.at(command);
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        freshEnglishWindow();
    }
    void cleanupTestCase() { removeConfig(); }

    void wholeSession()
    {
        Rig r;
        r.click("startPushButton");
        QVERIFY(r.untilText("statusLabel", "Download Param Success"));
        for (int f = 0; f < kFunctionCount; ++f)
            QCOMPARE(r.shown(f), int(kDefault[kFunctionSlot[f]]));

        const Channels chosen = {3, 11, 8, 17, 14};
        for (int f = 0; f < kFunctionCount; ++f)
            r.combo(kFunctionRows[f].channel)->setCurrentIndex(chosen[f] - 1);
        r.click("updatePushButton");
        QVERIFY(r.untilText("statusLabel", "Upload Param Success"));
        QCOMPARE(raw(r.model.ram()), raw(withChannels(chosen)));
        // Positions follow the new assignment; a reply reaches the sliders on the tick after it came.
        QVERIFY(r.tickUntil([&] { return r.model.lastCommand() == POLL_POSITIONS_2; }));
        QVERIFY(r.tick());
        for (Function f : {Tilt, Heading, Video, Zoom})
            QCOMPARE(r.get(kSliders[f])->property("value").toInt(),
                     int(GimbalModel::channelValue(chosen[f], r.model.lastPositionPollMs())));

        r.model.failNextSave();
        r.click("programPushButton");
        QVERIFY(r.untilText("statusLabel", "Save Param Fail"));
        QVERIFY(!QFile::exists(QString::fromStdString(r.model.flashPath())));
        r.click("programPushButton");
        QVERIFY(r.untilText("statusLabel", "Save Param Success"));
        QCOMPARE(raw(r.stored()), raw(withChannels(chosen)));

        // The adapter goes: the next tick finds the port's error and turns the window back.
        r.pty.unplug();
        QVERIFY(r.tickUntil([&] { return !r.connected(); }, 2));
        QCOMPARE(r.text("linkStatusLineEdit"), QStringLiteral("Port Disonnection"));
        QVERIFY(r.get("comComboBox")->isEnabled() && !r.get("updatePushButton")->isEnabled());
    }

    // Whatever the operator presses, and however the line loses replies, the
    // 13 slots the window does not show stay as the controller had them.
    void hiddenSlotsSurviveAnyMix()
    {
        Rig r(3);
        r.model.faults.dropShare = 0.1;
        r.model.faults.wrongEchoShare = 0.05;
        std::mt19937 rng(3);
        for (int i = 0; i < 1000; ++i) {
            const unsigned roll = rng() % 100;
            if (!r.connected() || roll < 3)
                r.click("startPushButton");
            // Uploads come right after Connect, during a download, one upon another...
            if (r.connected() && roll % 50 < 10)
                r.upload(rng);
            else if (roll >= 90)
                r.click(roll < 95 ? "downloadPushButton" : "programPushButton");
            QVERIFY(r.tick());
            for (const ParamBlock &b : {r.model.ram(), r.model.flash()})
                QVERIFY2(onlyChannelsDiffer(b),
                         qPrintable(QStringLiteral("tick %1: %2").arg(i).arg(raw(b).toHex().data())));
        }
        QVERIFY(r.model.flash() != kDefault); // the mix did upload and save
        QCOMPARE(raw(r.stored()), raw(r.model.flash()));
    }

    // A lost, damaged or foreign reply never moves the sequence, a good one
    // moves it to the right successor, and a finished download holds exactly
    // the controller's block.
    void faultsNeverMisleadTheSequence_data()
    {
        QTest::addColumn<GimbalModel::Faults>("faults");
        QTest::newRow("dropped") << GimbalModel::Faults{0.3};
        QTest::newRow("corrupted") << GimbalModel::Faults{0, 0.3};
        QTest::newRow("wrong echo") << GimbalModel::Faults{0, 0, 0.3};
        QTest::newRow("all, split, noise") << GimbalModel::Faults{0.1, 0.1, 0.1, true, true};
    }
    void faultsNeverMisleadTheSequence()
    {
        QFETCH(GimbalModel::Faults, faults);
        Rig r(7);
        r.model.faults = faults;
        std::mt19937 rng(7);
        r.click("startPushButton");
        int downloads = 0, heldWrites = 0, failures = 0;
        for (int i = 0; i < 300; ++i) {
            // The first upload is pressed during the download and waits for its end.
            if ((!heldWrites && r.x().commandCode == READ_PARAM_2 && !r.x().uploadHeld()) || i % 80 == 39)
                r.upload(rng);
            else if (i % 80 == 79)
                r.click("downloadPushButton");
            const std::uint8_t before = r.x().commandCode;
            const bool held = r.x().uploadHeld();
            QVERIFY(r.tick());
            const std::uint8_t after = r.x().commandCode;
            const bool answered = r.model.lastOutcome() == GimbalModel::Outcome::Answered;
            failures += !answered;
            // Noise can hide a reply that was sent, and then nothing moves either.
            QVERIFY2(after == (answered ? successor(before, held) : before) || (faults.noise && after == before),
                     qPrintable(QStringLiteral("tick %1: %2 -> %3").arg(i).arg(before, 0, 16).arg(after, 0, 16)));
            heldWrites += held && after == WRITE_PARAM_1;
            if (before == READ_PARAM_3 && after != before && !held) {
                ++downloads;
                QCOMPARE(raw(r.x().paramBlock), raw(r.model.ram()));
            }
        }
        QVERIFY(downloads >= 3);
        QCOMPARE(heldWrites, 1);
        QVERIFY(failures > 20);
    }

    // Fourteen unanswered requests leave the link up and the fifteenth drops
    // it. When the controller answers again, a new contact reads the block
    // afresh and the gimbal reports itself absent for its first second.
    void silenceThenRecovery()
    {
        Rig r;
        r.click("startPushButton");
        QVERIFY(r.untilText("linkStatusLineEdit", "Gmbal Connect", 40));
        r.model.silenceForGood();
        for (int i = 0; i < 14; ++i)
            QVERIFY(r.tick() && r.text("linkStatusLineEdit") == QLatin1String("Gmbal Connect"));
        QVERIFY(r.tick());
        QCOMPARE(r.text("linkStatusLineEdit"), QStringLiteral("Port Disonnection"));

        const Channels atController = {3, 4, 7, 8, 11}; // set at the controller meanwhile
        r.model.setRam(withChannels(atController));
        r.model.speakAgain();
        for (std::uint8_t expected : {READ_PARAM_1, READ_PARAM_2, READ_PARAM_3, POLL_POSITIONS_1})
            QVERIFY(r.tick() && r.model.lastCommand() == expected);
        for (int f = 0; f < kFunctionCount; ++f)
            QCOMPARE(r.shown(f), int(atController[f]));

        // That READ_PARAM_1 began the contact; the gimbal is reported by the
        // first gimbal poll a second into it, shown on the tick after.
        const std::int64_t contactMs = r.ms - 150;
        QVERIFY(r.untilText("linkStatusLineEdit", "Gmbal Connect", 40));
        QVERIFY(r.ms - contactMs > GimbalModel::kGimbalBootMs && r.ms - contactMs <= GimbalModel::kGimbalBootMs + 250);
    }

    // Closing the window, or a signal that closes it, while a write is on the
    // line waits for the write to end: the controller then holds the whole new
    // block (or stored it), never a mix; a silent controller ends the wait.
    void closeWaitsForTheWrite_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<bool>("bySignal");
        QTest::addColumn<bool>("silent");
        QTest::newRow("close during an upload") << "upload" << false << false;
        QTest::newRow("SIGTERM during an upload") << "upload" << true << false;
        QTest::newRow("close during a save") << "save" << false << false;
        QTest::newRow("close, controller gone silent") << "upload" << false << true;
    }
    void closeWaitsForTheWrite()
    {
        QFETCH(QString, job);
        QFETCH(bool, bySignal);
        QFETCH(bool, silent);
        Rig r;
        r.w->show();
        QVERIFY(r.connectAndSettle());
        r.combo("tiltComboBox")->setCurrentIndex(2);
        r.click(job == "upload" ? "updatePushButton" : "programPushButton");
        r.tick(false); // the request is on its way, its answer not yet in

        if (silent)
            r.model.silenceForGood();
        if (bySignal) {
            closeOnStopSignals(*r.w);
            QVERIFY(::raise(SIGTERM) == 0);
            QTRY_COMPARE(StopSignals::pending(), int(SIGTERM));
        } else {
            QVERIFY(!r.w->close());
        }
        QVERIFY(r.w->isVisible());
        const int ticks = r.ticksUntil([&] { return !r.w->isVisible(); }, 20);
        QVERIFY2(ticks > 0 && ticks <= (silent ? 16 : 4), qPrintable(QString::number(ticks)));
        if (job == "upload" && !silent)
            QCOMPARE(r.model.ram(), withChannels({3, 2, 5, 6, 7}));
        if (job == "save")
            QCOMPARE(r.model.flash(), r.model.ram());
    }

    // Wherever the bytes are cut, even between the two header bytes, and
    // whatever comes before it (noise, a reply, a request with a bad CRC, a
    // header leading nowhere), a request gets the reply of a clean line.
    void modelFindsTheRequest()
    {
        GimbalModel clean;
        const QByteArray reply = feed(clean, request(READ_PARAM_1));
        const QByteArray badCrc = request(READ_PARAM_2).replace(20, 1, "\x01", 1);
        const QByteArray junk =
            QByteArray("\x01\xAB\x02\xCD\xFF", 5) + reply + badCrc + QByteArray("\xAB\xCD\x00\x07\xAB", 5);
        for (const QByteArray &stream : {request(READ_PARAM_1), junk + request(READ_PARAM_1)}) {
            for (int cut = 0; cut <= stream.size(); ++cut) {
                GimbalModel m;
                QByteArray out = feed(m, stream.left(cut));
                out += feed(m, stream.mid(cut));
                QCOMPARE(out, reply);
                QCOMPARE(m.requestsSeen(), std::uint64_t(1));
            }
        }
    }

    // Only a regular file of exactly one block is trusted, anything else
    // gives the default; a store is whole or fails, replaces only a regular
    // file (through a link, kept), and the next model starts from it.
    void flashFile_data()
    {
        QTest::addColumn<int>("size"); // -1: no file
        QTest::addColumn<QString>("node"); // "file", "no directory", "link", "FIFO"
        QTest::addColumn<GimbalModel::FlashState>("state");
        QTest::newRow("missing") << -1 << "file" << GimbalModel::FlashState::Missing;
        QTest::newRow("no directory") << -1 << "no directory" << GimbalModel::FlashState::Missing;
        QTest::newRow("17 bytes") << 17 << "file" << GimbalModel::FlashState::Unusable;
        QTest::newRow("19 bytes") << 19 << "file" << GimbalModel::FlashState::Unusable;
        QTest::newRow("18 bytes") << 18 << "file" << GimbalModel::FlashState::Loaded;
        QTest::newRow("link to 18 bytes") << 18 << "link" << GimbalModel::FlashState::Loaded;
        QTest::newRow("FIFO") << -1 << "FIFO" << GimbalModel::FlashState::NotAFile;
    }
    void flashFile()
    {
        QFETCH(int, size);
        QFETCH(QString, node);
        QFETCH(GimbalModel::FlashState, state);
        const bool dirExists = node != "no directory";
        QTemporaryDir dir;
        const QString path = dir.filePath(QLatin1String(dirExists ? "flash.bin" : "gone/flash.bin"));
        const QByteArray content = QByteArray::fromHex("28292a2b2c2d2e2f303132333435363738393a").left(size);
        QFile f(node == "link" ? dir.filePath(QStringLiteral("real.bin")) : path);
        QVERIFY(size < 0 || (f.open(QIODevice::WriteOnly) && f.write(content) == size && f.flush()));
        QVERIFY(node != "link" || QFile::link(f.fileName(), path));
        QVERIFY(node != "FIFO" || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        GimbalModel m(path.toStdString());
        QVERIFY(m.flashState() == state);
        const QByteArray loaded = size == kParamSlots ? content : raw(kDefault);
        QCOMPARE(raw(m.ram()), loaded);

        feed(m, request(WRITE_PARAM_2, 0, withChannels({18, 3, 5, 6, 7})));
        const bool stores = dirExists && node != "FIFO";
        QCOMPARE(quint8(feed(m, request(READ_PARAM_1, kSaveRequested))[4]), stores ? kSaveStored : kSaveFailed);
        QCOMPARE(raw(m.flash()), stores ? raw(m.ram()) : loaded);
        GimbalModel next(path.toStdString());
        QCOMPARE(raw(next.ram()), raw(m.flash()));
        QCOMPARE(QFileInfo(path).isSymLink(), node == "link");
        QCOMPARE(QFileInfo(path).isFile(), stores);
    }
};

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
