// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The port list while no port is open: the system's ports are listed again on
// the call after the device directory changed and otherwise only now and
// then; registered ports come and go with their device on every call. A
// temporary directory stands in for /dev, and the system's list is whatever
// tty* entries it holds, counted each time it is taken. Last, the window that
// rests between such changes.
#include <QtTest>

#include <QAbstractButton>

#include <sys/stat.h>

#include "app/commandline.h"
#include "app/tiravo.h"
#include "link/linktask.h"
#include "port/portlist.h"
#include "rig/eventwait.h"
#include "support/clicks.h"
#include "support/settingsfile.h"

namespace {

// A stand-in for /dev whose enumeration lists its tty* entries, as the system
// lists a port once its node exists.
struct FakeDev {
    QTemporaryDir dir;
    int enumerations = 0;

    PortList::SystemPortScan::Enumerate enumerate()
    {
        return [this] {
            ++enumerations;
            return QDir(dir.path()).entryList({QStringLiteral("tty*")}, QDir::AllEntries | QDir::System, QDir::Name);
        };
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    bool touch(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::WriteOnly);
    }
};

// Listings over a number of calls.
int enumerationsOver(PortList::SystemPortScan &scan, const FakeDev &dev, int calls)
{
    const int before = dev.enumerations;
    for (int i = 0; i < calls; ++i)
        scan.names();
    return dev.enumerations - before;
}

// Registered for one test, and not for the next whatever happens.
struct Registered {
    explicit Registered(QString name)
        : name(std::move(name))
    {
        PortList::registerPort(this->name);
    }
    ~Registered() { PortList::unregisterPort(name); }
    const QString name;
};

} // namespace

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    // Every kind of change a plugged or unplugged adapter makes under /dev,
    // each seen on the very next call, which lists the ports once; the call
    // after that, with nothing new, lists nothing. (Stable names appearing,
    // and their folder going: stableNamesAreWatchedOnceTheyAppear.)
    void nextCallAfterAChangeLists_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("listed");
        const QStringList before = {QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")};
        QTest::newRow("node appears") << "touch ttyACM0" << QStringList{"ttyACM0", "ttyS0", "ttyUSB0"};
        QTest::newRow("node goes") << "remove ttyUSB0" << QStringList{"ttyS0"};
        QTest::newRow("node renamed") << "rename ttyUSB0 ttyUSB7" << QStringList{"ttyS0", "ttyUSB7"};
        QTest::newRow("node moved in") << "rename $ELSEWHERE/ttyUSB9 ttyUSB9"
                                       << QStringList{"ttyS0", "ttyUSB0", "ttyUSB9"};
        QTest::newRow("node given its mode") << "chmod ttyUSB0" << before;
        QTest::newRow("stable name goes") << "remove serial/by-id/usb-FTDI_0001-if00-port0" << before;
    }
    void nextCallAfterAChangeLists()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, listed);
        FakeDev dev;
        QTemporaryDir elsewhere;
        const QString byId = dev.path(QStringLiteral("serial/by-id"));
        const QString stable = byId + QStringLiteral("/usb-FTDI_0001-if00-port0");
        QVERIFY(dev.touch(QStringLiteral("ttyS0")) && dev.touch(QStringLiteral("ttyUSB0")));
        QVERIFY(QDir().mkpath(byId) && QFile::link(dev.path(QStringLiteral("ttyUSB0")), stable));
        QVERIFY(QFile(elsewhere.filePath(QStringLiteral("ttyUSB9"))).open(QIODevice::WriteOnly));

        PortList::SystemPortScan scan(dev.dir.path(), dev.enumerate());
        QCOMPARE(scan.names(), (QStringList{"ttyS0", "ttyUSB0"}));
        QCOMPARE(enumerationsOver(scan, dev, 5), 0);

        // "verb path [path]", paths under the stand-in for /dev unless they start at $ELSEWHERE.
        const auto at = [&](QString name) {
            return name.startsWith('$') ? name.replace("$ELSEWHERE", elsewhere.path()) : dev.path(name);
        };
        const QStringList op = change.split(' ');
        const QString a = at(op.value(1)), b = at(op.value(2));
        const bool done = op[0] == "touch"    ? QFile(a).open(QIODevice::WriteOnly)
                          : op[0] == "remove" ? QFile::remove(a)
                          : op[0] == "rename" ? QFile::rename(a, b)
                                              : ::chmod(QFile::encodeName(a).constData(), 0660) == 0;
        QVERIFY2(done, qPrintable(change));

        const int before = dev.enumerations;
        QCOMPARE(scan.names(), listed);
        QCOMPARE(dev.enumerations - before, 1);
        QCOMPARE(enumerationsOver(scan, dev, 5), 0);
    }

    // The stable names live in serial/by-id, which the device manager makes
    // with the first adapter that has one and removes with the last: it is
    // watched from the call after it appears, again after each return.
    void stableNamesAreWatchedOnceTheyAppear()
    {
        FakeDev dev;
        PortList::SystemPortScan scan(dev.dir.path(), dev.enumerate());
        scan.names();
        const QString byId = dev.path(QStringLiteral("serial/by-id"));
        for (int round = 0; round < 2; ++round) {
            QVERIFY(QDir().mkpath(byId));
            QCOMPARE(enumerationsOver(scan, dev, 1), 1);
            QVERIFY(QFile::link(dev.path(QStringLiteral("ttyUSB0")), byId + QStringLiteral("/usb-CP2102_0001")));
            QCOMPARE(enumerationsOver(scan, dev, 1), 1);
            QCOMPARE(enumerationsOver(scan, dev, 3), 0);
            QVERIFY(QDir(dev.path(QStringLiteral("serial"))).removeRecursively());
            QCOMPARE(enumerationsOver(scan, dev, 1), 1);
        }
    }

    // With no change the system's ports are listed at most once in 10 s of
    // 50 ms ticks, and still now and then: the safety net for notices the
    // system never gave, and where nothing can be watched all there is, so
    // then every 10 s.
    void safetyNetOnlyNowAndThen_data()
    {
        QTest::addColumn<bool>("watched");
        QTest::addColumn<int>("leastInTwoMinutes");
        QTest::newRow("watched") << true << 1;
        QTest::newRow("nothing to watch") << false << 12;
    }
    void safetyNetOnlyNowAndThen()
    {
        QFETCH(bool, watched);
        QFETCH(int, leastInTwoMinutes);
        FakeDev dev;
        PortList::SystemPortScan scan(watched ? dev.dir.path() : QString(), dev.enumerate());
        QCOMPARE(enumerationsOver(scan, dev, 1), 1);
        // Unwatched, a new node waits for the net.
        QVERIFY(dev.touch(QStringLiteral("ttyUSB0")));
        QCOMPARE(scan.names().contains(QStringLiteral("ttyUSB0")), watched);
        constexpr int kTicksIn10s = 200;
        QCOMPARE(enumerationsOver(scan, dev, kTicksIn10s - 2), 0);
        const int nets = enumerationsOver(scan, dev, 12 * kTicksIn10s);
        QVERIFY2(nets >= leastInTwoMinutes && nets <= 12, qPrintable(QString::number(nets)));
    }

    // A registered port (the demo's pseudo-terminal behind a link in a
    // temporary directory) is listed first, from the call after its device
    // appears until the call after it goes, and costs no system listing.
    void registeredPortFollowsItsDevice()
    {
        FakeDev dev;
        QVERIFY(dev.touch(QStringLiteral("ttyS0")));
        QTemporaryDir links;
        QTemporaryDir pts;
        const QString device = pts.filePath(QStringLiteral("7"));
        const Registered port(links.filePath(QStringLiteral("gimbal")));
        QVERIFY(QFile::link(device, port.name));
        PortList::SystemPortScan scan(dev.dir.path(), dev.enumerate());

        QCOMPARE(PortList::availablePortNames(scan), QStringList{"ttyS0"});
        const int enumerations = dev.enumerations;
        for (int round = 0; round < 2; ++round) {
            QVERIFY(QFile(device).open(QIODevice::WriteOnly));
            QCOMPARE(PortList::availablePortNames(scan), (QStringList{port.name, "ttyS0"}));
            QVERIFY(QFile::remove(device));
            QCOMPARE(PortList::availablePortNames(scan), QStringList{"ttyS0"});
        }
        QCOMPARE(dev.enumerations, enumerations);
    }

    // A name with a slash is a path from the directory the program was
    // started in, not from /dev, and stays that path when the directory
    // changes later: for the command line's ports as they are opened, and
    // for the window's --port, listed and opened under it. Bare names and
    // absolute paths are as they were.
    void relativePathsAreFromTheStartDirectory_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("under"); // the path below the start directory; empty: not a path
        QTest::newRow("h1/../h1/tty") << "h1/../h1/tty" << "h1/tty";
        QTest::newRow("bare name") << "ttyNoSuchUSB7" << "";
    }
    void relativePathsAreFromTheStartDirectory()
    {
        QFETCH(QString, name);
        QFETCH(QString, under);
        QTemporaryDir dir;
        const QString start = QFileInfo(dir.path()).canonicalFilePath();
        QVERIFY(QDir(start).mkpath(QStringLiteral("h1")));
        QVERIFY(QFile(start + QStringLiteral("/h1/tty")).open(QIODevice::WriteOnly));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(start));
        const QString location = PortList::systemLocation(name);
        const WindowCommandLine::Outcome line =
            WindowCommandLine::parse({QStringLiteral("sbus-channel"), QStringLiteral("--port"), name});
        QVERIFY(QDir::setCurrent(QStringLiteral("/")));
        const QString path = start + QLatin1Char('/') + under;
        if (under.isEmpty()) {
            QVERIFY(QDir::setCurrent(before));
            QCOMPARE(location, QStringLiteral("/dev/") + name);
            QCOMPARE(line.ports, QStringList{name});
            QCOMPARE(PortList::deviceName(name), name);
            return;
        }
        QCOMPARE(location, path);
        QCOMPARE(line.ports, QStringList{path});
        WindowCommandLine::registerPorts(line.ports);
        const QStringList listed = PortList::availablePortNames();
        const QString device = PortList::deviceName(line.ports.first());
        PortList::unregisterPort(line.ports.first());
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(listed.value(0), path);
        QCOMPARE(device, path);
    }

    // The window itself, left disconnected on its own timer: once a tick
    // would only repeat the last one, the timer stops, and each of these
    // brings the ticks back. It starts from a language file and a watched
    // device directory of the test's own, so a second run starts where the
    // first did.
    void disconnectedWindowRestsUntilWanted_data()
    {
        QTest::addColumn<QString>("waker");
        for (const char *waker : {"device node", "Connect", "Return", "language"})
            QTest::newRow(waker) << QString::fromLatin1(waker);
    }
    void disconnectedWindowRestsUntilWanted()
    {
        QFETCH(QString, waker);
        QTemporaryDir dev;
        PortList::SystemPortScan::watchInsteadOfSystem(dev.path());
        freshEnglishWindow();
        Tiravo w;
        PortList::SystemPortScan::watchInsteadOfSystem(QString());
        auto *timer = w.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        const auto tick = [&] { QMetaObject::invokeMethod(&w, "SYS_QTimerUpDate"); };
        // Long enough for any message to have run out, and no longer.
        for (int i = 0; i < Tiravo::kMessageTicks; ++i)
            tick();
        QVERIFY(timer->isActive());
        tick();
        QVERIFY(!timer->isActive());

        if (waker == QLatin1String("device node")) {
            QVERIFY(QFile(dev.filePath(QStringLiteral("ttyUSB0"))).open(QIODevice::WriteOnly));
            QVERIFY(waitUntil([&] { return timer->isActive(); }));
        } else if (waker == QLatin1String("Connect")) {
            w.findChild<QAbstractButton *>(QStringLiteral("startPushButton"))->click();
        } else if (waker == QLatin1String("Return")) {
            QTest::keyClick(&w, Qt::Key_Return);
        } else {
            clickCaption(w.findChild<QRadioButton *>(QStringLiteral("chRadioButton")));
            QCOMPARE(LangureFlag, 1);
        }
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), LinkTask::kTickMs);
    }
    void cleanupTestCase() { removeConfig(); }
};

QTEST_MAIN(TestPortList)
#include "tst_portlist.moc"
