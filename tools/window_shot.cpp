// Saves what an X display shows to a PNG, cropped to the area that is not the
// black root window. Used on headless machines, where the program runs under
// Xvfb (started with -br) and nobody can look at the screen.
//
//   window-shot OUT.png [--timeout SECONDS]
//
// Waits until something is drawn and two grabs 200 ms apart agree, so the
// picture is not taken halfway through the first paint. Exit 0 on success,
// 1 when nothing appeared in time, 2 on a usage error.

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QThread>

#include <cstdio>

namespace {

QRect drawnArea(const QImage &img)
{
    int left = img.width(), top = img.height(), right = -1, bottom = -1;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if (qRed(row[x]) | qGreen(row[x]) | qBlue(row[x])) {
                left = qMin(left, x);
                right = qMax(right, x);
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QImage grab()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32) : QImage();
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Save the drawn part of an X display as PNG."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("out"), QStringLiteral("PNG file to write"));
    QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Seconds to wait (default 20)."),
                               QStringLiteral("seconds"), QStringLiteral("20"));
    parser.addOption(timeout);
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "usage: window-shot OUT.png [--timeout SECONDS]\n");
        return 2;
    }
    const QString out = parser.positionalArguments().constFirst();
    const qint64 limitMs = qint64(parser.value(timeout).toDouble() * 1000);

    QElapsedTimer clock;
    clock.start();
    QImage previous;
    while (clock.elapsed() < limitMs) {
        QImage now = grab();
        const QRect drawn = now.isNull() ? QRect() : drawnArea(now);
        if (drawn.isValid() && now == previous) {
            if (!now.copy(drawn).save(out, "PNG")) {
                std::fprintf(stderr, "window-shot: cannot write %s\n", qPrintable(out));
                return 1;
            }
            return 0;
        }
        previous = now;
        QThread::msleep(200);
    }
    std::fprintf(stderr, "window-shot: nothing was drawn within the time limit\n");
    return 1;
}
