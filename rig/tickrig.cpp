// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "rig/tickrig.h"

#include <QAbstractButton>
#include <QCoreApplication>

#include <utility>

#include "link/linktask.h"
#include "port/portlist.h"
#include "rig/eventwait.h"

TickRig::TickRig(std::string flashPath, std::uint32_t seed)
    : model(std::move(flashPath), seed)
    , pty(model)
{
    pty.setClock([this] { return ms; });
    PortList::registerPort(pty.devicePath());
    resetWindowCounts();
    w = std::make_unique<Tiravo>();
    w->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop();
    w->choosePort(pty.devicePath());
}

TickRig::~TickRig()
{
    w.reset();
    PortList::unregisterPort(pty.devicePath());
}

QWidget *TickRig::get(const char *name) const
{
    return w->findChild<QWidget *>(QLatin1String(name));
}

QComboBox *TickRig::combo(const char *name) const
{
    return w->findChild<QComboBox *>(QLatin1String(name));
}

QString TickRig::text(const char *name) const
{
    return get(name)->property("text").toString();
}

bool TickRig::connected() const
{
    return text("startPushButton") == QLatin1String("Disconnect");
}

bool TickRig::portReady() const
{
    return pty.isOpen() && combo("comComboBox")->currentText() == pty.devicePath();
}

void TickRig::click(const char *name)
{
    w->findChild<QAbstractButton *>(QLatin1String(name))->click();
}

bool TickRig::settled(bool expectRequest, std::uint64_t seen) const
{
    return (!expectRequest || model.requestsSeen() > seen) && pty.idle() &&
           w->receiver().bytesSeen() >= pty.bytesWritten();
}

bool TickRig::tick(bool settle)
{
    // A running event loop frees a port dropped by Disconnect before the next
    // timer event; without this the old port would still hold the device.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const bool expectRequest = connected() && pty.isOpen();
    const std::uint64_t seen = model.requestsSeen();
    ms += LinkTask::kTickMs;
    QMetaObject::invokeMethod(w.get(), "SYS_QTimerUpDate");
    if (afterSlot)
        afterSlot();
    if (!settle)
        return true;
    QCoreApplication::processEvents();
    return waitUntil([&] { return settled(expectRequest, seen); });
}

int TickRig::ticksUntil(const std::function<bool()> &done, int maxTicks)
{
    for (int i = 1; i <= maxTicks; ++i) {
        if (!tick())
            return -1;
        if (done())
            return i;
    }
    return -1;
}

bool TickRig::connectAndSettle()
{
    if (!portReady())
        return false;
    click("startPushButton");
    return ticksUntil([this] {
               return x().blockDownloaded() && x().commandCode == POLL_POSITIONS_1 && x().gimbalState == 0;
           }) > 0;
}
