// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Loading a parameter file, step by step through the sequencer, against a
// controller whose RAM and flash are kept apart, so that a store of the wrong
// block, or a write that never went out, shows in what it ends up holding.
#include <QtTest>

#include "link/blockload.h"
#include "link/paramexchange.h"
#include "support/frames.h"

namespace {

const QVector<quint8> kOld{11, 12, 13, 14, 2, 16, 17, 18, 19, 3, 6, 22, 7, 5, 25, 26, 27, 28};
const QVector<quint8> kFile{31, 32, 33, 34, 8, 36, 37, 38, 39, 9, 10, 42, 11, 12, 45, 46, 47, 48};

const auto blockOf = &TestFrames::arrayOf<ParamBlock, QVector<quint8>>;

struct Controller {
    TestFrames::Device device; // its RAM is device.block
    QVector<quint8> flash = kOld;
    // Deaf: requests neither reach it nor get an answer, as on a pulled cable.
    bool deaf = false;
    QByteArrayList heard;
};

struct Load {
    Controller controller;
    ParamExchange link;
    BlockLoad load;

    // One tick, as the window makes it: a request, the reply if any, and the
    // reset that a lost link brings.
    BlockLoad::Next tick()
    {
        const Frame request = link.nextRequest();
        const QByteArray bytes = TestFrames::bytesOf(request);
        if (controller.deaf) {
            if (link.linkLost())
                link.reset();
            return BlockLoad::Next::Nothing;
        }
        controller.heard << bytes;
        const QByteArray reply = controller.device.answer(bytes);
        if (quint8(bytes[int(FrameOffset::kSave)]) == kSaveRequested)
            controller.flash = controller.device.block;
        return load.afterReply(link.replyArrived(TestFrames::arrayOf(reply)), link);
    }
    // Ticks until the job asks something or ends; Nothing if it never does.
    BlockLoad::Next next(int ticks = 60)
    {
        for (int i = 0; i < ticks; ++i) {
            if (const BlockLoad::Next n = tick(); n != BlockLoad::Next::Nothing)
                return n;
        }
        return BlockLoad::Next::Nothing;
    }
    // Commands heard since `from`, in order.
    QList<quint8> commandsFrom(int from) const
    {
        QList<quint8> c;
        for (int i = from; i < controller.heard.size(); ++i)
            c << TestFrames::command(controller.heard[i]);
        return c;
    }
    int firstStoreFrom(int from) const
    {
        for (int i = from; i < controller.heard.size(); ++i)
            if (quint8(controller.heard[i][int(FrameOffset::kSave)]) == kSaveRequested)
                return i;
        return -1;
    }
};

// The operator's answers, and what the controller holds after each.
using Next = BlockLoad::Next;

} // namespace

Q_DECLARE_METATYPE(BlockLoad::Next)
Q_DECLARE_METATYPE(BlockLoad::Stage)
Q_DECLARE_METATYPE(BlockLoad::Holds)

class TestBlockLoad : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QVector<quint8>>("ram");
        QTest::addColumn<bool>("write");
        QTest::addColumn<bool>("store");
        QTest::addColumn<Next>("ends");
        QTest::addColumn<QVector<quint8>>("ramAfter");
        QTest::addColumn<QVector<quint8>>("flashAfter");
        QTest::newRow("written and stored") << kOld << true << true << Next::Stored << kFile << kFile;
        QTest::newRow("written, not stored") << kOld << true << false << Next::Nothing << kFile << kOld;
        QTest::newRow("not written") << kOld << false << false << Next::Nothing << kOld << kOld;
        QTest::newRow("already held") << kFile << false << false << Next::AlreadyHeld << kFile << kOld;
    }
    void answers()
    {
        QFETCH(QVector<quint8>, ram);
        QFETCH(bool, write);
        QFETCH(bool, store);
        QFETCH(Next, ends);
        Load l;
        l.controller.device.block = ram;
        l.load.start(blockOf(kFile), l.link);
        Next n = l.next();
        if (n == Next::AskToWrite) {
            QCOMPARE(l.load.before(), blockOf(kOld));
            l.load.answerWrite(write, l.link);
            if (write) {
                QCOMPARE(l.next(), Next::AskToStore);
                l.load.answerStore(store, l.link);
            }
            n = l.next();
        }
        QCOMPARE(n, ends);
        QVERIFY(!l.load.running());
        QTEST(l.controller.device.block, "ramAfter");
        QTEST(l.controller.flash, "flashAfter");
        if (!write)
            QVERIFY(!l.commandsFrom(0).contains(WRITE_PARAM_1));
    }

    // The store goes out, a pulled cable drops it, and the controller comes
    // back holding the file's block in RAM, or, after a power cycle, its old
    // one: then the block goes out again before it is stored, with no second
    // question, and nothing is stored that is not the file's block.
    void storeDroppedByLostLink_data()
    {
        QTest::addColumn<bool>("lostTheWrite");
        QTest::newRow("kept the write") << false;
        QTest::newRow("lost the write too") << true;
    }
    void storeDroppedByLostLink()
    {
        QFETCH(bool, lostTheWrite);
        Load l;
        l.load.start(blockOf(kFile), l.link);
        QCOMPARE(l.next(), Next::AskToWrite);
        l.load.answerWrite(true, l.link);
        QCOMPARE(l.next(), Next::AskToStore);
        l.load.answerStore(true, l.link);
        l.controller.deaf = true;
        for (int i = 0; i < ParamExchange::kLostAbove + 2; ++i)
            QCOMPARE(l.tick(), Next::Nothing);
        QVERIFY(l.link.silenceCount > ParamExchange::kLostAbove);
        QCOMPARE(l.controller.flash, kOld);
        if (lostTheWrite)
            l.controller.device.block = l.controller.flash;
        l.controller.deaf = false;
        const int back = l.controller.heard.size();

        QCOMPARE(l.next(), Next::Stored);
        QCOMPARE(l.controller.flash, kFile);
        const QList<quint8> sent = l.commandsFrom(back);
        const int store = l.firstStoreFrom(back) - back;
        QVERIFY(store >= 0);
        if (lostTheWrite) {
            const int write = int(sent.indexOf(WRITE_PARAM_3));
            QVERIFY2(write >= 0 && write < store, "the block went out again before the store");
        } else {
            QVERIFY(!sent.contains(WRITE_PARAM_1));
        }
    }

    // What the controller is said to hold when the port closes at each stage.
    void abandon_data()
    {
        QTest::addColumn<BlockLoad::Stage>("stage");
        QTest::addColumn<BlockLoad::Holds>("holds");
        QTest::newRow("reading") << BlockLoad::Stage::Reading << BlockLoad::Holds::Unchanged;
        QTest::newRow("asking") << BlockLoad::Stage::Asking << BlockLoad::Holds::Unchanged;
        QTest::newRow("writing") << BlockLoad::Stage::Writing << BlockLoad::Holds::PartlyWritten;
        QTest::newRow("offering the store") << BlockLoad::Stage::OfferingStore << BlockLoad::Holds::InRam;
        QTest::newRow("storing") << BlockLoad::Stage::Storing << BlockLoad::Holds::StoreUnknown;
    }
    void abandon()
    {
        QFETCH(BlockLoad::Stage, stage);
        Load l;
        l.load.start(blockOf(kFile), l.link);
        if (stage != BlockLoad::Stage::Reading) {
            QCOMPARE(l.next(), Next::AskToWrite);
            if (stage != BlockLoad::Stage::Asking) {
                l.load.answerWrite(true, l.link);
                if (stage != BlockLoad::Stage::Writing) {
                    QCOMPARE(l.next(), Next::AskToStore);
                    if (stage == BlockLoad::Stage::Storing)
                        l.load.answerStore(true, l.link);
                }
            }
        }
        QCOMPARE(l.load.stage(), stage);
        QTEST(l.load.abandon(), "holds");
        QVERIFY(!l.load.running());
        // An answer that comes after the job ended starts nothing.
        l.load.answerStore(true, l.link);
        l.load.answerWrite(true, l.link);
        QVERIFY(!l.load.running());
    }
};

QTEST_MAIN(TestBlockLoad)
#include "tst_blockload.moc"
