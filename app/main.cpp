#include <QApplication>

#include "app/fonts.h"
#include "app/tiravo.h"

int main(int argc, char *argv[])
{
    // The form mixes fixed pixel geometry with point-size fonts; without
    // scaling, captions outgrow their rectangles on 150 % and 200 % displays.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    QApplication app(argc, argv);
    installFontSubstitutes();
    Tiravo window;
    window.show();
    const int result = app.exec();
    return result;
}
