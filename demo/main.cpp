// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The real window with a simulated gimbal controller plugged in: its serial
// device is listed first, so Connect works the moment the window is up.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <optional>

#include "app/closeguard.h"
#include "app/commandline.h"
#include "app/fonts.h"
#include "app/tiravo.h"
#include "demo/tour.h"
#include "rig/keptfile.h"
#include "port/portlist.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"
#include "sim/simoptions.h"
#include "version.h"

namespace {
const QCommandLineOption tourOption(QStringLiteral("tour"),
                                    QStringLiteral("Click through a whole session by itself, save a "
                                                   "screenshot of each step in this directory and exit "
                                                   "(0 when every step reached its expected state)."),
                                    QStringLiteral("dir"));

// Help, version and usage errors are answered and exit here.
void parse(QCommandLineParser &parser, const QCoreApplication &app)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(SBUS_CHANNEL_VERSION));
    SimOptions::add(parser, QStringLiteral(
        "SBUS Channel with a simulated gimbal controller on a pseudo-terminal, listed\n"
        "first among the serial ports. Press Connect to start."));
    parser.addOption(tourOption);
    parser.process(app);
}
} // namespace

int main(int argc, char *argv[])
{
    // The simulated controller is a new device at every start: remembering
    // it would only fill the user's history of real controllers.
    if (!qEnvironmentVariableIsSet("SBUS_CHANNEL_HISTORY"))
        qputenv("SBUS_CHANNEL_HISTORY", QByteArray());
    QCommandLineParser parser;
    // Without a display Qt aborts in the QApplication constructor.
    if (!WindowCommandLine::displayAvailable(argc, argv)) {
        QCoreApplication core(argc, argv);
        parse(parser, core);
        return WindowCommandLine::noDisplay("sbus-channel-demo",
                                            "./run tours the window under Xvfb, and gimbal-sim with "
                                            "sbus-channel-cli works on a terminal");
    }

    enableDisplayScaling();
    QApplication app(argc, argv);
    installFontSubstitutes();
    parse(parser, app);

    const QString tourDir = parser.value(tourOption);
    QString flash = SimOptions::flashPath(
        parser, QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("simulated-controller.flash")));
    if (!tourDir.isEmpty() && !parser.isSet(QStringLiteral("flash"))) {
        // The tour starts from the controller's factory block every time.
        QDir().mkpath(tourDir);
        flash = QDir(tourDir).filePath(QStringLiteral("flash.bin"));
        QFile::remove(flash);
    }

    GimbalModel model(QFile::encodeName(flash).toStdString(), SimOptions::seed(parser));
    PtyController pty(model);
    if (!pty.isOpen()) {
        std::fprintf(stderr, "sbus-channel-demo: cannot create a pseudo-terminal: %s\n",
                     qPrintable(pty.errorString()));
        return 1;
    }
    QString error;
    if (!SimOptions::apply(parser, model, pty, &error)) {
        std::fprintf(stderr, "sbus-channel-demo: %s\n", qPrintable(error));
        return 2;
    }
    // Registered before the window exists, so its start-up probe lists it first.
    PortList::registerPort(pty.devicePath());
    // A pulled adapter leaves the port list too, as a real one would.
    QObject::connect(&pty, &PtyController::unpluggedNow, &app,
                     [path = pty.devicePath()] { PortList::unregisterPort(path); });

    // Before the window, which stores a language when it finds none.
    std::optional<KeptFile> config;
    if (!tourDir.isEmpty())
        config.emplace(Tiravo::languageFilePath());
    Tiravo window;
    // The simulated controller, whatever real adapter the window used last.
    window.choosePort(pty.devicePath());
    // Ctrl+C closes the window as it does the program's own: a write under way ends first.
    closeOnStopSignals(window);
    window.show();
    if (tourDir.isEmpty()) {
        std::fprintf(stderr, "simulated controller on %s\n", qPrintable(pty.devicePath()));
        return app.exec();
    }

    Tour tour(window, model, pty, *config, tourDir);
    QObject::connect(&tour, &Tour::finished, &app, &QCoreApplication::exit);
    tour.start();
    const int code = app.exec();
    if (!tour.isDone()) {
        std::printf("Tour stopped: the window was closed before the tour's end.\n");
        return 1;
    }
    return code;
}
