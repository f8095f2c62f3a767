// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's context menu against the simulated controller: saving the
// block to a file, loading a file back through the window's own sequencer,
// and the live log. Dialogs are answered by a hook standing in for the
// operator; the menu is opened as the mouse and the keyboard open it.
#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>

#include <sys/stat.h>

#include "formats/backupfile.h"
#include "support/settingsfile.h"
#include "support/simrig.h"

namespace {
// Stands in for the operator at every dialog the window opens: file dialogs
// get `file`, questions the answer given for their object name (No unless
// listed), and every message box is kept as "name: text".
struct Operator {
    QString file;
    QStringList yesTo;
    QStringList seen;

    int answer(QDialog &dialog)
    {
        if (auto *files = qobject_cast<QFileDialog *>(&dialog)) {
            seen << dialog.objectName();
            files->selectFile(file);
            return file.isEmpty() ? QDialog::Rejected : QDialog::Accepted;
        }
        auto &box = static_cast<QMessageBox &>(dialog);
        seen << dialog.objectName() + QStringLiteral(": ") + box.text();
        if (!box.button(QMessageBox::Yes))
            return QMessageBox::Ok;
        return yesTo.contains(dialog.objectName()) ? QMessageBox::Yes : QMessageBox::No;
    }
    bool saw(const QString &name, const QString &part) const
    {
        for (const QString &s : seen) {
            if (s.startsWith(name) && s.contains(part))
                return true;
        }
        return false;
    }
};

struct FileRig : Rig {
    explicit FileRig(std::uint32_t seed = 1) : Rig(seed)
    {
        w->setHooks({[this](QDialog &d) { return person.answer(d); },
                     [this] { return QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC).addMSecs(ms); }});
    }
    QString statusTip() const { return w->findChild<QLineEdit *>(QStringLiteral("linkStatusLineEdit"))->toolTip(); }
    QAction *action(const char *name) const { return w->findChild<QAction *>(QLatin1String(name)); }
    void trigger(const char *name) { action(name)->trigger(); }
    // Ticks until no load is under way and no write is on the line, and one
    // more for the result to be told.
    bool settleLoad(int maxTicks)
    {
        return tickUntil([this] { return action("loadParamsAction")->isEnabled(); }, maxTicks) && tick();
    }

    Operator person;
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

QString writeFile(const QTemporaryDir &dir, const char *name, const QByteArray &content)
{
    QFile f(dir.filePath(QLatin1String(name)));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        return {};
    return f.fileName();
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
        QTest::newRow("Chinese") << QByteArray("[%General]\nLangureType=1\n")
                                 << QStringList{"保存参数到文件…", "从文件加载参数…", "撤销上次写入…",
                                                "记录实时数据到 CSV…", "停止记录"};
        QTest::newRow("English") << QByteArray("[%General]\nLangureType=2\n")
                                 << QStringList{"Save parameters to file…", "Load parameters from file…",
                                                "Undo the last write…", "Log live data to CSV…", "Stop logging"};
    }
    void menuByMouseAndKeyboardInTheWindowsLanguage()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, texts);
        writeConfigRaw(config);
        FileRig r;
        QWidget *caption = r.get("tiltLabel");
        const auto rightClick = [&] {
            QContextMenuEvent e(QContextMenuEvent::Mouse, caption->rect().center(),
                                caption->mapToGlobal(caption->rect().center()));
            QApplication::sendEvent(caption, &e);
        };
        const QString off = QStringLiteral(" (off)");
        QCOMPARE(menuOpenedBy(rightClick),
                 (QStringList{"contextMenu", texts[0] + off, texts[1] + off, texts[2] + off, texts[3] + off}));

        QVERIFY(r.connectAndSettle());
        const QStringList on{"contextMenu", texts[0], texts[1], texts[2], texts[3]};
        QCOMPARE(menuOpenedBy(rightClick), on);
        r.get("tiltComboBox")->setFocus();
        QCOMPARE(menuOpenedBy([&] { QTest::keyClick(r.w.get(), Qt::Key_F10, Qt::ShiftModifier); }), on);
        // The Menu key reaches the window as the platform's keyboard request.
        QCOMPARE(menuOpenedBy([&] {
                     QContextMenuEvent e(QContextMenuEvent::Keyboard, {}, {});
                     QApplication::sendEvent(r.get("tiltComboBox"), &e);
                 }),
                 on);
        // An input field keeps its own menu.
        QLineEdit *field = r.w->findChild<QLineEdit *>(QStringLiteral("tiltLineEdit"));
        const QStringList fieldMenu = menuOpenedBy([&] {
            QContextMenuEvent e(QContextMenuEvent::Mouse, {1, 1}, field->mapToGlobal(QPoint(1, 1)));
            QApplication::sendEvent(field, &e);
        });
        QVERIFY(!fieldMenu.isEmpty() && fieldMenu.first() != QLatin1String("contextMenu"));

        QTemporaryDir dir;
        r.person.file = dir.filePath(QStringLiteral("live.csv"));
        r.trigger("logLiveAction");
        QCOMPARE(r.action("logLiveAction")->text(), texts[4]);
        QVERIFY(r.statusTip().contains(r.person.file));
    }

    void savedFileLoadsBackEveryByte_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("tiltLine");
        QTest::newRow("Chinese") << QByteArray("[%General]\nLangureType=1\n") << QStringLiteral("云台俯仰通道：");
        QTest::newRow("English") << QByteArray("[%General]\nLangureType=2\n") << QStringLiteral("Tilt Channel: ");
    }
    void savedFileLoadsBackEveryByte()
    {
        QFETCH(QByteArray, config);
        QFETCH(QString, tiltLine);
        writeConfigRaw(config);
        FileRig r;
        QVERIFY(r.connectAndSettle());
        const ParamBlock saved = r.model.ram();
        QTemporaryDir dir;
        r.person.file = dir.filePath(QStringLiteral("airframe.json"));
        r.trigger("saveParamsAction");
        ParamBlock inFile{};
        QString why;
        QCOMPARE(BackupFile::load(r.person.file, &inFile, &why), BackupFile::LoadResult::Loaded);
        QCOMPARE(raw(inFile), raw(saved));
        QVERIFY(r.statusTip().contains(r.person.file));

        // Someone changes every byte at the controller itself; the file puts them all back.
        const ParamBlock changed = changedBlock(saved);
        r.model.setRam(changed);
        r.person.yesTo = QStringList{"loadCompareDialog", "loadStoreDialog"};
        r.trigger("loadParamsAction");
        QVERIFY(r.tickUntil([&] { return r.person.seen.size() == 5; }, 200));
        QVERIFY(r.person.saw(QStringLiteral("loadCompareDialog"),
                             tiltLine + QStringLiteral("%1 → %2").arg(changed[9]).arg(saved[9])));
        QCOMPARE(r.person.seen[2].count(QRegularExpression(QStringLiteral("\n[^\n]+[:：] ?\\d+ → \\d+"))), kParamSlots);
        QVERIFY(r.person.seen[4].startsWith(QLatin1String("fileResultDialog")));
        QCOMPARE(raw(r.model.ram()), raw(saved));
        QCOMPARE(raw(r.model.flash()), raw(saved));
        for (int f = 0; f < kFunctionCount; ++f)
            QCOMPARE(r.shown(f), int(saved[kFunctionSlot[f]]));
    }

    // Nothing reaches the controller's RAM or flash unless the operator said yes to a good file.
    void loadSendsNothingUnlessAGoodFileIsConfirmed_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("says");
        const QByteArray good = BackupFile::write(changedBlock(kDefault), QDateTime::currentDateTimeUtc(), "p");
        QJsonObject root = QJsonDocument::fromJson(good).object();
        QJsonObject channels = root[QStringLiteral("channels")].toObject();
        QJsonArray block = root[QStringLiteral("block")].toArray();
        channels[QStringLiteral("tilt")] = 19;
        block[kFunctionSlot[Tilt]] = 19;
        root[QStringLiteral("channels")] = channels;
        root[QStringLiteral("block")] = block;
        const QByteArray nineteen = QJsonDocument(root).toJson();
        QTest::newRow("not JSON") << QByteArray("{\"format\": ") << "fileFailureDialog" << "not JSON";
        QTest::newRow("channel 19 in both places")
            << nineteen << "fileFailureDialog" << "SBUS channels are 1 to 18";
        QTest::newRow("a FIFO") << QByteArray("fifo") << "fileFailureDialog" << "FIFO";
        QTest::newRow("answered No") << good << "loadCompareDialog" << "Write the file's parameters";
        QTest::newRow("the controller's own block")
            << BackupFile::write(kDefault, QDateTime::currentDateTimeUtc(), "p") << "fileResultDialog"
            << "already holds";
    }
    void loadSendsNothingUnlessAGoodFileIsConfirmed()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, dialog);
        QFETCH(QString, says);
        writeConfigRaw("[%General]\nLangureType=2\n");
        FileRig r;
        QVERIFY(r.connectAndSettle());
        QTemporaryDir dir;
        if (content == "fifo") {
            r.person.file = dir.filePath(QStringLiteral("fifo"));
            QCOMPARE(::mkfifo(QFile::encodeName(r.person.file).constData(), 0600), 0);
        } else {
            r.person.file = writeFile(dir, "file.json", content);
        }
        r.trigger("loadParamsAction");
        for (int i = 0; i < 20; ++i) {
            QVERIFY(r.tick());
            QVERIFY(!r.x().writing());
        }
        QVERIFY2(r.person.saw(dialog, says), qPrintable(r.person.seen.join(QLatin1Char('\n'))));
        QCOMPARE(raw(r.model.ram()), raw(kDefault));
        QCOMPARE(r.model.flashState(), GimbalModel::FlashState::Missing);
    }

    // The controller ends with the old block or the whole new one, however
    // the line behaves, unless the operator pulls the port mid-write, which
    // is then said.
    void loadEndsWholeOrNotAtAll_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<std::uint32_t>("seed");
        for (std::uint32_t seed : {1u, 2u, 3u, 4u})
            QTest::addRow("lossy line, seed %u", seed) << "lossy" << seed;
        QTest::newRow("link lost after the first part") << "silent" << 1u;
        QTest::newRow("Download pressed after the first part") << "download" << 1u;
        QTest::newRow("port closed after the first part") << "close" << 1u;
    }
    void loadEndsWholeOrNotAtAll()
    {
        QFETCH(QString, trouble);
        QFETCH(std::uint32_t, seed);
        writeConfigRaw("[%General]\nLangureType=2\n");
        FileRig r(seed);
        QVERIFY(r.connectAndSettle());
        const ParamBlock target = changedBlock(kDefault);
        QTemporaryDir dir;
        r.person.file = writeFile(dir, "target.json", BackupFile::write(target, QDateTime::currentDateTimeUtc(), "p"));
        r.person.yesTo = QStringList{"loadCompareDialog", "loadStoreDialog"};
        if (trouble == QLatin1String("lossy")) {
            r.model.faults.dropShare = 0.5;
            r.model.faults.corruptShare = 0.1;
        }
        r.trigger("loadParamsAction");
        if (trouble != QLatin1String("lossy")) {
            QVERIFY(r.tickUntil([&] { return r.x().commandCode == WRITE_PARAM_2; }, 60));
            if (trouble == QLatin1String("silent")) {
                r.model.silenceFor(r.ms, 2000);
            } else if (trouble == QLatin1String("download")) {
                r.click("downloadPushButton");
            } else {
                r.click("startPushButton");
                QVERIFY(r.tick());
                QVERIFY(r.person.saw(QStringLiteral("fileFailureDialog"), QStringLiteral("may hold part")));
                QCOMPARE(raw(r.model.flash()), raw(kDefault));
                return;
            }
        }
        QVERIFY(r.settleLoad(600));
        QVERIFY2(r.person.saw(QStringLiteral("fileResultDialog"), QStringLiteral("stored permanently")),
                 qPrintable(r.person.seen.join(QLatin1Char('\n'))));
        QCOMPARE(raw(r.model.ram()), raw(target));
        QCOMPARE(raw(r.model.flash()), raw(target));
    }

    // An upload or a load cut off at each of its three write requests by a
    // controller that falls silent, or by a pulled line, with Save pressed
    // during the write, during the outage, or not at all. The controller
    // ends with its old block or the whole new one, stored only whole and
    // only when asked during the write; a pulled line is said.
    void cutOffWriteEndsWhole_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<int>("silentAt");
        QTest::addColumn<QString>("save");
        QTest::addColumn<bool>("pulled");
        for (const char *job : {"upload", "load"})
            for (int at = 1; at <= 3; ++at) {
                for (const char *save : {"none", "write", "outage"})
                    QTest::addRow("%s silent at write %d, save %s", job, at, save) << job << at << save << false;
                QTest::addRow("%s pulled at write %d", job, at) << job << at << "write" << true;
            }
    }
    void cutOffWriteEndsWhole()
    {
        QFETCH(QString, job);
        QFETCH(int, silentAt);
        QFETCH(QString, save);
        QFETCH(bool, pulled);
        writeConfigRaw("[%General]\nLangureType=2\n");
        FileRig r;
        QVERIFY(r.connectAndSettle());
        const bool load = job == QLatin1String("load");
        // Mode (first part) 5 -> 9, tilt (second part) 1 -> 3.
        const ParamBlock target = load ? changedBlock(kDefault) : GimbalModel::defaultWith({3, 2, 9, 6, 7});
        QTemporaryDir dir;
        if (load) {
            r.person.file = writeFile(dir, "t.json", BackupFile::write(target, QDateTime::currentDateTimeUtc(), "p"));
            r.person.yesTo = QStringList{"loadCompareDialog"}; // and No to storing
            r.trigger("loadParamsAction");
        } else {
            r.combo("tiltComboBox")->setCurrentIndex(2);
            r.combo("modeComboBox")->setCurrentIndex(8);
            r.click("updatePushButton");
        }
        const quint8 silentOn = std::array<quint8, 3>{WRITE_PARAM_1, WRITE_PARAM_2, WRITE_PARAM_3}[silentAt - 1];
        QVERIFY(r.tickUntil([&] { return r.x().commandCode == silentOn; }, 60));
        if (save == QLatin1String("write"))
            r.click("programPushButton");
        r.model.silenceFor(r.ms, 2000);
        QVERIFY(r.untilText("linkStatusLineEdit", "Port Disonnection", 20));
        if (save == QLatin1String("outage"))
            QMetaObject::invokeMethod(r.w.get(), "on_programPushButton_clicked");
        if (pulled) {
            r.click("startPushButton");
            QVERIFY(r.tick());
            QVERIFY2(r.person.saw(QStringLiteral("fileFailureDialog"), QStringLiteral("may hold part")),
                     qPrintable(r.person.seen.join(QLatin1Char('\n'))));
            QCOMPARE(raw(r.model.flash()), raw(kDefault));
            return;
        }
        QVERIFY(r.tickUntil([&] { return !r.x().writing() && !r.x().linkLost() && r.x().blockDownloaded(); }, 200));
        QVERIFY(r.settleLoad(100));
        QCOMPARE(raw(r.model.ram()), raw(target));
        QCOMPARE(raw(r.model.flash()), raw(save == QLatin1String("write") ? target : kDefault));
        // The selectors show what the controller holds.
        for (int f = 0; f < kFunctionCount; ++f)
            QCOMPARE(r.shown(f), int(target[kFunctionSlot[f]]));
    }

    // A close (the window manager's, or a signal's) while the store question
    // is open ends the question with No; standard error then says that the
    // controller holds the file's block in RAM only.
    void closeDuringTheStoreQuestion()
    {
        writeConfigRaw("[%General]\nLangureType=2\n");
        FileRig r;
        QVERIFY(r.connectAndSettle());
        const ParamBlock target = changedBlock(kDefault);
        QTemporaryDir dir;
        r.person.file = writeFile(dir, "t.json", BackupFile::write(target, QDateTime::currentDateTimeUtc(), "p"));
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
    void saveOfChannelsOutOfRange_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("says");
        QTest::newRow("Chinese") << QByteArray("[%General]\nLangureType=1\n") << QStringLiteral("云台俯仰通道、相机录像通道");
        QTest::newRow("English") << QByteArray("[%General]\nLangureType=2\n") << QStringLiteral("Tilt Channel, Rec Channel");
    }
    void saveOfChannelsOutOfRange()
    {
        QFETCH(QByteArray, config);
        QFETCH(QString, says);
        writeConfigRaw(config);
        FileRig r;
        ParamBlock held = kDefault;
        held[9] = 0;
        held[10] = 255;
        r.model.setRam(held);
        QVERIFY(r.connectAndSettle());
        QTemporaryDir dir;
        r.person.file = dir.filePath(QStringLiteral("odd.json"));
        r.trigger("saveParamsAction");
        QVERIFY2(r.person.saw(QStringLiteral("fileResultDialog"), says) &&
                     r.person.saw(QStringLiteral("fileResultDialog"), QStringLiteral("--force")),
                 qPrintable(r.person.seen.join(QLatin1Char('\n'))));
        ParamBlock inFile{};
        QString why;
        QCOMPARE(BackupFile::load(r.person.file, &inFile, &why, PortDiagnostics::Language::English,
                                  BackupFile::OutOfRange::Allow),
                 BackupFile::LoadResult::Loaded);
        QCOMPARE(raw(inFile), raw(held));
    }

    void saveRefusesWhatIsNotARegularFile()
    {
        FileRig r;
        QVERIFY(r.connectAndSettle());
        QTemporaryDir dir;
        r.person.file = dir.filePath(QStringLiteral("reader.json"));
        QCOMPARE(::mkfifo(QFile::encodeName(r.person.file).constData(), 0600), 0);
        r.trigger("saveParamsAction");
        QVERIFY2(r.person.saw(QStringLiteral("fileFailureDialog"), QStringLiteral("FIFO")),
                 qPrintable(r.person.seen.join(QLatin1Char('\n'))));
        struct stat st{};
        QVERIFY(::stat(QFile::encodeName(r.person.file).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
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
        writeConfigRaw("[%General]\nLangureType=2\n");
        FileRig r;
        QVERIFY(r.connectAndSettle());
        QTemporaryDir dir;
        r.person.file = dir.filePath(QStringLiteral("live.csv"));
        r.trigger("logLiveAction");
        for (int i = 0; i < 40; ++i)
            QVERIFY(r.tick());
        // Each row is in the file as soon as its cycle ends, not when the log does.
        QFile during(r.person.file);
        QVERIFY(during.open(QIODevice::ReadOnly) && during.readAll().count('\n') >= 10);
        if (stop == QLatin1String("menu"))
            r.trigger("logLiveAction");
        else if (stop == QLatin1String("disconnect"))
            r.click("startPushButton");
        else
            r.model.silenceForGood();
        for (int i = 0; i < 20; ++i)
            QVERIFY(r.tick());
        QCOMPARE(r.action("logLiveAction")->text(), QStringLiteral("Log live data to CSV…"));

        QFile file(r.person.file);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.first(), QStringLiteral("time,tilt_pos,pan_pos,mode_pos,rec_pos,zoom_pos,"
                                               "tilt_test,pan_test,mode_test,rec_test,zoom_test,gimbal"));
        // Four requests make a cycle; the 40 ticks give ten, the silent ones none.
        QVERIFY2(lines.size() - 1 >= 9 && lines.size() - 1 <= 11, qPrintable(QString::number(lines.size())));
        QDateTime last;
        for (const QString &line : lines.mid(1)) {
            const QStringList cells = line.split(QLatin1Char(','));
            QCOMPARE(cells.size(), 12);
            QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))
                        .match(cells[0])
                        .hasMatch());
            const QDateTime time = QDateTime::fromString(cells[0], Qt::ISODateWithMs);
            QVERIFY(!last.isValid() || time > last);
            last = time;
            for (int c = 1; c <= 10; ++c) {
                bool number = false;
                cells[c].toInt(&number);
                QVERIFY(number);
            }
            // Test data arrives in tens of microseconds and is logged in microseconds.
            QVERIFY(cells[6].toInt() >= 1000 && cells[6].toInt() <= 2000);
            QCOMPARE(cells[11], QStringLiteral("connected"));
        }
        QVERIFY(r.statusTip()
                    .contains(QStringLiteral("(%1 rows)").arg(lines.size() - 1)));
    }
};

QTEST_MAIN(TestWindowFiles)
#include "tst_window_files.moc"
