#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

#include "app/tiravo.h"
#include "link/portlist.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"

// The window with a simulated controller on a pseudo-terminal in the same
// process, its own timer stopped, and a clock that moves 50 ms per tick, so a
// tick can be run on demand and is over exactly when the reply has been taken in.
// The controller keeps its flash in memory: a save costs no disk write here.
class WindowRig
{
public:
    explicit WindowRig(bool shown = false)
        : pty(model)
    {
        pty.setClock([this] { return ms; });
        PortList::registerPort(pty.devicePath());
        // The port count is process-wide; a window made after another one must
        // list its ports afresh, as the first window of a program would.
        portCount = 0;
        statusTicks = 0;
        w = std::make_unique<Tiravo>();
        w->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop();
        QComboBox *ports = combo("comComboBox");
        ports->setCurrentIndex(ports->findText(pty.devicePath()));
        waker.setInterval(5);
        if (shown) {
            w->show();
            QCoreApplication::processEvents();
        }
    }
    ~WindowRig()
    {
        w.reset();
        PortList::unregisterPort(pty.devicePath());
    }
    WindowRig(const WindowRig &) = delete;
    WindowRig &operator=(const WindowRig &) = delete;

    bool portReady() const { return pty.isOpen() && combo("comComboBox")->currentText() == pty.devicePath(); }

    QWidget *get(const char *name) const { return w->findChild<QWidget *>(QLatin1String(name)); }
    QComboBox *combo(const char *name) const { return w->findChild<QComboBox *>(QLatin1String(name)); }
    QString text(const char *name) const { return get(name)->property("text").toString(); }
    bool connected() const { return text("startPushButton") == QLatin1String("Disconnect"); }
    // A click as the operator makes it: the button's clicked signal reaches the
    // slot through the same by-name connection.
    void click(const char *name) { w->findChild<QAbstractButton *>(QLatin1String(name))->click(); }
    const ParamExchange &exchange() const { return w->exchange(); }

    // One tick of the window's timer, over once the controller has handled the
    // request (if one was due) and the window has read every byte written back.
    // Waits on the event loop, never by sleeping; false if that took over 5 s.
    bool tick()
    {
        // A running event loop frees a port dropped by Disconnect before the next
        // timer event; without this the old port would still hold the device.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool expectRequest = connected() && pty.isOpen();
        const std::uint64_t seen = model.requestsSeen();
        ms += 50;
        QMetaObject::invokeMethod(w.get(), "SYS_QTimerUpDate");
        QCoreApplication::processEvents();
        if (settled(expectRequest, seen))
            return true;
        // What is awaited may change on the controller's side with no event for
        // this loop; the waker bounds each wait.
        waker.start();
        bool done = false;
        for (QDeadlineTimer deadline(5000); !done && !deadline.hasExpired();) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            done = settled(expectRequest, seen);
        }
        waker.stop();
        return done;
    }

    // Ticks until done() holds; the number of ticks taken, or -1.
    int ticksUntil(const std::function<bool()> &done, int maxTicks = 100)
    {
        for (int i = 1; i <= maxTicks; ++i) {
            if (!tick())
                return -1;
            if (done())
                return i;
        }
        return -1;
    }

    // Connected, the block read, the gimbal reported attached and the poll loop running.
    bool connectAndSettle()
    {
        if (!portReady())
            return false;
        click("startPushButton");
        return ticksUntil([this] {
                   return exchange().blockDownloaded() && exchange().commandCode == POLL_POSITIONS_1 &&
                          exchange().gimbalState == 0;
               }) > 0;
    }

    std::int64_t ms = 0;
    GimbalModel model;
    PtyController pty;
    std::unique_ptr<Tiravo> w;

private:
    bool settled(bool expectRequest, std::uint64_t seen) const
    {
        return (!expectRequest || model.requestsSeen() > seen) && pty.idle() &&
               w->receiver().bytesSeen() >= pty.bytesWritten();
    }

    QTimer waker;
};
