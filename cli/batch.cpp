// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/batch.h"

#include <QEventLoop>
#include <QHash>
#include <QJsonDocument>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/session.h"
#include "cli/writecommands.h"
#include "os/safefile.h"
#include "os/stopsignals.h"

// Each unit runs restore's own blocking session, on a thread of its own with
// its own link: the one code path that writes a controller stays the one
// that restore runs, and units wait on their own lines side by side. This
// thread only starts them, watches for ports and keeps the report.

namespace Batch {
namespace {

using namespace Cli;

std::mutex &outputLock()
{
    static std::mutex lock;
    return lock;
}

// Every line after its port's name, so that units running side by side can be told apart.
void sayFor(const QString &port, const QString &text, bool toStderr)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line.prepend(port + QStringLiteral(": "));
    const std::lock_guard<std::mutex> lock(outputLock());
    (toStderr ? Output::printError : Output::print)(lines.join(QLatin1Char('\n')));
}

void sayError(const QString &text)
{
    const std::lock_guard<std::mutex> lock(outputLock());
    Output::printError(text);
}

struct Row {
    int unit = 0;
    QDateTime time;
    QString port;
    BlockHistory::Adapter adapter;
    std::optional<ParamBlock> before; // as read at contact
    std::optional<ParamBlock> after;  // what the controller is known to hold at the end
    Holds holds = Holds::Unchanged;
    QString result;
    int code = ExitCode::kOk;
};

QString holdsWord(Holds holds)
{
    switch (holds) {
    case Holds::Unchanged: return QStringLiteral("unchanged");
    case Holds::PartlyWritten: return QStringLiteral("partly written");
    case Holds::InRam: return QStringLiteral("in RAM only");
    case Holds::StoreUnknown: return QStringLiteral("store unknown");
    case Holds::StoreFailed: return QStringLiteral("store failed");
    case Holds::Stored: return QStringLiteral("stored");
    }
    return {};
}

// restore of this one port, so that its messages and its "run again" are
// those of the command that would configure this unit alone.
std::unique_ptr<Command> unitCommand(const Options &o, const QString &port)
{
    auto c = std::make_unique<Command>(QStringLiteral("restore"), QString(), true);
    for (const char *name : {"yes", "save", "verify", "force"})
        c->parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    QStringList args{QStringLiteral("--port"), port, o.file, QStringLiteral("--yes")};
    if (o.save)
        args << QStringLiteral("--save");
    if (o.verify)
        args << QStringLiteral("--verify");
    if (o.force)
        args << QStringLiteral("--force");
    c->parse(args);
    c->sink = [port](const QString &text, bool) { sayFor(port, text, true); };
    return c;
}

using Post = std::function<void(const Row &)>;

// The rest of restore once the contact's first read is done (readCode -1),
// or its failure, and the unit's row.
Row finish(const Options &o, const Command &c, Session &s, int readCode)
{
    Row row;
    row.port = c.port;
    row.adapter = s.adapter;
    row.code = readCode;
    if (readCode < 0) {
        row.before = s.block();
        row.code = restoreUnit(c, s, o.file, o.target);
    }
    row.holds = s.current();
    // A write cut off part way may have left any mix of the two blocks in RAM.
    if (row.holds == Holds::PartlyWritten)
        row.after.reset();
    else if (s.readBack)
        row.after = s.readBack;
    else if (row.holds != Holds::Unchanged)
        row.after = o.target;
    else
        row.after = row.before;
    row.time = QDateTime::currentDateTime();
    if (row.code == ExitCode::kOk) {
        QStringList done{row.before != o.target ? QStringLiteral("written") : QStringLiteral("already held")};
        if (o.save)
            done << QStringLiteral("stored");
        if (o.verify)
            done << QStringLiteral("verified");
        row.result = done.join(QStringLiteral(", "));
    } else {
        row.result = c.failure;
    }
    return row;
}

void oneUnit(const Options &o, const QString &port, const BlockHistory::Adapter &adapter, int unit, const Post &post)
{
    const std::unique_ptr<Command> c = unitCommand(o, port);
    Session s;
    s.adapter = adapter;
    s.adapterKnown = true;
    Row row = finish(o, *c, s, s.openAndRead(*c));
    row.unit = unit;
    post(row);
}

// Configures every controller that comes to this adapter, until the adapter
// goes or a signal comes. A port that can't be opened leaves why in *error.
void watchPort(const Options &o, const QString &port, const BlockHistory::Adapter &adapter, const Post &post,
               QString *error)
{
    const std::unique_ptr<Command> c = unitCommand(o, port);
    Session s;
    s.adapter = adapter;
    s.adapterKnown = true;
    if (!s.runner.open(port, error))
        return;
    const auto signalled = [] { return StopSignals::pending() != 0; };
    const auto readWhole = [&] {
        s.task.download();
        return s.runner.run(s.task, {}, signalled);
    };
    for (;;) {
        // A controller has come when it answers a whole read after silence:
        // until then one read request a tick.
        LinkRunner::Result result;
        do
            result = readWhole();
        while (result == LinkRunner::Result::Silent || result == LinkRunner::Result::Refused);
        if (result != LinkRunner::Result::Done)
            return;
        s.checkContact(*c);
        post(finish(o, *c, s, -1));
        // The unit done stays one until it falls silent: only an answer
        // after that is the next one.
        do
            result = readWhole();
        while (result == LinkRunner::Result::Done || result == LinkRunner::Result::Refused);
        if (result != LinkRunner::Result::Silent)
            return;
        s.newContact();
        c->failure.clear();
    }
}

QString blockText(const std::optional<ParamBlock> &block)
{
    if (!block)
        return {};
    QStringList bytes;
    for (std::uint8_t b : *block)
        bytes << QString::number(b);
    return bytes.join(QLatin1Char(' '));
}

QJsonValue blockValue(const std::optional<ParamBlock> &block)
{
    return block ? QJsonValue(BackupFile::blockJson(*block)) : QJsonValue(QJsonValue::Null);
}

// RFC 4180: a field with a comma, a quote or a line break goes in quotes, its quotes doubled.
QString csvField(QString field)
{
    static const QRegularExpression special(QStringLiteral("[,\"\r\n]"));
    if (!field.contains(special))
        return field;
    return QLatin1Char('"') + field.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

QByteArray csv(const std::vector<Row> &rows)
{
    QString text = QStringLiteral("unit,time,port,adapter,serial,usb,by_id,before,after,holds,result,exit_code\r\n");
    for (const Row &r : rows) {
        const QStringList fields{QString::number(r.unit),
                                 timeText(r.time),
                                 r.port,
                                 BlockHistory::adapterText(r.adapter),
                                 r.adapter.serial,
                                 r.adapter.usbId,
                                 r.adapter.byId,
                                 blockText(r.before),
                                 blockText(r.after),
                                 holdsWord(r.holds),
                                 r.result,
                                 QString::number(r.code)};
        QStringList quoted;
        for (const QString &f : fields)
            quoted << csvField(f);
        text += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

QJsonObject document(const Options &o, const std::vector<Row> &rows)
{
    QJsonArray units;
    for (const Row &r : rows) {
        QJsonObject u;
        u.insert(QStringLiteral("unit"), r.unit);
        u.insert(QStringLiteral("time"), timeText(r.time));
        u.insert(QStringLiteral("port"), r.port);
        u.insert(QStringLiteral("adapter"), adapterJson(r.adapter));
        u.insert(QStringLiteral("before"), blockValue(r.before));
        u.insert(QStringLiteral("after"), blockValue(r.after));
        u.insert(QStringLiteral("holds"), holdsWord(r.holds));
        u.insert(QStringLiteral("result"), r.result);
        u.insert(QStringLiteral("exitCode"), r.code);
        units.append(u);
    }
    QJsonObject d;
    d.insert(QStringLiteral("file"), o.file);
    d.insert(QStringLiteral("channels"), Output::channelsJson(o.target));
    d.insert(QStringLiteral("block"), BackupFile::blockJson(o.target));
    d.insert(QStringLiteral("units"), units);
    return d;
}

// One port of a --wait run, watched from this thread.
struct Watch {
    explicit Watch(QString name) : port(std::move(name)) {}
    QString port;
    bool busy = false;
    int restTicks = 0; // after a failed open, before the next try
    QString said;      // the last reason it did not open, said once
};

// Ticks between two tries at a port that is there but would not open.
constexpr int kRetryTicks = 20;

class Run
{
public:
    explicit Run(const Options &options) : o(options) {}

    int exec()
    {
        // Read here, before any thread: reading it changes the application's name for a moment.
        windowLanguage();
        // And the history's file found under that name, once.
        history();
        writeReport();
        if (o.wait)
            startWatching();
        else
            startAll();
        if (running > 0 || o.wait)
            loop.exec();
        const auto failed = std::count_if(rows.begin(), rows.end(), [](const Row &r) { return r.code != 0; });
        sayError(QStringLiteral("%1 unit(s): %2 configured, %3 failed.")
                     .arg(rows.size())
                     .arg(qint64(rows.size()) - failed)
                     .arg(qint64(failed)));
        return exitCode();
    }

private:
    void start(const std::function<void()> &job, const std::function<void()> &done = {})
    {
        QThread *thread = QThread::create(job);
        ++running;
        QObject::connect(thread, &QThread::finished, &context, [this, thread, done] {
            thread->wait();
            delete thread;
            --running;
            if (done)
                done();
            if (running == 0 && (!o.wait || stopping))
                loop.quit();
        });
        thread->start();
    }

    Post poster()
    {
        return [this](const Row &row) { QMetaObject::invokeMethod(&context, [this, row] { take(row); }, Qt::QueuedConnection); };
    }

    void startAll()
    {
        QStringList absolute;
        for (const QString &port : o.ports)
            absolute << PortList::absoluteName(port);
        // The system is asked about every adapter once, here, not by each thread.
        const QList<PortList::Facts> facts = PortList::factsOf(absolute);
        for (int i = 0; i < o.ports.size(); ++i) {
            const BlockHistory::Adapter adapter = BlockHistory::adapterOf(facts.value(i), absolute[i]);
            const QString port = o.ports[i];
            const Post post = poster();
            start([this, port, adapter, i, post] { oneUnit(o, port, adapter, i + 1, post); });
        }
    }

    void startWatching()
    {
        if (o.ports.isEmpty()) {
            scan = std::make_unique<PortList::SystemPortScan>();
            const QStringList present = PortList::availablePortNames(*scan);
            ignored = QSet<QString>(present.begin(), present.end());
            sayError(QStringLiteral("Waiting for serial ports plugged in from now on; Ctrl+C ends the run.") +
                     (present.isEmpty() ? QString()
                                        : QStringLiteral(" Left alone, as they were there before: %1 "
                                                         "(name them with --port to include them).")
                                              .arg(present.join(QStringLiteral(", ")))));
        } else {
            for (const QString &port : o.ports)
                watches.emplace_back(port);
            sayError(QStringLiteral("Waiting for controllers on %1; Ctrl+C ends the run.")
                         .arg(o.ports.join(QStringLiteral(", "))));
        }
        QObject::connect(&ticker, &QTimer::timeout, &context, [this] { tick(); });
        ticker.start(LinkTask::kTickMs);
        tick();
    }

    void tick()
    {
        if (StopSignals::pending() != 0) {
            stopping = true;
            ticker.stop();
            if (running == 0)
                loop.quit();
            return;
        }
        if (o.ports.isEmpty())
            for (const QString &name : PortList::availablePortNames(*scan))
                if (!ignored.contains(name)) {
                    ignored.insert(name);
                    watches.emplace_back(name);
                }
        for (Watch &w : watches) {
            if (w.busy)
                continue;
            if (w.restTicks > 0) {
                --w.restTicks;
                continue;
            }
            if (!PortList::isPresent(w.port))
                continue;
            w.busy = true;
            const QString absolute = PortList::absoluteName(w.port);
            const BlockHistory::Adapter adapter =
                BlockHistory::adapterOf(PortList::factsOf({absolute}).value(0), absolute);
            const auto error = std::make_shared<QString>();
            const QString port = w.port;
            const Post post = poster();
            Watch *watch = &w;
            start([this, port, adapter, post, error] { watchPort(o, port, adapter, post, error.get()); },
                  [watch, error] {
                      watch->busy = false;
                      if (error->isEmpty())
                          return;
                      watch->restTicks = kRetryTicks;
                      if (*error != watch->said)
                          sayFor(watch->port, *error, true);
                      watch->said = *error;
                  });
        }
    }

    void take(Row row)
    {
        if (row.unit == 0)
            row.unit = int(rows.size()) + 1;
        rows.insert(std::upper_bound(rows.begin(), rows.end(), row.unit,
                                     [](int unit, const Row &r) { return unit < r.unit; }),
                    row);
        writeReport();
        const QString line = row.code == ExitCode::kOk
                                 ? row.result
                                 : QStringLiteral("FAILED (exit %1, %2): %3")
                                       .arg(row.code)
                                       .arg(holdsWord(row.holds), row.result.section(QLatin1Char('\n'), 0, 0));
        sayFor(row.port, line + QStringLiteral(" (unit %1)").arg(row.unit), o.json);
    }

    // Written whole after every unit, so that a run cut short leaves a
    // complete report of the units so far. Its troubles never stop a unit.
    void writeReport()
    {
        if (o.report.isEmpty())
            return;
        const bool asJson = o.report.endsWith(QLatin1String(".json"), Qt::CaseInsensitive);
        QString why;
        if (SafeFile::replace(o.report, asJson ? QJsonDocument(document(o, rows)).toJson() : csv(rows), &why)) {
            reportWhy.clear();
            return;
        }
        reportFailed = true;
        if (why != reportWhy)
            sayError(QStringLiteral("sbus-channel-cli restore: cannot write the report %1: %2; the units' jobs go on")
                         .arg(o.report, why));
        reportWhy = why;
    }

    int exitCode() const
    {
        if (o.json) {
            const std::lock_guard<std::mutex> lock(outputLock());
            Output::printJson(document(o, rows));
        }
        for (const Row &r : rows)
            if (r.code >= ExitCode::kSignalled)
                return r.code;
        for (const Row &r : rows)
            if (r.code != ExitCode::kOk)
                return r.code;
        return reportFailed ? ExitCode::kNotDone : ExitCode::kOk;
    }

    const Options &o;
    QObject context;
    QEventLoop loop;
    QTimer ticker;
    int running = 0;
    bool stopping = false;
    std::vector<Row> rows;
    bool reportFailed = false;
    QString reportWhy;
    std::deque<Watch> watches;
    QSet<QString> ignored;
    std::unique_ptr<PortList::SystemPortScan> scan;
};

} // namespace

QString duplicatePorts(const QStringList &ports)
{
    QHash<QString, QString> byDevice;
    for (const QString &port : ports) {
        const QString device = PortList::deviceName(port);
        const auto seen = byDevice.constFind(device);
        if (seen == byDevice.constEnd()) {
            byDevice.insert(device, port);
            continue;
        }
        if (*seen == port)
            return QStringLiteral("--port %1 is given twice").arg(port);
        return QStringLiteral("--port %1 and --port %2 are the same device, %3").arg(*seen, port, device);
    }
    return {};
}

int run(const Options &options)
{
    return Run(options).exec();
}

} // namespace Batch
