// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// What is said of a port, from facts made by hand: every verdict and the
// variants that change the advice, in both languages, with no node, process
// or privilege needed, so it holds on every platform alike.
#include <QtTest>

#include <cerrno>
#include <cstring>

#include "port/portdiagnostics.h"
#include "port/portlist.h"

using namespace PortDiagnostics;

Q_DECLARE_METATYPE(PortDiagnostics::Facts)

namespace {
const std::string kPort = "/dev/ttyUSB0";

Facts facts(Access access, const std::string &path = kPort)
{
    Facts f;
    f.devicePath = path;
    f.access = access;
    if (access == Access::Openable || access == Access::Busy || access == Access::NoPermission)
        f.kind = NodeKind::SerialDevice;
    return f;
}

Facts notSerial(NodeKind kind, const std::string &linkTarget = {})
{
    Facts f = facts(Access::NotSerial, "/home/bench/port");
    f.kind = kind;
    f.linkTarget = linkTarget;
    return f;
}

// Kept out by the node's owner and mode; by default it is root's, with
// group dialout, and this user is bench.
Facts refused(unsigned mode, Membership membership = Membership::Outside, bool ownedByUser = false)
{
    Facts f = facts(Access::NoPermission);
    f.mode = mode;
    f.owner = ownedByUser ? "bench" : "root";
    f.group = "dialout";
    f.ownedByUser = ownedByUser;
    f.membership = membership;
    f.userName = "bench";
    return f;
}

Facts closedOnTheWay()
{
    Facts f = facts(Access::NoPermission);
    f.closedOnTheWay = true;
    return f;
}

Facts adapter(Facts f)
{
    f.usbVendor = "10c4";
    f.usbProduct = "ea60";
    return f;
}

Facts held(Facts f, std::vector<Holder> holders)
{
    f.holders = std::move(holders);
    for (const Holder &h : f.holders)
        f.modemManagerRunning = f.modemManagerRunning || h.name == "ModemManager";
    return f;
}

Facts withModemManager(Facts f)
{
    f.modemManagerRunning = true;
    return f;
}

QString qs(const std::string &s)
{
    return QString::fromUtf8(s.data(), int(s.size()));
}

const QString kModemManager = "ModemManager is running; it probes freshly plugged serial adapters and can hold "
                              "them for a few seconds";
const QString kModemManagerFixes = "  fix: wait a few seconds after plugging in, then connect again\n  fix: or stop it "
                                   "on this bench computer: sudo systemctl stop ModemManager";
const QString kRules = "/etc/udev/rules.d/60-gimbal-adapter.rules";
const QString kReload = "sudo udevadm control --reload && sudo udevadm trigger";
const QString kRule = "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", ";

// A fix quoting a rule, lined up as describe() lines it up in each language.
QString ruleFix(bool chinese, const QString &why, const QString &assignment)
{
    return chinese ? "  解决：" + why + "，方法是在\n        " + kRules + " 中加入这一行：\n          " + kRule +
                         assignment + "\n        然后运行：" + kReload
                   : "  fix: " + why + ", with this line in\n       " + kRules + ":\n         " + kRule + assignment +
                         "\n       then run: " + kReload;
}
} // namespace

class TestPortWords : public QObject
{
    Q_OBJECT

private slots:
    void words_data()
    {
        QTest::addColumn<Facts>("facts");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("describe");
        QTest::addColumn<QString>("group"); // the report's group: only where the group's members may get in

        const QString usermod = "sudo usermod -aG dialout bench";
        const QString mmEn = kModemManager + "\n" + kModemManagerFixes;
        const QString mmZh = "ModemManager 正在运行；它会探测刚插入的串口适配器，可能占用它们几秒钟\n"
                             "  解决：插入后等几秒钟再重新连接\n  解决：或者在这台调试电脑上停掉它：sudo systemctl stop "
                             "ModemManager";
        const QString ignore = "ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
        const QString uaccess = "TAG+=\"uaccess\"";

        QTest::newRow("openable") << facts(Access::Openable) << false << "" << "" << "";
        QTest::newRow("unknown") << facts(Access::Unknown) << true << "" << "" << "";
        QTest::newRow("openable, ModemManager, no adapter")
            << withModemManager(facts(Access::Openable)) << false << "" << mmEn << "";
        QTest::newRow("openable, ModemManager, adapter, in Chinese")
            << adapter(withModemManager(facts(Access::Openable))) << true << ""
            << mmZh + "\n" + ruleFix(true, "或者让它不再碰此类适配器", ignore) << "";

        QTest::newRow("missing") << facts(Access::Missing) << false
                                 << "there is no port /dev/ttyUSB0 (adapter unplugged?)"
                                 << "no device /dev/ttyUSB0: unplugged?\n  fix: plug the adapter in, or choose the "
                                    "port it has now"
                                 << "";
        QTest::newRow("missing, in Chinese")
            << facts(Access::Missing) << true << "串口 /dev/ttyUSB0 不存在（适配器已拔出？）"
            << "找不到设备 /dev/ttyUSB0：是否已拔出？\n  解决：插上适配器，或改选它现在对应的串口" << "";
        QTest::newRow("none chosen") << facts(Access::Missing, "") << false << "no serial port chosen"
                                     << "no serial port chosen" << "";
        QTest::newRow("none chosen, in Chinese")
            << facts(Access::Missing, "") << true << "未选择串口" << "未选择串口" << "";

        const QString choose = "\n  fix: choose the adapter's serial port itself, e.g. /dev/ttyUSB0 or /dev/ttyACM0";
        const QString chooseZh = "\n  解决：请选择适配器本身的串口，例如 /dev/ttyUSB0 或 /dev/ttyACM0";
        QTest::newRow("not serial, a file")
            << notSerial(NodeKind::RegularFile) << false
            << "/home/bench/port is not a serial port (it is a regular file)"
            << "/home/bench/port is not a serial port (it is a regular file)" + choose << "";
        QTest::newRow("not serial, a link, in Chinese")
            << notSerial(NodeKind::OtherCharacterDevice, "/dev/null") << true
            << "/home/bench/port 不是串口（它指向 /dev/null，是其他类型的字符设备）"
            << "/home/bench/port 不是串口（它指向 /dev/null，是其他类型的字符设备）" + chooseZh << "";

        QTest::newRow("closed on the way") << closedOnTheWay() << false << "you may not reach /dev/ttyUSB0: a directory on the way is closed to you"
            << "a directory on the way to /dev/ttyUSB0 is closed to you" << "";
        QTest::newRow("closed on the way, in Chinese") << closedOnTheWay() << true << "无法访问 /dev/ttyUSB0：路径上有目录不允许当前用户进入"
            << "通往 /dev/ttyUSB0 的路径上有目录不允许当前用户进入" << "";

        QTest::newRow("group's node, not a member")
            << refused(0660) << false
            << "you may not open /dev/ttyUSB0: it belongs to group dialout, and you are not in it"
            << "/dev/ttyUSB0 belongs to group dialout, and you are not in it\n  fix: " + usermod +
                   ", then log out and in again"
            << "dialout";
        QTest::newRow("group's node, not a member, in Chinese")
            << refused(0660) << true << "无权打开 /dev/ttyUSB0：它属于 dialout 组，当前用户不在该组中"
            << "/dev/ttyUSB0 属于 dialout 组，当前用户不在该组中\n  解决：" + usermod + "，然后注销并重新登录"
            << "dialout";
        // Names go into a command for a shell.
        QTest::newRow("group's node, names to quote") << [] {
            Facts f = refused(0660);
            f.group = "serial users";
            f.userName = "o'neil";
            return f;
        }() << false << "you may not open /dev/ttyUSB0: it belongs to group serial users, and you are not in it"
            << "/dev/ttyUSB0 belongs to group serial users, and you are not in it\n  fix: sudo usermod -aG 'serial "
               "users' 'o'\\''neil', then log out and in again"
            << "serial users";
        QTest::newRow("group's node, joined after login")
            << refused(0660, Membership::NotInSession) << false
            << "you may not open /dev/ttyUSB0 yet: you joined its group dialout after this login session began"
            << "/dev/ttyUSB0 belongs to group dialout; you are in it, but not yet in this login session\n  fix: log "
               "out and in again (or start this program from a shell opened with: newgrp dialout)"
            << "dialout";
        QTest::newRow("group's node, joined after login, a name to quote") << [] {
            Facts f = refused(0660, Membership::NotInSession);
            f.group = "serial users";
            return f;
        }() << false
            << "you may not open /dev/ttyUSB0 yet: you joined its group serial users after this login session began"
            << "/dev/ttyUSB0 belongs to group serial users; you are in it, but not yet in this login session\n  "
               "fix: log out and in again (or start this program from a shell opened with: newgrp 'serial users')"
            << "serial users";
        QTest::newRow("group's node, joined after login, in Chinese")
            << refused(0660, Membership::NotInSession) << true
            << "暂时无法打开 /dev/ttyUSB0：当前用户是在本次登录之后才加入 dialout 组的"
            << "/dev/ttyUSB0 属于 dialout 组；当前用户已在该组中，但在本次登录会话中尚未生效\n  解决：注销并重新登录（或在用"
               "这条命令打开的 shell 中启动本程序：newgrp dialout）"
            << "dialout";
        QTest::newRow("group's node, in this session")
            << refused(0660, Membership::InSession) << false
            << "you may not open /dev/ttyUSB0, though you are in its group dialout"
            << "/dev/ttyUSB0 belongs to group dialout, which you are in, and still refuses you (an access list or "
               "security policy?)"
            << "dialout";
        QTest::newRow("group's node, in this session, in Chinese")
            << refused(0660, Membership::InSession) << true << "无法打开 /dev/ttyUSB0，尽管当前用户已在它所属的 dialout 组中"
            << "/dev/ttyUSB0 属于 dialout 组，当前用户也在该组中，却仍被拒绝（访问控制列表或安全策略所致？）"
            << "dialout";
        QTest::newRow("group's node, not a member, adapter")
            << adapter(refused(0660)) << false
            << "you may not open /dev/ttyUSB0: it belongs to group dialout, and you are not in it"
            << "/dev/ttyUSB0 belongs to group dialout, and you are not in it\n  fix: " + usermod +
                   ", then log out and in again\n" +
                   ruleFix(false, "or let whoever sits at this computer use such adapters", uaccess)
            << "dialout";

        const QString notOpen = "you may not open /dev/ttyUSB0: it is not open to you for reading and writing";
        const QString notOpenZh = "无权打开 /dev/ttyUSB0：当前用户对它没有读写权限";
        QTest::newRow("another's node")
            << refused(0600) << false << notOpen
            << "/dev/ttyUSB0 is not open to you for reading and writing (mode 0600, owner root, group dialout)\n  "
               "fix: ask an administrator to give /dev/ttyUSB0 to a group you are in, with mode 0660 (read and write "
               "for the group)"
            << "";
        QTest::newRow("another's node, in Chinese")
            << refused(0600) << true << notOpenZh
            << "当前用户对 /dev/ttyUSB0 没有读写权限（权限 0600，所有者 root，所属组 dialout）\n  解决：请管理员把 "
               "/dev/ttyUSB0 交给当前用户所在的某个组，权限设为 0660（组可读写）"
            << "";
        // No administrator is needed where a rule lets the user in.
        QTest::newRow("another's node, adapter")
            << adapter(refused(0600)) << false << notOpen
            << "/dev/ttyUSB0 is not open to you for reading and writing (mode 0600, owner root, group dialout)\n" +
                   ruleFix(false, "let whoever sits at this computer use such adapters", uaccess)
            << "";
        QTest::newRow("another's node, adapter, in Chinese")
            << adapter(refused(0600)) << true << notOpenZh
            << "当前用户对 /dev/ttyUSB0 没有读写权限（权限 0600，所有者 root，所属组 dialout）\n" +
                   ruleFix(true, "让在这台电脑前登录的用户都能使用此类适配器", uaccess)
            << "";
        // An owner is judged by the owner's bits alone, whatever the group may.
        QTest::newRow("own node, closed to its owner")
            << refused(0460, Membership::Outside, true) << false << notOpen
            << "/dev/ttyUSB0 is not open to you for reading and writing (mode 0460, owner bench, group dialout)\n  "
               "fix: it is yours, so open it to yourself: chmod u+rw '/dev/ttyUSB0'"
            << "";
        QTest::newRow("own node, closed to its owner, in Chinese")
            << refused(0400, Membership::Outside, true) << true << notOpenZh
            << "当前用户对 /dev/ttyUSB0 没有读写权限（权限 0400，所有者 bench，所属组 dialout）\n  "
               "解决：它属于当前用户，可自行加上读写权限：chmod u+rw '/dev/ttyUSB0'"
            << "";
        // The holders are told after the way in, and only the way in is advised.
        QTest::newRow("refused, and held")
            << held(refused(0660), {{4711, "minicom", ""}}) << false
            << "you may not open /dev/ttyUSB0: it belongs to group dialout, and you are not in it"
            << "/dev/ttyUSB0 belongs to group dialout, and you are not in it\n/dev/ttyUSB0 is held by process 4711 "
               "(minicom)\n  fix: " + usermod + ", then log out and in again"
            << "dialout";

        QTest::newRow("held, by its lock file")
            << held(facts(Access::Busy), {{4711, "minicom", "/var/lock/LCK..ttyUSB0"}}) << false
            << "the port is in use by PID 4711 (minicom)"
            << "/dev/ttyUSB0 is held by process 4711 (minicom), going by its lock file /var/lock/LCK..ttyUSB0\n  fix: "
               "close that program, or run: kill 4711"
            << "";
        QTest::newRow("held, by its lock file, in Chinese")
            << held(facts(Access::Busy), {{4711, "minicom", "/var/lock/LCK..ttyUSB0"}}) << true
            << "串口已被占用：PID 4711（minicom）"
            << "/dev/ttyUSB0 被进程 4711（minicom）占用，见锁文件 /var/lock/LCK..ttyUSB0\n  解决：关闭该程序，或运行：kill 4711"
            << "";
        QTest::newRow("held by two, one unnamed")
            << held(facts(Access::Busy), {{4711, "minicom", ""}, {4712, "", ""}}) << false
            << "the port is in use by PIDs 4711 (minicom), 4712"
            << "/dev/ttyUSB0 is held by process 4711 (minicom)\n/dev/ttyUSB0 is held by process 4712\n  fix: close "
               "those programs, or run: kill 4711 4712"
            << "";
        QTest::newRow("held by two, one unnamed, in Chinese")
            << held(facts(Access::Busy), {{4711, "minicom", ""}, {4712, "", ""}}) << true
            << "串口已被占用：PID 4711（minicom）、4712"
            << "/dev/ttyUSB0 被进程 4711（minicom）占用\n/dev/ttyUSB0 被进程 4712 占用\n  解决：关闭这些程序，或运行：kill "
               "4711 4712"
            << "";
        // ModemManager gets advice of its own, never a kill.
        QTest::newRow("held by ModemManager, adapter")
            << adapter(held(facts(Access::Busy), {{812, "ModemManager", ""}})) << false
            << "the port is in use by PID 812 (ModemManager), which probes newly plugged adapters"
            << "/dev/ttyUSB0 is held by process 812 (ModemManager)\n" + mmEn + "\n" +
                   ruleFix(false, "or tell it to leave such adapters alone", ignore)
            << "";
        QTest::newRow("held by ModemManager, in Chinese")
            << held(facts(Access::Busy), {{812, "ModemManager", ""}}) << true
            << "串口已被占用：PID 812（ModemManager），它会探测新插入的适配器"
            << "/dev/ttyUSB0 被进程 812（ModemManager）占用\n" + mmZh << "";
        QTest::newRow("held by ModemManager and another")
            << held(facts(Access::Busy), {{812, "ModemManager", ""}, {4711, "minicom", ""}}) << false
            << "the port is in use by PIDs 812 (ModemManager), 4711 (minicom)"
            << "/dev/ttyUSB0 is held by process 812 (ModemManager)\n/dev/ttyUSB0 is held by process 4711 (minicom)\n" +
                   kModemManager + "\n  fix: close that program, or run: kill 4711\n" + kModemManagerFixes
            << "";
    }
    void words()
    {
        QFETCH(Facts, facts);
        QFETCH(bool, chinese);
        QFETCH(QString, summary);
        QFETCH(QString, describe);
        QFETCH(QString, group);
        const Report r = PortDiagnostics::words(facts, chinese ? Language::Chinese : Language::English);
        QCOMPARE(qs(PortDiagnostics::summary(r)), summary);
        QCOMPARE(qs(PortDiagnostics::describe(r)), describe);
        QCOMPARE(qs(r.group), group);
        QCOMPARE(int(r.access), int(facts.access));
        QCOMPARE(r.holders.size(), facts.holders.size());
    }

    // Each kind of thing that is no serial port, by its name in each language.
    void notSerialKinds_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("character device") << int(NodeKind::OtherCharacterDevice) << "a character device of another kind"
                                          << "其他类型的字符设备";
        QTest::newRow("regular file") << int(NodeKind::RegularFile) << "a regular file" << "普通文件";
        QTest::newRow("directory") << int(NodeKind::Directory) << "a directory" << "目录";
        QTest::newRow("FIFO") << int(NodeKind::Fifo) << "a FIFO" << "命名管道";
        QTest::newRow("socket") << int(NodeKind::Socket) << "a socket" << "套接字";
        QTest::newRow("block device") << int(NodeKind::BlockDevice) << "a block device" << "块设备";
        QTest::newRow("strange") << int(NodeKind::Strange) << "of a kind this program does not know"
                                 << "本程序不认识的文件类型";
    }
    void notSerialKinds()
    {
        QFETCH(int, kind);
        QFETCH(QString, english);
        QFETCH(QString, chinese);
        const Facts f = notSerial(NodeKind(kind));
        QCOMPARE(qs(summary(PortDiagnostics::words(f, Language::English))),
                 "/home/bench/port is not a serial port (it is " + english + ")");
        QCOMPARE(qs(summary(PortDiagnostics::words(f, Language::Chinese))), "/home/bench/port 不是串口（它是" + chinese + "）");
    }

    // What Windows' error for a refused open tells, judged alike on every platform.
    void windowsErrors_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<int>("access");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("describe");
        const QString busy = "COM3 is in use by another program (Windows denies access to it)";
        const QString close = "  fix: close the program that has it open, then connect again: on a bench that is "
                              "usually a serial terminal (PuTTY, Tera Term, a serial monitor), another configurator, "
                              "or a 3D-printer host (Cura, Pronterface, OctoPrint)";
        const QString gone = "there is no port COM3 (adapter unplugged?)";
        const QString plug = "no device COM3: unplugged?\n  fix: plug the adapter in, or choose the port it has now";
        QTest::newRow("access denied") << 5 << false << int(Access::Busy) << busy << close;
        QTest::newRow("sharing violation") << 32 << false << int(Access::Busy) << busy << close;
        QTest::newRow("access denied, in Chinese")
            << 5 << true << int(Access::Busy) << "串口 COM3 已被另一个程序占用（Windows 拒绝访问）"
            << "  解决：关闭打开它的程序，然后重新连接：调试台上通常是串口终端（PuTTY、Tera Term、串口监视器）、另一个调参软件，"
               "或 3D 打印机上位机（Cura、Pronterface、OctoPrint）";
        QTest::newRow("file not found") << 2 << false << int(Access::Missing) << gone << plug;
        QTest::newRow("path not found") << 3 << false << int(Access::Missing) << gone << plug;
        QTest::newRow("path not found, in Chinese")
            << 3 << true << int(Access::Missing) << "串口 COM3 不存在（适配器已拔出？）"
            << "找不到设备 COM3：是否已拔出？\n  解决：插上适配器，或改选它现在对应的串口";
        QTest::newRow("general failure") << 31 << false << int(Access::Unknown) << "" << "";
    }
    void windowsErrors()
    {
        QFETCH(int, error);
        QFETCH(bool, chinese);
        QFETCH(int, access);
        QFETCH(QString, summary);
        QFETCH(QString, describe);
        const Report r = explainWindowsOpenError("COM3", error, chinese ? Language::Chinese : Language::English);
        QCOMPARE(int(r.access), access);
        QCOMPARE(qs(PortDiagnostics::summary(r)), summary);
        QCOMPARE(qs(PortDiagnostics::describe(r)), describe);
    }

    // The open's message from kept facts: the summary first, then only what
    // to do; the system's own words where the facts show nothing.
    void whyNotOpened_data()
    {
        QTest::addColumn<Facts>("facts");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("why");
#ifdef Q_OS_LINUX
        const QString advice = "nothing stands in the way now; if opening keeps failing, unplug the adapter, plug it "
                               "in again and look at the end of: sudo dmesg";
        // Busy in the system's words with every holder out of sight: another user's program, in exclusive mode.
        const QString busy = QString::fromLocal8Bit(std::strerror(EBUSY));
        QTest::newRow("busy, no holder in sight")
            << facts(Access::Openable) << false << busy
            << "the port is in use by another program (another user's, which this user may not look at)\n  fix: close "
               "the other serial program; to find it, run: sudo fuser -v /dev/ttyUSB0";
#else
        const QString advice = qs(generalAdvice(Language::English));
#endif
        QTest::newRow("refused") << refused(0660) << false << "refused"
                                 << "you may not open /dev/ttyUSB0: it belongs to group dialout, and you are not in "
                                    "it\n  fix: sudo usermod -aG dialout bench, then log out and in again";
        QTest::newRow("nothing found") << facts(Access::Openable) << false << "refused"
                                       << "cannot open /dev/ttyUSB0: refused\n  fix: " + advice;
        QTest::newRow("nothing found, in Chinese")
            << facts(Access::Unknown) << true << "refused"
            << "无法打开 /dev/ttyUSB0：refused\n  解决：" + qs(generalAdvice(Language::Chinese));
        // Reasons with no summary of their own stay.
        QTest::newRow("ModemManager around") << withModemManager(facts(Access::Openable)) << false << "refused"
                                             << "cannot open /dev/ttyUSB0: refused\n" + kModemManager + "\n" +
                                                    kModemManagerFixes;
    }
    void whyNotOpened()
    {
        QFETCH(Facts, facts);
        QFETCH(bool, chinese);
        QFETCH(QString, error);
        QFETCH(QString, why);
        const PortList::FailedOpen failure{QStringLiteral("/dev/ttyUSB0"), error, facts};
        QCOMPARE(PortList::whyNotOpened(failure, chinese ? Language::Chinese : Language::English), why);
    }
};

QTEST_GUILESS_MAIN(TestPortWords)
#include "tst_portwords.moc"
