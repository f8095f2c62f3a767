// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's serial session on a pseudo-terminal's slave side, the test
// answering as the controller on the master side one tick at a time.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <memory>
#include <vector>

#include <termios.h>

#include "app/commandline.h"
#include "app/tiravo.h"
#include "port/portlist.h"
#include "support/controller.h"
#include "support/frames.h"
#include "support/pty.h"
#include "support/settingsfile.h"
#include "ui/rownames.h"

using TestFrames::command;
using TestFrames::Device;
using TestFrames::reply;

namespace {

const int kSlot[] = {9, 13, 4, 10, 12}; // tilt, heading, mode, video, zoom

// A window started with the test's pseudo-terminal as --port, in English.
struct Rig {
    PtyPair pty;
    std::unique_ptr<Tiravo> w;
    std::unique_ptr<ControllerPeer> peer;
    Device dev;

    Rig()
    {
        const auto line = WindowCommandLine::parse({QStringLiteral("sbus-channel"), QStringLiteral("--port"), pty.slavePath()});
        WindowCommandLine::registerPorts(line.ports);
        w = std::make_unique<Tiravo>();
        peer = std::make_unique<ControllerPeer>(*w, pty.master());
    }
    ~Rig() { PortList::unregisterPort(pty.slavePath()); }

    template <typename T = QWidget> T *get(const char *name) const
    {
        return w->findChild<T *>(QString::fromLatin1(name));
    }
    QComboBox *combo(const char *name) const { return get<QComboBox>(name); }
    QString linkStatus() const { return get<QLineEdit>("linkStatusLineEdit")->text(); }
    QString message() const { return get<QLabel>("statusLabel")->text(); }
    QString startCaption() const { return get<QPushButton>("startPushButton")->text(); }
    void click(const char *name) { QTest::mouseClick(get(name), Qt::LeftButton); }

    // One tick answered by the device; returns the request it answered.
    QByteArray exchange()
    {
        const QByteArray request = peer->tick();
        peer->send(dev.answer(request));
        return request;
    }
    // Connects and answers until the download is shown and the first poll answered.
    bool connectAndDownload()
    {
        click("startPushButton");
        for (quint8 expected : {READ_PARAM_1, READ_PARAM_2, READ_PARAM_3})
            if (command(exchange()) != expected)
                return false;
        return command(exchange()) == POLL_POSITIONS_1 && message() == QStringLiteral("Download Param Success");
    }
    int channelShown(int function) const { return combo(kFunctionRows[function].channel)->currentIndex() + 1; }
};

// `live`: Upload, Save and the selectors work, which they do only once the
// selectors show what this contact read.
bool controlsConnected(const Rig &r, bool connected, bool live = false)
{
    bool ok = r.get("comComboBox")->isEnabled() != connected && r.get("chRadioButton")->isEnabled() != connected &&
              r.get("enRadioButton")->isEnabled() != connected && r.get("startPushButton")->isEnabled() &&
              r.get("downloadPushButton")->isEnabled() == connected;
    for (const char *n : {"updatePushButton", "programPushButton"})
        ok = ok && r.get(n)->isEnabled() == live;
    for (const FunctionRowNames &row : kFunctionRows)
        ok = ok && r.get(row.channel)->isEnabled() == live;
    return ok && r.startCaption() == (connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
}

// USB adapters as the system would describe them, on pseudo-terminals under
// names of the test's choosing; all of one type, told apart by serial number.
struct Adapters {
    QTemporaryDir dir;
    std::vector<std::unique_ptr<PtyPair>> devices;
    QStringList names;

    ~Adapters()
    {
        for (const QString &name : names)
            PortList::unregisterPort(name);
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    void plug(const QString &name, const QString &serial)
    {
        devices.push_back(std::make_unique<PtyPair>());
        QVERIFY(QFile::link(devices.back()->slavePath(), path(name)));
        PortList::Facts facts;
        facts.serialNumber = serial;
        facts.usbId = QStringLiteral("0403:6001");
        PortList::registerPort(path(name), facts);
        names << path(name);
    }
};

// The last connect's adapter, as the window stores it.
QByteArray rememberedA1(const QString &port)
{
    return "[%General]\nLangureType=2\n[Adapter]\nSerial=A1\nUsbId=0403:6001\nById=\nPort=" + port.toUtf8() + "\n";
}

} // namespace

class TestWindowPort : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshEnglishWindow(); }

    void cleanupTestCase() { removeConfig(); }

    // One contact from Connect to the poll cycle, checking what each reply
    // changes on screen, and then the window closed while connected.
    void connectDownloadAndPoll()
    {
        Rig r;
        r.click("startPushButton");
        QVERIFY(controlsConnected(r, true));
        // A pseudo-terminal is no adapter to remember.
        QVERIFY(!readConfigRaw().contains("[Adapter]"));
        termios line{};
        QVERIFY(::tcgetattr(r.pty.slave(), &line) == 0 && cfgetispeed(&line) == B115200 && cfgetospeed(&line) == B115200);
        QCOMPARE(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));

        // Until the first good reply the link counts as down, and the request
        // is a read. (What a request holds byte by byte is tst_link's.)
        const QByteArray request = r.peer->tick();
        QVERIFY(TestFrames::crcIsGood(request) && command(request) == READ_PARAM_1);
        QCOMPARE(r.linkStatus(), QStringLiteral("Port Disonnection"));
        // A reply cut in two by Disconnect and Connect is completed by the
        // bytes that come after the reopen, on a new port object.
        const QByteArray whole = r.dev.answer(request);
        QVERIFY(r.peer->send(whole.left(20)));
        r.click("startPushButton");
        QVERIFY(controlsConnected(r, false));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        r.click("startPushButton");
        QVERIFY(r.peer->send(whole.mid(20)));
        QCOMPARE(r.w->receiver().framesGood(), quint64(1));
        QCOMPARE(command(r.exchange()), quint8(READ_PARAM_2));
        QCOMPARE(r.linkStatus(), QStringLiteral("Gmbal Disconnect"));
        QCOMPARE(r.message(), QStringLiteral("Downloading Param"));
        QCOMPARE(command(r.exchange()), quint8(READ_PARAM_3));
        QCOMPARE(r.channelShown(0), 1); // nothing set before the block is whole
        QVERIFY(controlsConnected(r, true, false));

        QCOMPARE(command(r.exchange()), quint8(POLL_POSITIONS_1));
        QCOMPARE(r.message(), QStringLiteral("Download Param Success"));
        QVERIFY(controlsConnected(r, true, true));
        for (int f = 0; f < 5; ++f)
            QCOMPARE(r.channelShown(f), int(r.dev.block[kSlot[f]]));

        // Combo boxes are set once; the operator's later choice is not overwritten by the polls.
        r.combo("tiltComboBox")->setCurrentIndex(15);
        for (int i = 0; i < 5; ++i) // a poll cycle and a bit (its order is tst_link's)
            r.exchange();
        QCOMPARE(r.channelShown(0), 16);
        QCOMPARE(r.linkStatus(), QStringLiteral("Gmbal Connect"));
        for (int f = 0; f < 5; ++f) {
            QCOMPARE(r.get<QSlider>(kFunctionRows[f].position)->value(), int(r.dev.pos[f]));
            QCOMPARE(r.get<QLineEdit>(kFunctionRows[f].testData)->text(), QString::number(r.dev.test[f] * 10));
        }

        r.dev.gimbalBit = 1;
        for (int i = 0; i < 4 && command(r.exchange()) != POLL_TEST_DATA; ++i) {}
        QCOMPARE(r.linkStatus(), QStringLiteral("Gmbal Disconnect"));

        // The device node is free as soon as the window is gone.
        QSerialPort other(r.pty.slavePath());
        QVERIFY(!other.open(QIODevice::ReadWrite));
        r.peer.reset();
        r.w.reset();
        QVERIFY(other.open(QIODevice::ReadWrite));
    }

    // A slot value no item shows leaves its selector blank, is named in the
    // status field's tooltip, and goes back to the controller as it came
    // unless the operator chooses a channel for it.
    void channelOutsideTheItems_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("choose");
        for (int f = 0; f < kFunctionCount; ++f)
            for (int value : {0, 19})
                QTest::newRow(QByteArray(kFunctionRows[f].channel) + ' ' + QByteArray::number(value))
                    << f << value << false;
        QTest::newRow("mode 0, then chosen") << int(Mode) << 0 << true;
        QTest::newRow("in range: 1") << int(Tilt) << 1 << false;
        QTest::newRow("in range: 18") << int(Zoom) << 18 << false;
    }
    void channelOutsideTheItems()
    {
        QFETCH(int, function);
        QFETCH(int, value);
        QFETCH(bool, choose);
        Rig r;
        const int slot = kSlot[function];
        r.dev.block[slot] = quint8(value);
        const QVector<quint8> before = r.dev.block;
        QVERIFY(r.connectAndDownload());
        QComboBox *selector = r.combo(kFunctionRows[function].channel);
        const bool outside = value < 1 || value > 18;
        QCOMPARE(selector->currentIndex(), outside ? -1 : value - 1);
        const QString tip = r.get("linkStatusLineEdit")->toolTip();
        const QString name = QString::fromUtf8(kEnglishTexts[TXT_TILT_CHANNEL + function]).simplified().remove(QLatin1Char(':'));
        QCOMPARE(tip.contains(QStringLiteral("outside 1..18")), outside);
        QCOMPARE(tip.contains(name), outside);

        if (choose)
            selector->setCurrentIndex(8);
        r.click("updatePushButton");
        for (int i = 0; i < 8 && r.message() != QStringLiteral("Upload Param Success"); ++i)
            r.exchange();
        QVector<quint8> expected = before;
        if (choose)
            expected[slot] = 9;
        QCOMPARE(r.dev.block, expected);
    }

    // Before the contact's first read has set the selectors they show
    // placeholders nobody chose: Return (Upload's own check, typed in a text
    // field, which passes it on) or Save (reached by name, as a click on a
    // disabled button can't) write and store nothing until then. The keypad's
    // Enter never writes.
    void nothingWrittenBeforeTheFirstRead_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("repliesBefore");
        for (const QString &action : {QStringLiteral("return"), QStringLiteral("enter"), QStringLiteral("save")})
            for (int n = 0; n <= 4; ++n)
                QTest::newRow(qPrintable(QStringLiteral("%1 after %2 replies").arg(action).arg(n))) << action << n;
    }
    void nothingWrittenBeforeTheFirstRead()
    {
        QFETCH(QString, action);
        QFETCH(int, repliesBefore);
        Rig r;
        for (int f = 0; f < 5; ++f)
            r.dev.block[kSlot[f]] = quint8(11 + f);
        const QVector<quint8> before = r.dev.block;
        r.click("startPushButton");
        for (int i = 0; i < repliesBefore; ++i)
            r.exchange();
        // The fourth reply is the poll after the tick that showed the block.
        const bool shown = repliesBefore == 4;
        r.combo("tiltComboBox")->setCurrentIndex(2);
        if (action == QLatin1String("save"))
            QMetaObject::invokeMethod(r.w.get(), "on_programPushButton_clicked");
        else if (action == QLatin1String("return"))
            QTest::keyClick(r.get("tiltLineEdit"), Qt::Key_Return);
        else
            QTest::keyClick(r.w.get(), Qt::Key_Enter, Qt::KeypadModifier);
        int saves = 0;
        for (int i = 0; i < 12; ++i)
            saves += r.exchange().at(4) == 0x02;
        QVector<quint8> expected = before;
        if (shown && action == QLatin1String("return"))
            expected[kSlot[0]] = 3;
        QCOMPARE(r.dev.block, expected);
        QCOMPARE(saves, shown && action == QLatin1String("save") ? 1 : 0);
        // The read set the selectors to what the controller holds.
        if (!shown)
            QCOMPARE(r.channelShown(0), int(expected[kSlot[0]]));
    }

    // "Downloading Param" and "Download Param Success" share one count: the
    // run is gone 45 ticks after its first message appeared.
    void messagesOfARunShareOneCount()
    {
        Rig r;
        r.click("startPushButton");
        r.exchange();
        QCOMPARE(r.message(), QStringLiteral(" "));
        QStringList shown;
        for (int i = 0; i < 100 && (shown.isEmpty() || r.message() != QStringLiteral(" ")); ++i) {
            r.exchange();
            shown << r.message();
        }
        QCOMPARE(shown.count(QStringLiteral("Downloading Param")), 2);
        QCOMPARE(shown.count(QStringLiteral("Download Param Success")), 43);
        QCOMPARE(shown.size(), 46);
    }

    // --port devices come and go with their node, the operator's choice
    // surviving every rebuild; a chosen port that vanishes is replaced by
    // nothing, so Connect opens no other, and is chosen again when back.
    void commandLinePortsComeAndGo()
    {
        Rig r;
        auto *ports = r.combo("comComboBox");
        QCOMPARE(ports->currentText(), r.pty.slavePath());
        r.peer->idleTick();
        const int listed = ports->count();
        ports->setCurrentIndex(listed - 1);
        const QString chosen = ports->currentText();

        QTemporaryDir dir;
        const QString later = dir.filePath(QStringLiteral("ttyLATER"));
        WindowCommandLine::registerPorts({later});
        QVERIFY(QFile::link(r.pty.slavePath(), later));
        r.peer->idleTick();
        QCOMPARE(ports->count(), listed + 1);
        QCOMPARE(ports->itemText(1), later); // listed without being opened, after the first --port
        QCOMPARE(ports->currentText(), chosen);

        ports->setCurrentIndex(1);
        QVERIFY(r.connectAndDownload());
        // While connected nothing changes the list.
        QFile::remove(later);
        r.exchange();
        QCOMPARE(ports->count(), listed + 1);
        r.click("startPushButton");
        r.peer->idleTick();
        QCOMPARE(ports->count(), listed);
        QCOMPARE(ports->currentIndex(), -1);
        const QString tip = r.get("linkStatusLineEdit")->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("The chosen port ")) && tip.contains(QStringLiteral("is gone")), qPrintable(tip));
        r.click("startPushButton");
        QVERIFY(controlsConnected(r, false));

        QVERIFY(QFile::link(r.pty.slavePath(), later));
        r.peer->idleTick();
        QCOMPARE(ports->currentText(), later);
        QVERIFY(!r.get("linkStatusLineEdit")->toolTip().contains(QStringLiteral("is gone")));
        PortList::unregisterPort(later);
    }

    // The adapter of the last run is chosen under whatever name it has now,
    // and no other adapter in its place, not even one of its type under its
    // old name. A file without it (an older version's) or one whose entry
    // is not an adapter leaves the first port chosen, as before.
    void rememberedAdapterAndNoOther_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("plugged"); // name:serial
        QTest::addColumn<QString>("chosen");
        const QByteArray language = kEnglishLanguageFile;
        QTest::newRow("under another name")
            << rememberedA1("$DIR/ttyUSB0") << QStringList{"ttyUSB0:B2", "ttyUSB1:A1"} << "ttyUSB1";
        QTest::newRow("absent, its type present") << rememberedA1("$DIR/ttyUSB0") << QStringList{"ttyUSB0:B2"} << "";
        QTest::newRow("older file") << language << QStringList{"ttyUSB0:B2", "ttyUSB1:A1"} << "ttyUSB0";
        QTest::newRow("a list") << language + "[Adapter]\nSerial=A1, B2\nPort=$DIR/ttyUSB1\n"
                                << QStringList{"ttyUSB0:B2", "ttyUSB1:A1"} << "ttyUSB0";
        QTest::newRow("a line break") << language + "[Adapter]\nSerial=\"A1\\nB2\"\n"
                                      << QStringList{"ttyUSB0:B2", "ttyUSB1:A1"} << "ttyUSB0";
        QTest::newRow("a megabyte") << language + "[Adapter]\nPort=" + QByteArray(1 << 20, 'x') + "\n"
                                    << QStringList{"ttyUSB0:B2"} << "ttyUSB0";
    }
    void rememberedAdapterAndNoOther()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, plugged);
        QFETCH(QString, chosen);
        Adapters a;
        writeConfigRaw(config.replace("$DIR", a.dir.path().toUtf8()));
        for (const QString &p : plugged)
            a.plug(p.section(QLatin1Char(':'), 0, 0), p.section(QLatin1Char(':'), 1));
        Tiravo w;
        w.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop();
        auto *ports = w.findChild<QComboBox *>(QStringLiteral("comComboBox"));
        const auto tick = [&] { QMetaObject::invokeMethod(&w, "SYS_QTimerUpDate"); };
        tick();
        QCOMPARE(ports->currentText(), chosen.isEmpty() ? QString() : a.path(chosen));
        QCOMPARE(storedLanguage().toString(), QStringLiteral("2"));
        if (!chosen.isEmpty()) {
            // The command line's --port comes first, and stays chosen as the list changes.
            w.choosePort(a.path(QStringLiteral("ttyUSB0")));
            a.plug(QStringLiteral("ttyACM7"), QStringLiteral("C3"));
            tick();
            QCOMPARE(ports->currentText(), a.path(QStringLiteral("ttyUSB0")));
            return;
        }
        const QString tip = w.findChild<QWidget *>(QStringLiteral("linkStatusLineEdit"))->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("serial A1")), qPrintable(tip));
        // It comes back with a name of its own: chosen again.
        a.plug(QStringLiteral("ttyACM7"), QStringLiteral("A1"));
        tick();
        QCOMPARE(ports->currentText(), a.path(QStringLiteral("ttyACM7")));
    }
};

QTEST_MAIN(TestWindowPort)
#include "tst_window_port.moc"
