#pragma once

// The window against the simulated controller over a real pseudo-terminal, on
// a clock that moves 50 ms per tick, ticks driven by invoking the tick slot.
#include <QtTest>

#include <QComboBox>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <random>

#include "app/tiravo.h"
#include "link/portlist.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"

inline constexpr const char *kCombos[] = {"tiltComboBox", "headingComboBox", "modeComboBox", "videoComboBox",
                                          "zoomComboBox"};
inline const ParamBlock &kDefault = GimbalModel::kDefaultBlock;

template <typename Bytes> QByteArray raw(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

// A function slot may hold any channel; every other slot must hold the controller's own value.
inline bool onlyChannelsDiffer(ParamBlock b)
{
    for (int s : kFunctionSlot)
        b[s] = b[s] >= 1 && b[s] <= GimbalModel::kSbusChannels ? kDefault[s] : 0;
    return b == kDefault;
}

// The English window with the simulated controller's port selected and its own timer stopped.
struct Rig {
    QTemporaryDir dir;
    std::int64_t ms = 0;
    GimbalModel model;
    PtyController pty;
    std::unique_ptr<Tiravo> w;
    // Called as the tick slot returns, before any reply of the tick is read:
    // the only moment at which the display and the link data it came from agree.
    std::function<void()> afterSlot;

    explicit Rig(std::uint32_t seed = 1)
        : model(dir.filePath(QStringLiteral("flash.bin")).toStdString(), seed)
        , pty(model)
    {
        pty.setClock([this] { return ms; });
        PortList::registerPort(pty.devicePath());
        w = std::make_unique<Tiravo>();
        w->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop();
        combo("comComboBox")->setCurrentIndex(combo("comComboBox")->findText(pty.devicePath()));
    }
    ~Rig() { PortList::unregisterPort(pty.devicePath()); }

    QWidget *get(const char *name) const { return w->findChild<QWidget *>(QLatin1String(name)); }
    QComboBox *combo(const char *name) const { return w->findChild<QComboBox *>(QLatin1String(name)); }
    QString text(const char *name) const { return get(name)->property("text").toString(); }
    bool connected() const { return text("startPushButton") == QLatin1String("Disconnect"); }
    void click(const char *name) { QTest::mouseClick(get(name), Qt::LeftButton); }
    const ParamExchange &x() const { return w->exchange(); }
    int shown(int f) const { return combo(kCombos[f])->currentText().toInt(); }
    // Picks five random channels, presses Upload and returns the channels picked.
    Channels upload(std::mt19937 &rng)
    {
        Channels picked{};
        for (int f = 0; f < kFunctionCount; ++f) {
            combo(kCombos[f])->setCurrentIndex(int(rng() % 18));
            picked[f] = std::uint8_t(shown(f));
        }
        click("updatePushButton");
        return picked;
    }
    // What a controller started now would load from the file.
    ParamBlock stored() const { return GimbalModel(model.flashPath()).ram(); }

    // One 50 ms tick, over once the controller has handled the request and
    // the window has taken in every byte written back. Without `settle` the
    // tick ends as the slot returns: the request leaves with the next one and
    // its reply comes after that has been sent, as from a controller that
    // answers late.
    bool tick(bool settle = true)
    {
        // A running event loop frees a port dropped by Disconnect before the
        // next timer event; without that the old port would still hold the device.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool expectRequest = connected() && pty.isOpen();
        const auto seen = model.requestsSeen();
        ms += 50;
        QMetaObject::invokeMethod(w.get(), "SYS_QTimerUpDate");
        if (afterSlot)
            afterSlot();
        if (!settle)
            return true;
        QTimer waker; // what is awaited may change on the controller's side, with no event for us
        waker.start(5);
        for (QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if ((!expectRequest || model.requestsSeen() > seen) && pty.idle() &&
                w->receiver().bytesSeen() >= pty.bytesWritten())
                return true;
        }
        return false;
    }
    bool tickUntil(const std::function<bool()> &done, int maxTicks = 12)
    {
        for (int i = 0; i < maxTicks && !done(); ++i)
            if (!tick())
                return false;
        return done();
    }
    bool untilText(const char *widget, const char *wanted, int maxTicks = 12)
    {
        return tickUntil([=] { return text(widget) == QLatin1String(wanted); }, maxTicks);
    }
};
