// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window as the operator meets it: start-up state, the Return key, both text sets, switching language, the
// probed port list and a port that won't open, screen readers and the keyboard, and the program's command line.
#include <QtTest>

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>

#include "app/portselector.h"
#include "app/tiravo.h"
#include "port/portlist.h"
#include "support/clicks.h"
#include "support/pty.h"
#include "support/settingsfile.h"
#include "version.h"

namespace {

struct ExpectedText {
    int index;
    QString widget; // empty for the texts only the link code shows
    QString chinese;
    QString english;
};

// The expected texts live in a file of their own, written independently of the program's tables, so a typo in
// either shows up as a difference.
QList<ExpectedText> expectedTexts()
{
    QList<ExpectedText> out;
    QFile f(QStringLiteral(SBUS_TEST_DATA "/texts.tsv"));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("texts.tsv is missing");
    for (const QString &line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const QStringList cols = line.split(QLatin1Char('\t'));
        if (cols.size() == 4 && !line.startsWith(QLatin1Char('#')))
            out.append({cols[0].toInt(), cols[1] == QLatin1String("-") ? QString() : cols[1], cols[2], cols[3]});
    }
    return out;
}

// A label's or a button's text.
QString caption(QWidget &w, const QString &name)
{
    return w.findChild<QWidget *>(name)->property("text").toString();
}

bool showsLanguage(Tiravo &w, bool chinese)
{
    for (const ExpectedText &t : expectedTexts())
        if (!t.widget.isEmpty() && caption(w, t.widget) != (chinese ? t.chinese : t.english)) {
            qWarning() << t.widget << "shows" << caption(w, t.widget);
            return false;
        }
    return true;
}

template <typename T = QWidget> T *child(QWidget &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}

struct Run {
    int code;
    QString out, err;
};

Run run(const QStringList &arguments, bool display = true, const QString &program = QStringLiteral(SBUS_WINDOW))
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!display)
            env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()), QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { removeConfig(); }

    void startUpState()
    {
        Tiravo w;
        QCOMPARE(w.windowTitle(), QStringLiteral("SBUS CHANNEL"));
        for (const char *n : {"updatePushButton", "downloadPushButton", "programPushButton", "tiltComboBox",
                              "headingComboBox", "modeComboBox", "videoComboBox", "zoomComboBox"})
            QVERIFY2(!child(w, n)->isEnabled(), n);
        for (const char *n : {"comComboBox", "startPushButton", "chRadioButton", "enRadioButton"})
            QVERIFY2(child(w, n)->isEnabled(), n);

        const auto timers = w.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(timers.size() == 1 && timers.first()->isActive() && !timers.first()->isSingleShot());
        QCOMPARE(timers.first()->interval(), 50);
    }

    void textTablesExact()
    {
        const auto expected = expectedTexts();
        QCOMPARE(expected.size(), kTextCount);
        for (const ExpectedText &t : expected) {
            QCOMPARE(QString::fromUtf8(kChineseTexts[t.index]), t.chinese);
            QCOMPARE(QString::fromUtf8(kEnglishTexts[t.index]), t.english);
        }
        // The port state is told from the start button's text, so no two texts of a set may agree.
        for (const char *const *set : {kChineseTexts, kEnglishTexts}) {
            QSet<QString> seen;
            for (int i = 0; i < kTextCount; ++i)
                seen.insert(QString::fromUtf8(set[i]));
            QCOMPARE(seen.size(), kTextCount);
        }
    }

    void languageSwitchRewritesCaptionsOnly()
    {
        Tiravo w;
        QVERIFY(showsLanguage(w, true));
        child<QLineEdit>(w, "linkStatusLineEdit")->setText(QStringLiteral("keep"));
        child<QLabel>(w, "statusLabel")->setText(QStringLiteral("me"));

        clickCaption(w, "enRadioButton");
        QVERIFY(showsLanguage(w, false));
        QCOMPARE(child<QLineEdit>(w, "linkStatusLineEdit")->text(), QStringLiteral("keep"));
        QCOMPARE(child<QLabel>(w, "statusLabel")->text(), QStringLiteral("me"));
        QCOMPARE(w.windowTitle(), QStringLiteral("SBUS CHANNEL"));
        QVERIFY(!child(w, "updatePushButton")->isEnabled());

        // The second time round the button is already chosen, and the click stores the choice again.
        for (int i = 0; i < 2; ++i) {
            clickCaption(w, "chRadioButton");
            QVERIFY(showsLanguage(w, true));
            QCOMPARE(storedLanguage().toString(), QStringLiteral("1"));
            removeConfig();
        }
    }

    // Keys reaching the window stay accepted, Return included, which uploads only on a live link (tst_window_port).
    void keysReachingTheWindowStayAccepted()
    {
        Tiravo w;
        for (const int key : {int(Qt::Key_Return), int(Qt::Key_U)}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(&w, &press);
            QVERIFY2(press.isAccepted(), "keys reaching the window are not passed on");
        }
    }

    // A port that is missing, or held by another user, is left out at start.
    void portsThatDoNotOpenAreLeftOut()
    {
        PtyPair free, held;
        QVERIFY(free.isValid() && held.isValid());
        QSerialPort holder(held.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        const QStringList names = {held.slavePath(), free.slavePath(),
                                   QStringLiteral("/dev/sbus-channel-no-such-port")};
        for (const QString &name : names)
            PortList::registerPort(name);
        const quint16 before = portCount;

        Tiravo w;
        auto *ports = child<QComboBox>(w, "comComboBox");
        QCOMPARE(ports->itemText(0), free.slavePath());
        QVERIFY(ports->findText(held.slavePath()) == -1 && ports->findText(names.last()) == -1);
        QCOMPARE(int(portCount - before), ports->count());
        for (const QString &name : names)
            PortList::unregisterPort(name);
    }

    // The port selector's items never move the form: with a long by-id name listed first every widget keeps the
    // rectangle it has with a short one.
    void longPortNameKeepsTheLayout()
    {
        PtyPair pty;
        QTemporaryDir dir;
        QVERIFY(pty.isValid() && dir.isValid());
        const QString longName = dir.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"))
                                     .leftJustified(60, QLatin1Char('0'), true);
        QVERIFY2(QFile::link(pty.slavePath(), longName), qPrintable(longName));

        const auto rectangles = [](const QString &port) {
            PortList::registerPort(port);
            Tiravo w;
            w.show();
            QCoreApplication::sendPostedEvents();
            PortList::unregisterPort(port);
            QStringList out;
            if (child<QComboBox>(w, "comComboBox")->currentText() != port)
                return out;
            for (const QWidget *c : w.findChildren<QWidget *>()) {
                if (c->isWindow())
                    continue;
                QString path = c->objectName();
                for (const QWidget *p = c->parentWidget(); p != &w; p = p->parentWidget())
                    path.prepend(p->objectName() + QLatin1Char('/'));
                const QRect r = c->geometry();
                out << QStringLiteral("%1 %2,%3 %4x%5").arg(path).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
            }
            return out;
        };
        const QStringList shortName = rectangles(pty.slavePath());
        QVERIFY(!shortName.filter(QStringLiteral("layoutWidget/tiltSlider ")).isEmpty());
        QCOMPARE(rectangles(longName), shortName);
    }

    // What the closed box keeps of a name before cutting it at the start: udev's by-id and by-path names lose the
    // interface and port number that nearly every adapter shares, and keep whatever tells two apart.
    void portNameShownInTheClosedBox_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        const QString id = QStringLiteral("/dev/serial/by-id/");
        QTest::newRow("by-id") << id + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
                               << id + "usb-FTDI_FT232R_USB_UART_A50285BI";
        QTest::newRow("second interface") << id + "usb-FTDI_Dual_RS232-HS-if01-port0"
                                          << id + "usb-FTDI_Dual_RS232-HS-if01";
        QTest::newRow("second port") << id + "usb-Moxa_UPort-if00-port1" << id + "usb-Moxa_UPort-if00-port1";
        QTest::newRow("modem") << id + "usb-Arduino_Uno_8543931323035-if00" << id + "usb-Arduino_Uno_8543931323035";
        QTest::newRow("by-path") << "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
                                 << "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0";
        QTest::newRow("elsewhere") << "/home/me/gimbal-if00-port0" << "/home/me/gimbal-if00-port0";
    }
    void portNameShownInTheClosedBox()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QCOMPARE(PortSelector::shownName(name), shown);
    }

    // A port that won't open flips the controls for one tick: the open keeps its course and the next tick's error
    // check turns the window back. Why it failed, and what to do, goes to stderr and to the status field's tooltip,
    // in the window's language and within its width, until an open succeeds. (Told again in the other language:
    // tst_window_openfailure.) The port here is a second name (a by-id link, a symlink) for one in use, which names
    // the same port and so is not opened a second time.
    void failedOpenExplained()
    {
        PtyPair good, held;
        QTemporaryDir dir;
        const QString port = dir.filePath(QStringLiteral("ttyGIMBAL"));
        QVERIFY(good.isValid() && held.isValid() && QFile::link(held.slavePath(), port));
        QSerialPort holder(held.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));

        Tiravo w;
        w.resize(360, w.height()); // narrower than the explanation's lines
        w.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop(); // the test ticks the window itself
        QMetaObject::invokeMethod(&w, "SYS_QTimerUpDate"); // shows the closed port's status
        auto *ports = child<QComboBox>(w, "comComboBox");
        ports->addItems({good.slavePath(), port});
        ports->setCurrentText(port);
        auto *status = child<QLineEdit>(w, "linkStatusLineEdit");
        const QString statusBefore = status->text(), connect = caption(w, QStringLiteral("startPushButton"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^tst_window: .*" + port));
        QTest::mouseClick(child(w, "startPushButton"), Qt::LeftButton);
        QVERIFY(caption(w, QStringLiteral("startPushButton")) != connect);
        const QFontMetrics metrics(QToolTip::font());
        for (const QString &line : status->toolTip().split(QLatin1Char('\n')))
            QVERIFY2(metrics.horizontalAdvance(line) < w.width(), qPrintable(line));
        QVERIFY2(status->toolTip().contains(port) && !status->toolTip().contains(QStringLiteral("fix")),
                 qPrintable(status->toolTip()));
        QMetaObject::invokeMethod(&w, "SYS_QTimerUpDate");
        QCOMPARE(caption(w, QStringLiteral("startPushButton")), connect);
        QCOMPARE(status->text(), statusBefore);

        ports->setCurrentText(good.slavePath());
        QTest::mouseClick(child(w, "startPushButton"), Qt::LeftButton);
        QVERIFY(caption(w, QStringLiteral("startPushButton")) != connect && status->toolTip().isEmpty());
    }

    // Screen readers get a name for every control in the window's language, each caption labels its selector or
    // field, and the keyboard goes down the rows.
    void assistance()
    {
        Tiravo w;
        const QStringList order = {
            "tiltSlider",   "tiltComboBox",     "headingSlider",      "headingComboBox",   "modeSlider",
            "modeComboBox", "videoSlider",      "videoComboBox",      "zoomSlider",        "zoomComboBox",
            "comComboBox",  "startPushButton",  "updatePushButton",   "downloadPushButton", "programPushButton",
            "tiltLineEdit", "headingLineEdit",  "modeLineEdit",       "videoLineEdit",     "zoomLineEdit",
            "linkStatusLineEdit", "chRadioButton", "enRadioButton"};
        QStringList seen;
        for (QWidget *next = child(w, "tiltSlider"); seen.size() < order.size(); next = next->nextInFocusChain())
            if (next->focusPolicy() & Qt::TabFocus)
                seen << next->objectName();
        QCOMPARE(seen, order);
        const char *const rows[][2] = {{"tiltLabel", "tiltComboBox"},      {"zoomLabel", "zoomComboBox"},
                                       {"testheadingLabel", "headingLineEdit"}, {"linkStatusLabel", "linkStatusLineEdit"}};
        for (const auto &row : rows)
            QCOMPARE(child<QLabel>(w, row[0])->buddy(), child(w, row[1]));

        const auto names = [&] {
            QMap<QString, QString> out;
            // Buttons are named by their captions; a combo box on Linux reports its current item as its name, so
            // the name set is looked at there.
            for (const QString &name : order) {
                QWidget *widget = w.findChild<QWidget *>(name);
                out[name] = widget->accessibleName().isEmpty()
                                ? QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name)
                                : widget->accessibleName();
            }
            return out;
        };
        const auto chinese = names();
        clickCaption(w, "enRadioButton");
        const auto english = names();
        const char *const named[][3] = {{"comComboBox", "串口", "Serial port"},
                                        {"headingComboBox", "云台指向通道", "Pan Channel"},
                                        {"zoomSlider", "相机变焦位置", "Zoom position"},
                                        {"modeLineEdit", "模式数据", "Mode Data"}};
        for (const auto &n : named) {
            QCOMPARE(chinese[QLatin1String(n[0])], QString::fromUtf8(n[1]));
            QCOMPARE(english[QLatin1String(n[0])], QString::fromUtf8(n[2]));
        }
        QCOMPARE(english["enRadioButton"], QStringLiteral("English"));
        QCOMPARE(QSet<QString>(english.begin(), english.end()).size(), order.size());
        for (const QString &name : order)
            QVERIFY2(!chinese[name].isEmpty(), qPrintable(name));
    }

    // The programs themselves, the window and its demo: what the command line says, and where no display is.
    void commandLine()
    {
        for (bool display : {true, false}) {
            const Run help = run({QStringLiteral("--help")}, display);
            QVERIFY2(help.code == 0 && help.out.contains(QStringLiteral("--port <path>")), qPrintable(help.out + help.err));
            const Run version = run({QStringLiteral("--version")}, display);
            QCOMPARE(version.code, 0);
            QCOMPARE(version.out, QStringLiteral("sbus-channel " SBUS_CHANNEL_VERSION "\n"));
            const Run wrong = run({QStringLiteral("--bogus")}, display);
            QVERIFY2(wrong.code == 2 && wrong.out.isEmpty() && wrong.err.contains(QStringLiteral("bogus")), qPrintable(wrong.err));
        }
        QProcess full; // a version that can't be written is no success
        full.setStandardOutputFile(QStringLiteral("/dev/full"));
        full.start(QStringLiteral(SBUS_WINDOW), {QStringLiteral("--version")});
        QVERIFY(full.waitForFinished(30000) && full.exitCode() == 1);
        const Run port = run({QStringLiteral("--port"), QStringLiteral("/dev/ttyUSB9")}, false);
        QVERIFY2(port.code == 1 && port.out.isEmpty() && port.err.count(QLatin1Char('\n')) == 1 &&
                     port.err.contains(QStringLiteral("no display")) && port.err.contains(QStringLiteral("sbus-channel-cli")),
                 qPrintable(port.err));

        // The demo is the same window: without a display it answers its command line and says so, rather than
        // letting Qt abort.
        const Run demoHelp = run({QStringLiteral("--help")}, false, QStringLiteral(SBUS_DEMO));
        QVERIFY2(demoHelp.code == 0 && demoHelp.out.contains(QStringLiteral("--tour <dir>")), qPrintable(demoHelp.out + demoHelp.err));
        const Run demo = run({QStringLiteral("--seed"), QStringLiteral("3")}, false, QStringLiteral(SBUS_DEMO));
        QVERIFY2(demo.code == 1 && demo.out.isEmpty() && demo.err.count(QLatin1Char('\n')) == 1 &&
                     demo.err.startsWith(QStringLiteral("sbus-channel-demo: no display")),
                 qPrintable(demo.err));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
