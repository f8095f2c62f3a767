// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/session.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include "formats/functionnames.h"
#include "lang/qtlanguage.h"
#include "os/configfile.h"
#include "os/stopsignals.h"

namespace Cli {

// What this program says in common with the window (the contact check, two
// functions on one channel, the history's troubles) is said in the window's
// language, read from the window's own language file. Before any choice is
// stored there, the command line keeps to English.
Language windowLanguage()
{
    static const Language language = [] {
        // The window finds its per-user file under its own name, not ours.
        const QString own = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("sbus-channel"));
        const QString path = ConfigFile::find().path;
        QCoreApplication::setApplicationName(own);
        if (path.isEmpty() || !QFileInfo(path).isFile())
            return Language::English;
        const QVariant stored = QSettings(path, QSettings::IniFormat).value(ConfigFile::languageEntry());
        if (!stored.isValid())
            return Language::English;
        // As the window reads it: 2 is English, anything else Chinese.
        return static_cast<quint8>(stored.toInt()) == 2 ? Language::English : Language::Chinese;
    }();
    return language;
}

QString said(const char *english, const char *chinese)
{
    return textIn({chinese, english}, windowLanguage());
}

// The per-user history the window keeps too. Its troubles are said once a
// run, and never stop a command: the controller's job comes first.
BlockHistory::History &history()
{
    static BlockHistory::History history;
    return history;
}

std::recursive_mutex &historyLock()
{
    static std::recursive_mutex lock;
    return lock;
}

void tellHistoryProblem(const Command &c)
{
    const std::lock_guard<std::recursive_mutex> lock(historyLock());
    // The window's language file is looked for only when there is something to say.
    if (history().problem().isEmpty())
        return;
    const QString problem = history().takeProblem(windowLanguage());
    if (!problem.isEmpty())
        c.err(QStringLiteral("sbus-channel-cli %1: %2").arg(c.name, problem));
}

// The adapter behind a port as given, a relative path made absolute so that
// it means the same from any directory.
BlockHistory::Adapter adapterBehind(const QString &port)
{
    return BlockHistory::adapterOf(PortList::absoluteName(port));
}

// Each slot that differs, its function null for one of the controller's
// own slots, its two values under the names given.
QJsonArray differencesJson(const std::vector<BlockHistory::Difference> &diffs, const QString &fromKey,
                           const QString &toKey)
{
    QJsonArray list;
    for (const BlockHistory::Difference &d : diffs) {
        QJsonObject o;
        o.insert(QStringLiteral("function"),
                 d.function >= 0 ? QJsonValue(functionName(d.function)) : QJsonValue(QJsonValue::Null));
        o.insert(QStringLiteral("slot"), d.slot);
        o.insert(fromKey, int(d.from));
        o.insert(toKey, int(d.to));
        list.append(o);
    }
    return list;
}

QString timeText(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QJsonObject adapterJson(const BlockHistory::Adapter &adapter)
{
    QJsonObject o;
    o.insert(QStringLiteral("serial"), adapter.serial);
    o.insert(QStringLiteral("usb"), adapter.usbId);
    o.insert(QStringLiteral("byId"), adapter.byId);
    o.insert(QStringLiteral("port"), adapter.port);
    o.insert(QStringLiteral("text"), BlockHistory::adapterText(adapter));
    return o;
}

void Session::newContact()
{
    holds = Holds::Unchanged;
    readBack.reset();
    notHeld.reset();
    contactWarning.clear();
}

int Session::openAndRead(const Command &c)
{
    QString error;
    if (!runner.open(c.port, &error))
        return c.fail(ExitCode::kPortUnavailable, error);
    if (!adapterKnown)
        adapter = adapterBehind(c.port);
    if (const int code = download(c); code >= 0)
        return code;
    checkContact(c);
    return -1;
}

void Session::checkContact(const Command &c)
{
    const std::lock_guard<std::recursive_mutex> lock(historyLock());
    const std::optional<BlockHistory::Entry> stored = history().lastStored(adapter);
    tellHistoryProblem(c);
    record(c, BlockHistory::Event::Read, block());
    if (!stored || stored->block == block())
        return;
    contactWarning = BlockHistory::contactWarning(*stored, block(), windowLanguage());
    if (contactWarning.isEmpty())
        return;
    notHeld = stored;
    c.err(QStringLiteral("sbus-channel-cli %1: %2\n").arg(c.name, contactWarning) +
          said("  Another controller is on this adapter, or this one did not keep its last store. "
               "What was stored when: sbus-channel-cli history --port %1",
               "  此适配器上换了控制器，或此控制器未保留上次烧写的参数。烧写记录：sbus-channel-cli "
               "history --port %1")
              .arg(c.port));
}

QJsonValue Session::contactCheckJson() const
{
    if (!notHeld)
        return QJsonValue::Null;
    QJsonObject o;
    o.insert(QStringLiteral("storedAt"), timeText(notHeld->time));
    o.insert(QStringLiteral("differences"),
             differencesJson(BlockHistory::differences(notHeld->block, block()), QStringLiteral("stored"),
                             QStringLiteral("now")));
    o.insert(QStringLiteral("message"), contactWarning);
    return o;
}

void Session::record(const Command &c, BlockHistory::Event event, const ParamBlock &held, bool stored,
                     std::optional<ParamBlock> before)
{
    const std::lock_guard<std::recursive_mutex> lock(historyLock());
    history().append(BlockHistory::makeEntry(QDateTime::currentDateTime(), QStringLiteral("cli"), adapter, event, held,
                                             stored, before));
    tellHistoryProblem(c);
}

int Session::step(const Command &c, const QString &what, bool interruptible, const std::function<void()> &onCycle,
                  const std::function<bool()> &stopWhen)
{
    const LinkRunner::Result result = runner.run(task, onCycle, [&] {
        return (interruptible && StopSignals::pending() != 0) || (stopWhen && stopWhen());
    });
    switch (result) {
    case LinkRunner::Result::Done:
        return -1;
    case LinkRunner::Result::Interrupted:
        return interruptible && StopSignals::pending() != 0 ? stopped(c) : -1;
    case LinkRunner::Result::Silent:
        return failed(c, ExitCode::kDeviceSilent, what);
    case LinkRunner::Result::Refused:
        return failed(c, ExitCode::kDeviceRefused, what);
    case LinkRunner::Result::PortLost:
        return failed(c, ExitCode::kPortUnavailable, what);
    }
    return -1;
}

int Session::download(const Command &c)
{
    task.download();
    return step(c, QStringLiteral("reading the parameters"), true);
}

int Session::stopIfSignalled(const Command &c) const
{
    return StopSignals::pending() != 0 ? stopped(c) : -1;
}

int Session::stopped(const Command &c) const
{
    const int signalNumber = StopSignals::pending();
    return c.fail(ExitCode::kSignalled + signalNumber, StopSignals::describe(signalNumber) + QStringLiteral("; ") + aftermath(c));
}

int Session::failed(const Command &c, int code, const QString &what) const
{
    QString text = QStringLiteral("%1: %2").arg(what, runner.failure());
    if (holds != Holds::Unchanged)
        text += QLatin1Char('\n') + aftermath(c);
    return c.fail(code, text);
}

QString Session::aftermath(const Command &c) const
{
    const QString again = QStringLiteral("\nTo put it right, run again:\n  ") + c.commandLine();
    switch (current()) {
    case Holds::Unchanged:
        return QStringLiteral("nothing was written; the controller keeps the parameters it had.");
    case Holds::PartlyWritten:
        return QStringLiteral("the write was cut off after %1 of its 3 parts: the controller's RAM may hold part "
                              "of the new parameters and part of the old. Nothing was stored permanently; "
                              "switching the controller off and on brings back the stored ones.")
                   .arg(task.writesConfirmed()) +
               again;
    case Holds::InRam:
        return QStringLiteral("the controller holds the new parameters in RAM; they are not stored "
                              "permanently and last until it is switched off.") +
               (saveWanted ? QStringLiteral("\nTo store them, run again:\n  ") + c.commandLine() : QString());
    case Holds::StoreUnknown:
        return QStringLiteral("the controller holds the new parameters in RAM; whether it stored them "
                              "permanently is not known.") +
               again;
    case Holds::StoreFailed:
        return QStringLiteral("the controller holds the new parameters in RAM, but could not store them "
                              "permanently.") +
               again;
    case Holds::Stored:
        return QStringLiteral("the controller holds the new parameters, stored permanently.");
    }
    return {};
}

// A save that a reply answered and that still ended refused is one the
// controller reported as failed; any other end leaves it unknown.
Holds Session::current() const
{
    const bool reportedFailed = task.job() == LinkTask::Job::Save && task.state() == LinkTask::State::Refused &&
                                task.exchange().saveRequest == 0;
    return holds == Holds::StoreUnknown && reportedFailed ? Holds::StoreFailed : holds;
}

} // namespace Cli
