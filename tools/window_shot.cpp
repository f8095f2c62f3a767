// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Saves what an X display shows to a PNG, cropped to the area that is not the
// black root window. Used on headless machines, where the program runs under
// Xvfb (started with -br) and nobody can look at the screen.
//
//   window-shot OUT.png [--timeout SECONDS]
//
// Waits until something is drawn and two grabs 200 ms apart agree, so the
// picture is not taken halfway through the first paint. A window that shows
// live data never agrees with itself, though: once something has been drawn
// for 1.5 s and its outline held still over the last two grabs, the newest
// grab is saved as it is; so is the newest one when time runs out. Exit 0 on
// success, 1 when nothing appeared in time or the file can't be written, 2 on
// a usage error.

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QThread>

#include <cmath>
#include <cstdio>

namespace {

constexpr int kGrabIntervalMs = 200;
// Long enough for a first paint and the layout after it, short enough that a
// live window is caught soon after it shows.
constexpr qint64 kSettleMs = 1500;

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

const char kUsageLine[] = "usage: window-shot OUT.png [--timeout SECONDS]\n";
const char kUsage[] =
    "Saves the drawn part of the X display in DISPLAY as a PNG, once the first paint\n"
    "has settled (two grabs 200 ms apart agree), or, for a window whose contents keep\n"
    "changing, after 1.5 s of it being drawn in the same place.\n"
    "  --timeout SECONDS  how long to wait for anything to be drawn (default 20)\n"
    "  -h, --help         show this and exit\n"
    "Exit status: 0 saved, 1 nothing drawn in time or the file can't be written,\n"
    "2 usage error.\n";

int usageError(const QString &why)
{
    std::fprintf(stderr, "window-shot: %s\n%s", qPrintable(why), kUsageLine);
    return 2;
}

int save(const QImage &img, const QRect &area, const QString &out)
{
    if (!img.copy(area).save(out, "PNG")) {
        std::fprintf(stderr, "window-shot: cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The command line is read before the display is opened, so --help and usage
    // errors work without one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show usage."));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Seconds to wait."),
                                     QStringLiteral("seconds"), QStringLiteral("20"));
    parser.addOption(help);
    parser.addOption(timeout);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(kUsageLine, stdout);
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("give exactly one output file"));
    const QString out = parser.positionalArguments().constFirst();
    bool number = false;
    const double seconds = parser.value(timeout).toDouble(&number);
    if (!number || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400)
        return usageError(QStringLiteral("--timeout wants a number of seconds above 0, not '%1'")
                              .arg(parser.value(timeout)));
    const qint64 limitMs = qint64(seconds * 1000);

    QGuiApplication app(argc, argv);

    QElapsedTimer clock;
    clock.start();
    QImage previous;
    QRect previousDrawn;
    qint64 firstDrawnMs = -1;
    QImage latest;
    QRect latestDrawn;
    for (;;) {
        QImage now = grab();
        const QRect drawn = now.isNull() ? QRect() : drawnArea(now);
        if (drawn.isValid()) {
            if (firstDrawnMs < 0)
                firstDrawnMs = clock.elapsed();
            if (now == previous)
                return save(now, drawn, out);
            // Still changing: take it anyway once the settle time is over and the
            // window stopped moving or growing, as a live window never holds still.
            if (drawn == previousDrawn && clock.elapsed() - firstDrawnMs >= kSettleMs)
                return save(now, drawn, out);
            latest = now;
            latestDrawn = drawn;
        }
        previous = now;
        previousDrawn = drawn;
        if (clock.elapsed() + kGrabIntervalMs > limitMs)
            break;
        QThread::msleep(kGrabIntervalMs);
    }
    // Out of time with something on the screen: the newest picture beats none.
    if (latestDrawn.isValid())
        return save(latest, latestDrawn, out);
    std::fprintf(stderr, "window-shot: nothing was drawn within the time limit\n");
    return 1;
}
