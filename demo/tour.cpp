// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "demo/tour.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QWindow>

#include <cstdio>

#include "app/tiravo.h"
#include "link/linktask.h"
#include "rig/keptfile.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"
#include "ui/rownames.h"
#include "ui/texts.h"

Tour::Tour(Tiravo &w, GimbalModel &m, PtyController &p, const KeptFile &config, const QString &outDir)
    : window(w)
    , model(m)
    , pty(p)
    , config(config)
    , dir(outDir)
{
    startBlock = model.ram();
    // Away from the channel the controller starts with, so the slider visibly changes source.
    newTilt = startBlock[kFunctionSlot[Tilt]] == 3 ? 4 : 3;

    const int otherLanguage = 3 - LangureFlag;
    steps = {
        {"window up", [] {},
         [this] {
             return window.windowHandle() && window.windowHandle()->isExposed() &&
                    widgetText("comComboBox") == pty.devicePath();
         }},
        {"connect and download", [this] { click("startPushButton"); },
         [this] { return widgetText("statusLabel") == text(TXT_DOWNLOAD_DONE) && showsController(); }},
        {"gimbal connected", [] {},
         [this] { return widgetText("linkStatusLineEdit") == text(TXT_GIMBAL_CONNECTED); }},
        {"upload tilt channel",
         [this] {
             window.findChild<QComboBox *>(QLatin1String(kFunctionRows[Tilt].channel))->setCurrentIndex(newTilt - 1);
             click("updatePushButton");
         },
         [this] {
             if (uploadSeenMs < 0 && widgetText("statusLabel") == text(TXT_UPLOAD_DONE))
                 uploadSeenMs = pty.now();
             // The slider counts once a position poll answered after the upload has been shown.
             const auto *tilt = window.findChild<QSlider *>(QLatin1String(kFunctionRows[Tilt].position));
             return uploadSeenMs >= 0 && model.lastPositionPollMs() > uploadSeenMs &&
                    model.ram()[kFunctionSlot[Tilt]] == newTilt &&
                    tilt->value() == GimbalModel::channelValue(newTilt, model.lastPositionPollMs()) &&
                    widgetText("statusLabel") == text(TXT_UPLOAD_DONE);
         }},
        {"save", [this] { click("programPushButton"); },
         [this] {
             QFile stored(QFile::decodeName(model.flashPath().c_str()));
             const bool fileHoldsRam = model.flashPath().empty() ||
                                       (stored.open(QIODevice::ReadOnly) &&
                                        stored.readAll() == QByteArray(reinterpret_cast<const char *>(
                                                                           model.ram().data()),
                                                                       int(model.ram().size())));
             return widgetText("statusLabel") == text(TXT_SAVE_DONE) && model.flash() == model.ram() &&
                    fileHoldsRam;
         }},
        {"save failure",
         [this] {
             model.failNextSave();
             click("programPushButton");
         },
         [this] { return widgetText("statusLabel") == text(TXT_SAVE_FAILED); }},
        {"disconnect", [this] { click("startPushButton"); },
         [this] {
             return widgetText("linkStatusLineEdit") == text(TXT_PORT_DISCONNECTED) &&
                    widgetText("startPushButton") == text(TXT_CONNECT);
         }},
        {"switch language",
         [this, otherLanguage] { click(otherLanguage == 2 ? "enRadioButton" : "chRadioButton"); },
         [this, otherLanguage] { return LangureFlag == otherLanguage && widgetText("startPushButton") == text(TXT_CONNECT); }},
        {"connect again", [this] { click("startPushButton"); },
         [this] {
             return widgetText("statusLabel") == text(TXT_DOWNLOAD_DONE) && showsController();
         }},
        {"live data", [] {},
         [this] {
             // Every field filled by a test data poll of this contact; the controller never sends 0.
             for (const char *field : {"tiltLineEdit", "headingLineEdit", "modeLineEdit", "videoLineEdit", "zoomLineEdit"})
                 if (widgetText(field) == QLatin1String("0"))
                     return false;
             return widgetText("linkStatusLineEdit") == text(TXT_GIMBAL_CONNECTED);
         }},
    };
}

void Tour::start()
{
    auto *tick = window.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    if (!tick) {
        std::printf("tour: the window has no tick timer\n");
        finish(false);
        return;
    }
    // Connected after the window's own slot, so each check sees the display that tick produced.
    connect(tick, &QTimer::timeout, this, &Tour::onTick);
    // A last resort if the timer itself stops: every step is bounded in ticks already.
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [this] {
        std::printf("tour: no tick for too long; giving up\n");
        finish(false);
    });
    watchdog.start(int(steps.size()) * kStepTicks * LinkTask::kTickMs * 2);
    std::printf("Tour of SBUS Channel against the simulated controller on %s\n", qPrintable(pty.devicePath()));
    steps[0].act();
}

void Tour::onTick()
{
    if (done)
        return;
    ++ticks;
    const Step &step = steps[current];
    const int number = int(current) + 1;
    if (!step.reached()) {
        if (ticks < kStepTicks)
            return;
        std::printf("%d. %-22s FAILED after %d ticks; the window shows %s\n", number, step.name, ticks,
                    qPrintable(shown()));
        screenshot(number, step.name);
        finish(false);
        return;
    }
    // As soon as the window has stored the language it switched to: a tour
    // stopped from outside after that leaves the operator's choice as it was.
    putBackConfig();
    std::printf("%d. %-22s ok in %3d ticks: %s\n", number, step.name, ticks, qPrintable(shown()));
    std::fflush(stdout);
    screenshot(number, step.name);
    ticks = 0;
    if (++current == steps.size()) {
        finish(true);
        return;
    }
    steps[current].act();
}

void Tour::finish(bool ok)
{
    if (done)
        return;
    done = true;
    watchdog.stop();
    putBackConfig();
    std::printf(ok ? "Tour complete: every step reached its expected state. Screenshots in %s\n"
                   : "Tour failed. Screenshots so far in %s\n",
                qPrintable(QDir(dir).absolutePath()));
    std::fflush(stdout);
    emit finished(ok ? 0 : 1);
}

void Tour::putBackConfig()
{
    QString why;
    if (!config.putBack(&why))
        std::printf("tour: could not put back %s: %s\n", qPrintable(config.path()), qPrintable(why));
}

void Tour::screenshot(int number, const char *name) const
{
    // The tick has only scheduled the repaint; paint now so the screen shows this tick's state.
    window.repaint();
    QPixmap picture;
    // The screen's pixels where there is one (Xvfb), the widget's own rendering elsewhere.
    if (QWindow *handle = window.windowHandle(); handle && handle->screen())
        picture = handle->screen()->grabWindow(window.winId());
    if (picture.isNull())
        picture = window.grab();
    const QString file = QDir(dir).filePath(
        QStringLiteral("%1-%2.png").arg(number, 2, 10, QLatin1Char('0')).arg(QString::fromLatin1(name).replace(QLatin1Char(' '), QLatin1Char('-'))));
    if (!picture.save(file, "PNG"))
        std::printf("   (could not write %s)\n", qPrintable(file));
}

QString Tour::text(int index) const
{
    return QString::fromUtf8(LangureFlag == 2 ? kEnglishTexts[index] : kChineseTexts[index]);
}

QString Tour::widgetText(const char *objectName) const
{
    const QString name = QLatin1String(objectName);
    if (auto *w = window.findChild<QComboBox *>(name))
        return w->currentText();
    if (auto *w = window.findChild<QLineEdit *>(name))
        return w->text();
    if (auto *w = window.findChild<QLabel *>(name))
        return w->text();
    if (auto *w = window.findChild<QPushButton *>(name))
        return w->text();
    return QString();
}

// The five combo boxes hold the channels the controller's RAM assigns.
bool Tour::showsController() const
{
    for (int f = 0; f < kFunctionCount; ++f) {
        if (widgetText(kFunctionRows[f].channel) != QString::number(model.ram()[kFunctionSlot[f]]))
            return false;
    }
    return true;
}

void Tour::click(const char *objectName)
{
    if (auto *button = window.findChild<QAbstractButton *>(QLatin1String(objectName)))
        button->click();
}

QString Tour::shown() const
{
    QStringList channels, sliders;
    for (int f = 0; f < kFunctionCount; ++f) {
        channels << widgetText(kFunctionRows[f].channel);
        sliders << QString::number(window.findChild<QSlider *>(QLatin1String(kFunctionRows[f].position))->value());
    }
    return QStringLiteral("status \"%1\", link \"%2\", button \"%3\", channels %4, sliders %5")
        .arg(widgetText("statusLabel").trimmed(), widgetText("linkStatusLineEdit"), widgetText("startPushButton"),
             channels.join(QLatin1Char('/')), sliders.join(QLatin1Char('/')));
}
