// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's stored language choice. Built for Windows too and run under
// Wine, without what only Unix has (FIFOs, HOME).
#include <QtTest>

#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "os/installedcopy.h"
#include "app/tiravo.h"
#include "support/clicks.h"
#include "support/settingsfile.h"

#ifdef Q_OS_LINUX
#include "support/filepermissions.h"
#else
// Outside Linux there is no privilege of root's to lay down for a while;
// lockedDirectory() finds out whether a directory refuses files.
struct FilePermissionsApply {
    FilePermissionsApply() {}
    ~FilePermissionsApply() {}
    bool inForce() const { return true; }
};
#endif

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

#ifdef Q_OS_UNIX
QStringList warnings;

void recordWarning(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        warnings.append(message);
}
#endif

// False where this process writes in dir all the same, as Wine run as root
// does; asked by making a file, not of the code under test.
bool lockDirectory(const QString &dir)
{
    if (!QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                        QFileDevice::ExeOther))
        return false;
    FilePermissionsApply permissions;
    QFile probe(dir + QStringLiteral("/lock-probe"));
    if (!permissions.inForce() || probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        return false;
    }
    return true;
}
} // namespace

class TestWindowLanguage : public QObject
{
    Q_OBJECT

    QFileDevice::Permissions dirMode;
    QByteArray home, configHome;
    QStringList heardBefore;
    bool rootConfigExisted = false;

    // Where the settings library puts the user's file without a usable HOME.
    static QString neverMade() { return QStringLiteral("/.config/") + QCoreApplication::applicationName(); }
    QString startDir;

    static void restoreVariable(const char *name, const QByteArray &value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

private slots:
    void initTestCase()
    {
        home = qgetenv("HOME");
        configHome = qgetenv("XDG_CONFIG_HOME");
        rootConfigExisted = QFileInfo::exists(QStringLiteral("/.config"));
        startDir = QDir::currentPath();
        QVERIFY2(!QFileInfo::exists(neverMade()), qPrintable(neverMade() + QStringLiteral(" is left from an earlier run")));
        QStandardPaths::setTestModeEnabled(true);
        dirMode = QFile::permissions(QCoreApplication::applicationDirPath());
    }

    void cleanup()
    {
        restoreVariable("HOME", home);
        restoreVariable("XDG_CONFIG_HOME", configHome);
        QStandardPaths::setTestModeEnabled(true);
        QFile::setPermissions(QCoreApplication::applicationDirPath(), dirMode);
        QFile::remove(perUserConfigPath());
        QDir(configPath()).removeRecursively();
        removeConfig();
        QDir::setCurrent(startDir);
        const bool made = QFileInfo::exists(neverMade());
        QDir(neverMade()).removeRecursively();
        if (!rootConfigExisted)
            QDir().rmdir(QStringLiteral("/.config"));
        QVERIFY2(!made, "a folder was made at the root");
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

    // Never beside an installed copy, which root could write beside.
    void languageFilePath()
    {
#ifdef Q_OS_UNIX
        const QString home = QDir::homePath();
        for (const QString &installed :
             {QStringLiteral("/usr/local/bin"), QStringLiteral("/bin"), QStringLiteral("/sbin"),
              QStringLiteral("/snap/sbus-channel/12/usr/bin"), QStringLiteral("/opt/x/../../usr/bin/"),
              home + QStringLiteral("/.local/bin"), QStringLiteral(SBUS_CHANNEL_INSTALL_BINDIR)})
            QVERIFY2(isInstalledCopy(installed), qPrintable(installed));
        for (const QString &own : {QCoreApplication::applicationDirPath(), QStringLiteral("/usrlocal/bin"),
                                   QStringLiteral("/usr/../srv/sbus-channel"), home + QStringLiteral("/.localbin"),
                                   QStringLiteral("/"), QString()})
            QVERIFY2(!isInstalledCopy(own), qPrintable(own));
#endif
#ifdef Q_OS_WIN
        // Where installers put programs, for everyone and for one user; the
        // per-user settings folder beside the latter is none of them.
        const QString programFiles = qEnvironmentVariable("ProgramFiles");
        const QString programFilesX86 = qEnvironmentVariable("ProgramFiles(x86)");
        const QString localAppData = qEnvironmentVariable("LOCALAPPDATA");
        QVERIFY(!programFiles.isEmpty() && !programFilesX86.isEmpty() && !localAppData.isEmpty());
        for (const QString &installed :
             {programFiles + QStringLiteral("\\SBUS Channel"), programFiles.toLower() + QStringLiteral("/sbus channel/"),
              programFilesX86 + QStringLiteral("\\SBUS Channel\\bin"), programFiles,
              localAppData + QStringLiteral("\\Programs\\sbus-channel"),
              programFiles + QStringLiteral("\\x\\..\\SBUS Channel")})
            QVERIFY2(isInstalledCopy(installed), qPrintable(installed));
        for (const QString &own :
             {QCoreApplication::applicationDirPath(), programFiles + QStringLiteral("x\\SBUS Channel"),
              localAppData + QStringLiteral("\\sbus-channel"), QStringLiteral("D:\\tools\\sbus-channel"),
              programFiles + QStringLiteral("\\..\\Users\\me\\sbus-channel"), QString()})
            QVERIFY2(!isInstalledCopy(own), qPrintable(own));

        // A folder whose read-only flag is clear may still take no file:
        // sysfs, reached through Wine's Z: drive, refuses every user alike.
        QTemporaryDir scratch;
        QVERIFY(directoryTakesFiles(scratch.path()));
        QVERIFY(QDir(scratch.path()).isEmpty());
        const QString refusing = QStringLiteral("Z:/sys/kernel");
        if (QFileInfo(refusing).isDir()) {
            QVERIFY(QFileInfo(refusing).isWritable());
            QString why;
            QVERIFY(!directoryTakesFiles(refusing, &why));
            QVERIFY2(why.startsWith(QDir::toNativeSeparators(refusing) + QStringLiteral(": ")), qPrintable(why));
        }
#endif
        QCOMPARE(Tiravo::languageFilePath(), configPath());
        if (!lockDirectory(QCoreApplication::applicationDirPath()))
            QSKIP("this user writes in a read-only directory all the same");
        FilePermissionsApply permissions;
        QCOMPARE(Tiravo::languageFilePath(), perUserConfigPath());
    }

    void storedChoiceAtStartUp_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("storedAfter"); // the file is left byte for byte when it held this

        auto row = [](const char *name, const char *value, bool english, const char *after) {
            QTest::newRow(name) << (QByteArray("[%General]\nLangureType=") + value + '\n') << english
                                << QString::fromLatin1(after);
        };
        QTest::newRow("no file") << QByteArray() << false << "1";
        row("1", "1", false, "1");
        row("2", "2", true, "2");
        row("3", "3", false, "1");
        row("257, low byte 1", "257", false, "257");
    }
    void storedChoiceAtStartUp()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, english);
        QFETCH(QString, storedAfter);
        if (!file.isNull())
            writeConfigRaw(file);
        Tiravo w;
        QCOMPARE(::english(w), english);
        QCOMPARE(int(LangureFlag), english ? 2 : 1);
        QCOMPARE(storedLanguage().toString(), storedAfter);
        if (file.endsWith("=" + storedAfter.toLatin1() + '\n'))
            QCOMPARE(readConfigRaw(), file);
    }

    // A switch works whatever the store; a read-only directory hands the
    // choice to the user's own file. (A link to a FIFO: choiceThatCantBeKept.)
    void unusualStore_data()
    {
        QTest::addColumn<QString>("store");
        QTest::addColumn<bool>("english"); // at start
        QTest::addColumn<bool>("kept");    // the switch reaches the next window
        const auto row = [](const char *store, bool english, bool kept) {
            QTest::newRow(store) << QString::fromLatin1(store) << english << kept;
        };
#ifdef Q_OS_UNIX
        row("directory", false, false);
        row("FIFO", false, false);
        row("link to a file", true, true);
        row("unreadable file", false, false); // Windows has no file that its owner can't read
#endif
        row("read-only file", true, false);
        row("read-only directory", true, true);
        row("read-only directory, no file", false, true);
        row("read-only directory and file", true, true);
    }
    void unusualStore()
    {
        QFETCH(QString, store);
        QFETCH(bool, english);
        QFETCH(bool, kept);
        const QString dir = QCoreApplication::applicationDirPath();
        QTemporaryDir elsewhere;
        if (store == "directory")
            QVERIFY(QDir().mkpath(configPath()));
#ifdef Q_OS_UNIX
        if (store == "FIFO")
            QVERIFY(::mkfifo(QFile::encodeName(configPath()).constData(), 0600) == 0);
#endif
        if (store == "link to a file")
            QVERIFY(QFile::link(elsewhere.filePath(QStringLiteral("kept.ini")), configPath()));
        const QByteArray held = store == "directory" || store == "FIFO" || store.endsWith(QLatin1String("no file"))
                                    ? QByteArray()
                                    : QByteArray(kEnglishLanguageFile);
        if (!held.isEmpty())
            writeConfigRaw(held);
        const bool modeSet = store == "unreadable file" || store == "read-only file" || store.endsWith("and file");
        if (store == "unreadable file")
            QVERIFY(QFile::setPermissions(configPath(), QFileDevice::WriteOwner | QFileDevice::WriteUser));
        else if (modeSet)
            QVERIFY(QFile::setPermissions(configPath(), QFileDevice::ReadOwner | QFileDevice::ReadUser |
                                                            QFileDevice::ReadGroup | QFileDevice::ReadOther));
        const bool dirLocked = store.startsWith(QLatin1String("read-only directory"));
        if (dirLocked && !lockDirectory(dir)) {
            QFile::setPermissions(configPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QSKIP("this user writes in a read-only directory all the same");
        }
        const auto kind = [] {
            const QFileInfo info(configPath());
            return std::make_tuple(info.exists(), info.isSymLink(), info.isDir(), info.isFile());
        };
        const auto before = kind();
        {
            FilePermissionsApply permissions;
            QVERIFY(permissions.inForce());
            {
                Tiravo w;
                QCOMPARE(::english(w), english);
                w.findChild<QRadioButton *>(english ? QStringLiteral("chRadioButton") : QStringLiteral("enRadioButton"))
                    ->click();
                QCOMPARE(::english(w), !english);
            }
            if (kept) {
                Tiravo next;
                QCOMPARE(::english(next), !english);
            }
        }
        QFile::setPermissions(dir, dirMode);
        if (modeSet)
            QFile::setPermissions(configPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(kind() == before);
        if (store == "link to a file")
            QVERIFY(readConfigRaw().contains("LangureType=1"));
        else if (store != "FIFO") // which would block a reader
            QCOMPARE(readConfigRaw(), held);
        QCOMPARE(QFile::exists(perUserConfigPath()), dirLocked);
    }

    // The operator hears why the choice can't be kept, and nothing is made at
    // the root or under the working directory. Test mode would ignore
    // XDG_CONFIG_HOME, so it is off and HOME is a scratch directory.
#ifdef Q_OS_UNIX
    void choiceThatCantBeKept_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reason"); // empty: the choice is kept
        QTest::newRow("XDG_CONFIG_HOME a file") << "config home a file" << "Not a directory";
        QTest::newRow("XDG_CONFIG_HOME a link loop") << "config home a loop" << "Too many levels of symbolic links";
        QTest::newRow("HOME read-only") << "home read-only" << "Permission denied";
        QTest::newRow("HOME unset") << "HOME=<unset>" << "HOME";
        QTest::newRow("HOME relative") << "HOME=relative" << "HOME";
        QTest::newRow("XDG_CONFIG_HOME relative") << "XDG_CONFIG_HOME=relative" << "";
        QTest::newRow("write fails") << "write fails" << "Permission denied";
        QTest::newRow("link to a FIFO") << "link to a FIFO" << "a FIFO";
    }
    void choiceThatCantBeKept()
    {
        QFETCH(QString, setup);
        QFETCH(QString, reason);

        const QString appDir = QCoreApplication::applicationDirPath();
        const QByteArray english = kEnglishLanguageFile;
        QTemporaryDir scratch;
        const QString homeDir = scratch.filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(homeDir));
        QStandardPaths::setTestModeEnabled(false);
        qputenv("HOME", QFile::encodeName(homeDir));
        qunsetenv("XDG_CONFIG_HOME");
        // A relative path would land here, where it can be seen.
        QVERIFY(QDir::setCurrent(scratch.path()));
        const QString app = QCoreApplication::applicationName();

        QString kept = configPath(); // the file whose bytes must stay as they were
        QString named = appDir;      // what the message names
        bool lockDir = true;
        writeConfigRaw(english);
        if (setup.startsWith(QLatin1String("config home"))) {
            named = scratch.filePath(setup.section(QLatin1Char(' '), -1));
            const bool file = setup.endsWith(QLatin1String("file"));
            QVERIFY(file ? QFile(named).open(QIODevice::WriteOnly) : QFile::link(named, named));
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(named));
        } else if (setup == "home read-only") {
            named = homeDir + QStringLiteral("/.config");
            QVERIFY(QFile::setPermissions(homeDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else if (setup.contains(QLatin1Char('='))) { // a variable as given, or unset
            const QByteArray name = setup.section(QLatin1Char('='), 0, 0).toLatin1();
            const QByteArray value = setup.section(QLatin1Char('='), 1).toLatin1();
            QVERIFY(value == "<unset>" ? qunsetenv(name) : qputenv(name, value));
        } else if (setup == "write fails") {
            // The executable's directory takes the file, but the file is a
            // link into a directory that does not.
            lockDir = false;
            const QString locked = scratch.filePath(QStringLiteral("locked"));
            QVERIFY(QDir().mkpath(locked));
            kept = locked + QStringLiteral("/kept.ini");
            named = locked;
            QFile::rename(configPath(), kept);
            QVERIFY(QFile::link(kept, configPath()));
            QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else if (setup == "link to a FIFO") {
            lockDir = false;
            named = scratch.filePath(QStringLiteral("fifo"));
            QVERIFY(::mkfifo(QFile::encodeName(named).constData(), 0600) == 0);
            QFile::rename(configPath(), scratch.filePath(QStringLiteral("old.ini")));
            kept = scratch.filePath(QStringLiteral("old.ini"));
            QVERIFY(QFile::link(named, configPath()));
        }
        if (lockDir)
            QVERIFY(QFile::setPermissions(appDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const bool told = !reason.isEmpty();
        const bool readable = setup != "link to a FIFO";

        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
        {
            FilePermissionsApply permissions;
            QVERIFY(permissions.inForce());
            {
                Tiravo w;
                QCOMPARE(::english(w), readable);
                auto *status = w.findChild<QLineEdit *>(QStringLiteral("linkStatusLineEdit"));
                for (const bool toEnglish : {!readable, readable, !readable, readable}) {
                    clickCaption(w, toEnglish ? "enRadioButton" : "chRadioButton");
                    QCOMPARE(::english(w), toEnglish);
                    const QString tip = unwrapped(status->toolTip());
                    const QString said = toEnglish ? QStringLiteral("languagechoice") : QStringLiteral("语言选择");
                    QVERIFY2(tip.contains(said) == told, qPrintable(status->toolTip()));
                    QVERIFY2(!told || (tip.contains(unwrapped(reason)) && tip.contains(unwrapped(named))),
                             qPrintable(status->toolTip()));
                }
            }
            // Once per process: a second window does not say it again.
            Tiravo next;
            QCOMPARE(::english(next), told ? readable : true);
        }
        qInstallMessageHandler(previous);

        // Rows with one reason between them (HOME unset, empty or relative)
        // hear it from the first of them only.
        const QStringList said = warnings.filter(QStringLiteral("language choice"));
        QVERIFY2(said.size() <= (told ? 1 : 0), qPrintable(said.join(QLatin1Char('\n'))));
        const auto names = [&](const QString &message) {
            return message.startsWith(app + QStringLiteral(": ")) && message.contains(reason) &&
                   message.contains(named);
        };
        if (told) {
            const QStringList heard = said.isEmpty() ? heardBefore : said;
            QVERIFY2(std::any_of(heard.begin(), heard.end(), names), qPrintable(heard.join(QLatin1Char('\n'))));
        }
        heardBefore += said;

        QFile::setPermissions(homeDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::setPermissions(QFileInfo(kept).absolutePath(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile old(kept);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), english);
        QVERIFY(!QFileInfo::exists(scratch.filePath(QStringLiteral("relative"))));
        QFile own(homeDir + QStringLiteral("/.config/") + app + QStringLiteral("/config.ini"));
        QVERIFY(told || (own.open(QIODevice::ReadOnly) && own.readAll().contains("LangureType=2")));
        // A link stays the link it was, not a file of the window's own.
        QVERIFY(kept == configPath() || QFileInfo(configPath()).isSymLink());
    }
#endif
};

QTEST_MAIN(TestWindowLanguage)
#include "tst_window_language.moc"
