// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The link core on its own: CRC, frames, reassembly and the sequencer, against
// TestFrames, whose CRC is written separately so a wrong one can't agree.
#include <QtTest>

#include <numeric>
#include <random>

#include "link/crc16.h"
#include "link/frame.h"
#include "link/paramexchange.h"
#include "support/frames.h"

#define QCOMPARE_N(actual, expected) QCOMPARE(int(actual), int(expected))

namespace {
using TestFrames::kAllCommands;
// The block as the controller holds it, and an operator's choice (0 is a channel too).
const QByteArray kControllerBlock = QByteArray::fromHex("21262b30353a3f44494e53585d62676c7176");
const QByteArray kNewerBlock = QByteArray::fromHex("a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2");
const Channels kChannels = {3, 0, 7, 1, 16};
const int kSlot[] = {9, 13, 4, 10, 12}; // tilt, heading, mode, video, zoom

using TestFrames::bytesOf;
const auto frameOf = &TestFrames::arrayOf<Frame, QByteArray>;

QByteArrayList feed(ReplyAssembler &assembler, const QByteArray &bytes)
{
    QByteArrayList got;
    assembler.feed(reinterpret_cast<const std::uint8_t *>(bytes.data()), std::size_t(bytes.size()),
                   [&got](const Frame &f) { got << bytesOf(f); });
    return got;
}

// Everything the window can see, except the silence count.
QByteArray snapshot(const ParamExchange &ex)
{
    QByteArray s = bytesOf(ex.paramBlock) + bytesOf(ex.testData);
    for (int v : {int(ex.commandCode), int(ex.saveRequest), int(ex.gimbalState), int(ex.downloadDone),
                  int(ex.statusIndex), int(ex.writeUnfinished()), int(ex.blockDownloaded())})
        s += char(v);
    return s + bytesOf(ex.channelPos);
}

QByteArray withChannels(QByteArray block, const Channels &ch)
{
    for (int f = 0; f < kFunctionCount; ++f)
        block[kSlot[f]] = char(ch[f]);
    return block;
}

// One tick with the controller answering; reads are served from `block`.
Frame tick(ParamExchange &ex, const QByteArray &block = QByteArray(18, '\0'))
{
    TestFrames::Device device;
    device.block = QVector<quint8>(block.begin(), block.end());
    const Frame request = ex.nextRequest();
    ex.replyArrived(frameOf(device.answer(bytesOf(request))));
    return request;
}

// The 18 bytes the write sequence carries; shorter if it does not run 1, 2, 3.
// Each request's store flag, as a digit, goes to `flags`.
QByteArray uploadedBlock(ParamExchange &ex, QString *flags = nullptr)
{
    QByteArray written;
    for (quint8 cmd : {WRITE_PARAM_1, WRITE_PARAM_2, WRITE_PARAM_3}) {
        if (ex.commandCode != cmd)
            break;
        const QByteArray request = bytesOf(tick(ex));
        written += request.mid(37, cmd == WRITE_PARAM_3 ? 2 : 8);
        if (flags)
            *flags += QString::number(request[4]);
    }
    return written;
}
} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void crc()
    {
        QCOMPARE(crc16(reinterpret_cast<const std::uint8_t *>("123456789"), 9), std::uint16_t(0x31C3));
        QCOMPARE(crc16(nullptr, 0), std::uint16_t(0));
        std::mt19937 rng(47);
        for (int len : {1, 2, 15, 16, 17, 45, 47, 128, 254, 255}) {
            QByteArray buf(len, '\0');
            std::generate(buf.begin(), buf.end(), [&rng] { return char(rng()); });
            QCOMPARE(crc16(reinterpret_cast<const std::uint8_t *>(buf.data()), std::uint8_t(len)),
                     TestFrames::referenceCrc(buf));
        }
    }

    void request_data()
    {
        QTest::addColumn<quint8>("command");
        QTest::addColumn<quint8>("save");
        QTest::addColumn<QByteArray>("payload");
        // Of the block 1..18, only the writes carry a part.
        const QMap<quint8, QByteArray> parts = {{WRITE_PARAM_1, QByteArray::fromHex("0102030405060708")},
                                                {WRITE_PARAM_2, QByteArray::fromHex("090a0b0c0d0e0f10")},
                                                {WRITE_PARAM_3, QByteArray::fromHex("1112")}};
        for (quint8 save : {0, 2})
            for (quint8 cmd : kAllCommands)
                QTest::addRow("0x%02X save %d", cmd, save) << cmd << save << parts.value(cmd);
    }
    void request()
    {
        QFETCH(quint8, command);
        QFETCH(quint8, save);
        QFETCH(QByteArray, payload);
        ParamBlock block;
        std::iota(block.begin(), block.end(), std::uint8_t(1));
        QCOMPARE(bytesOf(buildRequest(command, save, block)),
                 TestFrames::request(command, save, QVector<quint8>(payload.begin(), payload.end())));
    }

    void assembler_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second"); // fed later, as after a port reopen
        QTest::addColumn<int>("afterFirst");
        QTest::addColumn<QByteArrayList>("replies");
        QTest::addColumn<int>("dropped");
        const QByteArray a = TestFrames::replyWithPayload(POLL_POSITIONS_2, {1, 2, 3, 4, 5, 6, 7, 8});
        const QByteArray b = TestFrames::reply(POLL_GIMBAL, {{41, 1}}, 0x02);
        const QByteArray inner = TestFrames::reply(READ_PARAM_1, {{37, 0xBE}, {38, 0xA0}, {43, 0xBE}, {44, 0xA0}});
        const QByteArray swapped = TestFrames::reply(POLL_GIMBAL, {}, 0, true);
        QVERIFY(swapped[45] != swapped[46]);
        QByteArray noise(300, '\0');
        std::mt19937 rng(7);
        std::generate(noise.begin(), noise.end(), [&rng] { return char(rng()); });
        noise.replace(char(0xBE), char(0xBF)); // anything but the start of a header

        for (int n = 1; n < 47; ++n)
            QTest::addRow("split at %d", n) << a.left(n) << a.mid(n) << 0 << QByteArrayList{a} << 0;
        QTest::newRow("two in one read") << a + b << QByteArray() << 2 << QByteArrayList{a, b} << 0;
        QTest::newRow("one and a half") << a + b.left(20) << b.mid(20) << 1 << QByteArrayList{a, b} << 0;
        QTest::newRow("header split after a frame") << a + b.left(1) << b.mid(1) << 1 << QByteArrayList{a, b} << 0;
        QTest::newRow("BE BE A0 opens") << QByteArray(1, char(0xBE)) + a << QByteArray() << 1 << QByteArrayList{a} << 0;
        QTest::newRow("BE 00 A0 does not") << QByteArray::fromHex("be00") + a.mid(1) << b << 0 << QByteArrayList{b} << 0;
        QTest::newRow("CRC low byte first") << swapped + b << QByteArray() << 1 << QByteArrayList{b} << 1;
        QTest::newRow("noise between frames") << noise + a + noise << b + noise << 1 << QByteArrayList{a, b} << 0;
        QTest::newRow("header inside a body") << inner + a << QByteArray() << 2 << QByteArrayList{inner, a} << 0;
        // The cut-off frame swallows the start of the next good one.
        QTest::newRow("frame inside a dropped one") << a.left(22) + b + a << QByteArray() << 1 << QByteArrayList{a} << 1;
    }

    void assembler()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(int, afterFirst);
        QFETCH(QByteArrayList, replies);
        QFETCH(int, dropped);
        ReplyAssembler assembler;
        QByteArrayList got = feed(assembler, first);
        QCOMPARE(got.size(), afterFirst);
        QCOMPARE(got + feed(assembler, second), replies);
        QCOMPARE_N(assembler.framesGood(), replies.size());
        QCOMPARE_N(assembler.framesDropped(), dropped);
        QCOMPARE_N(assembler.bytesSeen(), first.size() + second.size());
    }

    // A reset is what a lost link does: the contact starts again from its first read.
    void reset()
    {
        ParamExchange ex;
        const QByteArray fresh = snapshot(ex);
        QCOMPARE_N(ex.commandCode, READ_PARAM_1);
        QCOMPARE_N(ex.gimbalState, 1);
        for (int i = 0; i < 3; ++i)
            tick(ex, kControllerBlock);
        ex.requestSave();
        ex.channelPos.fill(-3);
        ex.testData.fill(9);
        ex.statusIndex = StatusSaveFailed;
        ex.reset();
        QCOMPARE(snapshot(ex), fresh);
        QCOMPARE_N(ex.silenceCount, 20);
        QVERIFY(ex.linkLost());
        // The earlier contact's block no longer counts, nor does a store of it.
        QVERIFY(!ex.requestUpload(kChannels));
        ex.requestSave();
        QCOMPARE(snapshot(ex), fresh);
    }

    void sequencer_data()
    {
        QTest::addColumn<quint8>("current");
        QTest::addColumn<quint8>("next");
        QTest::addColumn<int>("status"); // 0x7F: unchanged
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QVector<int>>("pos");
        QTest::addColumn<QByteArray>("test");
        QTest::addColumn<int>("gimbal");
        QTest::addColumn<int>("done");
        const QByteArray b = QByteArray::fromHex("e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1"); // before the reply
        const QByteArray pay = QByteArray::fromHex("119c7f22fef63344"); // reply 37..44
        const QVector<int> p = {1, 2, 3, 4, 5};
        const QByteArray t = QByteArray::fromHex("060708090a");
        const auto row = [](const char *name, quint8 cur, quint8 next, int status) -> QTestData & {
            return QTest::newRow(name) << cur << next << status;
        };
        row("WRITE_PARAM_1", WRITE_PARAM_1, WRITE_PARAM_2, StatusUploading) << b << p << t << 0x5A << 0;
        row("WRITE_PARAM_2", WRITE_PARAM_2, WRITE_PARAM_3, 0x7F) << b << p << t << 0x5A << 0;
        row("WRITE_PARAM_3", WRITE_PARAM_3, POLL_POSITIONS_1, StatusUploadDone) << b << p << t << 0x5A << 0;
        row("READ_PARAM_1", READ_PARAM_1, READ_PARAM_2, StatusDownloading) << pay + b.mid(8) << p << t << 0x5A << 0;
        row("READ_PARAM_2", READ_PARAM_2, READ_PARAM_3, 0x7F) << b.left(8) + pay + b.mid(16) << p << t << 0x5A << 0;
        row("READ_PARAM_3", READ_PARAM_3, POLL_POSITIONS_1, StatusDownloadDone)
            << b.left(16) + pay.left(2) << p << t << 0x5A << 1;
        row("POLL_POSITIONS_1", POLL_POSITIONS_1, POLL_POSITIONS_2, 0x7F)
            << b << QVector<int>{1, 2, -2, 4, 5} << t << 0x5A << 0;
        row("POLL_POSITIONS_2", POLL_POSITIONS_2, POLL_GIMBAL, 0x7F)
            << b << QVector<int>{-100, -10, 3, 127, -2} << t << 0x5A << 0;
        row("POLL_GIMBAL", POLL_GIMBAL, POLL_TEST_DATA, 0x7F) << b << p << t << 0 << 0; // bit 0 only
        row("POLL_TEST_DATA", POLL_TEST_DATA, POLL_POSITIONS_1, 0x7F) << b << p << pay.mid(2, 5) << 0x5A << 0;
    }

    void sequencer()
    {
        QFETCH(quint8, current);
        QFETCH(quint8, next);
        QFETCH(int, status);
        QFETCH(QByteArray, block);
        QFETCH(QVector<int>, pos);
        QFETCH(QByteArray, test);
        QFETCH(int, gimbal);
        QFETCH(int, done);
        ParamExchange ex;
        for (int i = 0; i < 18; ++i)
            ex.paramBlock[i] = quint8(0xE0 + i);
        ex.channelPos = {1, 2, 3, 4, 5};
        ex.testData = {6, 7, 8, 9, 10};
        ex.gimbalState = 0x5A;
        ex.statusIndex = 0x7F;
        ex.commandCode = current;
        const QVector<quint8> pay = {0x11, 0x9C, 0x7F, 0x22, 0xFE, 0xF6, 0x33, 0x44};

        // Until the command's request has gone out, even a reply naming it is
        // not its answer; after that, a late reply to another command changes
        // nothing but the silence count.
        const QByteArray before = snapshot(ex);
        ex.replyArrived(frameOf(TestFrames::replyWithPayload(current, pay)));
        QCOMPARE(snapshot(ex), before);
        ex.nextRequest();
        ex.replyArrived(frameOf(TestFrames::replyWithPayload(next, pay)));
        QCOMPARE(snapshot(ex), before);
        QCOMPARE_N(ex.silenceCount, 0);

        ex.replyArrived(frameOf(TestFrames::replyWithPayload(current, pay)));
        QCOMPARE_N(ex.commandCode, next);
        QCOMPARE_N(ex.statusIndex, status);
        QCOMPARE(bytesOf(ex.paramBlock), block);
        QCOMPARE(QVector<int>(ex.channelPos.begin(), ex.channelPos.end()), pos);
        QCOMPARE(bytesOf(ex.testData), test);
        QCOMPARE_N(ex.gimbalState, gimbal);
        QCOMPARE_N(ex.downloadDone, done);
    }

    void saveResult_data()
    {
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("echoMatches");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("saveAfter");
        QTest::newRow("stored") << true << 0x02 << true << int(StatusSaveDone) << 0;
        QTest::newRow("failed") << true << 0x82 << true << int(StatusSaveFailed) << 0;
        QTest::newRow("unknown value") << true << 0x01 << true << int(StatusNone) << 2;
        QTest::newRow("stored, other echo") << true << 0x02 << false << int(StatusSaveDone) << 0;
        // A controller that reports stores nobody asked for is not believed.
        QTest::newRow("stored, never asked") << false << 0x02 << true << int(StatusNone) << 0;
        QTest::newRow("failed, never asked") << false << 0x82 << true << int(StatusNone) << 0;
    }

    void saveResult()
    {
        QFETCH(bool, asked);
        QFETCH(int, result);
        QFETCH(bool, echoMatches);
        QFETCH(int, status);
        QFETCH(int, saveAfter);
        ParamExchange ex;
        for (int i = 0; i < 3; ++i)
            tick(ex, kControllerBlock);
        ex.statusIndex = StatusNone;
        if (asked) {
            ex.requestSave();
            ex.requestSave(); // a second press while pending is the same request
        }
        QCOMPARE_N(ex.statusIndex, StatusNone);
        // Every request carries it but the block's first two parts: a store
        // before the last one would keep half a block.
        for (quint8 cmd : kAllCommands) {
            ex.commandCode = cmd;
            QCOMPARE_N(ex.nextRequest()[4], !asked || cmd == WRITE_PARAM_1 || cmd == WRITE_PARAM_2 ? 0 : 2);
        }
        ex.commandCode = POLL_POSITIONS_1; // a step that leaves the status alone
        ex.nextRequest();
        ex.replyArrived(frameOf(TestFrames::reply(echoMatches ? POLL_POSITIONS_1 : POLL_GIMBAL, {}, quint8(result))));
        QCOMPARE_N(ex.statusIndex, status);
        QCOMPARE_N(ex.nextRequest()[4], saveAfter);
        QCOMPARE_N(ex.commandCode, echoMatches ? POLL_POSITIONS_2 : POLL_POSITIONS_1);
    }

    // A letter a step: t, n and w tick answered from the controller's block, a
    // newer one or the one being written; U, u and S press Upload with
    // kChannels, 1..5 or the channels read; D Download, R a lost link's reset,
    // s Save. Then the write that follows carries `written`, and `flags` holds
    // every request's store flag.
    void uploadsAmongDownloads_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("downloadDone"); // 0: the selectors keep the operator's choice
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("holds");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("flags");
        const QByteArray &c = kControllerBlock;
        const QByteArray mine = withChannels(c, kChannels);
        const int up = StatusUploadDone, down = StatusDownloadDone;
        QTest::newRow("refused before the block is read") << "uUttt" << 1 << QByteArray() << c << down << "000";
        QTest::newRow("unchanged channels write back what was read") << "tttS" << 1 << c << c << up << "000000";
        QTest::newRow("a second press restarts the write") << "tttutU" << 0 << mine << mine << up << "0000000";
        QTest::newRow("an upload abandons a download half way")
            << "tttDnU" << 0 << withChannels(kNewerBlock.left(8) + c.mid(8), kChannels)
            << withChannels(kNewerBlock.left(8) + c.mid(8), kChannels) << up << "0000000";
        // A cut-off write leaves a mix of old and new on the controller: it is
        // finished once the block is read, and the selectors keep showing it.
        QTest::newRow("cut off by Download, finished") << "tttUtDttt" << 0 << mine << mine << up << "0000000000";
        QTest::newRow("cut off, the read finds it all there")
            << "tttUttRwww" << 0 << QByteArray() << mine << up << "00000000";
        // Another controller answers after the outage: its slots are its own.
        QTest::newRow("cut off, another block read") << "tttUtRnnn" << 1 << QByteArray() << kNewerBlock << down
                                                     << "0000000";
        // A store waits for the whole block, across the outage too, and goes
        // with the write's last part; one asked for during the outage is not taken.
        QTest::newRow("save with a write cut off, stored with its end")
            << "tttUstRttt" << 0 << mine << mine << up << "0000000002";
        QTest::newRow("save with a write, another block read")
            << "tttUstRnnn" << 1 << QByteArray() << kNewerBlock << down << "0000000";
    }
    void uploadsAmongDownloads()
    {
        QFETCH(QString, steps);
        QFETCH(int, downloadDone);
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, holds);
        QFETCH(int, status);
        QFETCH(QString, flags);
        ParamExchange ex;
        QString sent;
        // As the window's refresh does, the tick after a read takes it in.
        const auto answer = [&](const QByteArray &block) {
            ex.downloadDone = 0;
            sent += QString::number(tick(ex, block)[4]);
        };
        for (const QChar step : steps) {
            Channels read{};
            for (int f = 0; f < kFunctionCount; ++f)
                read[f] = ex.paramBlock[kSlot[f]];
            switch (step.toLatin1()) {
            case 't': answer(kControllerBlock); break;
            case 'n': answer(kNewerBlock); break;
            case 'w': answer(withChannels(kControllerBlock, kChannels)); break;
            case 'U': ex.requestUpload(kChannels); break;
            case 'u': ex.requestUpload({1, 2, 3, 4, 5}); break;
            case 'S': ex.requestUpload(read); break;
            case 'D': ex.requestDownload(); break;
            case 'R': ex.reset(); break;
            case 's': ex.requestSave(); break;
            }
        }
        const QByteArray out = uploadedBlock(ex, &sent);
        QCOMPARE(sent, flags);
        QVERIFY(!ex.writeUnfinished());
        QCOMPARE_N(ex.saveRequest, 0);
        QCOMPARE_N(ex.downloadDone, downloadDone);
        QCOMPARE(out, written);
        QCOMPARE(bytesOf(ex.paramBlock), holds);
        QCOMPARE_N(ex.statusIndex, status);
    }
};

QTEST_APPLESS_MAIN(TestLink)
#include "tst_link.moc"
