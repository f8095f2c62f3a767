// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// perf-probe: the window measured as a program, and the protocol's latency in ticks.
//
//   perf-probe --bare   [--size WxH] [--tick MS] [--warmup N] [--seconds N] [--t0-ns NS]
//   perf-probe --window [--port PATH] [--warmup N] [--seconds N] [--t0-ns NS]
//   perf-probe --latency [--rounds N]
//
// --bare shows an empty QWidget of the window's size: what any Qt program of
// this kind pays; with --tick, a timer of that period that does nothing runs
// beside it, what any program waking that often pays. --window builds the real window as app/main.cpp does; with
// --port the device is registered before the window exists, chosen, and
// connected once the window has been painted, then polled on the window's own
// timer. Both print one line of key=value pairs: start-up time (process start
// to the end of the first paint), then, after --seconds of running (10 by
// default; 0 stops at the first paint), the CPU share of one core over those
// seconds, resident memory and, for the window, the good replies received.
// --warmup lets that many seconds pass (and reports their CPU share
// separately) before the measured seconds begin.
// The process start is --t0-ns (CLOCK_REALTIME nanoseconds taken by the caller
// right before exec); without it, the kernel's start time of the process,
// which is only as fine as a clock tick.
//
// --latency runs the window against an in-process simulated controller on a
// clock that moves 50 ms per tick, and counts ticks from Connect, Upload and
// Save to what the operator waits for.
#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#endif

#include "app/fonts.h"
#include "app/tiravo.h"
#include "port/portlist.h"

#ifdef SBUS_PERF_PROBE_SIM
#include "rig/englishconfig.h"
#include "rig/tickrig.h"
#include "ui/rownames.h"
#endif

namespace {

std::int64_t realtimeNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// How long this process has existed, in nanoseconds, from the kernel's record
// of its start; -1 where there is no such record.
std::int64_t ageFromKernelNs()
{
#ifdef Q_OS_LINUX
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name may hold spaces and parentheses; fields resume after the last ')'.
    const int close = line.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // Field 22 of the file, starttime in clock ticks since boot, is the 20th after the name.
    if (fields.size() < 20)
        return -1;
    const double startS = fields.at(19).toDouble() / double(::sysconf(_SC_CLK_TCK));
    timespec boot{};
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    const double nowS = double(boot.tv_sec) + double(boot.tv_nsec) * 1e-9;
    return std::int64_t((nowS - startS) * 1e9);
#else
    return -1;
#endif
}

// A /proc/self/status field in kB ("VmRSS", "VmHWM"), or -1.
long statusKb(const char *field)
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
#else
    Q_UNUSED(field)
#endif
    return -1;
}

// User plus system CPU time of the whole process, every thread, in seconds.
double processCpuSeconds()
{
#ifdef Q_OS_UNIX
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
#else
    return -1;
#endif
}

// Calls back once the widget's first paint, and everything the same pass of
// the event loop did with it (children, flush to the screen), is over.
class FirstPaint : public QObject
{
public:
    FirstPaint(QWidget &widget, std::function<void()> done)
        : onDone(std::move(done))
    {
        widget.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, onDone);
        }
        return false;
    }

private:
    std::function<void()> onDone;
    bool seen = false;
};

struct ProgramRun {
    std::int64_t appReadyNs = 0; // when the application object was made
    QString mode;
    QString port;
    int seconds = 10;
    int warmup = 0;
    int tickMs = 0; // the bare widget's empty timer; 0 for none
    std::int64_t t0Ns = 0; // 0: take the kernel's start time
    QSize size{736, 360};
};

QString fmt(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

// Shows the window (or the bare widget), waits for its first paint, connects
// when asked, runs, and prints the one result line. Returns the exit status.
int runProgram(QApplication &app, const ProgramRun &run)
{
    std::unique_ptr<QWidget> window;
    QTimer idleTick;
    const bool bare = run.mode == QLatin1String("bare");
    if (bare) {
        window = std::make_unique<QWidget>();
        window->resize(run.size);
        if (run.tickMs > 0)
            idleTick.start(run.tickMs);
    } else {
        // As app/main.cpp builds it; the simulated or real device must be known
        // before the window's start-up probe lists the ports.
        installFontSubstitutes();
        if (!run.port.isEmpty())
            PortList::registerPort(run.port);
        window = std::make_unique<Tiravo>();
    }
    const std::int64_t builtNs = realtimeNs();

    QStringList out{QStringLiteral("mode=") + run.mode, QStringLiteral("platform=") + QGuiApplication::platformName()};
    if (run.tickMs > 0)
        out << QStringLiteral("tick_ms=%1").arg(run.tickMs);
    int status = 0;
    double cpuStart = 0;
    QElapsedTimer wall; // started when the measured period begins

    std::function<void()> finish = [&] {
        if (wall.isValid()) {
            const double cpu = processCpuSeconds() - cpuStart;
            const double secs = double(wall.nsecsElapsed()) * 1e-9;
            out << QStringLiteral("run_s=") + fmt(secs, 3) << QStringLiteral("cpu_s=") + fmt(cpu, 4)
                << QStringLiteral("cpu_pct=") + fmt(100.0 * cpu / secs, 3);
        }
        // Anonymous memory is the program's own; file-backed pages are mapped
        // libraries and fonts, shared with other programs and dropped under pressure.
        out << QStringLiteral("rss_kb=%1").arg(statusKb("VmRSS")) << QStringLiteral("hwm_kb=%1").arg(statusKb("VmHWM"))
            << QStringLiteral("rss_anon_kb=%1").arg(statusKb("RssAnon"))
            << QStringLiteral("rss_file_kb=%1").arg(statusKb("RssFile"));
        if (auto *w = qobject_cast<Tiravo *>(window.get())) {
            out << QStringLiteral("frames_good=%1").arg(w->receiver().framesGood())
                << QStringLiteral("frames_dropped=%1").arg(w->receiver().framesDropped())
                << QStringLiteral("link_lost=%1").arg(int(w->exchange().linkLost()));
        }
        std::printf("%s\n", qPrintable(out.join(QLatin1Char(' '))));
        std::fflush(stdout);
        app.exit(status);
    };

    auto measure = [&] {
        cpuStart = processCpuSeconds();
        wall.start();
        // A coarse timer may end the period up to 5 % early.
        QTimer::singleShot(run.seconds * 1000, Qt::PreciseTimer, &app, finish);
    };

    auto painted = [&] {
        const std::int64_t nowNs = realtimeNs();
        std::int64_t startupNs = -1;
        QString source = QStringLiteral("arg");
        if (run.t0Ns > 0) {
            startupNs = nowNs - run.t0Ns;
        } else {
            startupNs = ageFromKernelNs();
            source = QStringLiteral("proc");
        }
        // Where the start-up went: up to the application object, building the
        // window (or widget), and showing it up to the end of its first paint.
        const std::int64_t startNs = nowNs - startupNs;
        out << QStringLiteral("startup_ms=") + fmt(double(startupNs) * 1e-6, 2) << QStringLiteral("t0=") + source
            << QStringLiteral("app_ms=") + fmt(double(run.appReadyNs - startNs) * 1e-6, 1)
            << QStringLiteral("build_ms=") + fmt(double(builtNs - run.appReadyNs) * 1e-6, 1)
            << QStringLiteral("show_ms=") + fmt(double(nowNs - builtNs) * 1e-6, 1)
            << QStringLiteral("startup_cpu_ms=") + fmt(processCpuSeconds() * 1e3, 1)
            << QStringLiteral("size=%1x%2").arg(window->width()).arg(window->height());

        auto *w = qobject_cast<Tiravo *>(window.get());
        if (run.seconds > 0 && w && !run.port.isEmpty()) {
            auto *ports = w->findChild<QComboBox *>(QStringLiteral("comComboBox"));
            const int index = ports->findText(run.port);
            if (index < 0) {
                out << QStringLiteral("error=port_not_listed");
                status = 1;
                finish();
                return;
            }
            ports->setCurrentIndex(index);
            w->findChild<QAbstractButton *>(QStringLiteral("startPushButton"))->click();
            out << QStringLiteral("connected=1");
        } else if (w) {
            out << QStringLiteral("connected=0");
        }
        if (run.seconds <= 0) {
            finish();
            return;
        }
        if (run.warmup <= 0) {
            measure();
            return;
        }
        const double warmCpu = processCpuSeconds();
        QTimer::singleShot(run.warmup * 1000, Qt::PreciseTimer, &app, [&, warmCpu] {
            out << QStringLiteral("warmup_s=%1").arg(run.warmup)
                << QStringLiteral("warmup_cpu_pct=") + fmt(100.0 * (processCpuSeconds() - warmCpu) / run.warmup, 3);
            measure();
        });
    };

    const FirstPaint firstPaint(*window, painted);
    window->show();
    return app.exec();
}

#ifdef SBUS_PERF_PROBE_SIM


bool combosShow(const TickRig &rig, const Channels &c)
{
    for (int f = 0; f < kFunctionCount; ++f) {
        if (rig.combo(kFunctionRows[f].channel)->currentText().toInt() != c[f])
            return false;
    }
    return true;
}

struct Latency {
    int fromClick = -1;     // ticks from the click to the tick that showed the result
    int firstRequest = -1;  // the tick, counted from the click, that carried the first request
    int afterFirst() const { return fromClick < 0 || firstRequest < 0 ? -1 : fromClick - firstRequest; }
};

// Clicks, then ticks until done(); carried() tells, after a tick, whether
// that tick's request was the action's first one reaching the controller.
Latency measureAction(TickRig &rig, const char *button, const std::function<bool()> &carried,
                      const std::function<bool()> &done)
{
    Latency l;
    rig.click(button);
    for (int i = 1; i <= 100; ++i) {
        if (!rig.tick())
            return l;
        if (l.firstRequest < 0 && carried())
            l.firstRequest = i;
        if (done()) {
            l.fromClick = i;
            return l;
        }
    }
    return l;
}

// Lets a running status message end, so the next one is not hidden by the
// shared message count expiring on the very tick it appears.
bool quietStatus(TickRig &rig)
{
    return rig.ticksUntil([&rig] { return rig.text("statusLabel").trimmed().isEmpty(); }, 60) > 0;
}

int runLatency(int rounds)
{
    const EnglishConfig config;
    TickRig rig;
    if (!rig.portReady()) {
        std::printf("mode=latency error=no_pseudo_terminal\n");
        return 1;
    }
    QStringList out{QStringLiteral("mode=latency")};
    std::array<std::vector<Latency>, 3> results; // connect, upload, save
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        const auto r = std::uint8_t(round);
        // Values the window cannot be showing yet, different every round.
        const Channels atController = {std::uint8_t(3 + r), std::uint8_t(11 + r), std::uint8_t(8 - r),
                                       std::uint8_t(17 - r), std::uint8_t(14 - r)};
        const Channels chosen = {std::uint8_t(4 + r), std::uint8_t(12 - r), std::uint8_t(9 + r),
                                 std::uint8_t(16 - r), std::uint8_t(13 + r)};
        rig.model.setRam(GimbalModel::defaultWith(atController));

        if (rig.connected()) {
            rig.click("startPushButton");
            ok = rig.ticksUntil([&rig] { return !rig.connected(); }, 2) > 0 && rig.tick();
        }
        const std::uint64_t seen = rig.model.requestsSeen();
        const Latency connect = measureAction(
            rig, "startPushButton",
            [&] { return rig.model.requestsSeen() > seen && rig.model.lastCommand() == READ_PARAM_1; },
            [&] { return combosShow(rig, atController); });
        ok = ok && connect.fromClick > 0 && quietStatus(rig);

        for (int f = 0; f < kFunctionCount && ok; ++f)
            rig.combo(kFunctionRows[f].channel)->setCurrentIndex(chosen[f] - 1);
        const Latency upload = measureAction(
            rig, "updatePushButton", [&] { return rig.model.lastCommand() == WRITE_PARAM_1; },
            [&] { return rig.text("statusLabel") == QLatin1String("Upload Param Success"); });
        ok = ok && upload.fromClick > 0 && rig.model.ram() == GimbalModel::defaultWith(chosen) && quietStatus(rig);

        // The flash still holds the block from before the upload, so the tick
        // whose request carried the save is the one after which it changes.
        const ParamBlock flashBefore = rig.model.flash();
        const Latency save = measureAction(
            rig, "programPushButton", [&] { return rig.model.flash() != flashBefore; },
            [&] { return rig.text("statusLabel") == QLatin1String("Save Param Success"); });
        ok = ok && save.fromClick > 0 && rig.model.flash() == GimbalModel::defaultWith(chosen);

        results[0].push_back(connect);
        results[1].push_back(upload);
        results[2].push_back(save);
    }

    const char *const names[] = {"connect", "upload", "save"};
    bool stable = true;
    for (int a = 0; a < 3; ++a) {
        if (results[a].empty())
            continue;
        const Latency &first = results[a].front();
        for (const Latency &l : results[a])
            stable = stable && l.fromClick == first.fromClick && l.firstRequest == first.firstRequest;
        out << QStringLiteral("%1_from_click=%2").arg(QLatin1String(names[a])).arg(first.fromClick)
            << QStringLiteral("%1_first_request_tick=%2").arg(QLatin1String(names[a])).arg(first.firstRequest)
            << QStringLiteral("%1_after_first=%2").arg(QLatin1String(names[a])).arg(first.afterFirst());
    }
    out << QStringLiteral("rounds=%1").arg(results[0].size()) << QStringLiteral("stable=%1").arg(int(stable))
        << QStringLiteral("ok=%1").arg(int(ok));
    std::printf("%s\n", qPrintable(out.join(QLatin1Char(' '))));
    return ok ? 0 : 1;
}

#endif

bool hasArg(int argc, char **argv, const char *arg)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], arg) == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // The tick count needs no display; the other modes use whatever platform
    // the caller set up, since their figures belong to it.
    if (hasArg(argc, argv, "--latency") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As app/main.cpp, for the bare widget too: the floor is a program set up the same way.
    enableDisplayScaling();
    QApplication app(argc, argv);
    const std::int64_t appReadyNs = realtimeNs();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Start-up, CPU and memory of the window, and its latency in ticks."));
    parser.addHelpOption();
    const QCommandLineOption bareOption(QStringLiteral("bare"), QStringLiteral("An empty widget of the window's size."));
    const QCommandLineOption windowOption(QStringLiteral("window"), QStringLiteral("The real window."));
    const QCommandLineOption latencyOption(QStringLiteral("latency"),
                                           QStringLiteral("Ticks from Connect, Upload and Save to their result."));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Device to connect to."),
                                        QStringLiteral("path"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Seconds to run after the first paint."),
                                           QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption warmupOption(QStringLiteral("warmup"),
                                          QStringLiteral("Seconds to let pass before the measured ones."),
                                          QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption t0Option(QStringLiteral("t0-ns"),
                                      QStringLiteral("Process start, CLOCK_REALTIME nanoseconds."), QStringLiteral("ns"));
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Size of the bare widget."),
                                        QStringLiteral("WxH"), QStringLiteral("736x360"));
    const QCommandLineOption tickOption(QStringLiteral("tick"),
                                        QStringLiteral("With --bare: an empty timer of this period beside the widget."),
                                        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Latency rounds."),
                                          QStringLiteral("n"), QStringLiteral("3"));
    parser.addOptions({bareOption, windowOption, latencyOption, portOption, secondsOption, warmupOption, t0Option,
                       sizeOption, tickOption, roundsOption});
    parser.process(app);

    if (parser.isSet(latencyOption)) {
#ifdef SBUS_PERF_PROBE_SIM
        // Each round picks channels of its own; five keep them all within 1..18.
        return runLatency(qBound(1, parser.value(roundsOption).toInt(), 5));
#else
        std::fprintf(stderr, "perf-probe: --latency needs the simulated controller, not built here\n");
        return 2;
#endif
    }

    ProgramRun run;
    run.appReadyNs = appReadyNs;
    if (parser.isSet(bareOption) == parser.isSet(windowOption)) {
        std::fprintf(stderr, "perf-probe: give one of --bare, --window, --latency; see --help\n");
        return 2;
    }
    run.mode = parser.isSet(bareOption) ? QStringLiteral("bare") : QStringLiteral("window");
    run.port = parser.value(portOption);
    bool good = true;
    run.seconds = parser.value(secondsOption).toInt(&good);
    if (!good || run.seconds < 0) {
        std::fprintf(stderr, "perf-probe: --seconds takes a whole number\n");
        return 2;
    }
    run.warmup = parser.value(warmupOption).toInt(&good);
    if (!good || run.warmup < 0) {
        std::fprintf(stderr, "perf-probe: --warmup takes a whole number\n");
        return 2;
    }
    if (parser.isSet(t0Option)) {
        run.t0Ns = parser.value(t0Option).toLongLong(&good);
        if (!good || run.t0Ns <= 0) {
            std::fprintf(stderr, "perf-probe: --t0-ns takes nanoseconds since the epoch\n");
            return 2;
        }
    }
    run.tickMs = parser.value(tickOption).toInt(&good);
    if (!good || run.tickMs < 0 || (run.tickMs > 0 && run.mode != QLatin1String("bare"))) {
        std::fprintf(stderr, "perf-probe: --tick takes milliseconds, and goes with --bare\n");
        return 2;
    }
    const QStringList wh = parser.value(sizeOption).split(QLatin1Char('x'));
    if (wh.size() != 2 || wh[0].toInt() <= 0 || wh[1].toInt() <= 0) {
        std::fprintf(stderr, "perf-probe: --size takes WxH\n");
        return 2;
    }
    run.size = QSize(wh[0].toInt(), wh[1].toInt());
    return runProgram(app, run);
}
