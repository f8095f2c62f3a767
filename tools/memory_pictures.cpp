// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// memory-pictures: the README's pictures of what the window remembers, drawn
// by Qt itself against the in-process simulated controller.
//
//   memory-pictures zh|en OUT_DIR
//
// Leaves OUT_DIR/contact-check-LANG.png, the window with the status field's
// tooltip over it when the controller no longer holds what was stored
// through its adapter, and OUT_DIR/close-question-LANG.png, the question when
// the window closes with a write not stored, and OUT_DIR/reconnect-wait-LANG.png,
// the status field's tooltip while the window waits for a pulled adapter to
// come back. Run from a copy of its own: it
// writes the window's language file beside itself.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <cstdio>

#include "formats/blockhistory.h"
#include "port/portlist.h"
#include "rig/tickrig.h"
#include "ui/rownames.h"

namespace {
int fail(const char *what)
{
    std::fprintf(stderr, "memory-pictures: %s\n", what);
    return 1;
}

bool ticksUntil(TickRig &r, const std::function<bool()> &done)
{
    return done() || r.ticksUntil(done, 40) > 0;
}

QWidget *shownTooltip()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->inherits("QTipLabel") && w->isVisible())
            return w;
    }
    return nullptr;
}

// The window with the status field's tooltip as Qt draws it, put where it
// opens: below the field.
bool saveWithTooltip(QWidget &window, const QString &file)
{
    auto *field = window.findChild<QLineEdit *>(QStringLiteral("linkStatusLineEdit"));
    QToolTip::showText(field->mapToGlobal(QPoint(field->width() / 2, field->height())), field->toolTip(), field);
    QWidget *tip = nullptr;
    for (int i = 0; i < 100 && !(tip = shownTooltip()); ++i)
        QTest::qWait(10);
    if (!tip)
        return false;
    const QPixmap shown = window.grab();
    const QPixmap tipShot = tip->grab();
    const QPoint at = window.mapFromGlobal(tip->pos());
    QPixmap shot(std::max(shown.width(), at.x() + tipShot.width()), std::max(shown.height(), at.y() + tipShot.height()));
    shot.fill(Qt::white);
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, shown);
    painter.drawPixmap(at, tipShot);
    painter.end();
    QToolTip::hideText();
    return shot.save(file);
}

// Reconnecting chosen, the adapter pulled out: what the window waits for.
bool drawReconnectWait(const QString &file, const QString &workDir)
{
    TickRig r;
    const QString adapter = workDir + QStringLiteral("/ttyUSB0");
    PortList::Facts facts;
    facts.serialNumber = QStringLiteral("A10K3Q7Z");
    facts.usbId = QStringLiteral("0403:6001");
    if (!QFile::link(r.pty.devicePath(), adapter))
        return false;
    PortList::registerPort(adapter, facts);
    r.tick();
    r.w->choosePort(adapter);
    r.w->findChild<QAction *>(QStringLiteral("reconnectAction"))->trigger();
    r.w->show();
    // The button's caption tells connected from not in either language.
    const QString connectCaption = r.text("startPushButton");
    r.click("startPushButton");
    const auto closed = [&] { return r.text("startPushButton") == connectCaption; };
    const bool drawn = QTest::qWaitForWindowExposed(r.w.get()) &&
                       r.ticksUntil([&] { return r.x().blockDownloaded(); }) > 0 && (r.pty.unplug(), true) &&
                       QFile::remove(adapter) && r.ticksUntil(closed, 3) > 0 && r.tick() && saveWithTooltip(*r.w, file);
    PortList::unregisterPort(adapter);
    return drawn;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || (qstrcmp(argv[1], "zh") != 0 && qstrcmp(argv[1], "en") != 0)) {
        std::fprintf(stderr, "usage: memory-pictures zh|en OUT_DIR\n");
        return 2;
    }
    QTemporaryDir work;
    qputenv("SBUS_CHANNEL_HISTORY", QFile::encodeName(work.filePath(QStringLiteral("history.jsonl"))));
    QApplication app(argc, argv);
    const QString lang = QString::fromLatin1(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    {
        QFile config(QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini"));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            config.write(lang == QLatin1String("zh") ? "[%General]\nLangureType=1\n" : "[%General]\nLangureType=2\n") < 0)
            return fail("can't write config.ini beside the program");
    }
    if (!drawReconnectWait(out + QStringLiteral("/reconnect-wait-%1.png").arg(lang), work.path()))
        return fail("the window did not wait for the adapter to return");
    TickRig r;
    // What an earlier session through this adapter reported storing: tilt 3.
    ParamBlock stored = GimbalModel::kDefaultBlock;
    stored[std::size_t(kFunctionSlot[Tilt])] = 3;
    if (!BlockHistory::History().append(BlockHistory::makeEntry(
            QDateTime(QDate(2026, 12, 7), QTime(14, 2), Qt::LocalTime), QStringLiteral("window"),
            BlockHistory::adapterOf(r.pty.devicePath()), BlockHistory::Event::Store, stored, true)))
        return fail("can't write the history");
    r.w->show();
    if (!QTest::qWaitForWindowExposed(r.w.get()) || !r.connectAndSettle() || !r.tick())
        return fail("the window did not connect to the simulated controller");

    if (!saveWithTooltip(*r.w, out + QStringLiteral("/contact-check-%1.png").arg(lang)))
        return fail("can't save the contact check's picture");

    r.combo(kFunctionRows[Tilt].channel)->setCurrentIndex(3);
    r.click("updatePushButton");
    if (!ticksUntil(r, [&] { return !r.x().writing(); }) || !r.tick())
        return fail("the upload did not finish");
    bool saved = false;
    r.w->setHooks({[&](QDialog &d) {
                       d.show();
                       saved = QTest::qWaitForWindowExposed(&d) &&
                               d.grab().save(out + QStringLiteral("/close-question-%1.png").arg(lang));
                       d.findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
                       return 0;
                   },
                   {}});
    r.w->close();
    return saved ? 0 : fail("the close question did not show");
}
