// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Files written onto a disk that fills up, or taken away while written: each
// disk a small tmpfs of the test's own, filled to the byte it needs.
#include <QtTest>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "formats/backupfile.h"
#include "formats/livelog.h"
#include "formats/liverecord.h"
#include "os/safefile.h"
#include "support/files.h"
#include "support/operator.h"
#include "support/settingsfile.h"

namespace {
const QString kFull = QString::fromLocal8Bit(std::strerror(ENOSPC));

// Mounts made by a test, taken down in reverse order when it goes, however
// the test ended. Lazily, so a file still open on one can't keep it up.
struct Mounts {
    QStringList points;
    ~Mounts()
    {
        while (!points.isEmpty())
            ::umount2(QFile::encodeName(points.takeLast()).constData(), MNT_DETACH);
    }
    // A tmpfs ("size=8k"), or a file bound over another (which can't be
    // renamed over); empty, or the reason it can't be had.
    QString mount(const QString &source, const QString &at, const char *type, unsigned long flags,
                  const char *options)
    {
        if (::mount(QFile::encodeName(source).constData(), QFile::encodeName(at).constData(), type, flags,
                    options) != 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        points << at;
        return {};
    }
};

qint64 freeBytes(const QString &dir)
{
    struct statvfs vfs{};
    return ::statvfs(QFile::encodeName(dir).constData(), &vfs) == 0 ? qint64(vfs.f_bavail) * qint64(vfs.f_frsize) : -1;
}

// Takes all the room on the file system of `dir` but `leave` bytes (whole
// pages), with a file named filler.
bool fillLeaving(const QString &dir, qint64 leave)
{
    const qint64 take = freeBytes(dir) - leave;
    return take >= 0 && (take == 0 || writeFile(dir + QStringLiteral("/filler"), QByteArray(int(take), 'f'))) &&
           freeBytes(dir) == leave;
}

// What is in the directory besides the filler: a temporary file left behind shows here.
QStringList filesIn(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(QStringLiteral("filler"));
    return names;
}

QString row(int n)
{
    const QDateTime time = QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC).addMSecs(200 * n);
    return LiveRecord::csvRow(time, {-100, 0, 100, 50, -50}, {150, 120, 100, 180, 200}, 0);
}

// Lines of a CSV file that ends with a whole row, each of them with every column.
bool wholeRows(const QByteArray &csv, int *rows)
{
    const QList<QByteArray> lines = csv.left(csv.size() - 1).split('\n');
    const int columns = int(LiveRecord::csvHeader().count(QLatin1Char(','))) + 1;
    *rows = int(lines.size()) - 1;
    return csv.endsWith('\n') && std::all_of(lines.begin(), lines.end(),
                                              [columns](const QByteArray &line) { return line.count(',') + 1 == columns; });
}

} // namespace

class TestSafeFile : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;
    std::unique_ptr<Mounts> mounts;
    QString disk;
    const QByteArray oldBackup = BackupFile::write(kDefault, QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC), "p");

    // A tmpfs of its own for the test at `disk`; empty, or why the test is skipped.
    QString mountDisk(const char *options)
    {
        const QString why = mounts->mount(QStringLiteral("tmpfs"), disk, "tmpfs", 0, options);
        if (why.isEmpty())
            return {};
        return QStringLiteral("cannot mount a tmpfs to fill up (%1); that takes root or CAP_SYS_ADMIN").arg(why);
    }

private slots:
    void initTestCase()
    {
        // The mounts go into a namespace of this process's own, so none
        // outlives it, not even when it is killed half way.
        if (::unshare(CLONE_NEWNS) == 0)
            QCOMPARE(::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        QStandardPaths::setTestModeEnabled(true);
    }

    void init()
    {
        mounts = std::make_unique<Mounts>();
        disk = scratch.filePath(QStringLiteral("disk"));
        QVERIFY(QDir().mkpath(disk));
        writeConfigRaw(kEnglishLanguageFile);
    }

    // Unmounted before anything else, also after a failed check.
    void cleanup()
    {
        mounts.reset();
        QVERIFY(QDir(scratch.path()).removeRecursively() && QDir().mkpath(scratch.path()));
        removeConfig();
    }

    // Only data all on the disk replaces the old file; otherwise its bytes
    // stay, no temporary file is left and the system's reason is given.
    void replaceOntoAFullDisk_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("leavePages"); // -1: not filled
        QTest::addColumn<int>("newBytes");
        QTest::addColumn<bool>("bound");
        QTest::addColumn<QString>("says"); // empty: replaced
        QTest::newRow("no room for another file") << QByteArray("size=8k,nr_inodes=2") << -1 << 259 << false << kFull;
        QTest::newRow("room for part of it") << QByteArray("size=16k") << 1 << 6000 << false << kFull;
        QTest::newRow("room for just all of it") << QByteArray("size=8k") << 1 << 4096 << false << QString();
        QTest::newRow("rename refused") << QByteArray("size=16k") << -1 << 259 << true
                                        << QString::fromLocal8Bit(std::strerror(EBUSY));
    }
    void replaceOntoAFullDisk()
    {
        QFETCH(QByteArray, options);
        QFETCH(int, leavePages);
        QFETCH(int, newBytes);
        QFETCH(bool, bound);
        QFETCH(QString, says);
        if (const QString no = mountDisk(options.constData()); !no.isEmpty())
            QSKIP(qPrintable(no));
        const QString good = disk + QStringLiteral("/good.json");
        const QString elsewhere = scratch.filePath(QStringLiteral("elsewhere"));
        QVERIFY(writeFile(good, oldBackup));
        if (bound) {
            QVERIFY(writeFile(elsewhere, oldBackup));
            const QString why = mounts->mount(elsewhere, good, nullptr, MS_BIND, nullptr);
            QVERIFY2(why.isEmpty(), qPrintable(why));
        }
        QCOMPARE(::chmod(QFile::encodeName(good).constData(), 0640), 0);
        if (leavePages >= 0)
            QVERIFY(fillLeaving(disk, qint64(leavePages) * 4096));

        const QByteArray data(newBytes, 'n');
        QString why;
        const bool replaced = SafeFile::replace(good, data, &why);
        QCOMPARE(filesIn(disk), QStringList{QStringLiteral("good.json")});
        struct stat st{};
        QVERIFY(::stat(QFile::encodeName(good).constData(), &st) == 0 && (st.st_mode & 07777) == 0640);
        if (says.isEmpty()) {
            QVERIFY2(replaced, qPrintable(why));
            QCOMPARE(contents(good), data);
        } else {
            QVERIFY(!replaced);
            QCOMPARE(why, says);
            QCOMPARE(contents(good), oldBackup);
        }
    }

    // A log whose file went from its path, before a row or before the stop,
    // says so; its rows are not counted as logged.
    void liveLogFileTakenAway_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("beforeStop");
        for (const bool beforeStop : {false, true}) {
            const char *when = beforeStop ? "before the stop" : "before a row";
            QTest::addRow("deleted %s", when) << "delete" << beforeStop;
            QTest::addRow("replaced %s", when) << "replace" << beforeStop;
            QTest::addRow("link moved %s", when) << "relink" << beforeStop;
            QTest::addRow("kept %s", when) << "keep" << beforeStop;
        }
    }
    void liveLogFileTakenAway()
    {
        QFETCH(QString, how);
        QFETCH(bool, beforeStop);
        const QString path = scratch.filePath(QStringLiteral("live.csv"));
        const QString real = scratch.filePath(QStringLiteral("real.csv"));
        const QString other = scratch.filePath(QStringLiteral("other.csv"));
        if (how == QLatin1String("relink"))
            QVERIFY(writeFile(real, {}) && QFile::link(real, path));
        LiveLog log;
        QString why;
        QVERIFY2(log.start(path, &why), qPrintable(why));
        for (int n = 0; n < 3; ++n)
            QVERIFY2(log.append(row(n), &why), qPrintable(why));
        QVERIFY(writeFile(other, "someone else's\n"));
        if (how == QLatin1String("delete"))
            QVERIFY(QFile::remove(path));
        else if (how == QLatin1String("replace"))
            QCOMPARE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
        else if (how == QLatin1String("relink"))
            QVERIFY(QFile::remove(path) && QFile::link(other, path));
        const bool taken = how != QLatin1String("keep");
        if (!beforeStop)
            QCOMPARE(log.append(row(3), &why), !taken);
        QCOMPARE(log.lost(), taken && !beforeStop);
        log.stop();
        QCOMPARE(log.lost(), taken);
        if (taken && how != QLatin1String("delete"))
            QCOMPARE(contents(path), QByteArray("someone else's\n"));
    }

    // The window's Save parameters (Ctrl+S) onto a full disk leaves the good
    // backup as it was and nothing beside it; its live log on a full disk or
    // with its file taken away stops. Each loss is told once, in a dialog and
    // in the status field's tooltip.
    void windowFileLosses_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("tip");
        QTest::newRow("save, disk full") << "save" << kFull << QString();
        QTest::newRow("live log, disk full") << "full" << kFull << "rows)";
        QTest::newRow("live log, file deleted") << "delete" << "deleted or replaced" << "deleted or replaced";
    }
    void windowFileLosses()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, dialog);
        QFETCH(QString, tip);
        const bool full = trouble != QLatin1String("delete");
        if (const QString no = full ? mountDisk("size=8k") : QString(); !no.isEmpty())
            QSKIP(qPrintable(no));
        OperatedRig r(QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC));
        QVERIFY(r.connectAndSettle());
        if (trouble == QLatin1String("save")) {
            r.person.file = disk + QStringLiteral("/good.json");
            QVERIFY(writeFile(r.person.file, oldBackup) && fillLeaving(disk, 0));
            r.trigger("saveParamsAction");
            QCOMPARE(contents(r.person.file), oldBackup);
            QCOMPARE(filesIn(disk), QStringList{QStringLiteral("good.json")});
            QVERIFY(!r.statusTip().contains(r.person.file));
        } else {
            r.person.file = disk + QStringLiteral("/live.csv");
            // A row every four ticks; the page left holds about 60.
            if (full)
                QVERIFY(fillLeaving(disk, 4096));
            r.trigger("logLiveAction");
            QVERIFY(r.tickUntil([&] { return contents(r.person.file).count('\n') >= 4; }, 40));
            if (!full)
                QVERIFY(QFile::remove(r.person.file));
            QVERIFY2(r.tickUntil([&] { return !r.person.seen.isEmpty(); }, 600), qPrintable(r.statusTip()));
            for (int i = 0; i < 8; ++i)
                QVERIFY(r.tick());
        }
        QCOMPARE(r.person.seen.size(), 1);
        QVERIFY2(r.person.saw(QStringLiteral("fileFailureDialog: "), dialog), qPrintable(r.person.said()));
        QVERIFY2(r.statusTip().contains(tip), qPrintable(r.statusTip()));
        // The row the disk had no room for is taken back whole, and the rows told are those in the file.
        if (tip == QLatin1String("rows)")) {
            int rows = -1;
            QVERIFY(wholeRows(contents(r.person.file), &rows));
            QVERIFY(r.statusTip().contains(QStringLiteral("(%1 rows)").arg(rows)));
        }
    }
};

QTEST_MAIN(TestSafeFile)
#include "tst_safefile.moc"
