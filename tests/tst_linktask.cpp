// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// LinkTask in process, request by request: what each job sends, where it
// ends and why it gives up. The device is scripted with TestFrames, whose
// CRC is its own, so nothing here agrees with the program by accident.
#include <QtTest>

#include <functional>

#include "link/linktask.h"
#include "support/frames.h"

namespace {
// What a device makes of a job's n-th request (from 1): the reply, or
// nothing for silence. `device` holds the block and answers as a good one.
using Script = std::function<QByteArray(int n, const QByteArray &request, TestFrames::Device &device)>;

// Runs the job until it ends or 200 requests have gone out; the commands
// sent, in order. Each reply comes in before the next request.
QByteArray run(LinkTask &task, const Script &script)
{
    TestFrames::Device device;
    QByteArray sent;
    while (sent.size() < 200) {
        const std::optional<Frame> request = task.nextRequest();
        if (!request)
            break;
        sent += char((*request)[FrameOffset::kCommand]);
        const QByteArray reply = script(sent.size(), TestFrames::bytesOf(*request), device);
        if (!reply.isEmpty())
            task.replyArrived(TestFrames::arrayOf(reply));
    }
    return sent;
}

QByteArray codes(std::initializer_list<quint8> list, int times = 1)
{
    QByteArray b;
    for (quint8 c : list)
        b += QByteArray(times, char(c));
    return b;
}
} // namespace

Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(LinkTask::State)

class TstLinkTask : public QObject
{
    Q_OBJECT

private slots:
    // How each job runs against a device that answers in a given way. The
    // silence rule is the window's: the fifteenth request in a row without a
    // good reply ends the job, and a reply to it does not. A device that
    // answers without helping ends it after 40 requests.
    void jobs_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<Script>("device");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<LinkTask::State>("state");
        QTest::addColumn<int>("writes"); // writesConfirmed() at the end
        QTest::addColumn<QString>("says");
        const auto answering = [](std::function<bool(int)> when) {
            return Script([when](int n, const QByteArray &r, TestFrames::Device &d) {
                return when(n) ? d.answer(r) : QByteArray();
            });
        };
        const auto row = [](const char *name, const char *job, const Script &device, const QByteArray &sent,
                            LinkTask::State state, int writes = 0, const char *says = "") {
            QTest::newRow(name) << job << device << sent << state << writes << says;
        };
        const Script clean = answering([](int) { return true; });
        const QByteArray read = codes({READ_PARAM_1, READ_PARAM_2, READ_PARAM_3});
        const QByteArray cycle = codes({POLL_POSITIONS_1, POLL_POSITIONS_2, POLL_GIMBAL, POLL_TEST_DATA});
        const auto done = LinkTask::State::Done, silent = LinkTask::State::Silent, refused = LinkTask::State::Refused;
        const char *unread = "did not answer while its parameters were being read: 15 requests, 0.75 s";
        const char *unwritten = "did not answer while its parameters were being written: 15 requests, 0.75 s";

        row("download", "download", clean, read, done);
        row("download again", "verify", clean, read, done);
        row("upload", "upload", clean, codes({WRITE_PARAM_1, WRITE_PARAM_2, WRITE_PARAM_3}), done, 3);
        row("save", "save", clean, codes({POLL_POSITIONS_1}), done);
        row("upload before a read", "unread upload", clean, {}, LinkTask::State::Idle);
        row("never answers", "download", answering([](int) { return false; }), codes({READ_PARAM_1}, 15), silent, 0,
            unread);
        row("answers once, then never", "download", answering([](int n) { return n == 1; }),
            codes({READ_PARAM_1}) + codes({READ_PARAM_2}, 15), silent, 0, unread);
        row("answers every 15th request", "download", answering([](int n) { return n % 15 == 0; }),
            codes({READ_PARAM_1, READ_PARAM_2, READ_PARAM_3}, 15), done);
        row("answers every 16th request", "download", answering([](int n) { return n % 16 == 0; }),
            codes({READ_PARAM_1}, 15), silent, 0, unread);
        row("upload cut off after 1 write", "upload", answering([](int n) { return n == 1; }),
            codes({WRITE_PARAM_1}) + codes({WRITE_PARAM_2}, 15), silent, 1, unwritten);
        row("upload cut off after 2 writes", "upload", answering([](int n) { return n <= 2; }),
            codes({WRITE_PARAM_1, WRITE_PARAM_2}) + codes({WRITE_PARAM_3}, 15), silent, 2, unwritten);
        row("poll, then silence", "poll", answering([](int n) { return n <= 8; }),
            cycle + cycle + codes({POLL_POSITIONS_1}, 15), silent, 0, "while it was being polled for live data: 15");
        // Any good reply is a sign of life, whatever it answers.
        row("wrong echoes only", "download",
            [](int, const QByteArray &r, TestFrames::Device &) {
                return TestFrames::reply(TestFrames::command(r) ^ 1);
            },
            codes({READ_PARAM_1}, 40), refused, 0,
            "answered 40 requests (2.00 s) while its parameters were being read, but never with what was asked");
        // Polls answered meanwhile say nothing about the store.
        row("store never reported", "save",
            [](int, const QByteArray &r, TestFrames::Device &) { return TestFrames::reply(TestFrames::command(r)); },
            cycle.repeated(10), refused, 0, "answered 40 requests (2.00 s) but never said whether it stored");
    }
    void jobs()
    {
        QFETCH(QString, job);
        QFETCH(Script, device);
        QFETCH(QByteArray, sent);
        QFETCH(LinkTask::State, state);
        QFETCH(int, writes);
        QFETCH(QString, says);
        LinkTask task;
        if (job != "download" && job != "unread upload") {
            task.download();
            run(task, [](int, const QByteArray &r, TestFrames::Device &d) { return d.answer(r); });
        }
        if (job == "download" || job == "verify")
            task.download();
        else if (job == "save")
            task.save();
        else if (job == "poll")
            task.poll();
        else
            QCOMPARE(task.upload(task.exchange().paramBlock), job == "upload");
        QCOMPARE(run(task, device).toHex(' '), sent.toHex(' '));
        QCOMPARE(task.state(), state);
        QCOMPARE(task.writesConfirmed(), writes);
        QVERIFY2(QString::fromStdString(task.failure()).contains(says), task.failure().c_str());
    }
};

QTEST_GUILESS_MAIN(TstLinkTask)
#include "tst_linktask.moc"
