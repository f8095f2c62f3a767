// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's stored language choice: where it is kept, what each value in
// config.ini gives at start-up, what is written back and found at the next
// start, a store that is no file, and the per-user file standing in where
// the executable's directory is read-only.
#include <QtTest>

#include <QAbstractButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/tiravo.h"
#include "support/filepermissions.h"
#include "support/settingsfile.h"

namespace {
bool english(Tiravo &w)
{
    const bool en = w.findChild<QRadioButton *>(QStringLiteral("enRadioButton"))->isChecked();
    const bool ch = w.findChild<QRadioButton *>(QStringLiteral("chRadioButton"))->isChecked();
    const QString start = w.findChild<QAbstractButton *>(QStringLiteral("startPushButton"))->text();
    if (en == ch || start != (en ? QStringLiteral("Connect") : QStringLiteral("开始调试")))
        qFatal("radio buttons and captions disagree");
    return en;
}
} // namespace

class TestWindowLanguage : public QObject
{
    Q_OBJECT

    QFileDevice::Permissions dirMode;

private slots:
    void initTestCase()
    {
        // The per-user file goes to a location of the test's own.
        QStandardPaths::setTestModeEnabled(true);
        dirMode = QFile::permissions(QCoreApplication::applicationDirPath());
    }

    // Also after a failed case, so the next one finds its directory as it was.
    void cleanup()
    {
        QFile::setPermissions(QCoreApplication::applicationDirPath(), dirMode);
        QFile::remove(perUserConfigPath());
    }

    void init()
    {
        // The settings library keeps a write it could not make and makes it
        // with the next one in this process; flush any such write away so it
        // can't reach into this case.
        removeConfig();
        QSettings(configPath(), QSettings::IniFormat).sync();
        removeConfig();
    }

    // Beside the executable while its directory takes writes, the user's own
    // file where it does not.
    void languageFilePath()
    {
        QCOMPARE(Tiravo::languageFilePath(), configPath());
        QVERIFY(QFile::setPermissions(QCoreApplication::applicationDirPath(),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        FilePermissionsApply permissions;
        QVERIFY(permissions.inForce());
        QCOMPARE(Tiravo::languageFilePath(), perUserConfigPath());
    }

    void storedChoiceAtStartUp_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("storedAfter");
        QTest::addColumn<bool>("untouched");

        auto row = [](const char *name, const char *value, bool english, const char *after, bool untouched) {
            QTest::newRow(name) << (QByteArray("[%General]\nLangureType=") + value + '\n') << english
                                << QString::fromLatin1(after) << untouched;
        };
        QTest::newRow("no file") << QByteArray() << false << "1" << false;
        row("1", "1", false, "1", true);
        row("2", "2", true, "2", true);
        row("0", "0", false, "1", false);
        row("3", "3", false, "1", false);
        row("257, low byte 1", "257", false, "257", true);
        row("-254, low byte 2", "-254", true, "-254", true);
    }
    void storedChoiceAtStartUp()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, english);
        QFETCH(QString, storedAfter);
        QFETCH(bool, untouched);

        if (!file.isNull())
            writeConfigRaw(file);
        Tiravo w;
        QCOMPARE(::english(w), english);
        QCOMPARE(int(LangureFlag), english ? 2 : 1);
        QCOMPARE(storedLanguage().toString(), storedAfter);
        if (untouched)
            QCOMPARE(readConfigRaw(), file);
    }

    // A store that is no regular file is neither read nor written: the
    // window comes up at once in Chinese, a switch still works, and what is
    // there stays as it was. A link to a regular file is followed and kept.
    void storeThatIsNoFile_data()
    {
        QTest::addColumn<QString>("node");
        QTest::newRow("directory") << "directory";
        QTest::newRow("FIFO") << "FIFO";
        QTest::newRow("link to a FIFO") << "link to a FIFO";
        QTest::newRow("link to a file") << "link to a file";
    }
    void storeThatIsNoFile()
    {
        QFETCH(QString, node);
        QTemporaryDir elsewhere;
        const QString file = elsewhere.filePath(QStringLiteral("kept.ini"));
        const QByteArray fifo = QFile::encodeName(elsewhere.filePath(QStringLiteral("fifo")));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        QFile kept(file);
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("[%General]\nLangureType=2\n") > 0);
        kept.close();
        const QByteArray store = QFile::encodeName(configPath());
        if (node == "directory")
            QVERIFY(QDir().mkpath(configPath()));
        else if (node == "FIFO")
            QVERIFY(::mkfifo(store.constData(), 0600) == 0);
        else
            QVERIFY(QFile::link(node == "link to a FIFO" ? QFile::decodeName(fifo) : file, configPath()));
        struct stat before;
        QVERIFY(::lstat(store.constData(), &before) == 0);
        const bool linkToFile = node == "link to a file";
        {
            Tiravo w;
            QCOMPARE(english(w), linkToFile);
            w.findChild<QRadioButton *>(linkToFile ? QStringLiteral("chRadioButton") : QStringLiteral("enRadioButton"))
                ->click();
            QCOMPARE(english(w), !linkToFile);
        }
        struct stat after;
        QVERIFY(::lstat(store.constData(), &after) == 0);
        QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
        if (linkToFile) {
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QVERIFY(kept.readAll().contains("LangureType=1"));
        }
        if (node == "directory")
            QVERIFY(QDir(configPath()).removeRecursively());
        else
            removeConfig();
    }

    // A store the window can't read starts it in Chinese, one it can't write
    // keeps what it held, and a read-only directory hands the choice to the
    // user's own file.
    void hostileStore_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("mode"); // QFileDevice::Permissions of the file, or 0 to leave them
        QTest::addColumn<bool>("dirLocked"); // the executable's directory read-only
        QTest::addColumn<bool>("english");

        const QByteArray english = "[%General]\nLangureType=2\n";
        const auto writeOnly = QFileDevice::WriteOwner | QFileDevice::WriteUser;
        const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadUser | QFileDevice::ReadGroup |
                              QFileDevice::ReadOther;

        QTest::newRow("unreadable, English stored") << english << int(writeOnly) << false << false;
        // The per-user file stands in for the one beside the executable, and starts as its copy.
        QTest::newRow("read-only directory, English stored") << english << 0 << true << true;
        QTest::newRow("read-only directory, no file") << QByteArray() << 0 << true << false;
        // The copy must still take this user's next choice.
        QTest::newRow("read-only directory and file, English") << english << int(readOnly) << true << true;
        QTest::newRow("read-only file, English stored") << english << int(readOnly) << false << true;
    }
    void hostileStore()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, mode);
        QFETCH(bool, dirLocked);
        QFETCH(bool, english);

        const QString dir = QCoreApplication::applicationDirPath();
        if (!file.isNull())
            writeConfigRaw(file);
        if (mode)
            QVERIFY(QFile::setPermissions(configPath(), QFileDevice::Permissions(mode)));
        const auto dirMode = QFile::permissions(dir);
        if (dirLocked)
            QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                   QFileDevice::ExeOther));
        const bool storeWritable = !mode && !dirLocked;
        {
            FilePermissionsApply permissions;
            QVERIFY(permissions.inForce());
            {
                Tiravo w;
                QCOMPARE(::english(w), english);
                // The operator can still switch; the switch reaches the store where it is writable,
                // which for a read-only directory is the per-user file.
                w.findChild<QRadioButton *>(english ? QStringLiteral("chRadioButton")
                                                    : QStringLiteral("enRadioButton"))
                    ->click();
                QCOMPARE(::english(w), !english);
            }
            if (storeWritable || dirLocked) {
                Tiravo next;
                QCOMPARE(::english(next), !english);
            }
        }
        QFile::setPermissions(dir, dirMode);
        QFile::setPermissions(configPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QByteArray after = readConfigRaw();
        if (storeWritable)
            QVERIFY(after.contains(english ? "LangureType=1" : "LangureType=2"));
        else
            QCOMPARE(after, file.isNull() ? QByteArray() : file);
        QCOMPARE(QFile::exists(perUserConfigPath()), dirLocked);
        removeConfig();
    }
};

QTEST_MAIN(TestWindowLanguage)
#include "tst_window_language.moc"
