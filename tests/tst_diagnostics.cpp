// Why a port won't open, found on real nodes: pseudo-terminals held by child
// processes, lock files, and files handed to another owner and group.
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "link/portdiagnostics.h"
#include "support/filepermissions.h"

using namespace PortDiagnostics;

namespace {
struct Pty {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string path = master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 ? ::ptsname(master) : "";
    int slave = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ~Pty() { ::close(slave), ::close(master); }
};

// A process of its own name holding what this one holds but dropFd, until
// killed. It says through a pipe when it has its name.
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
} // namespace

class TestDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    void missingNode()
    {
        const Report r = examine("sbus-channel-no-such-port");
        QCOMPARE(int(r.access), int(Access::Missing));
        QVERIFY(text(r).startsWith(QStringLiteral("no device /dev/sbus-channel-no-such-port: unplugged?\n  fix: ")));
    }

    void permission_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("groupFix");
        QTest::addColumn<bool>("udevFix"); // as good as "no permission"
        QTest::newRow("group grants") << 0660 << true << true;
        QTest::newRow("owner only") << 0600 << false << true;
        QTest::newRow("open to all") << 0666 << false << false;
    }
    void permission()
    {
        QFETCH(int, mode);
        QFETCH(bool, groupFix);
        QFETCH(bool, udevFix);
        const struct group *dialout = ::getgrnam("dialout");
        if (!dialout || ::geteuid() != 0)
            QSKIP("needs root and a dialout group to hand the node to another owner");
        QTemporaryDir dir;
        const QByteArray node = QFile::encodeName(dir.filePath(QStringLiteral("ttyFAKE0")));
        QVERIFY(QFile(QFile::decodeName(node)).open(QIODevice::WriteOnly));
        QVERIFY(::chown(node, 65534, dialout->gr_gid) == 0 && ::chmod(node, mode_t(mode)) == 0);
        FilePermissionsApply permissions;
        const Report r = examine(node.toStdString());
        QCOMPARE(r.access == Access::NoPermission, udevFix);
        QCOMPARE(r.group, std::string(groupFix ? "dialout" : ""));
        QCOMPARE(text(r).contains(QStringLiteral("belongs to group dialout, and you are not in it\n  fix: sudo "
                                                 "usermod -aG dialout %1, then log out and in again\n")
                                      .arg(QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name))),
                 groupFix);
        QCOMPARE(text(r).contains(QStringLiteral("/etc/udev/rules.d/60-gimbal-adapter.rules:\n         SUBSYSTEM=="
                                                 "\"tty\", ATTRS{idVendor}==\"xxxx\", ATTRS{idProduct}==\"yyyy\", "
                                                 "MODE=\"0660\", TAG+=\"uaccess\"\n")),
                 udevFix);
    }

    // Never this process's own descriptors; a child's, through any path to the device.
    void heldByAnotherProcess()
    {
        Pty pty;
        QVERIFY(pty.slave >= 0);
        QCOMPARE(int(examine(pty.path).access), int(Access::Openable));
        Child holder("port-holder");
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttyGIMBAL"));
        QVERIFY(holder.pid > 0 && QFile::link(QString::fromStdString(pty.path), link));
        for (const std::string &path : {pty.path, QFile::encodeName(link).toStdString()}) {
            const Report r = examine(path);
            QCOMPARE(int(r.access), int(Access::Busy));
            QCOMPARE(r.holders.size(), size_t(1));
            QVERIFY(text(r).endsWith(QStringLiteral(" is held by process %1 (port-holder)\n  fix: close that program, "
                                                    "or run: kill %1").arg(holder.pid)));
        }
    }

    void modemManager()
    {
        Pty pty;
        auto probing = std::make_unique<Child>("ModemManager", pty.slave);
        Report r = examine(pty.path);
        QVERIFY(r.access == Access::Openable && r.modemManagerRunning);
        QVERIFY(text(r).contains(QStringLiteral("sudo systemctl stop ModemManager")) &&
                text(r).contains(QStringLiteral("ENV{ID_MM_DEVICE_IGNORE}=\"1\"")));
        probing = std::make_unique<Child>("ModemManager");
        r = examine(pty.path);
        QVERIFY(r.access == Access::Busy && !text(r).contains(QStringLiteral("kill"))); // its own advice instead
    }

    void lockFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // %1: the PID
        QTest::addColumn<int>("pid");            // 0 this test's parent, 1 this test, 2 a process gone
        QTest::addColumn<bool>("busy");
        QTest::newRow("Qt lock, live") << QByteArray("%1\nminicom\nbench\n") << 0 << true;
        QTest::newRow("UUCP lock, live") << QByteArray("      %1\n") << 0 << true;
        QTest::newRow("stale") << QByteArray("%1\n") << 2 << false;
        QTest::newRow("our own") << QByteArray("%1\n") << 1 << false;
        QTest::newRow("garbage") << QByteArray("x%1\x01\x02") << 0 << false;
    }
    void lockFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, pid);
        QFETCH(bool, busy);
        pid_t owner = pid == 1 ? ::getpid() : ::getppid();
        if (pid == 2 && (owner = ::fork()) == 0)
            ::_exit(0);
        QVERIFY(owner > 0 && (pid != 2 || ::waitpid(owner, nullptr, 0) == owner));
        Pty pty;
        QVERIFY(pty.path.compare(0, 9, "/dev/pts/") == 0);
        QFile lock(QStringLiteral("/tmp/LCK..pts_") + QString::fromStdString(pty.path.substr(9)));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(content.replace("%1", QByteArray::number(owner)));
        lock.close();
        const Report r = examine(pty.path);
        lock.remove();
        QCOMPARE(r.holders.size() == 1 && r.holders[0].pid == owner && r.access == Access::Busy, busy);
        QCOMPARE(text(r).contains(QStringLiteral(", going by its lock file ") + lock.fileName()), busy);
    }
};

QTEST_GUILESS_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
