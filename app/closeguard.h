// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QObject>

class QWidget;
class ParamExchange;

// Holds a close of the window back while a write to the controller is on the
// line: the three requests of an upload, each of which carries its own part
// of the block, or a save still waiting for its answer. Closing then would
// leave the controller's RAM a mix of old and new. The window closes at the
// end of the first tick with nothing under way; a silent controller ends the
// wait through the silence rule, within 15 ticks.
class CloseGuard : public QObject
{
public:
    CloseGuard(QWidget &window, const ParamExchange &link);

    // At the end of every tick, once the link data is what the tick left.
    void afterTick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget &window_;
    const ParamExchange &link_;
    bool closeWanted_ = false;
};

// SIGINT, SIGTERM and SIGHUP (Ctrl+C in the terminal that started us, a
// logout, a closed terminal) close the window as its close button does, so
// that a write under way finishes first; StopSignals::pending() then tells
// which one it was. Unix only; elsewhere a signal is recorded and nothing more.
void closeOnStopSignals(QWidget &window);
