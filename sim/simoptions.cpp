// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "sim/simoptions.h"

#include <QCommandLineParser>
#include <QTimer>

#include <cmath>

#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"

namespace {

QCommandLineOption option(const char *name, const char *help, const char *valueName = nullptr)
{
    return valueName ? QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help),
                                          QString::fromLatin1(valueName))
                     : QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help));
}

QString value(const QCommandLineParser &parser, const char *name)
{
    return parser.value(QString::fromLatin1(name));
}

bool isSet(const QCommandLineParser &parser, const char *name)
{
    return parser.isSet(QString::fromLatin1(name));
}

// "0.2" or "20%" -> 0.2.
bool parseShare(const QString &text, double *share)
{
    QString t = text.trimmed();
    double scale = 1.0;
    if (t.endsWith(QLatin1Char('%'))) {
        t.chop(1);
        scale = 0.01;
    }
    bool ok = false;
    const double v = t.toDouble(&ok) * scale;
    if (!ok || !std::isfinite(v) || v < 0 || v > 1)
        return false;
    *share = v;
    return true;
}

bool parseSeconds(const QString &text, std::int64_t *ms)
{
    bool ok = false;
    const double s = text.trimmed().toDouble(&ok);
    // A day is far more than any bench session; beyond it a timer would overflow.
    if (!ok || !std::isfinite(s) || s < 0 || s > 86400)
        return false;
    *ms = std::llround(s * 1000);
    return true;
}

} // namespace

namespace SimOptions {

void add(QCommandLineParser &parser, const QString &description)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        option("flash", "File that holds the controller's stored parameter block (18 bytes). "
                        "Missing or unusable: the controller starts from its default block.", "file"),
        option("seed", "Seed of the random faults, for a run that can be repeated (default 1).", "n"),
        option("drop", "Share of replies lost on the line, 0..1 or a percentage.", "share"),
        option("corrupt", "Share of replies sent with a broken CRC.", "share"),
        option("wrong-echo", "Share of replies that answer another command than the one asked.", "share"),
        option("split", "Send every reply in random pieces, a few milliseconds apart."),
        option("noise", "Put random bytes on the line before every reply."),
        option("fail-saves", "The next n requests to store the parameters fail (reply 0x82).", "n"),
        option("forget-saves", "The next n requests to store the parameters are answered as stored, but the "
                               "flash is left as it was: after a restart the old block is back.", "n"),
        option("silent-after", "Stop answering this many seconds after start.", "seconds"),
        option("silent-for", "With --silent-after: answer again after this many seconds "
                             "(default: stay silent for good).", "seconds"),
        option("unplug-after", "Close the line this many seconds after start, as if the adapter were pulled out.",
               "seconds"),
    });
}

QString flashPath(const QCommandLineParser &parser, const QString &fallback)
{
    return isSet(parser, "flash") ? value(parser, "flash") : fallback;
}

std::uint32_t seed(const QCommandLineParser &parser)
{
    return isSet(parser, "seed") ? value(parser, "seed").toUInt() : 1u;
}

bool apply(const QCommandLineParser &parser, GimbalModel &model, PtyController &pty, QString *error)
{
    const auto fail = [error](const char *what, const QString &got) {
        *error = QStringLiteral("%1 (got \"%2\")").arg(QString::fromUtf8(what), got);
        return false;
    };
    if (isSet(parser, "seed")) {
        bool ok = false;
        value(parser, "seed").toUInt(&ok);
        if (!ok)
            return fail("--seed takes a whole number", value(parser, "seed"));
    }
    const struct {
        const char *name;
        double *share;
    } shares[] = {{"drop", &model.faults.dropShare},
                  {"corrupt", &model.faults.corruptShare},
                  {"wrong-echo", &model.faults.wrongEchoShare}};
    for (const auto &s : shares) {
        if (isSet(parser, s.name) && !parseShare(value(parser, s.name), s.share))
            return fail("a share is a number from 0 to 1, or a percentage", value(parser, s.name));
    }
    model.faults.splitReplies = isSet(parser, "split");
    model.faults.noise = isSet(parser, "noise");
    const struct {
        const char *name;
        int *count;
    } counts[] = {{"fail-saves", &model.faults.failSaves}, {"forget-saves", &model.faults.forgetSaves}};
    for (const auto &c : counts) {
        if (!isSet(parser, c.name))
            continue;
        bool ok = false;
        const int n = value(parser, c.name).toInt(&ok);
        if (!ok || n < 0) {
            *error = QStringLiteral("--%1 takes a count (got \"%2\")").arg(QLatin1String(c.name), value(parser, c.name));
            return false;
        }
        *c.count = n;
    }

    std::int64_t silentAfter = -1, silentFor = GimbalModel::kForever, unplugAfter = -1;
    if (isSet(parser, "silent-after") && !parseSeconds(value(parser, "silent-after"), &silentAfter))
        return fail("--silent-after takes seconds", value(parser, "silent-after"));
    if (isSet(parser, "silent-for") && !parseSeconds(value(parser, "silent-for"), &silentFor))
        return fail("--silent-for takes seconds", value(parser, "silent-for"));
    if (isSet(parser, "silent-for") && silentAfter < 0)
        return fail("--silent-for needs --silent-after", value(parser, "silent-for"));
    if (isSet(parser, "unplug-after") && !parseSeconds(value(parser, "unplug-after"), &unplugAfter))
        return fail("--unplug-after takes seconds", value(parser, "unplug-after"));

    if (silentAfter >= 0) {
        QTimer::singleShot(int(silentAfter), &pty, [&model, &pty, silentFor] {
            model.silenceFor(pty.now(), silentFor);
        });
    }
    if (unplugAfter >= 0)
        QTimer::singleShot(int(unplugAfter), &pty, [&pty] { pty.unplug(); });
    return true;
}

} // namespace SimOptions
