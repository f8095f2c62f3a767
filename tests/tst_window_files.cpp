// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's context menu against the simulated controller: saving the
// block to a file, loading a file back through the window's own sequencer,
// and the live log. Dialogs are answered by a hook standing in for the
// operator; the menu is opened as the mouse and the keyboard open it.
#include <QtTest>

#include <QApplication>
#include <QMenu>
#include <QRegularExpression>

#include "formats/backupfile.h"
#include "support/files.h"
#include "support/operator.h"
#include "support/settingsfile.h"

namespace {

// Written before the window is made, so it starts in that language.
struct StartingLanguage {
    explicit StartingLanguage(const QByteArray &config) { writeConfigRaw(config); }
};

struct FileRig : StartingLanguage, OperatedRig {
    explicit FileRig(const QByteArray &config = kEnglishLanguageFile, std::uint32_t seed = 1)
        : StartingLanguage(config), OperatedRig(QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC), seed)
    {
    }
    // The file the operator picks, in the rig's own directory, holding
    // `content` unless that is null; empty where it can't be written.
    const QString &pick(const char *name, const QByteArray &content = {})
    {
        person.file = dir.filePath(QLatin1String(name));
        if (!content.isNull() && !writeFile(person.file, content))
            person.file.clear();
        return person.file;
    }
};

// Every slot moved, the controller's own 13 included, channels still 1..18.
ParamBlock changedBlock(const ParamBlock &from)
{
    ParamBlock b = from;
    for (int s = 0; s < kParamSlots; ++s)
        b[s] = std::uint8_t(b[s] + 7);
    for (int s : kFunctionSlot)
        b[s] = std::uint8_t(from[s] % 18 + 1);
    return b;
}

QByteArray backupOf(const ParamBlock &block)
{
    return BackupFile::write(block, QDateTime::currentDateTimeUtc(), "p");
}

// What a backup file holds; zeros where it holds no block.
ParamBlock inFile(const QString &path, BackupFile::OutOfRange outOfRange = BackupFile::OutOfRange::Refuse)
{
    ParamBlock b{};
    QString why;
    const BackupFile::LoadResult result = BackupFile::load(path, &b, &why, Language::English, outOfRange);
    return result == BackupFile::LoadResult::Loaded ? b : ParamBlock{};
}

// The context menu asked for on `target`, by the mouse or by the keyboard.
std::function<void()> contextMenuOn(QWidget *target, QContextMenuEvent::Reason reason = QContextMenuEvent::Mouse)
{
    return [=] {
        const QPoint at = target->rect().center();
        QContextMenuEvent e(reason, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &e);
    };
}

// The texts of the menu that `open` brings up, or of no menu: the first entry
// is the menu's object name.
QStringList menuOpenedBy(const std::function<void()> &open)
{
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            shown << menu->objectName();
            for (QAction *a : menu->actions())
                shown << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" (off)"));
            menu->close();
        }
    });
    open();
    QCoreApplication::processEvents();
    return shown;
}
} // namespace

class TestWindowFiles : public QObject
{
    Q_OBJECT

private slots:
    // The file dialog keeps its history in Qt's own settings, which belong to
    // the user's configuration, not to a test.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { removeConfig(); }
    void cleanupTestCase() { removeConfig(); }

    void menuByMouseAndKeyboardInTheWindowsLanguage_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("Chinese") << QByteArray(kChineseLanguageFile)
                                 << QStringList{"保存参数到文件…", "从文件加载参数…", "撤销上次写入…",
                                                "记录实时数据到 CSV…", "停止记录", "适配器重新接入时自动连接"};
        QTest::newRow("English") << QByteArray(kEnglishLanguageFile)
                                 << QStringList{"Save parameters to file…", "Load parameters from file…",
                                                "Undo the last write…", "Log live data to CSV…", "Stop logging",
                                                "Reconnect when the adapter returns"};
    }
    void menuByMouseAndKeyboardInTheWindowsLanguage()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, texts);
        FileRig r(config);
        const auto rightClick = contextMenuOn(r.get("tiltLabel"));
        const QString off = QStringLiteral(" (off)");
        // Reconnecting is chosen ahead of any link.
        QCOMPARE(menuOpenedBy(rightClick), (QStringList{"contextMenu", texts[0] + off, texts[1] + off, texts[2] + off,
                                                        texts[3] + off, QString(), texts[5]}));

        QVERIFY(r.connectAndSettle());
        const QStringList on{"contextMenu", texts[0], texts[1], texts[2], texts[3], QString(), texts[5]};
        QCOMPARE(menuOpenedBy(rightClick), on);
        r.get("tiltComboBox")->setFocus();
        QCOMPARE(menuOpenedBy([&] { QTest::keyClick(r.w.get(), Qt::Key_F10, Qt::ShiftModifier); }), on);
        // The Menu key reaches the window as the platform's keyboard request.
        QCOMPARE(menuOpenedBy(contextMenuOn(r.get("tiltComboBox"), QContextMenuEvent::Keyboard)), on);
        // An input field keeps its own menu.
        const QStringList fieldMenu = menuOpenedBy(contextMenuOn(r.get("tiltLineEdit")));
        QVERIFY(!fieldMenu.isEmpty() && fieldMenu.first() != QLatin1String("contextMenu"));

        r.pick("live.csv");
        r.trigger("logLiveAction");
        QCOMPARE(r.action("logLiveAction")->text(), texts[4]);
        QVERIFY(r.statusTip().contains(r.person.file));
    }

    // Dialogs name functions by the window's captions: English here, Chinese in saveWhatTheControllerHolds.
    void savedFileLoadsBackEveryByte()
    {
        FileRig r;
        QVERIFY(r.connectAndSettle());
        const ParamBlock saved = r.model.ram();
        r.pick("airframe.json");
        r.trigger("saveParamsAction");
        QCOMPARE(raw(inFile(r.person.file)), raw(saved));
        QVERIFY(r.statusTip().contains(r.person.file));

        // Someone changes every byte at the controller itself; the file puts them all back.
        const ParamBlock changed = changedBlock(saved);
        r.model.setRam(changed);
        r.person.yesTo = QStringList{"loadCompareDialog", "loadStoreDialog"};
        r.trigger("loadParamsAction");
        QVERIFY(r.tickUntil([&] { return r.person.seen.size() == 3; }, 200));
        QVERIFY(r.person.saw(QStringLiteral("loadCompareDialog"),
                             QStringLiteral("Tilt Channel: %1 → %2").arg(changed[9]).arg(saved[9])));
        QCOMPARE(r.person.seen[0].count(QRegularExpression(QStringLiteral("\n[^\n]+[:：] ?\\d+ → \\d+"))), kParamSlots);
        QVERIFY(r.person.seen[2].startsWith(QLatin1String("fileResultDialog")));
        QCOMPARE(raw(r.model.ram()), raw(saved));
        QCOMPARE(raw(r.model.flash()), raw(saved));
    }

    // Nothing reaches the controller's RAM or flash unless the operator said yes to a good file.
    void loadSendsNothingUnlessAGoodFileIsConfirmed_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("says");
        QTest::newRow("not JSON") << QByteArray("{\"format\": ") << "fileFailureDialog" << "not JSON";
        QTest::newRow("no file there") << QByteArray() << "fileFailureDialog" << "No such file";
        QTest::newRow("answered No") << backupOf(changedBlock(kDefault)) << "loadCompareDialog"
                                     << "Write the file's parameters";
        QTest::newRow("the controller's own block") << backupOf(kDefault) << "fileResultDialog" << "already holds";
    }
    void loadSendsNothingUnlessAGoodFileIsConfirmed()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, dialog);
        QFETCH(QString, says);
        FileRig r;
        QVERIFY(r.connectAndSettle());
        QVERIFY(!r.pick("file.json", content).isEmpty());
        r.trigger("loadParamsAction");
        for (int i = 0; i < 20; ++i)
            QVERIFY(r.tick() && !r.x().writing());
        QVERIFY2(r.person.saw(dialog, says), qPrintable(r.person.said()));
        QCOMPARE(raw(r.model.ram()), raw(kDefault));
        QCOMPARE(r.model.flashState(), GimbalModel::FlashState::Missing);
    }

    // A load on a lossy line, cut off at each of its three write requests by
    // a controller that falls silent (Save pressed during the write, during
    // the outage, or not at all), by Download, or by a pulled line. The
    // controller ends with its old block or the whole new one, stored only
    // whole and only when asked; a pulled line is said. (Uploads share the
    // sequencer; tst_window_sim and tst_window_soak cut those off.)
    void writeEndsWholeOrNotAtAll_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("save");
        QTest::addColumn<std::uint32_t>("seed");
        for (std::uint32_t seed : {1u, 2u, 3u, 4u})
            QTest::addRow("lossy line, seed %u", seed) << "lossy" << 1 << "none" << seed;
        QTest::newRow("Download pressed at write 2") << "download" << 2 << "none" << 1u;
        QTest::newRow("port closed at write 2") << "closed" << 2 << "none" << 1u;
        for (int at = 1; at <= 3; ++at) {
            for (const char *save : {"none", "write", "outage"})
                QTest::addRow("silent at write %d, save %s", at, save) << "silent" << at << save << 1u;
            QTest::addRow("pulled at write %d", at) << "pulled" << at << "write" << 1u;
        }
    }
    void writeEndsWholeOrNotAtAll()
    {
        QFETCH(QString, trouble);
        QFETCH(int, at);
        QFETCH(QString, save);
        QFETCH(std::uint32_t, seed);
        FileRig r(kEnglishLanguageFile, seed);
        QVERIFY(r.connectAndSettle());
        // Yes to storing unless Save is pressed.
        const bool asksToStore = save == QLatin1String("none");
        const ParamBlock target = changedBlock(kDefault);
        if (trouble == QLatin1String("lossy")) {
            r.model.faults.dropShare = 0.5;
            r.model.faults.corruptShare = 0.1;
        }
        r.pick("t.json", backupOf(target));
        r.person.yesTo = asksToStore ? QStringList{"loadCompareDialog", "loadStoreDialog"}
                                     : QStringList{"loadCompareDialog"};
        r.trigger("loadParamsAction");
        if (trouble != QLatin1String("lossy")) {
            const quint8 cutOn = std::array<quint8, 3>{WRITE_PARAM_1, WRITE_PARAM_2, WRITE_PARAM_3}[at - 1];
            QVERIFY(r.tickUntil([&] { return r.x().commandCode == cutOn; }, 60));
            if (save == QLatin1String("write"))
                r.click("programPushButton");
            if (trouble == QLatin1String("download"))
                r.click("downloadPushButton");
            if (trouble == QLatin1String("silent") || trouble == QLatin1String("pulled")) {
                r.model.silenceFor(r.ms, 2000);
                QVERIFY(r.untilText("linkStatusLineEdit", "Port Disonnection", 20));
            }
            if (save == QLatin1String("outage"))
                QMetaObject::invokeMethod(r.w.get(), "on_programPushButton_clicked");
            if (trouble == QLatin1String("pulled") || trouble == QLatin1String("closed")) {
                r.click("startPushButton");
                QVERIFY(r.tick());
                QVERIFY2(r.person.saw(QStringLiteral("fileFailureDialog"), QStringLiteral("may hold part")),
                         qPrintable(r.person.said()));
                QCOMPARE(raw(r.model.flash()), raw(kDefault));
                return;
            }
        }
        QVERIFY(r.tickUntil([&] { return !r.x().writing() && !r.x().linkLost() && r.x().blockDownloaded(); }, 600));
        // No load under way and no write on the line, and one tick more for the result to be told.
        QVERIFY(r.tickUntil([&] { return r.action("loadParamsAction")->isEnabled(); }, 100) && r.tick());
        QVERIFY2(!asksToStore || r.person.saw(QStringLiteral("fileResultDialog"), QStringLiteral("stored permanently")),
                 qPrintable(r.person.said()));
        QCOMPARE(raw(r.model.ram()), raw(target));
        QCOMPARE(raw(r.model.flash()), raw(save == QLatin1String("write") || asksToStore ? target : kDefault));
        for (int f = 0; f < kFunctionCount; ++f)
            QCOMPARE(r.shown(f), int(target[kFunctionSlot[f]]));
    }

    // Save offers only a block this contact read whole from the controller:
    // not one left from the last contact or the last link, nor the zeros
    // before the first read, nor the old one while Download reads it again,
    // part by part. The controller's block changes first, so a file with
    // anything else in it is caught.
    void saveOffersOnlyABlockReadWhole_data()
    {
        QTest::addColumn<QString>("after");
        QTest::newRow("connect") << "connect";
        QTest::newRow("reconnect") << "reconnect";
        QTest::newRow("lost link") << "lost link";
        QTest::newRow("Download pressed") << "download";
    }
    void saveOffersOnlyABlockReadWhole()
    {
        QFETCH(QString, after);
        FileRig r;
        const ParamBlock changed = changedBlock(kDefault);
        if (after != QLatin1String("connect"))
            QVERIFY(r.connectAndSettle());
        if (after == QLatin1String("reconnect")) {
            r.click("startPushButton");
            QVERIFY(r.tick());
        } else if (after == QLatin1String("lost link")) {
            r.model.silenceFor(r.ms, 2000);
            QVERIFY(r.untilText("linkStatusLineEdit", "Port Disonnection", 60));
        }
        r.model.setRam(changed);
        if (after == QLatin1String("download"))
            r.click("downloadPushButton");
        else if (after != QLatin1String("lost link"))
            r.click("startPushButton");
        const auto rightClick = contextMenuOn(r.get("tiltLabel"));
        int refused = 0;
        QString saved;
        for (int i = 0; i < 100 && saved.isEmpty(); ++i) {
            const QString path = r.pick(qPrintable(QStringLiteral("at-%1.json").arg(i)));
            const bool offered = !menuOpenedBy(rightClick).value(1).endsWith(QLatin1String(" (off)"));
            r.trigger("saveParamsAction");
            QCOMPARE(QFile::exists(path), offered);
            if (offered) {
                QCOMPARE(raw(inFile(path)), raw(changed));
                saved = path;
            } else {
                ++refused;
            }
            QVERIFY(r.tick());
        }
        QVERIFY(refused > 0);
        QVERIFY(!saved.isEmpty());
    }

    // A close (the window manager's, or a signal's) while the store question
    // is open ends the question with No; standard error then says that the
    // controller holds the file's block in RAM only.
    void closeDuringTheStoreQuestion()
    {
        FileRig r;
        QVERIFY(r.connectAndSettle());
        const ParamBlock target = changedBlock(kDefault);
        r.pick("t.json", backupOf(target));
        r.person.yesTo = QStringList{"loadCompareDialog", "loadStoreDialog"};
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { warnings << text; });
        r.w->setHooks({[&](QDialog &d) {
                           if (d.objectName() != QLatin1String("loadStoreDialog"))
                               return r.person.answer(d);
                           r.w->close();
                           return d.result();
                       },
                       {}});
        r.w->show();
        r.trigger("loadParamsAction");
        r.tickUntil([&] { return !r.w->isVisible(); }, 100);
        for (int i = 0; i < 10; ++i)
            r.tick();
        qInstallMessageHandler(previous);
        QVERIFY(!r.w->isVisible());
        QCOMPARE(raw(r.model.ram()), raw(target));
        QCOMPARE(raw(r.model.flash()), raw(kDefault));
        const QStringList said = warnings.filter(QStringLiteral("closed;"));
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.first().contains(QStringLiteral("holds the parameters of t.json in RAM")), qPrintable(said.first()));
    }

    // A block with channels no selector shows is still saved, as it is what
    // the controller holds, and the window says the file needs --force.
    void saveWhatTheControllerHolds()
    {
        FileRig r(kChineseLanguageFile);
        const ParamBlock held = GimbalModel::defaultWith({0, 2, 5, 255, 7}); // tilt and rec on no channel
        r.model.setRam(held);
        QVERIFY(!r.pick("odd.json").isEmpty());
        QVERIFY(r.connectAndSettle());
        r.trigger("saveParamsAction");
        QVERIFY2(r.person.saw(QStringLiteral("fileResultDialog"), QStringLiteral("云台俯仰通道、相机录像通道")) &&
                     r.person.saw(QStringLiteral("fileResultDialog"), QStringLiteral("--force")),
                 qPrintable(r.person.said()));
        QCOMPARE(raw(inFile(r.person.file, BackupFile::OutOfRange::Allow)), raw(held));
    }

    // One row per poll cycle with increasing times, until the log is stopped
    // by the menu, by Disconnect or by a controller that falls silent.
    void liveLogRowsUntilStopped_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("Stop logging") << "menu";
        QTest::newRow("Disconnect") << "disconnect";
        QTest::newRow("lost link") << "silent";
    }
    void liveLogRowsUntilStopped()
    {
        QFETCH(QString, stop);
        FileRig r;
        QVERIFY(r.connectAndSettle());
        const QString file = r.pick("live.csv");
        r.trigger("logLiveAction");
        for (int i = 0; i < 40; ++i)
            QVERIFY(r.tick());
        // Each row is in the file as soon as its cycle ends, not when the log does.
        QVERIFY(contents(file).count('\n') >= 10);
        if (stop == QLatin1String("menu"))
            r.trigger("logLiveAction");
        else if (stop == QLatin1String("disconnect"))
            r.click("startPushButton");
        else
            r.model.silenceForGood();
        for (int i = 0; i < 20; ++i)
            QVERIFY(r.tick());
        QCOMPARE(r.action("logLiveAction")->text(), QStringLiteral("Log live data to CSV…"));

        const QStringList lines = QString::fromUtf8(contents(file)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.first().startsWith(QLatin1String("time,tilt_pos,")));
        // Four requests make a cycle; the 40 ticks give ten, the silent ones none.
        QVERIFY2(lines.size() - 1 >= 9 && lines.size() - 1 <= 11, qPrintable(QString::number(lines.size())));
        // The rows' shape and units are the command line's monitor --csv; their times are the window's clock.
        QDateTime last;
        for (const QString &line : lines.mid(1)) {
            const QDateTime time = QDateTime::fromString(line.section(QLatin1Char(','), 0, 0), Qt::ISODateWithMs);
            QVERIFY2(time.isValid() && (!last.isValid() || time > last), qPrintable(line));
            last = time;
        }
        QVERIFY(r.statusTip().contains(QStringLiteral("(%1 rows)").arg(lines.size() - 1)));
    }
};

QTEST_MAIN(TestWindowFiles)
#include "tst_window_files.moc"
