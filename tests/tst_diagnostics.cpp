// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Why a port won't open, found on real nodes: pseudo-terminals held by child
// processes, lock files, paths that are no serial port, and nodes handed to
// another owner and group.
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "port/portdiagnostics.h"
#include "port/portlist.h"
#include "support/filepermissions.h"

using namespace PortDiagnostics;

namespace {
struct Pty {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string path = master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 ? ::ptsname(master) : "";
    int slave = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ~Pty() { ::close(slave), ::close(master); }
};

// A process of its own name holding what this one holds but dropFd and the
// master ends of pseudo-terminals (the far end of a line, not a program in the
// way), until killed.
struct Child {
    pid_t pid = -1;
    explicit Child(const char *name, int dropFd = -1)
    {
        int ready[2];
        char c;
        if (::pipe(ready) != 0)
            return;
        if ((pid = ::fork()) != 0) {
            ::close(ready[1]);
            // Back once the child has its name, or is gone (which the test then sees).
            while (pid > 0 && ::read(ready[0], &c, 1) < 0 && errno == EINTR) {
            }
            ::close(ready[0]);
            return;
        }
        ::close(dropFd);
        for (int fd = 3; fd < 1024; ++fd) {
            char target[64] = {};
            const std::string link = "/proc/self/fd/" + std::to_string(fd);
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && std::strstr(target, "ptmx"))
                ::close(fd);
        }
        ::prctl(PR_SET_NAME, name);
        if (::write(ready[1], "r", 1) == 1)
            for (;;)
                ::pause();
        ::_exit(1);
    }
    ~Child() { pid > 0 && ::kill(pid, SIGKILL) == 0 && ::waitpid(pid, nullptr, 0); }
};

QString text(const Report &r)
{
    return QString::fromStdString(describe(r));
}

// Each %N given its value wherever it appears; a text need not use them all.
QString filled(QString s, const QStringList &values)
{
    for (int i = 0; i < values.size(); ++i)
        s.replace(QLatin1Char('%') + QString::number(i + 1), values[i]);
    return s;
}

bool put(const char *path, const char *content)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::write(fd, content, std::strlen(content)) == ssize_t(std::strlen(content));
    return ::close(fd) == 0 && ok;
}

// What examine() makes of path, as "access\nsummary\ndescription", in a child's
// own mount namespace after setUp there, whose /dev and /sys can say what the
// system's can't be made to. Empty when no such namespace can be had.
QString examinedAside(const std::function<bool()> &setUp, const char *path)
{
    int out[2];
    if (::pipe(out) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        // Private first: nothing mounted here may reach the system's own /dev or /sys.
        if (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            setUp()) {
            FilePermissionsApply permissions;
            const Report r = examine(path);
            const std::string seen = std::to_string(int(r.access)) + "\n" + summary(r) + "\n" + describe(r);
            if (::write(out[1], seen.data(), seen.size()) != ssize_t(seen.size()))
                ::_exit(1);
        }
        ::_exit(0);
    }
    ::close(out[1]);
    QByteArray seen;
    char buf[4096];
    for (ssize_t n; pid > 0 && ((n = ::read(out[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR));)
        seen.append(buf, int(std::max<ssize_t>(n, 0)));
    ::close(out[0]);
    if (pid > 0)
        ::waitpid(pid, nullptr, 0);
    return QString::fromLocal8Bit(seen);
}

bool mounted(const char *where)
{
    return ::mount("tmpfs", where, "tmpfs", 0, nullptr) == 0;
}
} // namespace

class TestDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    // A holder of what is no serial port is no obstacle, and ending it would
    // harm: each node is held by a child process while it is examined. Paths,
    // PIDs and commands stay as they are in Chinese.
    void nodeKinds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("access");
        // Why it did not open, the summary first: %1 the path examined, %2 the holder's PID. The
        // same words in Chinese are the words test's; here it is what the system showed.
        QTest::addColumn<QString>("english");
        const int notSerial = int(Access::NotSerial);
        const QString other = "\n  fix: choose the adapter's serial port itself, e.g. /dev/ttyUSB0 or /dev/ttyACM0";
        QTest::newRow("regular file") << "file" << notSerial << "%1 is not a serial port (it is a regular file)" + other;
        QTest::newRow("FIFO") << "fifo" << notSerial << "%1 is not a serial port (it is a FIFO)" + other;
        QTest::newRow("link to /dev/null")
            << "link" << notSerial
            << "%1 is not a serial port (it leads to /dev/null, a character device of another kind)" + other;
        QTest::newRow("nothing there")
            << "none" << int(Access::Missing)
            << "there is no port %1 (adapter unplugged?)\n  fix: plug the adapter in, or choose the port it has now";
        QTest::newRow("pty, held by this process only")
            << "own pty" << int(Access::Openable)
            << "cannot open %1: refused\n  fix: nothing stands in the way now; if opening keeps failing, unplug the "
               "adapter, plug it in again and look at the end of: sudo dmesg";
        // Busy in the system's words, with every holder out of sight: another user's, in exclusive mode.
        QTest::newRow("pty, held out of sight")
            << "hidden pty" << int(Access::Openable)
            << "the port is in use by another program (another user's, which this user may not look at)\n  fix: "
               "close the other serial program; to find it, run: sudo fuser -v %1";
        QTest::newRow("pty, held by another")
            << "pty" << int(Access::Busy)
            << "the port is in use by PID %2 (port-holder)\n  fix: close that program, or run: kill %2";
    }
    void nodeKinds()
    {
        QFETCH(QString, kind);
        QFETCH(int, access);
        QFETCH(QString, english);
        QTemporaryDir dir;
        Pty pty;
        QVERIFY(dir.isValid() && pty.slave >= 0);
        std::string path = QFile::encodeName(dir.filePath(QStringLiteral("ttyUSB0"))).toStdString();
        int fd = -1;
        if (kind == QLatin1String("file")) {
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        } else if (kind == QLatin1String("fifo")) {
            fd = ::mkfifo(path.c_str(), 0600) == 0 ? ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
        } else if (kind == QLatin1String("link")) {
            QVERIFY(::symlink("/dev/null", path.c_str()) == 0);
            fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        } else if (kind.endsWith(QLatin1String("pty"))) {
            path = pty.path;
            fd = pty.slave;
        }
        QVERIFY(kind == QLatin1String("none") || fd >= 0);
        // Descriptors opened with O_CLOEXEC stay open across fork.
        std::unique_ptr<Child> holder;
        if (!kind.endsWith(QLatin1String("n pty")) && kind != QLatin1String("none"))
            QVERIFY((holder = std::make_unique<Child>("port-holder"))->pid > 0);
        if (fd != pty.slave)
            ::close(fd);

        const Report r = examine(path);
        const QStringList values{QString::fromStdString(path), QString::number(holder ? holder->pid : 0)};
        QCOMPARE(int(r.access), access);
        QCOMPARE(QString::fromStdString(PortDiagnostics::summary(r)),
                 r.access == Access::Openable ? QString() : filled(english.section('\n', 0, 0), values));
        if (r.modemManagerRunning)
            QSKIP("a ModemManager on this machine adds advice of its own");
        const QString error = kind == QLatin1String("hidden pty") ? QString::fromLocal8Bit(std::strerror(EBUSY))
                                                                   : QStringLiteral("refused");
        QCOMPARE(PortList::whyNotOpened(values[0], error, Language::English), filled(english, values));
    }

    // Every holder is named, in the system's words made harmless (a process
    // names itself), with one kill line for them all.
    void heldByOtherProcesses()
    {
        Pty pty;
        Child minicom("minicom"), screen("screen\x1b[2J");
        QVERIFY(pty.slave >= 0 && minicom.pid > 0 && screen.pid > 0);
        const Report r = examine(pty.path);
        const QString line = QString::fromStdString(summary(r));
        QVERIFY(r.access == Access::Busy && r.holders.size() == 2);
        QVERIFY2(line.startsWith(QStringLiteral("the port is in use by PIDs ")) &&
                     line.contains(QStringLiteral("%1 (minicom)").arg(minicom.pid)) &&
                     line.contains(QStringLiteral("%1 (screen?[2J)").arg(screen.pid)),
                 qPrintable(line));
        QVERIFY(text(r).contains(QStringLiteral("close those programs, or run: kill %1 %2")
                                     .arg(std::min(minicom.pid, screen.pid))
                                     .arg(std::max(minicom.pid, screen.pid))));
    }

    // Judged as root without its power over file modes; the node another
    // owner's. Only the adapter's USB ids give a udev rule (the README's),
    // lined up under its fix; a ModemManager runs throughout. A user who
    // joined the group is listed in the group file but not in this session.
    void permission_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("adapter");
        QTest::addColumn<bool>("joined");
        QTest::addColumn<int>("access");
        QTest::addColumn<QString>("summary");  // %1 the node, %2 this user, %3 the node's owner
        QTest::addColumn<QString>("describe"); // the same placeholders
        const QString file = "/etc/udev/rules.d/60-gimbal-adapter.rules";
        const QString rule =
            "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", TAG+=\"uaccess\"";
        const QString reload = "sudo udevadm control --reload && sudo udevadm trigger";
        const QString notInGroup = "%1 belongs to group dialout, and you are not in it\n  fix: sudo usermod -aG "
                                   "dialout %2, then log out and in again";
        const QString ownerOnly = "%1 is not open to you for reading and writing (mode 0600, owner %3, group dialout)";
        const int denied = int(Access::NoPermission);
        QTest::newRow("group grants, USB adapter")
            << 0660 << true << false << denied
            << "you may not open %1: it belongs to group dialout, and you are not in it"
            << notInGroup + "\n  fix: or let whoever sits at this computer use such adapters, with this line in\n       " +
                   file + ":\n         " + rule + "\n       then run: " + reload;
        QTest::newRow("group grants, joined after login")
            << 0660 << false << true << denied
            << "you may not open %1 yet: you joined its group dialout after this login session began"
            << "%1 belongs to group dialout; you are in it, but not yet in this login session\n  fix: log out and in "
               "again (or start this program from a shell opened with: newgrp dialout)";
        QTest::newRow("owner only") << 0600 << false << false << denied
                                    << "you may not open %1: it is not open to you for reading and writing"
                                    << ownerOnly + "\n  fix: ask an administrator to give %1 to a group you are in, "
                                                   "with mode 0660 (read and write for the group)";
    }
    void permission()
    {
        QFETCH(int, mode);
        QFETCH(bool, adapter);
        QFETCH(bool, joined);
        QFETCH(int, access);
        QFETCH(QString, summary);
        QFETCH(QString, describe);
        const struct group *dialout = ::getgrnam("dialout");
        if (!dialout || ::geteuid() != 0)
            QSKIP("needs root and a dialout group to hand the node to another owner");
        const struct passwd *nobody = ::getpwuid(65534);
        const QString owner = nobody ? QString::fromLocal8Bit(nobody->pw_name) : QStringLiteral("65534");
        const QString me = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
        Pty pty;
        QVERIFY(pty.slave >= 0);
        const Child probing("ModemManager", pty.slave);
        const std::string node = adapter ? "/dev/ttyX" : pty.path;
        QTemporaryDir scratch;
        const QByteArray groups = QFile::encodeName(scratch.filePath(QStringLiteral("group")));
        if (joined) {
            QFile system(QStringLiteral("/etc/group")), copy(QString::fromLocal8Bit(groups));
            QVERIFY(scratch.isValid() && system.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly));
            for (QByteArray line : system.readAll().split('\n')) {
                if (line.startsWith("dialout:"))
                    line += line.endsWith(':') ? me.toLocal8Bit() : "," + me.toLocal8Bit();
                copy.write(line + '\n');
            }
        }
        // The pty itself; or a pty slave's number nobody holds, with the ids sysfs shows for a USB adapter.
        const auto setUp = [&] {
            const char *at = node.c_str();
            if (joined && ::mount(groups.constData(), "/etc/group", nullptr, MS_BIND, nullptr) != 0)
                return false;
            if (adapter && !(mounted("/dev") && ::mknod(at, S_IFCHR, makedev(143, 1048575)) == 0))
                return false;
            if (::chown(at, 65534, dialout->gr_gid) != 0 || ::chmod(at, mode_t(mode)) != 0)
                return false;
            return !adapter || (mounted("/sys/class/tty") && ::mkdir("/sys/class/tty/ttyX", 0755) == 0 &&
                                ::mkdir("/sys/class/tty/ttyX/device", 0755) == 0 &&
                                put("/sys/class/tty/ttyX/idVendor", "10c4\n") &&
                                put("/sys/class/tty/ttyX/idProduct", "ea60\n"));
        };
        const QString seen = examinedAside(setUp, node.c_str());
        if (seen.isEmpty())
            QSKIP("needs a mount namespace of its own to examine a node there");
        QCOMPARE(seen, filled(QString::number(access) + '\n' + summary + '\n' + describe,
                                {QString::fromStdString(node), me, owner}));
    }

    void modemManager()
    {
        Pty pty;
        auto probing = std::make_unique<Child>("ModemManager", pty.slave);
        Report r = examine(pty.path);
        QVERIFY(r.access == Access::Openable && r.modemManagerRunning && summary(r).empty());
        // A pty has no USB ids for a rule to match.
        QVERIFY(text(r).contains(QStringLiteral("sudo systemctl stop ModemManager")) &&
                !text(r).contains(QStringLiteral("udev")));
        probing = std::make_unique<Child>("ModemManager");
        r = examine(pty.path);
        QVERIFY(r.access == Access::Busy && !text(r).contains(QStringLiteral("kill"))); // its own advice instead
        QCOMPARE(QString::fromStdString(summary(r)),
                 QStringLiteral("the port is in use by PID %1 (ModemManager), which probes newly plugged adapters")
                     .arg(probing->pid));
    }

    // Both the full look and the cheap one before every open read the lock
    // files, lockdev's SVR4 name included, and take no notice of this
    // process's own flock on the node. (Another's flock is named by the
    // command line's refusal of a port picocom holds.)
    void lockFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // %1: the PID
        QTest::addColumn<int>("pid");            // 0 this test's parent, 1 this test, 2 a process gone, 3 any of 3 digits
        QTest::addColumn<bool>("svr4");          // named by the node's numbers, not its name
        QTest::addColumn<bool>("busy");
        QTest::newRow("Qt lock, live") << QByteArray("%1\nminicom\nbench\n") << 0 << false << true;
        QTest::newRow("SVR4 name, live") << QByteArray("%1\n") << 0 << true << true;
        QTest::newRow("three digits, four bytes") << QByteArray("%1\n") << 3 << false << true;
        QTest::newRow("stale") << QByteArray("%1\n") << 2 << false << false;
        QTest::newRow("our own") << QByteArray("%1\n") << 1 << false << false;
        QTest::newRow("garbage") << QByteArray("x%1\x01\x02") << 0 << false << false;
    }
    void lockFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, pid);
        QFETCH(bool, svr4);
        QFETCH(bool, busy);
        pid_t owner = pid == 1 ? ::getpid() : ::getppid();
        if (pid == 3) {
            // Any live process of three digits: its line is as long as a binary PID.
            const QStringList all = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[1-9][0-9][0-9]")});
            if (all.isEmpty())
                QSKIP("no process with a three-digit PID");
            owner = all.first().toInt();
        }
        if (pid == 2 && (owner = ::fork()) == 0)
            ::_exit(0);
        QVERIFY(owner > 0 && (pid != 2 || ::waitpid(owner, nullptr, 0) == owner));
        Pty pty;
        struct stat node;
        QVERIFY(pty.path.compare(0, 9, "/dev/pts/") == 0 && ::stat(pty.path.c_str(), &node) == 0);
        char svr4Name[64];
        std::snprintf(svr4Name, sizeof svr4Name, "/tmp/LK.%03u.%03u.%03u", major(node.st_dev), major(node.st_rdev),
                      minor(node.st_rdev));
        QFile lock(svr4 ? QString::fromLatin1(svr4Name)
                        : QStringLiteral("/tmp/LCK..pts_") + QString::fromStdString(pty.path.substr(9)));
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(content.replace("%1", QByteArray::number(owner))) > 0);
        lock.close();
        QVERIFY(::flock(pty.slave, LOCK_EX | LOCK_NB) == 0);
        const Report r = examine(pty.path);
        const std::vector<Holder> cheap = lockHolders(pty.path);
        lock.remove();
        QCOMPARE(r.holders.size() == 1 && r.holders[0].pid == owner && r.access == Access::Busy, busy);
        QCOMPARE(cheap.size() == 1 && cheap[0].pid == owner, busy);
        QCOMPARE(cheap.empty(), !busy);
        QCOMPARE(text(r).contains(QStringLiteral(", going by its lock file ") + lock.fileName()), busy);
    }
};

QTEST_GUILESS_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
