// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The backup document: what is written reads back as the same block, and
// whatever is not a whole, consistent backup in a regular file is refused
// with its reason, nothing of it handed out.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include "formats/backupfile.h"
#include "support/files.h"

namespace {
const ParamBlock kBlock = {60, 90, 100, 33, 5, 120, 30, 150, 45, 3, 6, 200, 7, 2, 80, 35, 175, 0};
// A good backup, which each refused one changes in one place.
const QByteArray kGood = R"({"format": "sbus-channel parameter block", "version": 1, )"
                         R"("channels": {"tilt": 1, "pan": 2, "mode": 5, "rec": 6, "zoom": 7}, )"
                         R"("block": [60,90,100,33,5,120,30,150,45,1,6,200,7,2,80,35,175,65]})";

QByteArray good(const char *from, const char *to, const char *from2 = "\x01", const char *to2 = "")
{
    return QByteArray(kGood).replace(from, to).replace(from2, to2);
}

// What the libraries print on the way: a refusal is told to the caller only.
QStringList logged;
void record(QtMsgType, const QMessageLogContext &, const QString &message)
{
    logged << message;
}
} // namespace

class TstBackupFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // At `path`: a FIFO, a character device (a node of its own, never the
    // system's /dev/null, which a faulty save would replace), a link to
    // either, or a directory. False where the system has no such thing.
    bool makeNode(const QString &node, const QString &path)
    {
        if (node == "directory")
            return QDir().mkdir(path);
#ifdef Q_OS_UNIX
        const bool link = node.startsWith("link to");
        const QString target = link ? dir.filePath(QStringLiteral("node")) : path;
        const QByteArray at = QFile::encodeName(target);
        if (node.contains("FIFO") && ::mkfifo(at.constData(), 0600) != 0)
            return false;
        if (node.contains("character device") && ::mknod(at.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            return false;
        return !link || QFile::link(target, path);
#else
        // FIFOs are Unix's; Windows' named pipes and devices live outside the file system.
        return !node.contains("FIFO") && !node.contains("character device");
#endif
    }

private slots:
    void cleanup() { QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path())); }

    // Saved through a link, which stays one, with a port name that needs
    // quoting and a time taken in another zone; read back as the same block.
    void roundTrip()
    {
        const QDateTime taken(QDate(2026, 12, 6), QTime(17, 25, 3), Qt::OffsetFromUTC, 5 * 3600 + 1800);
        QVERIFY(BackupFile::write(kBlock, taken, "p").contains(R"("taken": "2026-12-06T11:55:03Z")"));
        const QString file = dir.filePath("real.json");
#ifdef Q_OS_UNIX
        const QString link = dir.filePath("link.json");
        QVERIFY(writeFile(file, "old") && QFile::link(file, link));
#else
        // A symbolic link takes a privilege there (and Wine makes none); QFile::link makes a shortcut.
        const QString link = file;
        QVERIFY(writeFile(file, "old"));
#endif
        QString why;
        QVERIFY2(BackupFile::save(link, kBlock, taken, "/dev/serial/by-id/\"odd\" \\name", &why), qPrintable(why));
#ifdef Q_OS_UNIX
        QVERIFY(QFileInfo(link).isSymLink());
#endif
        ParamBlock read{};
        QCOMPARE(BackupFile::load(link, &read, &why), BackupFile::LoadResult::Loaded);
        QCOMPARE(read, kBlock);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("node"); // "file" holds the content
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const auto file = [](const char *name, const QByteArray &content, const char *reason) {
            QTest::newRow(name) << "file" << content << reason;
        };
        file("not JSON", "tilt=3\n", "it is not JSON");
        file("someone else's", good("sbus-channel parameter block", "other"), "not a parameter block backup");
        file("no version", good("\"version\": 1, ", ""), "\"version\" is missing");
        file("newer version", good("\"version\": 1", "\"version\": 2"), "version 2");
        file("17 bytes", good(",65]", "]"), "18 numbers");
        file("byte 256", good("[60,", "[256,"), "byte 0 ");
        file("byte 1.5", good(",65]", ",1.5]"), "byte 17 ");
        file("byte \"5\"", good(",5,120", ",\"5\",120"), "byte 4 ");
        file("no zoom", good(", \"zoom\": 7", ""), "no whole number for zoom");
        file("edited in one place", good("\"tilt\": 1", "\"tilt\": 4"),
             "gives tilt channel 4, but the block holds 1 in its slot 9; the file was changed in one place only");
        // Allowing channels outside 1..18 allows nothing else.
        file("channel 0, edited in one place", good("\"tilt\": 1", "\"tilt\": 0"),
             "gives tilt channel 0, but the block holds 1");
        file("channel 0, byte 256", good("\"tilt\": 1", "\"tilt\": 0", "[60,", "[256,"), "byte 0 ");
        // Read only a byte past the limit, which is all the message may go by.
        file("70 KB", QByteArray(70 * 1024, ' '), "it is more than 65536 bytes long");
        // The library would take the last of two; a person reading the file sees the first.
        file("block twice", good("\"block\"", "\"block\": [61,90,100,33,5,120,30,150,45,1,6,200,7,2,80,35,175,65], "
                                 "\"block\""),
             "it gives \"block\" twice");
        file("a channel twice, escaped", good("\"zoom\": 7", "\"zoom\": 7, \"t\\u0069lt\": 1"),
             "its \"channels\" gives \"tilt\" twice");
        const std::pair<const char *, const char *> nodes[] = {{"missing", "No such file"},
                                                               {"FIFO", "it is a FIFO, not a regular file"},
                                                               {"link to a FIFO", "it is a FIFO"},
                                                               {"directory", "it is a directory"}};
        for (const auto &[node, reason] : nodes)
            QTest::newRow(node) << node << QByteArray() << reason;
    }
    void refused()
    {
        QFETCH(QString, node);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString path = dir.filePath("target");
        if (node == "file")
            QVERIFY(writeFile(path, content));
        if (!makeNode(node, path))
            QSKIP(qPrintable(node + QStringLiteral(" can't be made here")));
        ParamBlock block = kBlock;
        QString why;
        logged.clear();
        const QtMessageHandler previous = qInstallMessageHandler(record);
        const BackupFile::LoadResult result = BackupFile::load(path, &block, &why);
        qInstallMessageHandler(previous);
        QCOMPARE(result, node == "file" ? BackupFile::LoadResult::Refused : BackupFile::LoadResult::Unreadable);
        QVERIFY2(why.contains(reason), qPrintable(why));
        QCOMPARE(block, kBlock);
        QCOMPARE(logged, QStringList());

        QString allowedWhy;
        QCOMPARE(BackupFile::load(path, &block, &allowedWhy, Language::English,
                                  BackupFile::OutOfRange::Allow),
                 result);
        QCOMPARE(allowedWhy, why);
        QCOMPARE(block, kBlock);
    }

    // A backup goes only into a regular file or through a link to one: onto
    // anything else it is refused, with the reason, before anything is
    // opened (a FIFO would block), and the node is left as it was.
    void saveRefused_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO") << "FIFO" << "it is a FIFO, not a regular file";
        QTest::newRow("character device") << "character device" << "it is a character device, not a regular file";
        QTest::newRow("link to a character device")
            << "link to a character device" << "which is a character device, not a regular file";
        QTest::newRow("directory") << "directory" << "it is a directory, not a regular file";
    }
    void saveRefused()
    {
        QFETCH(QString, node);
        QFETCH(QString, reason);
        const QString path = dir.filePath("target");
        if (!makeNode(node, path))
            QSKIP(qPrintable(node + QStringLiteral(" can't be made here")));
        const QFileInfo before(path);
        QString why;
        QVERIFY(!BackupFile::save(path, kBlock, QDateTime::currentDateTimeUtc(), "p", &why));
        QVERIFY2(why.contains(reason), qPrintable(why));
        const QFileInfo after(path);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.isFile(), before.isFile());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(),
                 node.startsWith("link to") ? 2 : 1);
    }

    // Each value a slot can hold that is no SBUS channel, in each function's
    // slot: written as it is, refused on reading with every such function
    // named, and read back as it is when allowed.
    void outOfRangeChannels_data()
    {
        QTest::addColumn<int>("rotation");
        for (int r = 0; r < 5; ++r)
            QTest::newRow(qPrintable(QStringLiteral("rotation %1").arg(r))) << r;
    }
    void outOfRangeChannels()
    {
        QFETCH(int, rotation);
        // Over the five rotations every function holds each of them once,
        // and a channel once.
        const int values[5] = {0, 19, 200, 255, 9};
        const char *names[5] = {"tilt", "pan", "mode", "rec", "zoom"};
        const int slot[5] = {9, 13, 4, 10, 12};
        ParamBlock block = kBlock;
        QStringList outside;
        for (int f = 0; f < 5; ++f) {
            const int value = values[(f + rotation) % 5];
            block[std::size_t(slot[f])] = std::uint8_t(value);
            if (value != 9)
                outside << QStringLiteral("%1 is on channel %2").arg(QLatin1String(names[f])).arg(value);
        }
        const QByteArray text = BackupFile::write(block, QDateTime::currentDateTimeUtc(), "p");
        ParamBlock read = kBlock;
        QString why;
        QVERIFY(!BackupFile::read(text, &read, &why));
        QCOMPARE(why, outside.join(", ") + "; SBUS channels are 1 to 18");
        QCOMPARE(read, kBlock);
        QVERIFY2(BackupFile::read(text, &read, &why, Language::English, BackupFile::OutOfRange::Allow),
                 qPrintable(why));
        QCOMPARE(read, block);
        // The window says it in Chinese, with the same functions.
        QVERIFY(!BackupFile::read(text, &read, &why, Language::Chinese));
        QCOMPARE(why.count(QStringLiteral("在通道")), 4);
    }
};

QTEST_GUILESS_MAIN(TstBackupFile)
#include "tst_backupfile.moc"
