// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's stored language choice: where it is kept, what each value in
// config.ini gives at start-up, what is written back and found at the next
// start, a store that is no file, the per-user file standing in where
// the executable's directory is read-only, and what the operator is told
// where the choice can't be kept. Built for Windows too and run under Wine,
// where what only Unix has (FIFOs, HOME) is left out.
#include <QtTest>

#include <QAbstractButton>
#include <QComboBox>
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

#include "app/installedcopy.h"
#include "app/tiravo.h"
#include "support/settingsfile.h"

#ifdef Q_OS_LINUX
#include "support/filepermissions.h"
#else
// Outside Linux there is no privilege of root's to lay down for a while;
// lockedDirectory() finds out whether a directory refuses files.
class FilePermissionsApply
{
public:
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

// Tooltips are wrapped to the window's width, at spaces or anywhere in a
// long path; what they say is compared without the breaks.
QString unwrapped(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}

QStringList languageWarnings()
{
    return warnings.filter(QStringLiteral("language choice"));
}
#endif

// Takes the right to make files in dir away, as QFile::setPermissions can;
// false where that leaves this process writing there all the same, as Wine
// run as root does (Windows ignores a folder's read-only flag, and Wine
// stands for it with the Unix mode, which root is above). Asked by making a
// file, not of the code under test.
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
    // What the window has said on standard error about its language store.
    QStringList heardBefore;
    bool rootConfigExisted = false;

    // Where the settings library's own answer puts the user's file without a
    // usable HOME or XDG_CONFIG_HOME, at the root; what it makes under the
    // working directory is looked for by the case.
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
        // The per-user file goes to a location of the test's own.
        QStandardPaths::setTestModeEnabled(true);
        dirMode = QFile::permissions(QCoreApplication::applicationDirPath());
    }

    // Also after a failed case, so the next one finds its directory as it was.
    void cleanup()
    {
        restoreVariable("HOME", home);
        restoreVariable("XDG_CONFIG_HOME", configHome);
        QStandardPaths::setTestModeEnabled(true);
        QFile::setPermissions(QCoreApplication::applicationDirPath(), dirMode);
        QFile::remove(perUserConfigPath());
        QDir::setCurrent(startDir);
        // Made after a failure too, the folders are taken away again; the
        // case that made them fails here.
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

    // Beside the executable while its directory takes writes, the user's own
    // file where it does not, and always where the executable is an
    // installed copy, which root could write beside.
    void languageFilePath()
    {
#ifdef Q_OS_UNIX
        const QString home = QDir::homePath();
        for (const QString &installed :
             {QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin"), QStringLiteral("/bin"),
              QStringLiteral("/sbin"), QStringLiteral("/snap/sbus-channel/12/usr/bin"),
              QStringLiteral("/usr/bin/"), QStringLiteral("/opt/x/../../usr/bin"), home + QStringLiteral("/.local/bin"),
              QStringLiteral(SBUS_CHANNEL_INSTALL_BINDIR)})
            QVERIFY2(isInstalledCopy(installed), qPrintable(installed));
        for (const QString &own : {QCoreApplication::applicationDirPath(), QStringLiteral("/usrlocal/bin"),
                                   QStringLiteral("/opt/sbus-channel"), QStringLiteral("/home/me/sbus-channel-0.1.0"),
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
    // (A link to a FIFO is a row of choiceThatCantBeKept.)
#ifdef Q_OS_UNIX
    void storeThatIsNoFile_data()
    {
        QTest::addColumn<QString>("node");
        QTest::newRow("directory") << "directory";
        QTest::newRow("FIFO") << "FIFO";
        QTest::newRow("link to a file") << "link to a file";
    }
    void storeThatIsNoFile()
    {
        QFETCH(QString, node);
        QTemporaryDir elsewhere;
        QFile kept(elsewhere.filePath(QStringLiteral("kept.ini")));
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("[%General]\nLangureType=2\n") > 0);
        kept.close();
        const QByteArray store = QFile::encodeName(configPath());
        if (node == "directory")
            QVERIFY(QDir().mkpath(configPath()));
        else if (node == "FIFO")
            QVERIFY(::mkfifo(store.constData(), 0600) == 0);
        else
            QVERIFY(kept.link(configPath()));
        struct stat before, after;
        QVERIFY(::lstat(store.constData(), &before) == 0);
        const bool linkToFile = node == "link to a file";
        {
            Tiravo w;
            QCOMPARE(english(w), linkToFile);
            w.findChild<QRadioButton *>(linkToFile ? QStringLiteral("chRadioButton") : QStringLiteral("enRadioButton"))
                ->click();
            QCOMPARE(english(w), !linkToFile);
        }
        QVERIFY(::lstat(store.constData(), &after) == 0);
        QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
        QVERIFY(!linkToFile || (kept.open(QIODevice::ReadOnly) && kept.readAll().contains("LangureType=1")));
        if (node == "directory")
            QVERIFY(QDir(configPath()).removeRecursively());
        else
            removeConfig();
    }

#endif

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

#ifdef Q_OS_UNIX
        // Windows has no file that its owner can't read.
        QTest::newRow("unreadable, English stored") << english << int(writeOnly) << false << false;
#else
        Q_UNUSED(writeOnly);
#endif
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
        if (dirLocked && !lockDirectory(dir)) {
            QFile::setPermissions(configPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QSKIP("this user writes in a read-only directory all the same");
        }
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

    // Where the choice can't be kept, the operator hears why and what to do:
    // once on standard error, and in the status field's tooltip in the
    // window's language for as long as it holds. What was stored stays as it
    // was, and nothing is made at the root or under the working directory.
    // A relative XDG_CONFIG_HOME is ignored, so the user's file is kept under
    // HOME. The settings library's own test mode ignores XDG_CONFIG_HOME and
    // is off here; HOME is a scratch directory.
#ifdef Q_OS_UNIX
    void choiceThatCantBeKept_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reason"); // empty: the choice is kept
        QTest::newRow("XDG_CONFIG_HOME a file") << "config home a file" << "Not a directory";
        QTest::newRow("XDG_CONFIG_HOME a link loop") << "config home a loop" << "Too many levels of symbolic links";
        QTest::newRow("HOME read-only") << "home read-only" << "Permission denied";
        QTest::newRow("HOME unset") << "HOME=<unset>" << "HOME";
        QTest::newRow("HOME empty") << "HOME=" << "HOME";
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
        const QByteArray english = "[%General]\nLangureType=2\n";
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
        if (setup == "config home a file") {
            named = scratch.filePath(QStringLiteral("file"));
            QFile file(named);
            QVERIFY(file.open(QIODevice::WriteOnly));
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(named));
        } else if (setup == "config home a loop") {
            named = scratch.filePath(QStringLiteral("loop"));
            QVERIFY(QFile::link(named, named));
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
        const QString userFile = homeDir + QStringLiteral("/.config/") + app + QStringLiteral("/config.ini");

        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
        {
            FilePermissionsApply permissions;
            QVERIFY(permissions.inForce());
            {
                Tiravo w;
                QCOMPARE(::english(w), readable);
                auto *status = w.findChild<QLineEdit *>(QStringLiteral("linkStatusLineEdit"));
                // Several switches, each in both directions.
                for (const bool toEnglish : {!readable, readable, !readable, readable}) {
                    w.findChild<QRadioButton *>(toEnglish ? QStringLiteral("enRadioButton")
                                                          : QStringLiteral("chRadioButton"))
                        ->click();
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
        const QStringList said = languageWarnings();
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

        QFile::setPermissions(appDir, dirMode);
        QFile::setPermissions(homeDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::setPermissions(QFileInfo(kept).absolutePath(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile old(kept);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), english);
        QVERIFY(!QFileInfo::exists(scratch.filePath(QStringLiteral("relative"))));
        QFile own(userFile);
        QVERIFY(told || (own.open(QIODevice::ReadOnly) && own.readAll().contains("LangureType=2")));
        // A link stays the link it was, not a file of the window's own.
        QVERIFY(kept == configPath() || QFileInfo(configPath()).isSymLink());
        removeConfig();
    }
#endif
};

QTEST_MAIN(TestWindowLanguage)
#include "tst_window_language.moc"
