// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// What one 50 ms tick of the window costs, connected and polling the
// simulated controller, and the parts of that figure that are not the window's.
//
// Benchmarks marked process_time report the whole process's CPU time (every
// thread, both sides of the pseudo-terminal); BM_WindowTickOwnThread reports
// the window's thread alone, the controller running on another. Time columns
// are wall time, which also holds the hand-over of bytes between the two
// sides. Iteration counts follow wall time, so a run takes as long as asked.
#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QSocketNotifier>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include "rig/englishconfig.h"
#include "link/frame.h"
#include "link/linktask.h"
#include "port/portlist.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"
#include "rig/tickrig.h"

namespace {

constexpr std::uint8_t kPolls[] = {POLL_POSITIONS_1, POLL_POSITIONS_2, POLL_GIMBAL, POLL_TEST_DATA};

void tickLoop(benchmark::State &state, TickRig &rig)
{
    for (auto _ : state) {
        if (!rig.tick()) {
            state.SkipWithError("a tick did not settle within 5 s");
            break;
        }
    }
}

// Connected and polling, window not shown: the tick's own work without painting.
void BM_WindowTick(benchmark::State &state)
{
    TickRig rig;
    if (!rig.connectAndSettle()) {
        state.SkipWithError("could not connect to the simulated controller");
        return;
    }
    const std::uint64_t goodBefore = rig.w->receiver().framesGood();
    tickLoop(state, rig);
    state.counters["replies_per_tick"] =
        double(rig.w->receiver().framesGood() - goodBefore) / double(state.iterations());
}
BENCHMARK(BM_WindowTick)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

// The simulated controller served from a thread of its own, so that the
// main thread's CPU time is the window's alone: its timer slot, its writes and
// reads on the port, the event dispatch and the widgets.
class ControllerThread : public QThread
{
public:
    ControllerThread()
    {
        start();
        std::unique_lock<std::mutex> lock(mutex);
        published.wait(lock, [this] { return ready; });
    }
    ~ControllerThread() override
    {
        quit();
        wait();
    }
    ControllerThread(const ControllerThread &) = delete;
    ControllerThread &operator=(const ControllerThread &) = delete;

    QString devicePath() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return path;
    }

    std::atomic<std::int64_t> ms{0};

protected:
    void run() override
    {
        // Made here, so its notifier and timer belong to this thread's event loop.
        GimbalModel model;
        PtyController pty(model);
        pty.setClock([this] { return ms.load(); });
        {
            std::lock_guard<std::mutex> lock(mutex);
            path = pty.isOpen() ? pty.devicePath() : QString();
            ready = true;
        }
        published.notify_all();
        exec();
    }

private:
    mutable std::mutex mutex;
    std::condition_variable published;
    QString path;
    bool ready = false;
};

// Connected and polling, window not shown, controller on its own thread: the
// CPU column is the main thread's time alone (no MeasureProcessCPUTime), which
// is the window's own cost of a tick. A tick is over when its reply is in.
void BM_WindowTickOwnThread(benchmark::State &state)
{
    ControllerThread controller;
    const QString device = controller.devicePath();
    if (device.isEmpty()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    PortList::registerPort(device);
    resetWindowCounts();
    {
        Tiravo w;
        w.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop();
        auto *ports = w.findChild<QComboBox *>(QStringLiteral("comComboBox"));
        ports->setCurrentIndex(ports->findText(device));
        w.findChild<QAbstractButton *>(QStringLiteral("startPushButton"))->click();

        QTimer waker;
        waker.setInterval(5);
        // On a clean line every request gets one good reply.
        auto tick = [&] {
            const std::uint64_t before = w.receiver().framesGood();
            controller.ms += LinkTask::kTickMs;
            QMetaObject::invokeMethod(&w, "SYS_QTimerUpDate");
            QCoreApplication::processEvents();
            if (w.receiver().framesGood() > before)
                return true;
            waker.start();
            QDeadlineTimer deadline(5000);
            while (w.receiver().framesGood() == before && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            waker.stop();
            return w.receiver().framesGood() > before;
        };
        bool settled = false;
        for (int i = 0; i < 100 && !settled; ++i) {
            if (!tick())
                break;
            const ParamExchange &x = w.exchange();
            settled = x.blockDownloaded() && x.commandCode == POLL_POSITIONS_1 && x.gimbalState == 0;
        }
        if (!settled) {
            state.SkipWithError("could not connect to the simulated controller");
        } else {
            for (auto _ : state) {
                if (!tick()) {
                    state.SkipWithError("no reply within 5 s");
                    break;
                }
            }
        }
    }
    PortList::unregisterPort(device);
}
BENCHMARK(BM_WindowTickOwnThread)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same with the window shown on the platform plugin in use, so the widgets
// the tick changes are repainted (to an image on offscreen, to the X server on xcb).
void BM_WindowTickShown(benchmark::State &state)
{
    TickRig rig;
    rig.w->show();
    QCoreApplication::processEvents();
    if (!rig.connectAndSettle()) {
        state.SkipWithError("could not connect to the simulated controller");
        return;
    }
    for (auto _ : state) {
        if (!rig.tick()) {
            state.SkipWithError("a tick did not settle within 5 s");
            break;
        }
        // Repaints wait as posted events; they belong to this tick.
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(BM_WindowTickShown)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

// No port open: the window lists the serial ports on its first tick, then
// only after the system says a device node changed. This is the steady state
// after that first tick.
void BM_WindowTickDisconnected(benchmark::State &state)
{
    TickRig rig;
    if (!rig.tick()) {
        state.SkipWithError("a tick did not settle within 5 s");
        return;
    }
    tickLoop(state, rig);
}
BENCHMARK(BM_WindowTickDisconnected)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

// One listing of the system's serial ports: what a disconnected tick costs
// when it does list them.
void BM_SystemPortEnumeration(benchmark::State &state)
{
    int ports = 0;
    for (auto _ : state)
        ports = PortList::SystemPortScan::systemPortNames().size();
    state.counters["ports"] = ports;
}
BENCHMARK(BM_SystemPortEnumeration)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

// The controller model answering one poll request, no line and no event loop.
void BM_ModelAnswer(benchmark::State &state)
{
    GimbalModel model;
    Frame requests[4];
    for (int i = 0; i < 4; ++i)
        requests[i] = buildRequest(kPolls[i], 0, ParamBlock{});
    std::int64_t ms = 0;
    std::size_t i = 0;
    for (auto _ : state) {
        ms += LinkTask::kTickMs;
        const Frame &r = requests[i++ & 3];
        auto out = model.receive(r.data(), r.size(), ms);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ModelAnswer);

// The simulated side of a tick without the window: a request written to the
// device node, the controller's event-loop round (read, model, write) and the
// reply read back, with the same waiting as the window tick. Subtracted from
// BM_WindowTick it leaves the window's own share.
void BM_SimRoundTrip(benchmark::State &state)
{
    GimbalModel model;
    PtyController pty(model);
    std::int64_t ms = 0;
    pty.setClock([&ms] { return ms; });
    const int fd = ::open(pty.devicePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (!pty.isOpen() || fd < 0) {
        state.SkipWithError("no pseudo-terminal");
        if (fd >= 0)
            ::close(fd);
        return;
    }
    std::uint64_t got = 0;
    // The host side reads from the event loop, as a serial port object would.
    QSocketNotifier readable(fd, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, [fd, &got] {
        std::uint8_t buf[512];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            got += std::uint64_t(n);
    });
    QTimer waker;
    waker.setInterval(5);
    Frame requests[4];
    for (int i = 0; i < 4; ++i)
        requests[i] = buildRequest(kPolls[i], 0, ParamBlock{});
    std::size_t i = 0;
    for (auto _ : state) {
        ms += LinkTask::kTickMs;
        const Frame &r = requests[i++ & 3];
        const std::uint64_t seen = model.requestsSeen();
        if (::write(fd, r.data(), r.size()) != ssize_t(r.size())) {
            state.SkipWithError("write to the device failed");
            break;
        }
        auto settled = [&] { return model.requestsSeen() > seen && pty.idle() && got >= pty.bytesWritten(); };
        QCoreApplication::processEvents();
        if (!settled()) {
            waker.start();
            for (QDeadlineTimer deadline(5000); !settled() && !deadline.hasExpired();)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            waker.stop();
        }
        if (!settled()) {
            state.SkipWithError("no reply within 5 s");
            break;
        }
    }
    ::close(fd);
}
BENCHMARK(BM_SimRoundTrip)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    // Offscreen unless the caller chose a platform, so the run needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const EnglishConfig config;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
