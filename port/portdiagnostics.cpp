// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "port/portdiagnostics.h"

#include <cstdio>
#include <utility>

namespace PortDiagnostics {
namespace {

// Every text stands here in both languages at once, so that neither is
// changed or given new facts without the other.
std::string text(Language language, std::string english, std::string chinese)
{
    return pick({chinese.c_str(), english.c_str()}, language);
}

const char kRulesFile[] = "/etc/udev/rules.d/60-gimbal-adapter.rules";

// User and group names go into commands the operator pastes into a shell.
std::string shellWord(const std::string &s)
{
    const char safe[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-";
    if (!s.empty() && s.find_first_not_of(safe) == std::string::npos)
        return s;
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// What the path is when it is no serial port, in plain words.
std::string kindText(NodeKind kind, Language l)
{
    switch (kind) {
    case NodeKind::OtherCharacterDevice: return text(l, "a character device of another kind", "其他类型的字符设备");
    case NodeKind::RegularFile: return text(l, "a regular file", "普通文件");
    case NodeKind::Directory: return text(l, "a directory", "目录");
    case NodeKind::Fifo: return text(l, "a FIFO", "命名管道");
    case NodeKind::Socket: return text(l, "a socket", "套接字");
    case NodeKind::BlockDevice: return text(l, "a block device", "块设备");
    case NodeKind::Unseen:
    case NodeKind::SerialDevice:
    case NodeKind::Strange: break;
    }
    return text(l, "of a kind this program does not know", "本程序不认识的文件类型");
}

// The rule goes to the file's own line, so it can be copied whole. Only an
// adapter with known ids gets one: a rule with placeholders matches nothing,
// and a built-in UART is no adapter to match.
std::string udevFix(Language l, const Facts &f, const std::string &why, const std::string &assignment)
{
    const std::string rule = "\n  SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + f.usbVendor +
                             "\", ATTRS{idProduct}==\"" + f.usbProduct + "\", " + assignment + "\n";
    const std::string reload = "sudo udevadm control --reload && sudo udevadm trigger";
    return text(l, why + ", with this line in\n" + kRulesFile + ":" + rule + "then run: " + reload,
                why + "，方法是在\n" + kRulesFile + " 中加入这一行：" + rule + "然后运行：" + reload);
}

bool isAdapter(const Facts &f)
{
    return !f.usbVendor.empty() && !f.usbProduct.empty();
}

void holderReasons(Report &r)
{
    const Language l = r.language;
    const std::string &path = r.devicePath;
    for (const Holder &h : r.holders) {
        const std::string process = std::to_string(h.pid);
        const std::string &name = h.name;
        const std::string lock =
            h.lockFile.empty() ? std::string() : text(l, ", going by its lock file ", "，见锁文件 ") + h.lockFile;
        r.reasons.push_back(
            text(l, path + " is held by process " + process + (name.empty() ? "" : " (" + name + ")") + lock,
                 path + " 被进程 " + process + (name.empty() ? " " : "（" + name + "）") + "占用" + lock));
    }
}

void explainPermission(Report &r, const Facts &f)
{
    const Language l = r.language;
    const std::string &path = r.devicePath;
    const std::string &group = f.group;
    const bool groupGrants = (f.mode & 060) == 060;
    const bool adapter = isAdapter(f);
    // An owner is judged by the owner's bits alone; no group lets them in.
    if (groupGrants && !f.ownedByUser) {
        r.group = group;
        switch (f.membership) {
        case Membership::Outside: {
            const std::string join = "sudo usermod -aG " + shellWord(group) + " " + shellWord(f.userName);
            r.headline =
                text(l, "you may not open " + path + ": it belongs to group " + group + ", and you are not in it",
                     "无权打开 " + path + "：它属于 " + group + " 组，当前用户不在该组中");
            r.reasons.push_back(text(l, path + " belongs to group " + group + ", and you are not in it",
                                     path + " 属于 " + group + " 组，当前用户不在该组中"));
            r.fixes.push_back(text(l, join + ", then log out and in again", join + "，然后注销并重新登录"));
            break;
        }
        case Membership::NotInSession: {
            const std::string newgrp = "newgrp " + shellWord(group);
            r.headline = text(l,
                              "you may not open " + path + " yet: you joined its group " + group +
                                  " after this login session began",
                              "暂时无法打开 " + path + "：当前用户是在本次登录之后才加入 " + group + " 组的");
            r.reasons.push_back(text(l,
                                     path + " belongs to group " + group +
                                         "; you are in it, but not yet in this login session",
                                     path + " 属于 " + group + " 组；当前用户已在该组中，但在本次登录会话中尚未生效"));
            r.fixes.push_back(
                text(l, "log out and in again (or start this program from a shell opened with: " + newgrp + ")",
                     "注销并重新登录（或在用这条命令打开的 shell 中启动本程序：" + newgrp + "）"));
            break;
        }
        case Membership::InSession:
            r.headline = text(l, "you may not open " + path + ", though you are in its group " + group,
                              "无法打开 " + path + "，尽管当前用户已在它所属的 " + group + " 组中");
            r.reasons.push_back(
                text(l,
                     path + " belongs to group " + group +
                         ", which you are in, and still refuses you (an access list or security policy?)",
                     path + " 属于 " + group + " 组，当前用户也在该组中，却仍被拒绝（访问控制列表或安全策略所致？）"));
            break;
        }
    } else {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", f.mode & 07777u);
        r.headline = text(l, "you may not open " + path + ": it is not open to you for reading and writing",
                          "无权打开 " + path + "：当前用户对它没有读写权限");
        r.reasons.push_back(text(l,
                                 path + " is not open to you for reading and writing (mode " + mode + ", owner " +
                                     f.owner + ", group " + group + ")",
                                 "当前用户对 " + path + " 没有读写权限（权限 " + mode + "，所有者 " + f.owner +
                                     "，所属组 " + group + "）"));
        const std::string chmod = "chmod u+rw " + shellWord(path);
        if (f.ownedByUser)
            r.fixes.push_back(text(l, "it is yours, so open it to yourself: " + chmod,
                                   "它属于当前用户，可自行加上读写权限：" + chmod));
        else if (!adapter)
            r.fixes.push_back(text(l,
                                   "ask an administrator to give " + path +
                                       " to a group you are in, with mode 0660 (read and write for the group)",
                                   "请管理员把 " + path + " 交给当前用户所在的某个组，权限设为 0660（组可读写）"));
    }
    if (adapter) {
        const std::string why = text(l, "let whoever sits at this computer use such adapters",
                                     "让在这台电脑前登录的用户都能使用此类适配器");
        r.fixes.push_back(udevFix(l, f, r.fixes.empty() ? why : text(l, "or ", "或者") + why, "TAG+=\"uaccess\""));
    }
}

void explainHolders(Report &r)
{
    const Language l = r.language;
    std::string pids;
    bool others = false;
    for (const Holder &h : r.holders) {
        if (h.name == "ModemManager")
            continue; // its own advice follows
        pids += " " + std::to_string(h.pid);
        others = true;
    }
    const bool one = pids.find(' ', 1) == std::string::npos;
    if (others)
        r.fixes.push_back(text(l, std::string(one ? "close that program" : "close those programs") + ", or run: kill",
                               std::string(one ? "关闭该程序" : "关闭这些程序") + "，或运行：kill") +
                          pids);
}

void explainModemManager(Report &r, const Facts &f)
{
    const Language l = r.language;
    r.reasons.push_back(text(l,
                             "ModemManager is running; it probes freshly plugged serial adapters and can hold them "
                             "for a few seconds",
                             "ModemManager 正在运行；它会探测刚插入的串口适配器，可能占用它们几秒钟"));
    r.fixes.push_back(text(l, "wait a few seconds after plugging in, then connect again", "插入后等几秒钟再重新连接"));
    const std::string stop = "sudo systemctl stop ModemManager";
    r.fixes.push_back(text(l, "or stop it on this bench computer: " + stop, "或者在这台调试电脑上停掉它：" + stop));
    if (isAdapter(f))
        r.fixes.push_back(udevFix(l, f, text(l, "or tell it to leave such adapters alone", "或者让它不再碰此类适配器"),
                                  "ENV{ID_MM_DEVICE_IGNORE}=\"1\""));
}

std::string inUse(const std::vector<Holder> &holders, Language l)
{
    std::string who;
    for (const Holder &h : holders)
        who += (who.empty() ? "" : text(l, ", ", "、")) + std::to_string(h.pid) +
               (h.name.empty() ? "" : text(l, " (" + h.name + ")", "（" + h.name + "）"));
    const bool one = holders.size() == 1;
    std::string line =
        text(l, one ? "the port is in use by PID " : "the port is in use by PIDs ", "串口已被占用：PID ") + who;
    if (one && holders.front().name == "ModemManager")
        line += text(l, ", which probes newly plugged adapters", "，它会探测新插入的适配器");
    return line;
}

// Whoever holds a file or /dev/null stands in no serial port's way, and
// ending them would do harm (every shell holds /dev/null): only the right
// path helps.
void explainNotSerial(Report &r, const Facts &f)
{
    const Language l = r.language;
    const std::string kind = kindText(f.kind, l);
    r.headline = !f.linkTarget.empty()
                     ? text(l, r.devicePath + " is not a serial port (it leads to " + f.linkTarget + ", " + kind + ")",
                            r.devicePath + " 不是串口（它指向 " + f.linkTarget + "，是" + kind + "）")
                     : text(l, r.devicePath + " is not a serial port (it is " + kind + ")",
                            r.devicePath + " 不是串口（它是" + kind + "）");
    r.reasons.push_back(r.headline);
    r.fixes.push_back(text(l, "choose the adapter's serial port itself, e.g. /dev/ttyUSB0 or /dev/ttyACM0",
                           "请选择适配器本身的串口，例如 /dev/ttyUSB0 或 /dev/ttyACM0"));
}

// The port was there a moment ago, or was chosen by its name; said alike
// wherever the system finds no such port.
void explainMissing(Report &r)
{
    const Language l = r.language;
    const std::string &path = r.devicePath;
    if (path.empty()) {
        r.headline = text(l, "no serial port chosen", "未选择串口");
        r.reasons.push_back(r.headline);
        return;
    }
    r.headline =
        text(l, "there is no port " + path + " (adapter unplugged?)", "串口 " + path + " 不存在（适配器已拔出？）");
    r.reasons.push_back(text(l, "no device " + path + ": unplugged?", "找不到设备 " + path + "：是否已拔出？"));
    r.fixes.push_back(
        text(l, "plug the adapter in, or choose the port it has now", "插上适配器，或改选它现在对应的串口"));
}

void explainClosedOnTheWay(Report &r)
{
    const Language l = r.language;
    const std::string &path = r.devicePath;
    r.headline = text(l, "you may not reach " + path + ": a directory on the way is closed to you",
                      "无法访问 " + path + "：路径上有目录不允许当前用户进入");
    r.reasons.push_back(text(l, "a directory on the way to " + path + " is closed to you",
                             "通往 " + path + " 的路径上有目录不允许当前用户进入"));
}

void explainWindowsRefusal(Report &r)
{
    const Language l = r.language;
    const std::string &port = r.devicePath;
    r.headline = text(l, port + " is in use by another program (Windows denies access to it)",
                      "串口 " + port + " 已被另一个程序占用（Windows 拒绝访问）");
    r.fixes.push_back(text(l,
                           "close the program that has it open, then connect again: on a bench that is "
                           "usually a serial terminal (PuTTY, Tera Term, a serial monitor), another "
                           "configurator, or a 3D-printer host (Cura, Pronterface, OctoPrint)",
                           "关闭打开它的程序，然后重新连接：调试台上通常是串口终端（PuTTY、Tera Term、串口监视器）、"
                           "另一个调参软件，或 3D 打印机上位机（Cura、Pronterface、OctoPrint）"));
}

} // namespace

Report words(const Facts &f, Language language)
{
    Report r;
    r.access = f.access;
    r.devicePath = f.devicePath;
    r.holders = f.holders;
    r.modemManagerRunning = f.modemManagerRunning;
    r.language = language;
    switch (f.access) {
    case Access::Missing:
        explainMissing(r);
        break;
    case Access::NotSerial:
        explainNotSerial(r, f);
        break;
    case Access::NoPermission:
        if (f.closedOnTheWay) {
            explainClosedOnTheWay(r);
            break;
        }
        // The holders matter once the user gets in; said after the way in.
        explainPermission(r, f);
        holderReasons(r);
        break;
    case Access::Busy:
        if (f.windowsError != 0) {
            explainWindowsRefusal(r);
            break;
        }
        r.headline = inUse(r.holders, language);
        [[fallthrough]];
    case Access::Openable:
        holderReasons(r);
        explainHolders(r);
        if (f.modemManagerRunning)
            explainModemManager(r, f);
        break;
    case Access::Unknown:
        break;
    }
    return r;
}

Report examine(const std::string &devicePath, Language language)
{
    return words(gather(devicePath), language);
}

std::string describe(const Report &report)
{
    const Language l = report.language;
    const std::string fixAt = text(l, "  fix: ", "  解决：");
    // Lines after the first of a fix line up under its text; a terminal gives
    // each Chinese character and the full-width colon two columns.
    const std::string under = "\n" + text(l, "       ", "        ");
    std::string out;
    for (const std::string &reason : report.reasons)
        out += (out.empty() ? "" : "\n") + reason;
    for (const std::string &fix : report.fixes) {
        out += (out.empty() ? "" : "\n") + fixAt;
        for (char c : fix)
            out += c == '\n' ? under : std::string(1, c);
    }
    return out;
}

std::string summary(const Report &report)
{
    return report.headline;
}

std::string generalAdvice(Language l)
{
#if defined(_WIN32)
    return text(l,
                "check in Device Manager that the port is there, and close any other program that may have it open "
                "(a COM port serves one program at a time)",
                "请在设备管理器中确认该端口存在，并关闭其他可能占用它的程序（一个 COM 口同一时间只能由一个程序使用）");
#elif defined(__linux__)
    return text(l,
                "nothing stands in the way now; if opening keeps failing, unplug the adapter, plug it in again and "
                "look at the end of: sudo dmesg",
                "目前没有发现任何阻碍；如果仍然打不开，请拔下适配器重新插上，再看这条命令输出的末尾：sudo dmesg");
#else
    return text(l,
                "check that the adapter is plugged in and that no other program has the port open "
                "(on macOS, choose the cu. device)",
                "请确认适配器已插好，并且没有其他程序打开该串口（在 macOS 上请选择 cu. 设备）");
#endif
}

Report explainWindowsOpenError(const std::string &port, long error, Language language)
{
    return words(windowsOpenFacts(port, error), language);
}

std::string noPortsFound(Language l)
{
#if defined(_WIN32)
    return text(l,
                "No serial port found. If the adapter is plugged in, Windows most likely lacks its driver "
                "(common with CH340 and PL2303 clone adapters): Device Manager then shows it under "
                "\"Other devices\" with a warning sign and no COM port. Install the driver from the adapter "
                "chip's maker, then plug the adapter in again",
                "没有找到串口。如果适配器已插好，多半是 Windows 缺少它的驱动（CH340 和仿制 PL2303 适配器常见）："
                "这时设备管理器会在“其他设备”下显示它并带有警告标志，却没有 COM 口。请安装适配器芯片厂商的驱动，"
                "然后重新插上适配器");
#elif defined(__linux__)
    return text(l,
                "No serial port found. Is the adapter plugged in? If it is, look at the end of: sudo dmesg",
                "没有找到串口。适配器插好了吗？如果已插好，请看这条命令输出的末尾：sudo dmesg");
#else
    return text(l,
                "No serial port found. Is the adapter plugged in? CH340 and PL2303 adapters may need their "
                "maker's driver",
                "没有找到串口。适配器插好了吗？CH340 和 PL2303 适配器可能需要安装厂商的驱动");
#endif
}

} // namespace PortDiagnostics
