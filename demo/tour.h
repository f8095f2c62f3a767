// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

#include "link/frame.h"

class GimbalModel;
class KeptFile;
class PtyController;
class Tiravo;

// Walks the real window, on its real 50 ms timer, through a whole session
// with the simulated controller, the way an operator would: every step
// clicks something and then waits, tick by tick, for the window to show the
// expected state. One line per step goes to standard output and a
// screenshot per step to the output directory.
class Tour : public QObject
{
    Q_OBJECT

public:
    // The tour switches language but must not change the operator's choice:
    // `config` holds the language file as it was before the window was made.
    Tour(Tiravo &window, GimbalModel &model, PtyController &pty, const KeptFile &config, const QString &outDir);

    void start();
    // Whether the tour reached its end or gave up; false when the window went first.
    bool isDone() const { return done; }

    // A step must get there within this many ticks (5 s) or the tour fails.
    static constexpr int kStepTicks = 100;

signals:
    void finished(int exitCode);

private:
    struct Step {
        const char *name;
        std::function<void()> act;
        std::function<bool()> reached;
    };

    void onTick();
    void finish(bool ok);
    // Writes the language file back as it was before the window, if it changed.
    void putBackConfig();
    void screenshot(int number, const char *name) const;

    QString shown() const;
    QString text(int index) const;
    QString widgetText(const char *objectName) const;
    bool showsController() const;
    void click(const char *objectName);

    Tiravo &window;
    GimbalModel &model;
    PtyController &pty;
    const KeptFile &config;
    QString dir;
    std::vector<Step> steps;
    std::size_t current = 0;
    int ticks = 0;
    bool done = false;
    QTimer watchdog;

    // What the tour sets up and then expects back.
    ParamBlock startBlock{};
    int newTilt = 3;
    std::int64_t uploadSeenMs = -1;
};
