#include <QApplication>

#include "app/closeguard.h"
#include "app/fonts.h"
#include "app/tiravo.h"
#include "os/stopsignals.h"

int main(int argc, char *argv[])
{
    // The form mixes fixed pixel geometry with point-size fonts; without
    // scaling, captions outgrow their rectangles on 150 % and 200 % displays.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    QApplication app(argc, argv);
    // Names the per-user settings directory of an installed copy, whatever
    // the executable has been renamed to.
    QCoreApplication::setApplicationName(QStringLiteral("sbus-channel"));
    installFontSubstitutes();
    Tiravo window;
    closeOnStopSignals(window);
    window.show();
    const int result = app.exec();
    // Closed by a signal: the shell sees which one, as if it had ended us.
    return StopSignals::pending() ? 128 + StopSignals::pending() : result;
}
