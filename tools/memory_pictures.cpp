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
// the window closes with a write not stored. Run from a copy of its own: it
// writes the window's language file beside itself.
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

    // The tooltip as Qt draws it, put where it opens: below the field.
    auto *field = r.w->findChild<QLineEdit *>(QStringLiteral("linkStatusLineEdit"));
    QToolTip::showText(field->mapToGlobal(QPoint(field->width() / 2, field->height())), field->toolTip(), field);
    QWidget *tip = nullptr;
    for (int i = 0; i < 100 && !(tip = shownTooltip()); ++i)
        QTest::qWait(10);
    if (!tip)
        return fail("no tooltip showed");
    const QPixmap window = r.w->grab();
    const QPixmap tipShot = tip->grab();
    const QPoint at = r.w->mapFromGlobal(tip->pos());
    QPixmap shot(std::max(window.width(), at.x() + tipShot.width()),
                 std::max(window.height(), at.y() + tipShot.height()));
    shot.fill(Qt::white);
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, window);
    painter.drawPixmap(at, tipShot);
    painter.end();
    if (!shot.save(out + QStringLiteral("/contact-check-%1.png").arg(lang)))
        return fail("can't save the contact check's picture");
    QToolTip::hideText();

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
