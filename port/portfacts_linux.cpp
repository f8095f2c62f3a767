// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Linux: the node's owner and mode, the user's groups, the processes that
// hold the node (from /proc), the kernel's lock list, the lock files serial
// programs leave, and the adapter's USB ids from sysfs.
#include "port/portfacts.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace PortDiagnostics {
namespace {

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

NodeKind kindOf(const struct stat &node)
{
    switch (node.st_mode & S_IFMT) {
    case S_IFCHR: return isTty(node) ? NodeKind::SerialDevice : NodeKind::OtherCharacterDevice;
    case S_IFREG: return NodeKind::RegularFile;
    case S_IFDIR: return NodeKind::Directory;
    case S_IFIFO: return NodeKind::Fifo;
    case S_IFSOCK: return NodeKind::Socket;
    case S_IFBLK: return NodeKind::BlockDevice;
    }
    return NodeKind::Strange;
}

bool isUsbId(const std::string &s)
{
    return s.size() == 4 &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The tty's device in sysfs is the USB interface (or a port below it); the
// vendor and product ids belong to the USB device further up.
void findUsbIds(Facts &f, const std::string &node)
{
    if (node.compare(0, 5, "/dev/") != 0 || node.find('/', 5) != std::string::npos)
        return;
    std::string dir = resolved("/sys/class/tty/" + node.substr(5) + "/device");
    while (dir.size() > 5 && dir.compare(0, 5, "/sys/") == 0) {
        const std::string v = trimmed(readSmallFile(dir + "/idVendor"));
        if (!v.empty()) {
            const std::string p = trimmed(readSmallFile(dir + "/idProduct"));
            if (isUsbId(v) && isUsbId(p)) {
                f.usbVendor = v;
                f.usbProduct = p;
            }
            return;
        }
        dir.erase(dir.rfind('/'));
    }
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

void addHolder(Facts &f, long pid, const std::string &name, const std::string &lockFile)
{
    for (const Holder &h : f.holders)
        if (h.pid == pid)
            return;
    f.holders.push_back({pid, name, lockFile});
}

// A lock file of a live process other than this one names its holder; one
// whose process is gone is stale and stands in no one's way.
void findLockFileHolders(Facts &f, const struct stat &node, const std::string &nodePath)
{
    const long self = ::getpid();
    std::vector<std::string> names = lockNames(f.devicePath, node);
    for (const std::string &name : lockNames(nodePath, node))
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    for (const std::string &dir : lockDirectories())
        for (const std::string &name : names) {
            const std::string lockFile = dir + "/" + name;
            const long pid = lockOwner(readSmallFile(lockFile));
            if (pid != self && alive(pid))
                addHolder(f, pid, processName(pid), lockFile);
        }
}

// flock() and fcntl() locks on the node itself, as the kernel lists them:
// "1: FLOCK  ADVISORY  WRITE 4711 00:19:7 0 EOF", the file given as the
// filesystem's device numbers in hex and the inode. A process waiting for a
// lock ("1: -> FLOCK ...") holds none, and an open file description's lock
// has no process (-1) to name.
void findLockHolders(Facts &f, const struct stat &node)
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
            addHolder(f, pid, processName(pid), {});
    }
}

void findHolders(Facts &f, const struct stat &node, const std::string &nodePath)
{
    const long self = ::getpid();
    if (const Dir proc(::opendir("/proc")); proc) {
        while (const dirent *e = ::readdir(proc.get())) {
            if (!allDigits(e->d_name))
                continue;
            const long pid = std::stol(e->d_name);
            const std::string name = processName(pid);
            if (name == "ModemManager")
                f.modemManagerRunning = true;
            if (pid != self && holdsNode("/proc/" + std::string(e->d_name) + "/fd", node, nodePath))
                addHolder(f, pid, name, {});
        }
    }
    findLockHolders(f, node);
    findLockFileHolders(f, node, nodePath);
}

void findOwnership(Facts &f, const struct stat &node)
{
    f.mode = unsigned(node.st_mode & 07777);
    f.owner = userName(node.st_uid);
    f.group = groupName(node.st_gid);
    f.ownedByUser = node.st_uid == ::geteuid();
    f.userName = userName(::geteuid());
    // An owner is judged by the owner's bits alone; no group lets them in.
    const bool groupGrants = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupGrants && !f.ownedByUser) {
        if (activeInSession(node.st_gid))
            f.membership = Membership::InSession;
        else if (listedInGroup(::geteuid(), node.st_gid))
            f.membership = Membership::NotInSession;
    }
}

// What stat alone tells of the node, filled into f: true when that is all
// there is to know (no such node, a directory closed on the way, no serial
// device), false when node holds a device worth a closer look.
bool lookAtNode(Facts &f, struct stat &node)
{
    if (f.devicePath.empty()) {
        f.access = Access::Missing;
        return true;
    }
    // The same rule as QSerialPort's: anything not a path is a name under /dev.
    const std::string &given = f.devicePath;
    if (given[0] != '/' && given.compare(0, 2, "./") != 0 && given.compare(0, 3, "../") != 0)
        f.devicePath = "/dev/" + given;
    const std::string &path = f.devicePath;

    if (::stat(path.c_str(), &node) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            f.access = Access::Missing;
        } else if (errno == EACCES) {
            f.access = Access::NoPermission;
            f.closedOnTheWay = true;
        }
        return true;
    }
    f.kind = kindOf(node);
    if (f.kind != NodeKind::SerialDevice) {
        f.access = Access::NotSerial;
        struct stat link;
        if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            f.linkTarget = resolved(path);
        return true;
    }
    return false;
}

} // namespace

bool mayBeSerialPort(const std::string &devicePath)
{
    Facts f;
    f.devicePath = devicePath;
    struct stat node;
    lookAtNode(f, node);
    return f.access != Access::Missing && f.access != Access::NotSerial;
}

std::vector<Holder> lockHolders(const std::string &devicePath)
{
    Facts f;
    f.devicePath = devicePath;
    struct stat node;
    if (lookAtNode(f, node))
        return {};
    findLockHolders(f, node);
    findLockFileHolders(f, node, resolved(f.devicePath));
    return f.holders;
}

Facts gather(const std::string &devicePath)
{
    Facts f;
    f.devicePath = devicePath;
    struct stat node;
    if (lookAtNode(f, node))
        return f;
    const std::string nodePath = resolved(f.devicePath);
    findHolders(f, node, nodePath);
    findUsbIds(f, nodePath);
    // The effective identity is the one an open is judged by.
    if (::faccessat(AT_FDCWD, f.devicePath.c_str(), R_OK | W_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM)) {
        f.access = Access::NoPermission;
        findOwnership(f, node);
        return f;
    }
    f.access = f.holders.empty() ? Access::Openable : Access::Busy;
    return f;
}

} // namespace PortDiagnostics
