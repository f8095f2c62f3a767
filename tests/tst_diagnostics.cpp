// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// What the system shows of real nodes, as the facts gathered: pseudo-terminals
// held by child processes, lock files, paths that are no serial port, and
// nodes handed to another owner and group. What is said of facts is the
// words suite's; here a case checks one summary line at most, to see the
// facts reach the words.
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
#include "support/filepermissions.h"
#include "support/files.h"

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

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

// The holders as "name PID", with the lock file that named one, in name order.
QStringList named(const std::vector<Holder> &holders)
{
    QStringList out;
    for (const Holder &h : holders)
        out << QStringLiteral("%1 %2 %3").arg(qs(h.name)).arg(h.pid).arg(qs(h.lockFile)).trimmed();
    out.sort();
    return out;
}

// What keeps this user out of the node, in one line.
std::string ownership(const Facts &f)
{
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", f.mode);
    return "access " + std::to_string(int(f.access)) + ", mode " + mode + ", " + f.owner + ":" + f.group +
           ", mine " + std::to_string(f.ownedByUser) + ", " + f.userName + " member " +
           std::to_string(int(f.membership)) + ", usb " + f.usbVendor + ":" + f.usbProduct + ", ModemManager " +
           std::to_string(f.modemManagerRunning);
}

// What gather() finds at path, as ownership() gives it, in a child's own
// mount namespace after setUp there, whose /dev and /sys can say what the
// system's can't be made to. Empty when no such namespace can be had.
QString gatheredAside(const std::function<bool()> &setUp, const char *path)
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
            const std::string seen = ownership(gather(path));
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
    // Each node is examined while a child process of the given name runs
    // beside this one, holding it or not. A holder of what is no serial port
    // is no obstacle, and ending it would harm: none is looked for there.
    // ModemManager is noted while it runs, and holds the port only while it
    // has it open.
    void nodeKinds_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QByteArray>("child"); // empty: none
        QTest::addColumn<bool>("childHolds");
        QTest::addColumn<int>("access");
        QTest::addColumn<int>("kind");
        const auto row = [](const char *name, const char *node, const char *child, bool holds, Access access,
                            NodeKind kind) {
            QTest::newRow(name) << QString::fromLatin1(node) << QByteArray(child) << holds << int(access) << int(kind);
        };
        const NodeKind serial = NodeKind::SerialDevice;
        row("regular file", "file", "port-holder", true, Access::NotSerial, NodeKind::RegularFile);
        row("FIFO", "fifo", "port-holder", true, Access::NotSerial, NodeKind::Fifo);
        row("link to /dev/null", "link", "port-holder", true, Access::NotSerial, NodeKind::OtherCharacterDevice);
        row("nothing there", "none", "", false, Access::Missing, NodeKind::Unseen);
        row("pty, held by this process only", "pty", "", false, Access::Openable, serial);
        row("pty, held by another", "pty", "port-holder", true, Access::Busy, serial);
        row("pty, ModemManager running", "pty", "ModemManager", false, Access::Openable, serial);
        row("pty, held by ModemManager", "pty", "ModemManager", true, Access::Busy, serial);
    }
    void nodeKinds()
    {
        QFETCH(QString, node);
        QFETCH(QByteArray, child);
        QFETCH(bool, childHolds);
        QFETCH(int, access);
        QFETCH(int, kind);
        QTemporaryDir dir;
        Pty pty;
        QVERIFY(dir.isValid() && pty.slave >= 0);
        const QString inDir = dir.filePath(QStringLiteral("ttyUSB0"));
        const std::string path = node == QLatin1String("pty") ? pty.path : QFile::encodeName(inDir).toStdString();
        int fd = -1;
        if (node == QLatin1String("file")) {
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        } else if (node == QLatin1String("fifo")) {
            fd = ::mkfifo(path.c_str(), 0600) == 0 ? ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
        } else if (node == QLatin1String("link")) {
            QVERIFY(::symlink("/dev/null", path.c_str()) == 0);
            fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        }
        QVERIFY(node == QLatin1String("none") || node == QLatin1String("pty") || fd >= 0);
        // Descriptors opened with O_CLOEXEC stay open across fork.
        std::unique_ptr<Child> holder;
        if (!child.isEmpty())
            QVERIFY((holder = std::make_unique<Child>(child.constData(), childHolds ? -1 : pty.slave))->pid > 0);
        ::close(fd);

        const Facts f = gather(path);
        const QString pid = QString::number(holder ? holder->pid : 0);
        QCOMPARE(int(f.access), access);
        QCOMPARE(int(f.kind), kind);
        QCOMPARE(qs(f.linkTarget), node == QLatin1String("link") ? QStringLiteral("/dev/null") : QString());
        QCOMPARE(named(f.holders), access == int(Access::Busy) ? QStringList{child + ' ' + pid} : QStringList());
        QVERIFY(f.modemManagerRunning || child != "ModemManager");
        // A pty is no USB adapter, for a udev rule to match.
        QVERIFY(f.usbVendor.empty() && f.usbProduct.empty());
        QCOMPARE(mayBeSerialPort(path), access != int(Access::Missing) && access != int(Access::NotSerial));
        // The facts reach the words: a holder is named with its PID.
        const QString holderNamed = QStringLiteral("in use by PID %1 (%2)").arg(pid, QString::fromLatin1(child));
        QCOMPARE(qs(summary(words(f))).contains(holderNamed), access == int(Access::Busy));
    }

    // Every holder is found, under the name it gave itself made harmless for
    // a terminal.
    void heldByOtherProcesses()
    {
        Pty pty;
        Child minicom("minicom"), screen("screen\x1b[2J");
        QVERIFY(pty.slave >= 0 && minicom.pid > 0 && screen.pid > 0);
        const Facts f = gather(pty.path);
        QCOMPARE(int(f.access), int(Access::Busy));
        QCOMPARE(named(f.holders), (QStringList{QStringLiteral("minicom %1").arg(minicom.pid),
                                                QStringLiteral("screen?[2J %1").arg(screen.pid)}));
    }

    // Judged as root without its power over file modes; the node another
    // owner's. Only an adapter has USB ids; a ModemManager runs throughout,
    // holding nothing. A user who joined the group is listed in the group file
    // but not in this session.
    void permission_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("adapter");
        QTest::addColumn<bool>("joined");
        QTest::newRow("group grants, USB adapter") << 0660 << true << false;
        QTest::newRow("group grants, joined after login") << 0660 << false << true;
        QTest::newRow("owner only") << 0600 << false << false;
    }
    void permission()
    {
        QFETCH(int, mode);
        QFETCH(bool, adapter);
        QFETCH(bool, joined);
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
                                writeFile("/sys/class/tty/ttyX/idVendor", "10c4\n") &&
                                writeFile("/sys/class/tty/ttyX/idProduct", "ea60\n"));
        };
        const QString seen = gatheredAside(setUp, node.c_str());
        if (seen.isEmpty())
            QSKIP("needs a mount namespace of its own to examine a node there");
        const Membership member = joined ? Membership::NotInSession : Membership::Outside;
        QCOMPARE(seen, QStringLiteral("access %1, mode 0%2, %3:dialout, mine 0, %4 member %5, usb %6, ModemManager 1")
                               .arg(int(Access::NoPermission))
                               .arg(mode, 0, 8)
                               .arg(owner, me)
                               .arg(int(member))
                               .arg(adapter ? QStringLiteral("10c4:ea60") : QStringLiteral(":")));
    }

    // Both the full look and the cheap one before every open read the lock
    // files, lockdev's SVR4 name included, name the lock file, and take no
    // notice of this process's own flock on the node. (Another's flock is
    // named by the command line's refusal of a port picocom holds.)
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
        const Facts f = gather(pty.path);
        const std::vector<Holder> cheap = lockHolders(pty.path);
        lock.remove();
        const auto byTheLock = [&](const std::vector<Holder> &holders) {
            return holders.size() == 1 && holders[0].pid == owner && qs(holders[0].lockFile) == lock.fileName();
        };
        QCOMPARE(byTheLock(f.holders) && f.access == Access::Busy, busy);
        QCOMPARE(byTheLock(cheap), busy);
        QCOMPARE(f.holders.empty() && cheap.empty(), !busy);
    }
};

QTEST_GUILESS_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
