#include "link/portdiagnostics.h"

#include <algorithm>

#ifdef __linux__
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#endif

namespace PortDiagnostics {
namespace {

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

// UUCP lock files hold the PID as padded ASCII ("      1234\n"); Qt's hold it
// on the first of several lines. Anything else names no process.
long lockOwner(const std::string &content)
{
    const std::string pid = firstLine(content);
    return allDigits(pid) ? std::stol(pid) : 0;
}

bool alive(long pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

std::string processName(long pid)
{
    return firstLine(readSmallFile("/proc/" + std::to_string(pid) + "/comm"));
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

std::string adapterMatch(const std::string &node)
{
    std::string vendor = "xxxx", product = "yyyy";
    usbIds(resolved(node), vendor, product);
    return "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + vendor + "\", ATTRS{idProduct}==\"" + product + "\"";
}

// The rule goes to the file's own line, so it can be copied whole.
std::string udevFix(const std::string &node, const std::string &why, const std::string &assignment)
{
    const std::string match = adapterMatch(node);
    std::string fix = why + ", with this line in\n" + kRulesFile + ":\n  " + match + ", " + assignment;
    if (match.find("xxxx") != std::string::npos)
        fix += "\n(the ids as lsusb shows them for the adapter: xxxx:yyyy)";
    return fix + "\nthen run: sudo udevadm control --reload && sudo udevadm trigger";
}

// Qt and the UUCP tools name a port's lock after the node below /dev, with
// any further slash made an underscore: /dev/pts/3 is LCK..pts_3.
std::string lockName(const std::string &node)
{
    std::string name = node.compare(0, 5, "/dev/") == 0 ? node.substr(5) : node;
    std::replace(name.begin(), name.end(), '/', '_');
    return "LCK.." + name;
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

struct CloseDir {
    void operator()(DIR *d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, CloseDir>;

// Processes of other users stay unreadable to a normal user; their locks
// still show them.
bool holdsNode(const std::string &fdDir, const struct stat &node, const std::string &nodePath)
{
    const Dir fds(::opendir(fdDir.c_str()));
    if (!fds)
        return false;
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
        struct stat st;
        if (::stat(link.c_str(), &st) == 0 && sameNode(node, st))
            return true;
    }
    return false;
}

void addHolder(Report &r, long pid, const std::string &name, const std::string &lockFile)
{
    for (const Holder &h : r.holders)
        if (h.pid == pid)
            return;
    r.holders.push_back({pid, name});
    std::string reason = r.devicePath + " is held by process " + std::to_string(pid);
    if (!name.empty())
        reason += " (" + name + ")";
    if (!lockFile.empty())
        reason += ", going by its lock file " + lockFile;
    r.reasons.push_back(reason);
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
    std::vector<std::string> names{lockName(r.devicePath)};
    if (const std::string other = lockName(nodePath); other != names.front())
        names.push_back(other);
    for (const std::string &dir : lockDirectories())
        for (const std::string &name : names) {
            const std::string lockFile = dir + "/" + name;
            const long pid = lockOwner(readSmallFile(lockFile));
            if (pid != self && alive(pid))
                addHolder(r, pid, processName(pid), lockFile);
        }
}

void explainPermission(Report &r, const struct stat &node)
{
    r.access = Access::NoPermission;
    const std::string &path = r.devicePath;
    const std::string group = groupName(node.st_gid);
    const bool groupGrants = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    // An owner is judged by the owner's bits alone; no group lets them in.
    if (groupGrants && node.st_uid != ::geteuid()) {
        r.group = group;
        const bool active = activeInSession(node.st_gid);
        const bool listed = active || listedInGroup(::geteuid(), node.st_gid);
        if (!listed) {
            r.reasons.push_back(path + " belongs to group " + group + ", and you are not in it");
            r.fixes.push_back("sudo usermod -aG " + shellWord(group) + " " + shellWord(userName(::geteuid())) +
                              ", then log out and in again");
        } else if (!active) {
            r.reasons.push_back(path + " belongs to group " + group +
                                "; you are in it, but not yet in this login session");
            r.fixes.push_back("log out and in again (or start this program from a shell opened with: newgrp " +
                              shellWord(group) + ")");
        } else {
            r.reasons.push_back(path + " belongs to group " + group +
                                ", which you are in, and still refuses you (an access list or security policy?)");
        }
    } else {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(node.st_mode & 07777));
        r.reasons.push_back(path + " is not open to you for reading and writing (mode " + mode + ", owner " +
                            userName(node.st_uid) + ", group " + group + ")");
    }
    r.fixes.push_back(udevFix(path, r.fixes.empty() ? "let whoever sits at this computer use such adapters"
                                                    : "or let whoever sits at this computer use such adapters",
                              "MODE=\"0660\", TAG+=\"uaccess\""));
}

void explainHolders(Report &r)
{
    std::string pids;
    bool others = false;
    for (const Holder &h : r.holders) {
        if (h.name == "ModemManager")
            continue; // its own advice follows
        pids += " " + std::to_string(h.pid);
        others = true;
    }
    if (others)
        r.fixes.push_back(std::string(pids.find(' ', 1) == std::string::npos ? "close that program"
                                                                              : "close those programs") +
                          ", or run: kill" + pids);
}

void explainModemManager(Report &r)
{
    r.reasons.push_back("ModemManager is running; it probes freshly plugged serial adapters and can hold them "
                        "for a few seconds");
    r.fixes.push_back("wait a few seconds after plugging in, then connect again");
    r.fixes.push_back("or stop it on this bench computer: sudo systemctl stop ModemManager");
    r.fixes.push_back(
        udevFix(r.devicePath, "or tell it to leave such adapters alone", "ENV{ID_MM_DEVICE_IGNORE}=\"1\""));
}

#endif // __linux__

std::string generalAdvice()
{
#if defined(_WIN32)
    return "check in Device Manager that the port is there, and close any other program that may have it open "
           "(a COM port serves one program at a time)";
#elif defined(__linux__)
    return "nothing stands in the way now; if opening keeps failing, unplug the adapter, plug it in again and "
           "look at the end of: sudo dmesg";
#else
    return "check that the adapter is plugged in and that no other program has the port open "
           "(on macOS, choose the cu. device)";
#endif
}

} // namespace

Report examine(const std::string &devicePath)
{
    Report r;
    r.devicePath = devicePath;
#ifdef __linux__
    if (devicePath.empty()) {
        r.access = Access::Missing;
        r.reasons.push_back("no serial port chosen");
        return r;
    }
    // The same rule as QSerialPort's: anything not a path is a name under /dev.
    if (devicePath[0] != '/' && devicePath.compare(0, 2, "./") != 0 && devicePath.compare(0, 3, "../") != 0)
        r.devicePath = "/dev/" + devicePath;
    const std::string &path = r.devicePath;

    struct stat node;
    if (::stat(path.c_str(), &node) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            r.access = Access::Missing;
            r.reasons.push_back("no device " + path + ": unplugged?");
            r.fixes.push_back("plug the adapter in, or choose the port it has now");
        } else if (errno == EACCES) {
            r.access = Access::NoPermission;
            r.reasons.push_back("a directory on the way to " + path + " is closed to you");
        } else {
            r.access = Access::Unknown;
        }
        return r;
    }
    if (S_ISDIR(node.st_mode)) {
        r.access = Access::Unknown;
        r.reasons.push_back(path + " is a directory, not a serial device");
        return r;
    }

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
    explainHolders(r);
    if (r.modemManagerRunning)
        explainModemManager(r);
#endif
    return r;
}

std::string describe(const Report &report)
{
    std::string out;
    for (const std::string &reason : report.reasons)
        out += (out.empty() ? "" : "\n") + reason;
    for (const std::string &fix : report.fixes) {
        out += (out.empty() ? "  fix: " : "\n  fix: ");
        // Lines after the first of a fix line up under its text.
        for (char c : fix)
            out += c == '\n' ? std::string("\n       ") : std::string(1, c);
    }
    return out;
}

std::string hintForFailedOpen(const std::string &devicePath)
{
    const std::string text = describe(examine(devicePath));
    return text.empty() ? generalAdvice() : text;
}

} // namespace PortDiagnostics
