// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "port/portdiagnostics.h"

#include <algorithm>
#include <utility>

#include <sys/stat.h>

#ifdef __linux__
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#endif

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cctype>
#endif

namespace PortDiagnostics {
namespace {

// Every text stands here in both languages at once, so that neither is
// changed or given new facts without the other.
std::string text(Language language, std::string english, std::string chinese)
{
    return language == Language::Chinese ? std::move(chinese) : std::move(english);
}

#ifdef __linux__

const char kRulesFile[] = "/etc/udev/rules.d/60-gimbal-adapter.rules";

std::string trimmed(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string firstLine(const std::string &s)
{
    return trimmed(s.substr(0, s.find('\n')));
}

// Lock files sit in directories anyone may write to, so whatever is found
// there is read with care: regular files only, never following a planted
// link, never blocking on a FIFO, and only as much as a PID takes.
std::string readSmallFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string out;
    struct stat st;
    char buf[256];
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            out.assign(buf, std::size_t(n));
    }
    ::close(fd);
    return out;
}

bool allDigits(const std::string &s)
{
    return !s.empty() && s.size() < 10 &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// The PID in a lock file, in each of the forms serial programs write: padded
// ASCII ("      1234\n"), followed on the same line by the program and the
// user in some ("      1234 minicom bench\n"), or on the first of several
// lines (Qt's); and the old binary form, the bare 4-byte integer. Anything
// else names no process.
long lockOwner(const std::string &content)
{
    // "123\n" is four bytes too: the text form is tried first.
    const std::string line = firstLine(content);
    const std::string pid = line.substr(0, line.find_first_of(" \t"));
    if (allDigits(pid))
        return std::stol(pid);
    if (content.size() == sizeof(std::int32_t)) {
        std::int32_t binary;
        std::memcpy(&binary, content.data(), sizeof binary);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

bool alive(long pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Any process may name itself anything; the name goes to a terminal.
std::string processName(long pid)
{
    std::string name = firstLine(readSmallFile("/proc/" + std::to_string(pid) + "/comm"));
    std::replace_if(name.begin(), name.end(), [](char c) { return std::iscntrl(static_cast<unsigned char>(c)); }, '?');
    return name;
}

// The _r lookups, growing the buffer for groups with long member lists.
template <typename Entry, typename Key, typename Lookup>
bool lookUp(Lookup lookup, Key key, Entry &entry, std::vector<char> &buf)
{
    buf.resize(4096);
    Entry *found = nullptr;
    int rc;
    while ((rc = lookup(key, &entry, buf.data(), buf.size(), &found)) == ERANGE && buf.size() < (1u << 22))
        buf.resize(buf.size() * 2);
    return rc == 0 && found;
}

std::string groupName(gid_t gid)
{
    group gr;
    std::vector<char> buf;
    return lookUp(getgrgid_r, gid, gr, buf) ? std::string(gr.gr_name) : std::to_string(gid);
}

std::string userName(uid_t uid)
{
    passwd pw;
    std::vector<char> buf;
    return lookUp(getpwuid_r, uid, pw, buf) ? std::string(pw.pw_name) : std::to_string(uid);
}

// Listed in the group database, whether or not this session carries it yet.
bool listedInGroup(uid_t uid, gid_t gid)
{
    passwd pw;
    std::vector<char> buf;
    if (!lookUp(getpwuid_r, uid, pw, buf))
        return false;
    std::vector<gid_t> groups(64);
    int n = int(groups.size());
    while (getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &n) == -1) {
        if (groups.size() >= 65536)
            return false;
        groups.resize(std::max(std::size_t(n), groups.size() * 2));
        n = int(groups.size());
    }
    groups.resize(std::size_t(std::max(n, 0)));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool activeInSession(gid_t gid)
{
    if (getegid() == gid)
        return true;
    std::vector<gid_t> groups(std::size_t(std::max(getgroups(0, nullptr), 0)));
    groups.resize(std::size_t(std::max(getgroups(int(groups.size()), groups.data()), 0)));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

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

struct FreeC {
    void operator()(char *p) const { std::free(p); }
};

std::string resolved(const std::string &path)
{
    const std::unique_ptr<char, FreeC> real(::realpath(path.c_str(), nullptr));
    return real ? std::string(real.get()) : path;
}

struct CloseDir {
    void operator()(DIR *d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, CloseDir>;

// A character device is a serial port when the kernel files it with the ttys.
// Unix98 pty slaves have no entry in sysfs; where sysfs itself is out of reach
// (some containers), a character device gets the benefit of the doubt rather
// than a real port being called none; but the memory devices (/dev/null and
// its kin, major 1 on every Linux) never pass, as every shell holds one.
bool isTty(const struct stat &node)
{
    const unsigned maj = major(node.st_rdev);
    if (maj == 1)
        return false;
    if (maj >= 136 && maj <= 143)
        return true;
    const std::string entry =
        "/sys/dev/char/" + std::to_string(maj) + ":" + std::to_string(minor(node.st_rdev)) + "/subsystem";
    const std::unique_ptr<char, FreeC> subsystem(::realpath(entry.c_str(), nullptr));
    if (!subsystem)
        return errno != ENOENT || !Dir(::opendir("/sys/dev/char"));
    const std::string dir(subsystem.get());
    struct stat st;
    return dir.substr(dir.rfind('/') + 1) == "tty" && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// What the path is when it is no serial port, in plain words; empty for one.
std::string otherKind(const struct stat &node, Language l)
{
    switch (node.st_mode & S_IFMT) {
    case S_IFCHR:
        return isTty(node) ? std::string() : text(l, "a character device of another kind", "其他类型的字符设备");
    case S_IFREG: return text(l, "a regular file", "普通文件");
    case S_IFDIR: return text(l, "a directory", "目录");
    case S_IFIFO: return text(l, "a FIFO", "命名管道");
    case S_IFSOCK: return text(l, "a socket", "套接字");
    case S_IFBLK: return text(l, "a block device", "块设备");
    }
    return text(l, "of a kind this program does not know", "本程序不认识的文件类型");
}

bool isUsbId(const std::string &s)
{
    return s.size() == 4 &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The tty's device in sysfs is the USB interface (or a port below it); the
// vendor and product ids belong to the USB device further up.
bool usbIds(const std::string &node, std::string &vendor, std::string &product)
{
    if (node.compare(0, 5, "/dev/") != 0 || node.find('/', 5) != std::string::npos)
        return false;
    std::string dir = resolved("/sys/class/tty/" + node.substr(5) + "/device");
    while (dir.size() > 5 && dir.compare(0, 5, "/sys/") == 0) {
        const std::string v = trimmed(readSmallFile(dir + "/idVendor"));
        if (!v.empty()) {
            const std::string p = trimmed(readSmallFile(dir + "/idProduct"));
            if (!isUsbId(v) || !isUsbId(p))
                return false;
            vendor = v;
            product = p;
            return true;
        }
        dir.erase(dir.rfind('/'));
    }
    return false;
}

// The rule goes to the file's own line, so it can be copied whole. Only an
// adapter with known ids gets one: a rule with placeholders matches nothing,
// and a built-in UART is no adapter to match.
std::string udevFix(Language l, const std::string &vendor, const std::string &product, const std::string &why,
                    const std::string &assignment)
{
    const std::string rule = "\n  SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + vendor + "\", ATTRS{idProduct}==\"" +
                             product + "\", " + assignment + "\n";
    const std::string reload = "sudo udevadm control --reload && sudo udevadm trigger";
    return text(l, why + ", with this line in\n" + kRulesFile + ":" + rule + "then run: " + reload,
                why + "，方法是在\n" + kRulesFile + " 中加入这一行：" + rule + "然后运行：" + reload);
}

// Qt and the UUCP tools name a port's lock after the node below /dev, with
// any further slash made an underscore: /dev/pts/3 is LCK..pts_3. Some tools
// take the node's last name alone (LCK..3); lockdev adds the SVR4 name made
// of the device numbers (LK.000.136.003).
std::vector<std::string> lockNames(const std::string &node, const struct stat &st)
{
    std::string below = node.compare(0, 5, "/dev/") == 0 ? node.substr(5) : node;
    std::replace(below.begin(), below.end(), '/', '_');
    std::vector<std::string> names{"LCK.." + below};
    if (const std::string last = "LCK.." + node.substr(node.rfind('/') + 1); last != names.front())
        names.push_back(last);
    char svr4[32];
    std::snprintf(svr4, sizeof svr4, "LK.%03u.%03u.%03u", major(st.st_dev), major(st.st_rdev), minor(st.st_rdev));
    names.emplace_back(svr4);
    return names;
}

std::vector<std::string> lockDirectories()
{
    // Where Qt looks for a free place for its lock, and the UUCP spots.
    std::vector<std::string> dirs{"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                  "/var/lock/lockdev", "/tmp", "/var/tmp"};
    if (const char *tmp = std::getenv("TMPDIR"); tmp && tmp[0] == '/')
        dirs.emplace_back(tmp);
    return dirs;
}

bool sameNode(const struct stat &a, const struct stat &b)
{
    // Several nodes may stand for one device (a container's own /dev); the
    // device number is what the kernel opens.
    if (S_ISCHR(a.st_mode) || S_ISBLK(a.st_mode))
        return (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) && a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The pseudo-terminal number behind a pty slave node, or -1.
long ptyIndex(const struct stat &node)
{
    if (!S_ISCHR(node.st_mode) || major(node.st_rdev) < 136 || major(node.st_rdev) > 143)
        return -1;
    return long(major(node.st_rdev) - 136) * 256 + long(minor(node.st_rdev));
}

// The master of a pseudo-terminal shows the number of its slave in fdinfo.
bool isMasterOf(const std::string &fdDir, const char *fd, long index)
{
    const std::string info = readSmallFile(fdDir.substr(0, fdDir.size() - 2) + "fdinfo/" + fd);
    const std::string key = "tty-index:\t" + std::to_string(index) + "\n";
    return info.find(key) != std::string::npos;
}

// Processes of other users stay unreadable to a normal user; their locks
// still show them. A process that holds the master end of a pseudo-terminal
// is the far end of the line (a simulated controller, a serial bridge), not
// a program in the way, whether or not it also keeps the slave open.
bool holdsNode(const std::string &fdDir, const struct stat &node, const std::string &nodePath)
{
    const Dir fds(::opendir(fdDir.c_str()));
    if (!fds)
        return false;
    const long index = ptyIndex(node);
    bool holds = false;
    while (const dirent *e = ::readdir(fds.get())) {
        const std::string link = fdDir + "/" + e->d_name;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
        if (n <= 0)
            continue;
        // Only device nodes are looked at closer: sockets and pipes read as
        // "socket:[...]" and the like, and a stat of a file on a stuck
        // network or FUSE mount would hang us.
        const std::string target(buf, std::size_t(n));
        if (target.compare(0, 5, "/dev/") != 0 && target != nodePath)
            continue;
        if (index >= 0 && (target == "/dev/ptmx" || target == "/dev/pts/ptmx") && isMasterOf(fdDir, e->d_name, index))
            return false;
        struct stat st;
        if (!holds && ::stat(link.c_str(), &st) == 0 && sameNode(node, st))
            holds = true;
    }
    return holds;
}

void addHolder(Report &r, long pid, const std::string &name, const std::string &lockFile)
{
    for (const Holder &h : r.holders)
        if (h.pid == pid)
            return;
    r.holders.push_back({pid, name});
    const std::string &path = r.devicePath;
    const std::string process = std::to_string(pid);
    const std::string lock =
        lockFile.empty() ? std::string() : text(r.language, ", going by its lock file ", "，见锁文件 ") + lockFile;
    r.reasons.push_back(
        text(r.language, path + " is held by process " + process + (name.empty() ? "" : " (" + name + ")") + lock,
             path + " 被进程 " + process + (name.empty() ? " " : "（" + name + "）") + "占用" + lock));
}

// A lock file of a live process other than this one names its holder; one
// whose process is gone is stale and stands in no one's way.
void findLockFileHolders(Report &r, const struct stat &node, const std::string &nodePath)
{
    const long self = ::getpid();
    std::vector<std::string> names = lockNames(r.devicePath, node);
    for (const std::string &name : lockNames(nodePath, node))
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    for (const std::string &dir : lockDirectories())
        for (const std::string &name : names) {
            const std::string lockFile = dir + "/" + name;
            const long pid = lockOwner(readSmallFile(lockFile));
            if (pid != self && alive(pid))
                addHolder(r, pid, processName(pid), lockFile);
        }
}

// flock() and fcntl() locks on the node itself, as the kernel lists them:
// "1: FLOCK  ADVISORY  WRITE 4711 00:19:7 0 EOF", the file given as the
// filesystem's device numbers in hex and the inode. A process waiting for a
// lock ("1: -> FLOCK ...") holds none, and an open file description's lock
// has no process (-1) to name.
void findLockHolders(Report &r, const struct stat &node)
{
    std::ifstream locks("/proc/locks");
    const long self = ::getpid();
    std::string line;
    while (std::getline(locks, line)) {
        char kind[16], mode[16], access[16];
        long pid = 0;
        unsigned maj = 0, min = 0;
        unsigned long long inode = 0;
        if (line.find("->") != std::string::npos ||
            std::sscanf(line.c_str(), "%*d: %15s %15s %15s %ld %x:%x:%llu", kind, mode, access, &pid, &maj, &min,
                        &inode) != 7)
            continue;
        if (maj == major(node.st_dev) && min == minor(node.st_dev) && inode == node.st_ino && pid > 0 && pid != self &&
            alive(pid))
            addHolder(r, pid, processName(pid), {});
    }
}

void findHolders(Report &r, const struct stat &node)
{
    const long self = ::getpid();
    const std::string nodePath = resolved(r.devicePath);
    if (const Dir proc(::opendir("/proc")); proc) {
        while (const dirent *e = ::readdir(proc.get())) {
            if (!allDigits(e->d_name))
                continue;
            const long pid = std::stol(e->d_name);
            const std::string name = processName(pid);
            if (name == "ModemManager")
                r.modemManagerRunning = true;
            if (pid != self && holdsNode("/proc/" + std::string(e->d_name) + "/fd", node, nodePath))
                addHolder(r, pid, name, {});
        }
    }
    findLockHolders(r, node);
    findLockFileHolders(r, node, nodePath);
}

void explainPermission(Report &r, const struct stat &node)
{
    r.access = Access::NoPermission;
    const Language l = r.language;
    const std::string &path = r.devicePath;
    const std::string group = groupName(node.st_gid);
    const bool groupGrants = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    const bool owner = node.st_uid == ::geteuid();
    std::string vendor, product;
    const bool adapter = usbIds(resolved(path), vendor, product);
    // An owner is judged by the owner's bits alone; no group lets them in.
    if (groupGrants && !owner) {
        r.group = group;
        const bool active = activeInSession(node.st_gid);
        const bool listed = active || listedInGroup(::geteuid(), node.st_gid);
        if (!listed) {
            const std::string join = "sudo usermod -aG " + shellWord(group) + " " + shellWord(userName(::geteuid()));
            r.headline =
                text(l, "you may not open " + path + ": it belongs to group " + group + ", and you are not in it",
                     "无权打开 " + path + "：它属于 " + group + " 组，当前用户不在该组中");
            r.reasons.push_back(text(l, path + " belongs to group " + group + ", and you are not in it",
                                     path + " 属于 " + group + " 组，当前用户不在该组中"));
            r.fixes.push_back(text(l, join + ", then log out and in again", join + "，然后注销并重新登录"));
        } else if (!active) {
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
        } else {
            r.headline = text(l, "you may not open " + path + ", though you are in its group " + group,
                              "无法打开 " + path + "，尽管当前用户已在它所属的 " + group + " 组中");
            r.reasons.push_back(
                text(l,
                     path + " belongs to group " + group +
                         ", which you are in, and still refuses you (an access list or security policy?)",
                     path + " 属于 " + group + " 组，当前用户也在该组中，却仍被拒绝（访问控制列表或安全策略所致？）"));
        }
    } else {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(node.st_mode & 07777));
        const std::string ownerName = userName(node.st_uid);
        r.headline = text(l, "you may not open " + path + ": it is not open to you for reading and writing",
                          "无权打开 " + path + "：当前用户对它没有读写权限");
        r.reasons.push_back(text(l,
                                 path + " is not open to you for reading and writing (mode " + mode + ", owner " +
                                     ownerName + ", group " + group + ")",
                                 "当前用户对 " + path + " 没有读写权限（权限 " + mode + "，所有者 " + ownerName +
                                     "，所属组 " + group + "）"));
        const std::string chmod = "chmod u+rw " + shellWord(path);
        if (owner)
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
        r.fixes.push_back(udevFix(l, vendor, product, r.fixes.empty() ? why : text(l, "or ", "或者") + why,
                                  "TAG+=\"uaccess\""));
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

void explainModemManager(Report &r)
{
    const Language l = r.language;
    r.reasons.push_back(text(l,
                             "ModemManager is running; it probes freshly plugged serial adapters and can hold them "
                             "for a few seconds",
                             "ModemManager 正在运行；它会探测刚插入的串口适配器，可能占用它们几秒钟"));
    r.fixes.push_back(text(l, "wait a few seconds after plugging in, then connect again", "插入后等几秒钟再重新连接"));
    const std::string stop = "sudo systemctl stop ModemManager";
    r.fixes.push_back(text(l, "or stop it on this bench computer: " + stop, "或者在这台调试电脑上停掉它：" + stop));
    std::string vendor, product;
    if (usbIds(resolved(r.devicePath), vendor, product))
        r.fixes.push_back(udevFix(l, vendor, product,
                                  text(l, "or tell it to leave such adapters alone", "或者让它不再碰此类适配器"),
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
void explainNotSerial(Report &r, const std::string &kind)
{
    r.access = Access::NotSerial;
    const Language l = r.language;
    struct stat link;
    const bool followed = ::lstat(r.devicePath.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    const std::string target = followed ? resolved(r.devicePath) : std::string();
    r.headline = followed ? text(l, r.devicePath + " is not a serial port (it leads to " + target + ", " + kind + ")",
                                 r.devicePath + " 不是串口（它指向 " + target + "，是" + kind + "）")
                          : text(l, r.devicePath + " is not a serial port (it is " + kind + ")",
                                 r.devicePath + " 不是串口（它是" + kind + "）");
    r.reasons.push_back(r.headline);
    r.fixes.push_back(text(l, "choose the adapter's serial port itself, e.g. /dev/ttyUSB0 or /dev/ttyACM0",
                           "请选择适配器本身的串口，例如 /dev/ttyUSB0 或 /dev/ttyACM0"));
}

#endif // __linux__

// The port was there a moment ago, or was chosen by its name; said alike
// wherever the system finds no such port.
void explainMissing(Report &r)
{
    const Language l = r.language;
    const std::string &path = r.devicePath;
    r.access = Access::Missing;
    r.headline =
        text(l, "there is no port " + path + " (adapter unplugged?)", "串口 " + path + " 不存在（适配器已拔出？）");
    r.reasons.push_back(text(l, "no device " + path + ": unplugged?", "找不到设备 " + path + "：是否已拔出？"));
    r.fixes.push_back(
        text(l, "plug the adapter in, or choose the port it has now", "插上适配器，或改选它现在对应的串口"));
}

#ifdef _WIN32
// "COM3" for "\\.\COM3", "//./com3" or "com3", the form the system keeps
// its names in; empty for a path, which names no DOS device.
std::string dosDeviceName(const std::string &given)
{
    std::string name = given;
    if (name.compare(0, 4, "\\\\.\\") == 0 || name.compare(0, 4, "//./") == 0)
        name.erase(0, 4);
    if (name.empty() || name.find_first_of(":\\/") != std::string::npos)
        return {};
    for (char &c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// Only the system's table of device names is asked, so a port another
// program holds is neither opened nor disturbed.
bool dosDeviceMissing(const std::string &name)
{
    std::wstring wide(name.begin(), name.end());
    wchar_t targets[1024];
    if (::QueryDosDeviceW(wide.c_str(), targets, DWORD(sizeof targets / sizeof targets[0])) != 0)
        return false;
    // Too many targets to list still means there is one.
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
}
#endif

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

} // namespace

namespace {
// What stat alone tells of the node, filled into r: true when that is all
// there is to say (no such node, a directory closed on the way, no serial
// device), false when node holds a device worth a closer look.
bool lookAtNode(Report &r, struct stat &node)
{
#ifdef __linux__
    const Language l = r.language;
    if (r.devicePath.empty()) {
        r.access = Access::Missing;
        r.headline = text(l, "no serial port chosen", "未选择串口");
        r.reasons.push_back(r.headline);
        return true;
    }
    // The same rule as QSerialPort's: anything not a path is a name under /dev.
    const std::string &given = r.devicePath;
    if (given[0] != '/' && given.compare(0, 2, "./") != 0 && given.compare(0, 3, "../") != 0)
        r.devicePath = "/dev/" + given;
    const std::string &path = r.devicePath;

    if (::stat(path.c_str(), &node) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            explainMissing(r);
        } else if (errno == EACCES) {
            r.access = Access::NoPermission;
            r.headline = text(l, "you may not reach " + path + ": a directory on the way is closed to you",
                              "无法访问 " + path + "：路径上有目录不允许当前用户进入");
            r.reasons.push_back(text(l, "a directory on the way to " + path + " is closed to you",
                                     "通往 " + path + " 的路径上有目录不允许当前用户进入"));
        } else {
            r.access = Access::Unknown;
        }
        return true;
    }
    if (const std::string kind = otherKind(node, l); !kind.empty()) {
        explainNotSerial(r, kind);
        return true;
    }
    return false;
#elif defined(_WIN32)
    (void)node;
    if (r.devicePath.empty()) {
        r.access = Access::Missing;
        r.headline = text(r.language, "no serial port chosen", "未选择串口");
        r.reasons.push_back(r.headline);
        return true;
    }
    // Messages name the port as users know it.
    const std::string name = dosDeviceName(r.devicePath);
    if (!name.empty()) {
        r.devicePath = name;
        if (dosDeviceMissing(name))
            explainMissing(r);
    }
    return true;
#else
    (void)r;
    (void)node;
    return true;
#endif
}
} // namespace

bool mayBeSerialPort(const std::string &devicePath)
{
    Report r;
    r.devicePath = devicePath;
    struct stat node;
    lookAtNode(r, node);
    return r.access != Access::Missing && r.access != Access::NotSerial;
}

std::vector<Holder> lockHolders(const std::string &devicePath)
{
    Report r;
    r.devicePath = devicePath;
    struct stat node;
    if (lookAtNode(r, node))
        return {};
#ifdef __linux__
    findLockHolders(r, node);
    findLockFileHolders(r, node, resolved(r.devicePath));
#endif
    return r.holders;
}

Report examine(const std::string &devicePath, Language language)
{
    Report r;
    r.devicePath = devicePath;
    r.language = language;
    struct stat node;
    if (lookAtNode(r, node))
        return r;
#ifdef __linux__
    const std::string &path = r.devicePath;
    findHolders(r, node);
    // The effective identity is the one an open is judged by.
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM)) {
        // The holders matter once the user gets in; said first, the way in.
        std::vector<std::string> held;
        held.swap(r.reasons);
        explainPermission(r, node);
        r.reasons.insert(r.reasons.end(), held.begin(), held.end());
        return r;
    }
    r.access = r.holders.empty() ? Access::Openable : Access::Busy;
    if (r.access == Access::Busy)
        r.headline = inUse(r.holders, r.language);
    explainHolders(r);
    if (r.modemManagerRunning)
        explainModemManager(r);
#endif
    return r;
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

std::string hintForFailedOpen(const std::string &devicePath, Language language)
{
    const std::string hint = describe(examine(devicePath, language));
    return hint.empty() ? generalAdvice(language) : hint;
}

Report explainWindowsOpenError(const std::string &port, long error, Language language)
{
    Report r;
    r.devicePath = port;
    r.language = language;
    const Language l = language;
    switch (error) {
    case WindowsError::kFileNotFound:
    case WindowsError::kPathNotFound:
        explainMissing(r);
        break;
    case WindowsError::kAccessDenied:
    case WindowsError::kSharingViolation:
        // Windows gives a COM port to one program at a time and tells the
        // next one no more than "access denied"; which program has it is not
        // to be learnt without rights over every process.
        r.access = Access::Busy;
        r.headline = text(l, port + " is in use by another program (Windows denies access to it)",
                          "串口 " + port + " 已被另一个程序占用（Windows 拒绝访问）");
        r.fixes.push_back(text(l,
                               "close the program that has it open, then connect again: on a bench that is "
                               "usually a serial terminal (PuTTY, Tera Term, a serial monitor), another "
                               "configurator, or a 3D-printer host (Cura, Pronterface, OctoPrint)",
                               "关闭打开它的程序，然后重新连接：调试台上通常是串口终端（PuTTY、Tera Term、串口监视器）、"
                               "另一个调参软件，或 3D 打印机上位机（Cura、Pronterface、OctoPrint）"));
        break;
    default:
        break;
    }
    return r;
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
