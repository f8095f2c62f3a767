// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window against the simulated controller over a real pseudo-terminal, on
// a clock that moves 50 ms per tick: a whole session, a silent controller and
// its return, and closing while a write is on the line.
#include <QtTest>

#include <QAction>
#include <QPushButton>
#include <QSettings>

#include <csignal>

#include "app/closeguard.h"
#include "os/stopsignals.h"
#include "port/portlist.h"
#include "sim/ptycontroller.h"
#include "support/settingsfile.h"
#include "support/simrig.h"

class TestWindowSim : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshEnglishWindow(); }
    void cleanupTestCase() { removeConfig(); }

    void wholeSession()
    {
        Rig r;
        r.click("startPushButton");
        QVERIFY(r.untilText("statusLabel", "Download Param Success"));
        const Channels chosen = {3, 11, 8, 17, 14};
        for (int f = 0; f < kFunctionCount; ++f)
            r.combo(kFunctionRows[f].channel)->setCurrentIndex(chosen[f] - 1);
        r.click("updatePushButton");
        QVERIFY(r.untilText("statusLabel", "Upload Param Success"));
        QCOMPARE(raw(r.model.ram()), raw(GimbalModel::defaultWith(chosen)));

        r.model.failNextSave();
        r.click("programPushButton");
        QVERIFY(r.untilText("statusLabel", "Save Param Fail"));
        QVERIFY(!QFile::exists(QString::fromStdString(r.model.flashPath())));
        r.click("programPushButton");
        QVERIFY(r.untilText("statusLabel", "Save Param Success"));
        QCOMPARE(raw(r.stored()), raw(GimbalModel::defaultWith(chosen)));

        // Fourteen unanswered requests leave the link up and the fifteenth
        // drops it. When the controller answers again, a new contact reads
        // the block afresh.
        QVERIFY(r.untilText("linkStatusLineEdit", "Gmbal Connect", 40));
        r.model.silenceForGood();
        for (int i = 0; i < 14; ++i)
            QVERIFY(r.tick() && r.text("linkStatusLineEdit") == QLatin1String("Gmbal Connect"));
        QVERIFY(r.tick());
        QCOMPARE(r.text("linkStatusLineEdit"), QStringLiteral("Port Disonnection"));

        const Channels atController = {3, 4, 7, 8, 11}; // set at the controller meanwhile
        r.model.setRam(GimbalModel::defaultWith(atController));
        r.model.speakAgain();
        for (std::uint8_t expected : {READ_PARAM_1, READ_PARAM_2, READ_PARAM_3, POLL_POSITIONS_1})
            QVERIFY(r.tick() && r.model.lastCommand() == expected);
        for (int f = 0; f < kFunctionCount; ++f)
            QCOMPARE(r.shown(f), int(atController[f]));
    }

    // With reconnecting chosen, an adapter that vanished is connected to again
    // once it has been back for the settle time, a return that does not last
    // starting the count afresh; never after the operator's own Disconnect,
    // nor once the operator pressed the button or turned the item off while
    // the window waited.
    void reconnectWhenTheAdapterReturns_data()
    {
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<bool>("disconnectFirst");
        QTest::addColumn<QString>("whileWaiting");
        QTest::newRow("unplugged") << true << false << "";
        QTest::newRow("disconnected, then unplugged") << true << true << "";
        QTest::newRow("not chosen") << false << false << "";
        QTest::newRow("Connect pressed while waiting") << true << false << "Connect";
        QTest::newRow("turned off while waiting") << true << false << "off";
    }
    void reconnectWhenTheAdapterReturns()
    {
        QFETCH(bool, chosen);
        QFETCH(bool, disconnectFirst);
        QFETCH(QString, whileWaiting);
        Rig r;
        QTemporaryDir names;
        const QString adapter = names.filePath(QStringLiteral("ttyUSB0"));
        const auto plug = [&](const PtyController *device) {
            QFile::remove(adapter);
            QVERIFY(!device || QFile::link(device->devicePath(), adapter));
        };
        plug(&r.pty);
        PortList::Facts facts;
        facts.serialNumber = QStringLiteral("A1");
        PortList::registerPort(adapter, facts);
        r.w->choosePort(adapter);
        if (chosen)
            r.w->findChild<QAction *>(QStringLiteral("reconnectAction"))->trigger();
        QVERIFY(r.tick());
        r.click("startPushButton");
        QVERIFY(r.tickUntil([&] { return r.x().blockDownloaded(); }));
        QSettings stored(configPath(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Adapter/Serial")).toString(), QStringLiteral("A1"));
        QCOMPARE(stored.value(QStringLiteral("Adapter/Reconnect")).toString() == QLatin1String("1"), chosen);
        if (disconnectFirst)
            r.click("startPushButton");

        r.pty.unplug();
        plug(nullptr);
        QVERIFY(r.tickUntil([&] { return !r.connected(); }, 2));
        bool waits = chosen && !disconnectFirst;
        const QString tip = r.get("linkStatusLineEdit")->toolTip().simplified();
        QCOMPARE(tip.contains(QStringLiteral("waiting for it to return")), waits);
        if (whileWaiting == QLatin1String("Connect"))
            r.click("startPushButton");
        else if (whileWaiting == QLatin1String("off"))
            r.w->findChild<QAction *>(QStringLiteral("reconnectAction"))->trigger();
        if (!whileWaiting.isEmpty()) {
            waits = false;
            QVERIFY(!r.get("linkStatusLineEdit")->toolTip().simplified().contains(QStringLiteral("waiting")));
        }
        PtyController back(r.model);
        back.setClock([&] { return r.ms; });
        // Back for 20 ticks, gone for one, back for good: the count starts again.
        plug(&back);
        for (int i = 0; i < 20; ++i)
            QVERIFY(r.tick() && !r.connected());
        plug(nullptr);
        QVERIFY(r.tick());
        plug(&back);
        int ticks = 0;
        for (; ticks < 60 && !r.connected(); ++ticks)
            r.tick();
        QCOMPARE(r.connected(), waits);
        if (waits) {
            QVERIFY2(ticks >= Tiravo::kReconnectSettleTicks && ticks <= Tiravo::kReconnectSettleTicks + 2,
                     qPrintable(QString::number(ticks)));
            // As every contact does, it begins by reading the block.
            QVERIFY(r.tick());
            QTRY_COMPARE(r.model.lastCommand(), std::uint8_t(READ_PARAM_1));
        }
        PortList::unregisterPort(adapter);
    }

    // Closing the window, or a signal that closes it, while a write is on the
    // line waits for the write to end: the controller then holds the whole new
    // block (or stored it), never a mix. A controller that never finishes
    // holds the close back two seconds at most, and standard error then says
    // what it may hold.
    void closeWaitsForTheWrite_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<bool>("bySignal");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("told"); // on standard error once closed; empty: nothing
        // The upload ends unstored: a close asks (answered here without
        // storing), a signal does not, and both leave a note of it.
        QTest::newRow("close during an upload") << "upload" << false << "" << "in RAM only";
        QTest::newRow("SIGTERM during an upload") << "upload" << true << "" << "in RAM only";
        QTest::newRow("close during a save") << "save" << false << "" << "";
        QTest::newRow("close, controller gone silent") << "upload" << false << "silent" << "cut off after 0 of its 3 parts";
        QTest::newRow("SIGTERM, write never echoed") << "upload" << true << "echo" << "cut off after 0 of its 3 parts";
        QTest::newRow("close, store never reported") << "save" << false << "store" << "is not known";
    }
    void closeWaitsForTheWrite()
    {
        QFETCH(QString, job);
        QFETCH(bool, bySignal);
        QFETCH(QString, fault);
        QFETCH(QString, told);
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { warnings << text; });
        Rig r;
        QStringList asked;
        r.w->setHooks({[&asked](QDialog &d) {
                           asked << d.objectName();
                           d.findChild<QPushButton *>(QStringLiteral("withoutStoringButton"))->click();
                           return 0;
                       },
                       {}});
        r.w->show();
        QVERIFY(r.connectAndSettle());
        const ParamBlock flashBefore = r.model.flash();
        if (fault == QLatin1String("echo"))
            r.model.faults.wrongEchoShare = 1;
        if (fault == QLatin1String("store"))
            r.model.faults.ignoreStores = true;
        r.combo("tiltComboBox")->setCurrentIndex(2);
        r.click(job == "upload" ? "updatePushButton" : "programPushButton");
        r.tick(false); // the request is on its way, its answer not yet in

        if (fault == QLatin1String("silent"))
            r.model.silenceForGood();
        if (bySignal) {
            closeOnStopSignals(*r.w);
            QVERIFY(::raise(SIGTERM) == 0);
            QTRY_COMPARE(StopSignals::pending(), int(SIGTERM));
        } else {
            QVERIFY(!r.w->close());
        }
        QVERIFY(r.w->isVisible());
        // The wait is on screen, in the window's title.
        QTRY_VERIFY(r.w->windowTitle().contains(QStringLiteral("Closing once")));
        const int ticks = r.ticksUntil([&] { return !r.w->isVisible(); }, 60);
        qInstallMessageHandler(previous);
        QVERIFY2(ticks > 0 && ticks <= (fault.isEmpty() ? 4 : CloseGuard::kMaxTicks),
                 qPrintable(QString::number(ticks)));
        if (job == "upload" && fault.isEmpty())
            QCOMPARE(r.model.ram(), GimbalModel::defaultWith({3, 2, 5, 6, 7}));
        if (job == "save")
            QCOMPARE(r.model.flash(), fault.isEmpty() ? r.model.ram() : flashBefore);
        QCOMPARE(asked, job == "upload" && fault.isEmpty() && !bySignal ? QStringList{"unstoredWriteDialog"}
                                                                         : QStringList{});
        const QStringList closed = warnings.filter(QStringLiteral("closed;"));
        QCOMPARE(closed.size(), told.isEmpty() ? 0 : 1);
        if (!told.isEmpty())
            QVERIFY2(closed.first().contains(told), qPrintable(closed.first()));
    }

};

QTEST_MAIN(TestWindowSim)
#include "tst_window_sim.moc"
