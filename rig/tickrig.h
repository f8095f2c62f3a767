// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QComboBox>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/tiravo.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"

// The window with the simulated controller on a pseudo-terminal in the same
// process, the window's own timer stopped and a clock that moves 50 ms per
// tick, so tests and measurements run ticks on demand. The controller's port
// is registered and selected; nothing is connected yet.
class TickRig
{
public:
    // An empty flash path keeps the controller's flash in memory.
    explicit TickRig(std::string flashPath = {}, std::uint32_t seed = 1);
    ~TickRig();
    TickRig(const TickRig &) = delete;
    TickRig &operator=(const TickRig &) = delete;

    QWidget *get(const char *name) const;
    QComboBox *combo(const char *name) const;
    QString text(const char *name) const;
    bool connected() const;
    // The controller's device is open and chosen in the port list.
    bool portReady() const;
    // The button's clicked signal reaches the slot through the same by-name
    // connection as the operator's click.
    void click(const char *name);
    const ParamExchange &x() const { return w->exchange(); }

    // One 50 ms tick, over once the controller has handled the request (if
    // one was due) and the window has taken in every byte written back; false
    // if that took over 5 s. Waits on the event loop, never by sleeping.
    // Without `settle` the tick ends as the slot returns: the request leaves
    // with the next one and its reply comes after that has been sent, as from
    // a controller that answers late.
    bool tick(bool settle = true);
    // Ticks until done() holds: the number of ticks taken, or -1.
    int ticksUntil(const std::function<bool()> &done, int maxTicks = 100);
    // Connected, the block read, the gimbal reported attached and the poll loop running.
    bool connectAndSettle();

    // Called as the tick slot returns, before any reply of the tick is read:
    // the only moment at which the display and the link data it came from agree.
    std::function<void()> afterSlot;

    std::int64_t ms = 0;
    GimbalModel model;
    PtyController pty;
    std::unique_ptr<Tiravo> w;

private:
    bool settled(bool expectRequest, std::uint64_t seen) const;
};
