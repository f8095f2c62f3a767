// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "formats/blockhistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

#include "formats/functionnames.h"
#include "lang/qtlanguage.h"
#include "link/paramexchange.h"
#include "os/safefile.h"

namespace BlockHistory {
namespace {
const char *const kChineseFunctionNames[kFunctionCount] = {"俯仰", "指向", "模式", "录像", "变焦"};

QString functionText(int function, Language language)
{
    return language == Language::Chinese ? QString::fromUtf8(kChineseFunctionNames[function]) : functionName(function);
}

int functionOfSlot(int slot)
{
    for (int f = 0; f < kFunctionCount; ++f)
        if (kFunctionSlot[std::size_t(f)] == slot)
            return f;
    return -1;
}

QString eventName(Event event)
{
    switch (event) {
    case Event::Read: return QStringLiteral("read");
    case Event::Write: return QStringLiteral("write");
    case Event::Store: return QStringLiteral("store");
    }
    return {};
}

// A JSON string the way the library quotes it.
QByteArray quoted(const QString &text)
{
    const QByteArray list = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return list.mid(1, list.size() - 2);
}

QByteArray blockText(const ParamBlock &block)
{
    QByteArray out = "[";
    for (std::size_t i = 0; i < block.size(); ++i)
        out += (i ? "," : "") + QByteArray::number(block[i]);
    return out + ']';
}

// Laid out by hand so that every line reads in the same order: when, who,
// what, through which adapter, the block.
QByteArray lineOf(const Entry &entry)
{
    const QDateTime time = entry.time.toOffsetFromUtc(entry.time.offsetFromUtc());
    QByteArray out = "{\"time\":" + quoted(time.toString(Qt::ISODateWithMs));
    out += ",\"program\":" + quoted(entry.program);
    out += ",\"event\":" + quoted(eventName(entry.event));
    if (entry.event == Event::Store)
        out += QByteArray(",\"stored\":") + (entry.stored ? "true" : "false");
    QByteArray adapter;
    const std::pair<const char *, const QString *> fields[] = {{"serial", &entry.adapter.serial},
                                                               {"usb", &entry.adapter.usbId},
                                                               {"byId", &entry.adapter.byId},
                                                               {"port", &entry.adapter.port}};
    for (const auto &[name, value] : fields) {
        if (!value->isEmpty())
            adapter += (adapter.isEmpty() ? "\"" : ",\"") + QByteArray(name) + "\":" + quoted(*value);
    }
    out += ",\"adapter\":{" + adapter + '}';
    out += ",\"block\":" + blockText(entry.block);
    if (entry.event == Event::Write && entry.before)
        out += ",\"before\":" + blockText(*entry.before);
    return out + "}\n";
}

bool blockOf(const QJsonValue &value, ParamBlock *block)
{
    const QJsonArray list = value.toArray();
    if (!value.isArray() || list.size() != kParamSlots)
        return false;
    for (int i = 0; i < kParamSlots; ++i) {
        const QJsonValue v = list.at(i);
        const double d = v.toDouble(-1);
        if (!v.isDouble() || !std::isfinite(d) || d != std::floor(d) || d < 0 || d > 255)
            return false;
        (*block)[std::size_t(i)] = std::uint8_t(d);
    }
    return true;
}

// One line back into an entry; false for anything that is not one whole
// entry of ours, which is then skipped rather than half believed.
bool entryOf(const QByteArray &line, Entry *entry)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    const QJsonValue time = o.value(QStringLiteral("time"));
    const QJsonValue program = o.value(QStringLiteral("program"));
    const QJsonValue event = o.value(QStringLiteral("event"));
    const QJsonValue adapter = o.value(QStringLiteral("adapter"));
    if (!time.isString() || !program.isString() || !event.isString() || !(adapter.isObject() || adapter.isUndefined()))
        return false;
    Entry e;
    e.time = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
    if (!e.time.isValid())
        return false;
    e.program = program.toString();
    if (event.toString() == QLatin1String("read"))
        e.event = Event::Read;
    else if (event.toString() == QLatin1String("write"))
        e.event = Event::Write;
    else if (event.toString() == QLatin1String("store"))
        e.event = Event::Store;
    else
        return false;
    const QJsonObject a = adapter.toObject();
    const std::pair<const char *, QString *> fields[] = {
        {"serial", &e.adapter.serial}, {"usb", &e.adapter.usbId}, {"byId", &e.adapter.byId}, {"port", &e.adapter.port}};
    for (const auto &[name, value] : fields) {
        const QJsonValue v = a.value(QLatin1String(name));
        if (!v.isUndefined() && !v.isString())
            return false;
        *value = v.toString();
    }
    if (!blockOf(o.value(QStringLiteral("block")), &e.block))
        return false;
    if (e.event == Event::Store) {
        const QJsonValue stored = o.value(QStringLiteral("stored"));
        if (!stored.isBool())
            return false;
        e.stored = stored.toBool();
    }
    if (e.event == Event::Write) {
        // What an undo goes back to: a write without it is of no use, and
        // one with a broken one must not be undone to something else.
        ParamBlock before{};
        if (!blockOf(o.value(QStringLiteral("before")), &before))
            return false;
        e.before = before;
    }
    *entry = e;
    return true;
}

// Where neither adapter has a USB identity, the port is all there is; the
// window lists "ttyUSB0" where a script may say "/dev/ttyUSB0".
QString portKey(const QString &port)
{
    return PortList::systemLocation(port);
}

bool exists(const QString &path)
{
    return QFileInfo::exists(path);
}

bool otherThanFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
}

#ifdef Q_OS_UNIX
QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// One write of the whole line, onto the end of a regular file only, never
// waiting on what is not one. A write the system cut short is taken back,
// so the file never keeps half a line of ours.
bool appendLine(const QString &target, const QByteArray &line, qint64 *size, QString *why, bool *notRegular)
{
    const int fd = ::open(QFile::encodeName(target).constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        *why = systemError(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("it is not a regular file");
        *notRegular = true;
        ::close(fd);
        return false;
    }
    QByteArray out = line;
    // A line torn by a crash is left to be skipped; ours starts on a line of its own.
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        out.prepend('\n');
    ssize_t n;
    do
        n = ::write(fd, out.constData(), size_t(out.size()));
    while (n < 0 && errno == EINTR);
    bool ok = n == out.size();
    if (!ok) {
        *why = n < 0 ? systemError(errno)
                     : QStringLiteral("only %1 of %2 bytes reached the file").arg(qint64(n)).arg(out.size());
        struct stat now;
        if (n > 0 && ::fstat(fd, &now) == 0 && now.st_size == st.st_size + n)
            (void)!::ftruncate(fd, st.st_size);
    }
    // The history is what a later contact is checked against; it has to be
    // on the disk, not only in the system's cache.
    if (ok && ::fdatasync(fd) != 0 && errno != EINVAL) {
        *why = systemError(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        *why = systemError(errno);
        ok = false;
    }
    *size = st.st_size + out.size();
    return ok;
}
#else
QString systemError(DWORD error)
{
    return qt_error_string(int(error)).trimmed();
}

bool appendLine(const QString &target, const QByteArray &line, qint64 *size, QString *why, bool *notRegular)
{
    // Append data only: every write lands at the end, whoever else appends.
    const HANDLE handle = ::CreateFileW(QDir::toNativeSeparators(target).toStdWString().c_str(),
                                        FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *why = systemError(::GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER length;
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !::GetFileSizeEx(handle, &length)) {
        *why = QStringLiteral("it is not a regular file");
        *notRegular = true;
        ::CloseHandle(handle);
        return false;
    }
    QByteArray out = line;
    if (length.QuadPart > 0) {
        OVERLAPPED at{};
        at.Offset = DWORD(length.QuadPart - 1);
        at.OffsetHigh = DWORD((length.QuadPart - 1) >> 32);
        char last = '\n';
        DWORD got = 0;
        if (::ReadFile(handle, &last, 1, &got, &at) && got == 1 && last != '\n')
            out.prepend('\n');
    }
    DWORD n = 0;
    bool ok = ::WriteFile(handle, out.constData(), DWORD(out.size()), &n, nullptr) && n == DWORD(out.size());
    if (!ok)
        *why = n == 0 ? systemError(::GetLastError())
                      : QStringLiteral("only %1 of %2 bytes reached the file").arg(qint64(n)).arg(out.size());
    if (ok && !::FlushFileBuffers(handle)) {
        *why = systemError(::GetLastError());
        ok = false;
    }
    ::CloseHandle(handle);
    *size = length.QuadPart + out.size();
    return ok;
}
#endif
} // namespace

Adapter adapterOf(const PortList::Facts &facts, const QString &port)
{
    Adapter a;
    a.serial = facts.serialNumber;
    a.usbId = facts.usbId;
    a.byId = facts.stableName;
    // A port chosen by its by-id name is its own stable name.
    if (a.byId.isEmpty() && port.startsWith(QLatin1String("/dev/serial/by-id/")))
        a.byId = port;
    a.port = port;
    return a;
}

Adapter adapterOf(const QString &port)
{
    const QList<PortList::Facts> facts = PortList::factsOf({port});
    return adapterOf(facts.value(0), port);
}

bool sameAdapter(const Adapter &a, const Adapter &b)
{
    if (!a.byId.isEmpty() && !b.byId.isEmpty())
        return a.byId == b.byId;
    if (!a.serial.isEmpty() && !b.serial.isEmpty())
        return a.usbId == b.usbId && a.serial == b.serial;
    const bool aUsb = !a.byId.isEmpty() || !a.serial.isEmpty() || !a.usbId.isEmpty();
    const bool bUsb = !b.byId.isEmpty() || !b.serial.isEmpty() || !b.usbId.isEmpty();
    if (!aUsb && !bUsb)
        return !a.port.isEmpty() && portKey(a.port) == portKey(b.port);
    // Adapters that have no serial number at all (many cheap ones) are told
    // apart by their type and where they are plugged in, as nothing else is
    // known of them.
    if (a.serial.isEmpty() && b.serial.isEmpty() && a.byId.isEmpty() && b.byId.isEmpty() && !a.usbId.isEmpty())
        return a.usbId == b.usbId && portKey(a.port) == portKey(b.port);
    return false;
}

QString adapterText(const Adapter &adapter)
{
    if (!adapter.byId.isEmpty())
        return adapter.byId;
    if (!adapter.serial.isEmpty())
        return adapter.usbId.isEmpty() ? QStringLiteral("serial %1").arg(adapter.serial)
                                       : QStringLiteral("USB %1 serial %2").arg(adapter.usbId, adapter.serial);
    return adapter.port;
}

Entry makeEntry(const QDateTime &time, const QString &program, const Adapter &adapter, Event event,
                const ParamBlock &block, bool stored, std::optional<ParamBlock> before)
{
    Entry e;
    e.time = time;
    e.program = program;
    e.adapter = adapter;
    e.event = event;
    e.stored = stored;
    e.block = block;
    e.before = before;
    return e;
}

QString History::defaultPath()
{
    // Set, it names the file; set but empty, it keeps the history off (the
    // test suites, a machine that must not remember).
    if (qEnvironmentVariableIsSet("SBUS_CHANNEL_HISTORY"))
        return qEnvironmentVariable("SBUS_CHANNEL_HISTORY");
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return base + QStringLiteral("/sbus-channel/history.jsonl");
}

History::History(QString path)
    : path_(std::move(path))
{
}

void History::note(Trouble trouble, const QString &why, int corrupt)
{
    if (trouble != trouble_)
        told_ = false;
    trouble_ = trouble;
    systemError_ = why;
    corruptLines_ = corrupt;
}

bool History::append(const Entry &entry)
{
    // No path: the history is off, which is no trouble.
    if (path_.isEmpty())
        return true;
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder)) {
        note(Trouble::Unwritable, QStringLiteral("the folder %1 can't be made").arg(QDir::toNativeSeparators(folder)));
        return false;
    }
    QString why;
    const QString target = SafeFile::writeTarget(path_, &why);
    if (target.isEmpty()) {
        if (otherThanFile(path_))
            note(Trouble::NotRegular, SafeFile::kindOf(path_));
        else
            note(Trouble::Unwritable, why);
        return false;
    }
    qint64 size = 0;
    bool notRegular = false;
    if (!appendLine(target, lineOf(entry), &size, &why, &notRegular)) {
        note(notRegular ? Trouble::NotRegular : Trouble::Unwritable, why);
        return false;
    }
    if (size > kMaxBytes)
        trim();
    return true;
}

// The newer half replaces the whole file at once, from a line's start. Should
// that fail, the file stays as it was, and the next entry tries again.
void History::trim()
{
    constexpr qint64 kKeep = kMaxBytes / 2;
    QByteArray data;
    QString why;
    if (!SafeFile::readRegular(path_, kKeep, &data, &why, true))
        return;
    if (data.size() > kKeep) {
        const int end = data.indexOf('\n');
        data = end < 0 ? QByteArray() : data.mid(end + 1);
    }
    SafeFile::replace(path_, data, &why);
}

QList<Entry> History::entries()
{
    QList<Entry> out;
    // A failed write stays said until it is told; a good read says nothing of it.
    const auto fine = [this] {
        if (trouble_ != Trouble::Unwritable)
            note(Trouble::None, {});
    };
    if (path_.isEmpty() || !exists(path_)) {
        if (!path_.isEmpty() && otherThanFile(path_))
            note(Trouble::NotRegular, SafeFile::kindOf(path_));
        else
            fine();
        return out;
    }
    if (otherThanFile(path_)) {
        note(Trouble::NotRegular, SafeFile::kindOf(path_));
        return out;
    }
    constexpr qint64 kMaxRead = 2 * kMaxBytes;
    QByteArray data;
    QString why;
    if (!SafeFile::readRegular(path_, kMaxRead, &data, &why, true)) {
        note(otherThanFile(path_) ? Trouble::NotRegular : Trouble::Unreadable, why);
        return out;
    }
    // Longer than any history is let grow: its newest part, from a line's start.
    if (data.size() > kMaxRead) {
        const int end = data.indexOf('\n');
        data = end < 0 ? QByteArray() : data.mid(end + 1);
    }
    int corrupt = 0;
    for (const QByteArray &line : data.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        Entry e;
        if (entryOf(line, &e))
            out.append(e);
        else
            ++corrupt;
    }
    if (corrupt > 0)
        note(Trouble::Corrupt, {}, corrupt);
    else
        fine();
    return out;
}

std::optional<Entry> History::lastStored(const Adapter &adapter)
{
    const QList<Entry> all = entries();
    for (auto e = all.crbegin(); e != all.crend(); ++e)
        if (e->event == Event::Store && e->stored && sameAdapter(e->adapter, adapter))
            return *e;
    return std::nullopt;
}

std::optional<Entry> History::lastWrite(const Adapter &adapter)
{
    const QList<Entry> all = entries();
    for (auto e = all.crbegin(); e != all.crend(); ++e)
        if (e->event == Event::Write && e->before && sameAdapter(e->adapter, adapter))
            return *e;
    return std::nullopt;
}

QString History::problem(Language language) const
{
    const QString path = QDir::toNativeSeparators(path_);
    switch (trouble_) {
    case Trouble::None:
        return {};
    case Trouble::NotRegular:
        return textIn({"已烧写参数的历史记录 %1 不是普通文件（%2）；程序不读也不写它，因此断电后的核对和撤销不可用。"
                       "请删除它，或在该处放置一个普通文件。",
                       "The history of stored blocks at %1 is not a regular file (%2); nothing is read from it or "
                       "written to it, so checks after power cycles and undo are off. Remove it, or put a regular "
                       "file there."},
                      language)
            .arg(path, systemError_);
    case Trouble::Unreadable:
        return textIn({"无法读取已烧写参数的历史记录 %1（%2）；在能读取之前，断电后的核对和撤销不可用。",
                       "The history of stored blocks at %1 can't be read (%2); checks after power cycles and undo "
                       "are off until it can."},
                      language)
            .arg(path, systemError_);
    case Trouble::Unwritable:
        return textIn({"无法写入已烧写参数的历史记录 %1（%2）；刚才的操作未记入，断电后无法核对，也无法撤销。",
                       "The history of stored blocks at %1 can't be written (%2); what was just done is not in it, "
                       "so it can't be checked after a power cycle or undone."},
                      language)
            .arg(path, systemError_);
    case Trouble::Corrupt:
        return textIn({"已烧写参数的历史记录 %1 中有 %2 行无法读取，已跳过。",
                       "The history of stored blocks at %1 has %2 unreadable lines, which were skipped."},
                      language)
            .arg(path)
            .arg(corruptLines_);
    }
    return {};
}

QString History::takeProblem(Language language)
{
    if (told_ || trouble_ == Trouble::None)
        return {};
    told_ = true;
    return problem(language);
}

std::vector<Difference> differences(const ParamBlock &from, const ParamBlock &to)
{
    // The five functions first, in row order, as people look for them; then
    // the controller's own slots.
    std::vector<Difference> out;
    for (int f = 0; f < kFunctionCount; ++f) {
        const std::size_t slot = std::size_t(kFunctionSlot[std::size_t(f)]);
        if (from[slot] != to[slot])
            out.push_back({int(slot), f, from[slot], to[slot]});
    }
    for (int slot = 0; slot < kParamSlots; ++slot) {
        if (functionOfSlot(slot) < 0 && from[std::size_t(slot)] != to[std::size_t(slot)])
            out.push_back({slot, -1, from[std::size_t(slot)], to[std::size_t(slot)]});
    }
    return out;
}

QString differencesText(const std::vector<Difference> &diffs, Language language)
{
    QStringList parts;
    for (const Difference &d : diffs) {
        const QString what = d.function >= 0 ? functionText(d.function, language)
                                             : textIn({"第 %1 字节", "slot %1"}, language).arg(d.slot);
        parts << QStringLiteral("%1 %2 \u2192 %3").arg(what).arg(d.from).arg(d.to);
    }
    return parts.join(textIn({"，", ", "}, language));
}

QString contactWarning(const Entry &stored, const ParamBlock &now, Language language)
{
    const std::vector<Difference> diffs = differences(stored.block, now);
    if (diffs.empty())
        return {};
    return textIn({"此控制器未保存 %1 通过此适配器烧写的参数：%2",
                   "This controller does not hold what was stored on %1 through this adapter: %2"},
                  language)
        .arg(stored.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), differencesText(diffs, language));
}

QString sharedChannelWarning(const ParamBlock &block, Language language)
{
    // By channel, in the order their first function comes in the rows.
    std::map<int, std::vector<int>> byChannel;
    std::vector<int> order;
    for (int f = 0; f < kFunctionCount; ++f) {
        const int channel = block[std::size_t(kFunctionSlot[std::size_t(f)])];
        if (!isSbusChannel(channel))
            continue;
        if (byChannel[channel].empty())
            order.push_back(channel);
        byChannel[channel].push_back(f);
    }
    QStringList clauses;
    for (int channel : order) {
        const std::vector<int> &functions = byChannel[channel];
        if (functions.size() < 2)
            continue;
        QStringList names;
        for (int f : functions)
            names << functionText(f, language);
        const QString last = names.takeLast();
        if (language == Language::Chinese) {
            clauses << QStringLiteral("%1和%2都在通道 %3").arg(names.join(QStringLiteral("、")), last).arg(channel);
        } else {
            clauses << QStringLiteral("%1 and %2 are %3 on channel %4")
                           .arg(names.join(QStringLiteral(", ")), last,
                                functions.size() == 2 ? QStringLiteral("both") : QStringLiteral("all"))
                           .arg(channel);
        }
    }
    return clauses.join(textIn({"；", "; "}, language));
}

} // namespace BlockHistory
