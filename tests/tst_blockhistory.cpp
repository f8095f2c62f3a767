// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The per-user history of blocks: entries read back as written, per adapter;
// the file stays bounded and whole; whatever is not a regular file or not an
// entry is never waited on, written or believed, and is said once.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "formats/blockhistory.h"
#include "support/files.h"
#include "support/frames.h"

using namespace BlockHistory;

Q_DECLARE_METATYPE(BlockHistory::Adapter)
Q_DECLARE_METATYPE(ParamBlock)

namespace {
const ParamBlock kBlock = {60, 90, 100, 33, 5, 120, 30, 150, 45, 1, 6, 200, 7, 2, 80, 35, 175, 65};

using TestFrames::with;

Adapter adapter(const char *serial, const char *usb, const char *byId, const char *port)
{
    return {QString::fromUtf8(serial), QString::fromUtf8(usb), QString::fromUtf8(byId), QString::fromUtf8(port)};
}

const Adapter kFtdi = adapter("A10K", "0403:6001", "/dev/serial/by-id/usb-FTDI_FT232R_A10K-if00-port0", "/dev/ttyUSB0");
// The same type of adapter with another serial number: another adapter.
const Adapter kOtherFtdi =
    adapter("B20Q", "0403:6001", "/dev/serial/by-id/usb-FTDI_FT232R_B20Q-if00-port0", "/dev/ttyUSB0");

Entry entry(Event event, const ParamBlock &block, const Adapter &through = kFtdi, bool stored = true,
            std::optional<ParamBlock> before = std::nullopt)
{
    Entry e;
    e.time = QDateTime(QDate(2026, 12, 7), QTime(14, 2, 11, 123), Qt::OffsetFromUTC, 3600);
    e.program = QStringLiteral("cli");
    e.adapter = through;
    e.event = event;
    e.stored = event == Event::Store && stored;
    e.block = block;
    if (event == Event::Write)
        e.before = before.value_or(kBlock);
    return e;
}

// An entry's every field, to compare two at once; the time with its offset.
QString fields(const Entry &e)
{
    const auto hex = [](const std::optional<ParamBlock> &b) {
        return b ? QString::fromLatin1(TestFrames::bytesOf(*b).toHex()) : "-";
    };
    return QStringList{e.time.toString(Qt::ISODateWithMs), e.program, QString::number(int(e.event)),
                       QString::number(e.stored), hex(e.block), hex(e.before), e.adapter.serial, e.adapter.usbId,
                       e.adapter.byId, e.adapter.port}
        .join(QLatin1Char('|'));
}

} // namespace

class TstBlockHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString file() const { return dir.filePath(QStringLiteral("share/sbus-channel/history.jsonl")); }

private slots:
    void cleanup()
    {
#ifdef Q_OS_UNIX
        ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
#endif
        QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()));
    }

    // Every kind of entry, with a port that needs quoting and a time in
    // another zone, reads back as it was; its folder is made on the way. A
    // line holds only what its event has.
    void roundTrip()
    {
        const Adapter odd = adapter("", "", "", "/tmp/\"odd\" \\ name\n");
        const QList<Entry> written = {entry(Event::Read, kBlock, odd),
                                      entry(Event::Write, with(kBlock, {{9, 3}}), kFtdi, false, kBlock),
                                      entry(Event::Store, with(kBlock, {{9, 3}}), kFtdi, true),
                                      entry(Event::Store, with(kBlock, {{9, 4}}), kOtherFtdi, false)};
        History history(file());
        for (const Entry &e : written)
            QVERIFY2(history.append(e), qPrintable(history.problem()));
        const QList<Entry> read = History(file()).entries();
        QCOMPARE(read.size(), written.size());
        for (int i = 0; i < read.size(); ++i)
            QCOMPARE(fields(read[i]), fields(written[i]));
        const QList<QByteArray> lines = contents(file()).split('\n');
        QCOMPARE(lines.size(), written.size() + 1);
        QVERIFY2(!lines[0].contains("\"stored\"") && !lines[0].contains("\"before\"") && !lines[0].contains("serial"),
                 lines[0].constData());
        QVERIFY2(!lines[1].contains("\"stored\"") && !lines[2].contains("\"before\""), lines[1].constData());
    }

    void sameAdapter_data()
    {
        QTest::addColumn<Adapter>("a");
        QTest::addColumn<Adapter>("b");
        QTest::addColumn<bool>("same");
        const auto usb = [](const char *serial, const char *id, const char *port) { return adapter(serial, id, "", port); };
        const auto plain = [](const char *port) { return adapter("", "", "", port); };
        QTest::newRow("same by-id, other port name") << kFtdi << adapter("A10K", "0403:6001", kFtdi.byId.toUtf8(), "/dev/ttyUSB3") << true;
        QTest::newRow("same type, other serial") << kFtdi << kOtherFtdi << false;
        QTest::newRow("serials, no by-id (Windows)") << usb("A10K", "0403:6001", "COM3") << usb("A10K", "0403:6001", "COM7") << true;
        QTest::newRow("same serial, other type") << usb("A10K", "0403:6001", "COM3") << usb("A10K", "10c4:ea60", "COM3") << false;
#ifdef Q_OS_UNIX
        QTest::newRow("no USB identity, bare and full name") << plain("ttyS0") << plain("/dev/ttyS0") << true;
#else
        QTest::newRow("no USB identity, as typed and as listed") << plain("com1") << plain("COM1") << true;
#endif
        QTest::newRow("no USB identity, other port") << plain("/dev/ttyS0") << plain("/dev/ttyS1") << false;
        QTest::newRow("a USB adapter where a plain port was") << plain("/dev/ttyUSB0") << kFtdi << false;
        QTest::newRow("no serial number, same type and port") << usb("", "1a86:7523", "COM4") << usb("", "1a86:7523", "COM4") << true;
        QTest::newRow("no serial number, other port") << usb("", "1a86:7523", "COM4") << usb("", "1a86:7523", "COM5") << false;
        QTest::newRow("no port at all") << plain("") << plain("") << false;
    }
    void sameAdapter()
    {
        QFETCH(Adapter, a);
        QFETCH(Adapter, b);
        QFETCH(bool, same);
        QCOMPARE(BlockHistory::sameAdapter(a, b), same);
        QCOMPARE(BlockHistory::sameAdapter(b, a), same);
    }

    // A port chosen by its by-id name is known by it, facts or none.
    void adapterOfFacts()
    {
        PortList::Facts facts;
        facts.serialNumber = QStringLiteral("A10K");
        facts.usbId = QStringLiteral("0403:6001");
        facts.stableName = kFtdi.byId;
        const Adapter a = adapterOf(facts, QStringLiteral("ttyUSB0"));
        QCOMPARE((QStringList{a.serial, a.usbId, a.byId, a.port}),
                 (QStringList{"A10K", "0403:6001", kFtdi.byId, "ttyUSB0"}));
        QVERIFY(BlockHistory::sameAdapter(adapterOf(PortList::Facts{}, kFtdi.byId), kFtdi));
    }

    // The newest successful store and the newest write through each adapter:
    // a failed store, a read and another adapter's entries don't count.
    void lastStoredAndLastWrite()
    {
        History history(file());
        QVERIFY(!history.lastStored(kFtdi) && !history.lastWrite(kFtdi));
        QCOMPARE(history.problem(), QString());
        const ParamBlock stored = with(kBlock, {{9, 3}});
        const ParamBlock written = with(kBlock, {{12, 9}});
        QVERIFY(history.append(entry(Event::Write, with(kBlock, {{9, 2}}), kFtdi, false, kBlock)));
        QVERIFY(history.append(entry(Event::Store, stored, kFtdi, true)));
        QVERIFY(history.append(entry(Event::Write, written, kFtdi, false, stored)));
        QVERIFY(history.append(entry(Event::Store, written, kFtdi, false)));
        QVERIFY(history.append(entry(Event::Read, with(kBlock, {{9, 7}}), kFtdi)));
        QVERIFY(history.append(entry(Event::Store, with(kBlock, {{9, 8}}), kOtherFtdi, true)));
        QVERIFY(history.append(entry(Event::Write, with(kBlock, {{9, 8}}), kOtherFtdi, false, with(kBlock, {{0, 1}}))));

        const Adapter replugged = adapter("A10K", "0403:6001", kFtdi.byId.toUtf8(), "/dev/ttyUSB1");
        QCOMPARE(fields(history.lastStored(replugged).value_or(Entry{})), fields(entry(Event::Store, stored)));
        QCOMPARE(fields(history.lastWrite(replugged).value_or(Entry{})), fields(entry(Event::Write, written, kFtdi, false, stored)));
        QCOMPARE(history.lastStored(kOtherFtdi)->block, with(kBlock, {{9, 8}}));
        QCOMPARE(*history.lastWrite(kOtherFtdi)->before, with(kBlock, {{0, 1}}));
        QVERIFY(!history.lastStored(adapter("Z9", "0403:6001", "", "/dev/ttyUSB0")));
    }

    // Past the limit the file is replaced by its newer half, whole lines
    // only, the newest entry kept.
    void staysBounded()
    {
        History scratch(dir.filePath(QStringLiteral("one")));
        QVERIFY(scratch.append(entry(Event::Read, kBlock, adapter("", "", "", "PORT"))));
        const QByteArray line = contents(dir.filePath(QStringLiteral("one")));
        QByteArray filler;
        int count = 0;
        while (filler.size() <= kMaxBytes)
            filler += QByteArray(line).replace("PORT", "port" + QByteArray::number(count++));
        QVERIFY(writeFile(file(), filler));
        History history(file());
        const Entry newest = entry(Event::Store, with(kBlock, {{9, 18}}), kFtdi, true);
        QVERIFY(history.append(newest));
        const QByteArray kept = contents(file());
        QVERIFY2(kept.size() <= kMaxBytes / 2 && kept.size() > kMaxBytes / 2 - line.size(), QByteArray::number(kept.size()));
        QVERIFY(kept.endsWith('\n') && kept.startsWith("{\"time\""));
        const QList<Entry> entries = history.entries();
        QCOMPARE(history.problem(), QString());
        QCOMPARE(entries.size(), kept.count('\n'));
        QCOMPARE(entries.last().block, newest.block);
        // The newest of the old ones, in order, right before it.
        QCOMPARE(entries[entries.size() - 2].adapter.port, QStringLiteral("port%1").arg(count - 1));
        QCOMPARE(entries.first().adapter.port,
                 QStringLiteral("port%1").arg(count - 1 - (entries.size() - 2)));
        QCOMPARE(QDir(QFileInfo(file()).absolutePath()).entryList(QDir::Files), QStringList{"history.jsonl"});
    }

    // Lines that are no entry of ours are skipped, counted and said once;
    // an entry appended after a torn last line is whole all the same.
    void corruptLinesAreSkipped()
    {
        History writer(dir.filePath(QStringLiteral("good")));
        QVERIFY(writer.append(entry(Event::Store, with(kBlock, {{9, 3}}))));
        const QByteArray good = contents(dir.filePath(QStringLiteral("good")));
        const auto changed = [&](const char *from, const char *to) { return QByteArray(good).replace(from, to); };
        const QByteArray bad = changed("[60,", "[60,1,") +          // 19 numbers
                               changed("[60,", "[") +               // 17
                               changed("[60,", "[256,") +           // not a byte
                               changed("[60,", "[6.5,") +           // not a whole number
                               changed("[60,", "[\"60\",") +        // a string
                               changed("\"stored\":true", "\"stored\":1") +
                               changed("\"store\"", "\"erase\"") +
                               changed("2026-12-07T", "yesterday ") +
                               changed("\"program\":\"cli\"", "\"program\":7") +
                               "[1,2,3]\n" + "not json at all\n";
        QVERIFY(writeFile(file(), good + bad + "\n\n" + good.left(40)));
        History history(file());
        const QList<Entry> entries = history.entries();
        QVERIFY(entries.size() == 1 && entries[0].block == with(kBlock, {{9, 3}}));
        const QString says = QStringLiteral("The history of stored blocks at %1 has 12 unreadable lines, which were skipped.")
                                 .arg(QDir::toNativeSeparators(file()));
        QCOMPARE(history.takeProblem(), says);
        history.entries(); // said once, however often it is read
        QCOMPARE(history.takeProblem(Language::Chinese), QString());
        QVERIFY(history.problem(Language::Chinese).contains(QStringLiteral("中有 12 行无法读取")));

        QVERIFY(history.append(entry(Event::Store, with(kBlock, {{9, 5}}))));
        QCOMPARE(history.entries().size(), 2);
        QCOMPARE(history.lastStored(kFtdi)->block, with(kBlock, {{9, 5}}));
    }

    // A directory at the path: nothing is read from it or written to it;
    // said once. (A FIFO there is the command line's historyTroubles.)
    void notAFile()
    {
        QVERIFY(QDir().mkpath(file()));
        History history(file());
        QVERIFY(history.entries().isEmpty());
        const QString expected = QStringLiteral("The history of stored blocks at %1 is not a regular file (a "
                                                "directory); nothing is read from it or written to it, so checks "
                                                "after power cycles and undo are off. Remove it, or put a regular "
                                                "file there.")
                                     .arg(QDir::toNativeSeparators(file()));
        QCOMPARE(history.takeProblem(), expected);
        QVERIFY(!history.append(entry(Event::Store, kBlock)));
        QCOMPARE(history.problem(), expected);
        QCOMPARE(history.takeProblem(), QString());
        QVERIFY(!history.lastStored(kFtdi));
        QVERIFY(history.problem(Language::Chinese).contains(QStringLiteral("不是普通文件")));
        QVERIFY(QFileInfo(file()).isDir() && QDir(file()).isEmpty());
    }

#ifdef Q_OS_UNIX
    // Where the file can't be written, append says so and the file is as it
    // was, trimming included.
    void unwritableKeepsTheOldFile()
    {
        if (::geteuid() == 0)
            QSKIP("root writes a file whatever its mode says");
        History writer(file());
        QVERIFY(writer.append(entry(Event::Store, kBlock)));
        const QByteArray old = contents(file());
        const QByteArray folder = QFile::encodeName(QFileInfo(file()).absolutePath());
        QVERIFY(::chmod(QFile::encodeName(file()).constData(), 0444) == 0 && ::chmod(folder.constData(), 0555) == 0);
        History history(file());
        QVERIFY(!history.append(entry(Event::Store, with(kBlock, {{9, 9}}))));
        QCOMPARE(history.takeProblem(),
                 QStringLiteral("The history of stored blocks at %1 can't be written (Permission denied); what was "
                                "just done is not in it, so it can't be checked after a power cycle or undone.")
                     .arg(file()));
        // A good read afterwards does not unsay it before it was told.
        QVERIFY(!history.append(entry(Event::Store, with(kBlock, {{9, 9}}))));
        history.entries();
        QVERIFY(!history.problem().isEmpty());
        QCOMPARE(contents(file()), old);

        // A file past the limit that can't be replaced stays whole too.
        QVERIFY(::chmod(QFile::encodeName(file()).constData(), 0644) == 0);
        QByteArray big = old.repeated(int(kMaxBytes / old.size()) + 1);
        QVERIFY(writeFile(file(), big));
        QVERIFY(history.append(entry(Event::Store, with(kBlock, {{9, 9}}))));
        QCOMPARE(contents(file()).size(), big.size() + old.size());
        QCOMPARE(QDir(QString::fromUtf8(folder)).entryList(QDir::Files), QStringList{"history.jsonl"});
        ::chmod(folder.constData(), 0755);
    }

#endif

    void differencesInRowOrder()
    {
        const std::vector<Difference> d = differences(kBlock, with(kBlock, {{2, 7}, {12, 9}, {9, 3}}));
        QCOMPARE(differencesText(d, Language::English), QStringLiteral("tilt 1 → 3, zoom 7 → 9, slot 2 100 → 7"));
        QCOMPARE(differencesText(d, Language::Chinese), QStringLiteral("俯仰 1 → 3，变焦 7 → 9，第 2 字节 100 → 7"));
        QVERIFY(differences(kBlock, kBlock).empty());
    }

    void sharedChannelTexts_data()
    {
        QTest::addColumn<ParamBlock>("block");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("chinese");
        // tilt 9, pan 13, mode 4, rec 10, zoom 12 are the slots.
        QTest::newRow("three") << with(kBlock, {{9, 18}, {13, 18}, {12, 18}})
                               << QStringLiteral("tilt, pan and zoom are all on channel 18")
                               << QStringLiteral("俯仰、指向和变焦都在通道 18");
        QTest::newRow("two channels") << with(kBlock, {{9, 3}, {12, 3}, {13, 5}, {4, 5}})
                                      << QStringLiteral("tilt and zoom are both on channel 3; pan and mode are both "
                                                        "on channel 5")
                                      << QStringLiteral("俯仰和变焦都在通道 3；指向和模式都在通道 5");
        QTest::newRow("no channel is not shared") << with(kBlock, {{9, 0}, {12, 0}, {13, 19}, {4, 19}}) << QString()
                                                  << QString();
    }
    void sharedChannelTexts()
    {
        QFETCH(ParamBlock, block);
        QFETCH(QString, english);
        QFETCH(QString, chinese);
        QCOMPARE(sharedChannelWarning(block, Language::English), english);
        QCOMPARE(sharedChannelWarning(block, Language::Chinese), chinese);
    }
};

QTEST_GUILESS_MAIN(TstBlockHistory)
#include "tst_blockhistory.moc"
