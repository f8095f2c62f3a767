// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include <QApplication>

#include "app/closeguard.h"
#include "app/commandline.h"
#include "app/fonts.h"
#include "app/tiravo.h"
#include "app/windowgone.h"
#include "os/stopsignals.h"

int main(int argc, char *argv[])
{
    // Without a display Qt aborts in the QApplication constructor, so the
    // command line is looked at first: help, version and usage errors need no
    // window, and a missing display is said plainly.
    if (!WindowCommandLine::displayAvailable(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("sbus-channel"));
        const WindowCommandLine::Outcome outcome = WindowCommandLine::parse(QCoreApplication::arguments());
        if (!outcome.run)
            return outcome.exitCode;
        return WindowCommandLine::noDisplay("sbus-channel", "on a terminal, use sbus-channel-cli");
    }

    enableDisplayScaling();

    QApplication app(argc, argv);
    // Names the per-user settings directory of an installed copy, whatever
    // the executable has been renamed to.
    QCoreApplication::setApplicationName(QStringLiteral("sbus-channel"));
    // Qt has taken its own options (-platform, -style, ...) out by now.
    const WindowCommandLine::Outcome outcome = WindowCommandLine::parse(QCoreApplication::arguments());
    if (!outcome.run)
        return outcome.exitCode;
    // Registered before the window exists, so its start-up probe lists them first.
    WindowCommandLine::registerPorts(outcome.ports);

    installFontSubstitutes();
    Tiravo window;
    // The port asked for on the command line, over the adapter of the last run.
    if (!outcome.ports.isEmpty())
        window.choosePort(outcome.ports.first());
    closeOnStopSignals(window);
    WindowGone gone(window);
    app.installNativeEventFilter(&gone);
    window.show();
    const int result = app.exec();
    // Closed by a signal: the shell sees which one, as if it had ended us.
    return StopSignals::pending() ? 128 + StopSignals::pending() : result;
}
