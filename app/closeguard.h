// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QObject>

#include <functional>

class QWidget;
class ParamExchange;

// Holds a close of the window back while a write to the controller is on the
// line: the three requests of an upload, each of which carries its own part
// of the block, a write cut off by a lost link and waiting to be finished, or
// a save still waiting for its answer. Closing then could leave the
// controller's RAM a mix of old and new. The window closes at the end of the
// first tick with nothing under way, and at the latest after kMaxTicks: a
// controller that answers every poll but never finishes, or one that went
// silent in the middle of a write, must not keep the window open for ever.
// The window then says what the controller may hold (Tiravo::closeEvent).
class CloseGuard : public QObject
{
public:
    // Two seconds at 50 ms, the time the command line gives a stalled job.
    static constexpr int kMaxTicks = 40;

    CloseGuard(QWidget &window, const ParamExchange &link);

    // At the end of every tick, once the link data is what the tick left.
    void afterTick();
    // Told true when a close is held back, false when it goes ahead.
    void onHold(std::function<void(bool)> shown) { shown_ = std::move(shown); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void release();

    QWidget &window_;
    const ParamExchange &link_;
    std::function<void(bool)> shown_;
    bool closeWanted_ = false;
    bool released_ = false;
    int ticksHeld_ = 0;
};

// SIGINT, SIGTERM and SIGHUP (Ctrl+C in the terminal that started us, a
// logout, a closed terminal), and on Windows the console's Ctrl+C,
// Ctrl+Break, close, logoff and shutdown, close the window as its close
// button does, so that a write under way finishes first;
// StopSignals::pending() then tells which one it was.
void closeOnStopSignals(QWidget &window);
