// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// What the window remembers of stored blocks, against the simulated
// controller: the check at each contact, undoing the last write, the
// question before an unstored write is left behind, and two functions on one
// channel. Dialogs are answered by a hook standing in for the operator.
#include <QtTest>

#include "formats/backupfile.h"
#include "formats/blockhistory.h"
#include "support/files.h"
#include "support/frames.h"
#include "support/operator.h"
#include "support/settingsfile.h"

namespace {
struct MemoryRig : HistoryFile, OperatedRig {
    MemoryRig() : OperatedRig(QDateTime(QDate(2026, 12, 7), QTime(14, 2), Qt::LocalTime)) {}
    // What an earlier session through this adapter reported storing.
    void rememberStored(const ParamBlock &block)
    {
        BlockHistory::Entry e;
        e.time = QDateTime(QDate(2026, 12, 7), QTime(14, 2), Qt::LocalTime);
        e.program = QStringLiteral("window");
        e.adapter = BlockHistory::adapterOf(pty.devicePath());
        e.event = BlockHistory::Event::Store;
        e.stored = true;
        e.block = block;
        QVERIFY(BlockHistory::History(historyPath).append(e));
    }
    void choose(int function, int channel) { combo(kFunctionRows[function].channel)->setCurrentIndex(channel - 1); }
    bool uploaded() { return tickUntil([this] { return !x().writing(); }, 20) && tick(); }
    bool settleLoad(int maxTicks = 40)
    {
        return tickUntil([&] { return action("undoWriteAction")->isEnabled() && !x().writing(); }, maxTicks) && tick();
    }
};

ParamBlock withTilt(const ParamBlock &b, int channel)
{
    return TestFrames::with(b, {{kFunctionSlot[Tilt], channel}});
}
} // namespace

class TestWindowMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { removeConfig(); }

    // A controller holding other than what was stored through this adapter
    // is told of in the window's language (the words are the history's, and
    // the command line's suite has them in both); one holding it is not.
    void contactCheck_data()
    {
        QTest::addColumn<int>("storedTilt");
        QTest::addColumn<QString>("told");
        QTest::newRow("forgotten") << 3 << "此控制器未保存 2026-12-07 14:02 通过此适配器烧写的参数：俯仰 3 → 1";
        QTest::newRow("unchanged") << 1 << QString();
    }
    void contactCheck()
    {
        QFETCH(int, storedTilt);
        QFETCH(QString, told);
        writeConfigRaw(kChineseLanguageFile);
        MemoryRig r;
        r.rememberStored(withTilt(kDefault, storedTilt));
        QVERIFY(r.connectAndSettle());
        const QString tip = r.statusTip().simplified();
        QVERIFY2(told.isEmpty() ? !tip.contains(QLatin1String("14:02")) : tip.contains(told), qPrintable(tip));
        // It never writes by itself.
        QCOMPARE(r.model.ram(), kDefault);
    }

    // Undo writes back the 18 bytes the controller held before the last
    // write, an upload or a load alike.
    void undoRestoresTheBlockBeforeTheLastWrite_data()
    {
        QTest::addColumn<bool>("load");
        QTest::newRow("after an upload") << false;
        QTest::newRow("after a load") << true;
    }
    void undoRestoresTheBlockBeforeTheLastWrite()
    {
        QFETCH(bool, load);
        writeConfigRaw(kEnglishLanguageFile);
        MemoryRig r;
        QVERIFY(r.connectAndSettle());
        ParamBlock written = withTilt(kDefault, load ? 11 : 7);
        r.person.yesTo = QStringList{QStringLiteral("loadCompareDialog")};
        if (load) {
            written[0] = std::uint8_t(written[0] + 1);
            r.person.file = r.historyDir.filePath(QStringLiteral("p.json"));
            QVERIFY(writeFile(r.person.file, BackupFile::write(written, QDateTime::currentDateTimeUtc(), "p")));
            r.trigger("loadParamsAction");
            QVERIFY(r.settleLoad());
        } else {
            written[std::size_t(kFunctionSlot[Zoom])] = 9;
            r.choose(Tilt, 7);
            r.choose(Zoom, 9);
            r.click("updatePushButton");
            QVERIFY(r.uploaded());
        }
        QCOMPARE(raw(r.model.ram()), raw(written));
        r.trigger("undoWriteAction");
        QVERIFY(r.settleLoad());
        QVERIFY2(r.person.saw("loadCompareDialog: The controller differs from the block from before the write of"),
                 qPrintable(r.person.said()));
        QCOMPARE(raw(r.model.ram()), raw(kDefault));
        QCOMPARE(r.shown(Tilt), 1);
    }

    // Closing or disconnecting with an unstored write asks, in the window's
    // language; each answer does what it says. Once stored, nothing is asked.
    void leavingAnUnstoredWrite_data()
    {
        QTest::addColumn<bool>("closing");
        QTest::addColumn<QString>("press"); // empty: stored before leaving
        QTest::addColumn<bool>("leaves");
        QTest::addColumn<int>("storedTilt");
        QTest::newRow("store and close") << true << "storeButton" << true << 8;
        QTest::newRow("close without storing") << true << "withoutStoringButton" << true << 1;
        QTest::newRow("cancel the close") << true << "cancelButton" << false << 1;
        QTest::newRow("close once stored") << true << "" << true << 8;
        QTest::newRow("store and disconnect") << false << "storeButton" << true << 8;
        QTest::newRow("disconnect without storing") << false << "withoutStoringButton" << true << 1;
        QTest::newRow("cancel the disconnect") << false << "cancelButton" << false << 1;
    }
    void leavingAnUnstoredWrite()
    {
        QFETCH(bool, closing);
        QFETCH(QString, press);
        QFETCH(bool, leaves);
        QFETCH(int, storedTilt);
        // The close is asked in Chinese, the disconnect in English.
        writeConfigRaw(closing ? kChineseLanguageFile : kEnglishLanguageFile);
        MemoryRig r;
        r.w->show();
        QVERIFY(r.connectAndSettle());
        r.choose(Tilt, 8);
        r.click("updatePushButton");
        QVERIFY(r.uploaded());
        // Stored before leaving: a store the controller refuses first, which
        // the history must not remember as stored.
        for (int refused = 1; press.isEmpty() && refused >= 0; --refused) {
            if (refused)
                r.model.failNextSave();
            r.click("programPushButton");
            QVERIFY(r.tickUntil([&] { return r.x().saveRequest == 0 && !r.x().writing(); }, 20) && r.tick());
            const auto adapter = BlockHistory::adapterOf(r.pty.devicePath());
            QCOMPARE(BlockHistory::History(r.historyPath).lastStored(adapter).has_value(), !refused);
        }
        r.person.press = press;
        if (closing)
            r.w->close();
        else
            r.click("startPushButton");
        if (press.isEmpty())
            QCOMPARE(r.person.seen, QStringList());
        else
            QVERIFY2(r.person.saw(closing ? "unstoredWriteDialog: 控制器中有本次连接写入但尚未永久保存"
                                          : "unstoredWriteDialog: The controller holds parameters written in this session"),
                     qPrintable(r.person.said()));
        // The tick that closes the port ends without the reply it waited for.
        const auto left = [&] { return closing ? !r.w->isVisible() : !r.connected(); };
        for (int i = 0; i < 40 && !left(); ++i)
            r.tick();
        QCOMPARE(left(), leaves);
        QCOMPARE(r.stored(), withTilt(kDefault, storedTilt));
        QCOMPARE(r.model.ram(), withTilt(kDefault, 8));
    }

    // Said, not refused: No keeps the controller as it was, Yes writes.
    void twoFunctionsOnOneChannel()
    {
        writeConfigRaw(kEnglishLanguageFile);
        MemoryRig r;
        QVERIFY(r.connectAndSettle());
        r.choose(Tilt, 7);  // zoom is on 7 already
        r.click("updatePushButton");
        QVERIFY(r.person.saw("sharedChannelDialog: Tilt and zoom are both on channel 7"));
        QVERIFY(r.uploaded());
        QCOMPARE(r.model.ram(), kDefault);
        r.person.yesTo = QStringList{QStringLiteral("sharedChannelDialog")};
        r.click("updatePushButton");
        QVERIFY(r.uploaded());
        QCOMPARE(r.model.ram(), withTilt(kDefault, 7));
    }
};

QTEST_MAIN(TestWindowMemory)
#include "tst_window_memory.moc"
