// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

#include "link/frame.h"
#include "lang/language.h"
#include "port/portlist.h"

// A memory of every block this user's programs read from, wrote to or had
// stored by a controller, per adapter: so that a controller which no longer
// holds what it reported storing is noticed at the next contact, and the last
// write can be undone. One JSON object per line in a per-user file; the
// window and the command line write the same file through this.
namespace BlockHistory {

// Enough for tens of thousands of entries; beyond it the oldest half goes.
constexpr qint64 kMaxBytes = 4 * 1024 * 1024;

// Which adapter a controller was reached through. Two adapters are the same
// when their by-id names agree, else when their USB ids and serial numbers
// agree, else when neither has any of those and the port names agree.
struct Adapter {
    QString serial;   // USB serial number
    QString usbId;    // "0403:6001"
    QString byId;     // its /dev/serial/by-id name
    QString port;     // the port as the operator chose it
};
Adapter adapterOf(const PortList::Facts &facts, const QString &port);
// The adapter behind `port` now, asking the system.
Adapter adapterOf(const QString &port);
bool sameAdapter(const Adapter &a, const Adapter &b);
// How the adapter is shown to a person: its by-id name, serial or port.
QString adapterText(const Adapter &adapter);

enum class Event {
    Read,   // a whole block read on contact (the first download of a contact)
    Write,  // a whole block the controller confirmed holding in RAM
    Store,  // a store the controller answered; `stored` says how
};

struct Entry {
    QDateTime time;
    QString program;          // "window" or "cli"
    Adapter adapter;
    Event event = Event::Read;
    bool stored = false;      // Store only: the controller reported success
    ParamBlock block{};       // what the controller holds after the event
    // Write only: what it held before, the block an undo goes back to.
    std::optional<ParamBlock> before;
};

// An entry of `program` ("window" or "cli") through `adapter`, as both write them.
Entry makeEntry(const QDateTime &time, const QString &program, const Adapter &adapter, Event event,
                const ParamBlock &block, bool stored = false, std::optional<ParamBlock> before = std::nullopt);

class History
{
public:
    // The per-user file: <generic data location>/sbus-channel/history.jsonl
    // (~/.local/share/sbus-channel/ on Linux, %LOCALAPPDATA%\sbus-channel\ on
    // Windows).
    static QString defaultPath();
    explicit History(QString path = defaultPath());

    // Adds one entry as one whole line. Only a regular file (or a new one) is
    // written, and never in a way that could block; past kMaxBytes the file
    // is replaced, all at once, by its newer half. False when it could not
    // be written; problem() then says why.
    bool append(const Entry &entry);

    // Every entry that can be read, oldest first. A line that is not an entry
    // (a torn last line, an edit, another format) is skipped and noted in
    // problem(); a missing file is no problem.
    QList<Entry> entries();

    // The newest successful store through `adapter`, and the newest write.
    std::optional<Entry> lastStored(const Adapter &adapter);
    std::optional<Entry> lastWrite(const Adapter &adapter);

    // What went wrong with the file, in a bench user's words and the given
    // language; empty when nothing did. takeProblem() gives it once only, so
    // a program that says so on every contact says it once.
    QString problem(Language language = Language::English) const;
    QString takeProblem(Language language = Language::English);

    const QString &path() const { return path_; }

private:
    enum class Trouble { None, NotRegular, Unreadable, Unwritable, Corrupt };
    void note(Trouble trouble, const QString &why, int corrupt = 0);
    void trim();

    QString path_;
    Trouble trouble_ = Trouble::None;
    QString systemError_;
    int corruptLines_ = 0;
    bool told_ = false;
};

// One slot that differs between two blocks; function is -1 for a slot that
// belongs to the controller rather than to one of the five functions.
struct Difference {
    int slot = 0;
    int function = -1;
    std::uint8_t from = 0;
    std::uint8_t to = 0;
};
std::vector<Difference> differences(const ParamBlock &from, const ParamBlock &to);
// "tilt 3 → 1, slot 2 0 → 7" (Chinese: "俯仰 3 → 1，第 2 字节 0 → 7").
QString differencesText(const std::vector<Difference> &diffs, Language language);

// The contact check: empty when `now` is what `stored` holds; otherwise
// "This controller does not hold what was stored on 2026-12-07 14:02 through
// this adapter: tilt 3 → 1" in the given language, the time in local time.
QString contactWarning(const Entry &stored, const ParamBlock &now, Language language);

// Two or more functions on one SBUS channel: "tilt and zoom are both on
// channel 3" (one clause per shared channel); empty when all differ.
QString sharedChannelWarning(const ParamBlock &block, Language language);

} // namespace BlockHistory
