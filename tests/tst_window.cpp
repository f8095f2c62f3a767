// The window as the operator meets it: start-up state, the slot table, the
// Return key, the two languages and the port list filled by probing.
#include <QtTest>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include "app/tiravo.h"
#include "link/frame.h"
#include "link/portlist.h"
#include "support/pty.h"
#include "support/settingsfile.h"

namespace {

template <typename T> T *child(QWidget &w, const char *name)
{
    T *c = w.findChild<T *>(QString::fromLatin1(name));
    if (!c)
        qFatal("no widget named %s", name);
    return c;
}

QString caption(QWidget &w, const QString &name)
{
    QWidget *c = w.findChild<QWidget *>(name);
    if (auto *label = qobject_cast<QLabel *>(c))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(c))
        return button->text();
    qFatal("no caption on %s", qPrintable(name));
    return {};
}

// Written out here rather than taken from the program's tables, so a typo in
// either shows up as a difference.
struct Caption {
    const char *widget;
    int index;
    const char *chinese;
    const char *english;
};
const Caption kCaptions[] = {
    {"startPushButton", 0, "开始调试", "Connect"},
    {"updatePushButton", 2, "参数上传", "Upload Param"},
    {"downloadPushButton", 3, "参数下载", "Download Param"},
    {"programPushButton", 4, "参数烧写", "Save Param"},
    {"tiltLabel", 5, "云台俯仰通道：", "Tilt Channel:"},
    {"headingLabel", 6, "云台指向通道：", "Pan  Channel:"},
    {"modeLabel", 7, "云台模式通道：", "Mode Channel:"},
    {"videoLabel", 8, "相机录像通道：", "Rec  Channel:"},
    {"zoomLabel", 9, "相机变焦通道：", "Zoom Channel:"},
    {"testLabel", 10, "测试数据", "Test Data"},
    {"testTiltLabel", 11, "俯仰数据", "Tilt Data"},
    {"testheadingLabel", 12, "指向数据", "Pan  Data"},
    {"testModeLabel", 13, "模式数据", "Mode Data"},
    {"testVideoLabel", 14, "录像数据", "Rec  Data"},
    {"testZoomLabel", 15, "变焦数据", "Zoom Data"},
    {"linkStatusLabel", 16, "连接状态", "Status"},
    {"chRadioButton", 17, "中文", "中文"},
    {"enRadioButton", 18, "English", "EN"},
};
const Caption kMessages[] = {
    {nullptr, 1, "停止调试", "Disconnect"},
    {nullptr, 19, "端口连接断开", "Port Disonnection"},
    {nullptr, 20, "云台连接成功", "Gmbal Connect"},
    {nullptr, 21, "云台连接断开", "Gmbal Disconnect"},
    {nullptr, 22, "    正在上传参数", "Uploading Param"},
    {nullptr, 23, "    参数上传完成", "Upload Param Success"},
    {nullptr, 24, "    正在下载参数", "Downloading Param"},
    {nullptr, 25, "    参数下载完成", "Download Param Success"},
    {nullptr, 26, "    参数烧写成功", "Save Param Success"},
    {nullptr, 27, "    参数烧写失败", "Save Param Fail"},
    {nullptr, 28, " ", " "},
};

void checkCaptions(Tiravo &w, bool chinese)
{
    for (const Caption &c : kCaptions)
        QCOMPARE(caption(w, QString::fromLatin1(c.widget)), QString::fromUtf8(chinese ? c.chinese : c.english));
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        removeConfig();
    }

    void startUpState()
    {
        Tiravo w;
        QCOMPARE(w.windowTitle(), QStringLiteral("SBUS CHANNEL"));
        for (const char *n : {"updatePushButton", "downloadPushButton", "programPushButton", "tiltComboBox",
                              "headingComboBox", "modeComboBox", "videoComboBox", "zoomComboBox"})
            QVERIFY2(!child<QWidget>(w, n)->isEnabled(), n);
        for (const char *n : {"comComboBox", "startPushButton", "chRadioButton", "enRadioButton"})
            QVERIFY2(child<QWidget>(w, n)->isEnabled(), n);

        const QList<QTimer *> timers = w.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(timers.size(), 1);
        QVERIFY(timers.first()->isActive());
        QCOMPARE(timers.first()->interval(), 50);
        QVERIFY(!timers.first()->isSingleShot());

        const ParamExchange &x = w.exchange();
        QCOMPARE(int(x.commandCode), int(READ_PARAM_1));
        QCOMPARE(int(x.silenceCount), 20);
        QCOMPARE(int(x.gimbalState), 1);
        QCOMPARE(int(x.saveRequest), 0);
        QCOMPARE(int(x.statusIndex), 0);
        QVERIFY(std::all_of(x.paramBlock.begin(), x.paramBlock.end(), [](auto b) { return b == 0; }));
    }

    void slotTableInOrderAndPrivate()
    {
        const QMetaObject *mo = &Tiravo::staticMetaObject;
        QStringList signatures;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
            const QMetaMethod m = mo->method(i);
            QCOMPARE(m.methodType(), QMetaMethod::Slot);
            QCOMPARE(m.access(), QMetaMethod::Private);
            signatures << QString::fromLatin1(m.methodSignature());
        }
        QCOMPARE(signatures, (QStringList{"my_readuart()", "SYS_QTimerUpDate()", "on_startPushButton_clicked()",
                                     "keyPressEvent(QKeyEvent*)", "LangureCharLoad()", "ChangeLangure()",
                                     "LangureTypeWR(uchar)", "on_updatePushButton_clicked()",
                                     "on_downloadPushButton_clicked()", "on_programPushButton_clicked()",
                                     "on_chRadioButton_clicked()", "on_enRadioButton_clicked()"}));
        QCOMPARE(mo->propertyCount(), mo->propertyOffset());
    }

    void textTablesExact()
    {
        QCOMPARE(kTextCount, 29);
        for (const auto *table : {kCaptions, kMessages}) {
            const int n = table == kCaptions ? int(std::size(kCaptions)) : int(std::size(kMessages));
            for (int i = 0; i < n; ++i) {
                const Caption &c = table[i];
                QCOMPARE(QString::fromUtf8(kChineseTexts[c.index]), QString::fromUtf8(c.chinese));
                QCOMPARE(QString::fromUtf8(kEnglishTexts[c.index]), QString::fromUtf8(c.english));
            }
        }
        // The start-button test tells the port state by these texts, so no two may agree.
        for (const char *const *set : {kChineseTexts, kEnglishTexts}) {
            QSet<QString> seen;
            for (int i = 0; i < kTextCount; ++i)
                seen.insert(QString::fromUtf8(set[i]));
            QCOMPARE(seen.size(), kTextCount);
        }
        QCOMPARE(QString::fromUtf8(kChineseTexts[TXT_TILT_CHANNEL]).right(1), QStringLiteral("\uFF1A"));
    }

    void languageSwitchRewritesCaptionsOnly()
    {
        Tiravo w;
        checkCaptions(w, true);
        QVERIFY(child<QRadioButton>(w, "chRadioButton")->isChecked());
        child<QLineEdit>(w, "linkStatusLineEdit")->setText(QStringLiteral("keep"));
        child<QLabel>(w, "statusLabel")->setText(QStringLiteral("me"));
        const QFont before = child<QWidget>(w, "tiltLabel")->font();

        QTest::mouseClick(child<QRadioButton>(w, "enRadioButton"), Qt::LeftButton);
        checkCaptions(w, false);
        QVERIFY(!child<QRadioButton>(w, "chRadioButton")->isChecked());
        QCOMPARE(storedLanguage().toString(), QStringLiteral("2"));
        QCOMPARE(child<QLineEdit>(w, "linkStatusLineEdit")->text(), QStringLiteral("keep"));
        QCOMPARE(child<QLabel>(w, "statusLabel")->text(), QStringLiteral("me"));
        QCOMPARE(w.windowTitle(), QStringLiteral("SBUS CHANNEL"));
        QCOMPARE(child<QWidget>(w, "tiltLabel")->font(), before);
        QVERIFY(!child<QWidget>(w, "updatePushButton")->isEnabled());

        QTest::mouseClick(child<QRadioButton>(w, "chRadioButton"), Qt::LeftButton);
        checkCaptions(w, true);
        QCOMPARE(storedLanguage().toString(), QStringLiteral("1"));

        // A click on the button already chosen stores the choice again.
        removeConfig();
        QTest::mouseClick(child<QRadioButton>(w, "chRadioButton"), Qt::LeftButton);
        checkCaptions(w, true);
        QCOMPARE(storedLanguage().toString(), QStringLiteral("1"));
    }

    void startUpClickDoesNotStoreAgain()
    {
        storeLanguage(QStringLiteral("2"));
        const QByteArray before = readConfigRaw();
        const QDateTime old = QDateTime::currentDateTime().addDays(-3);
        {
            QFile f(configPath());
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        }
        Tiravo w;
        QVERIFY(child<QRadioButton>(w, "enRadioButton")->isChecked());
        checkCaptions(w, false);
        QCOMPARE(readConfigRaw(), before);
        QCOMPARE(QFileInfo(configPath()).lastModified(), old);
    }

    void returnKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("intoLineEdit");
        QTest::addColumn<bool>("uploads");
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << false << true;
        QTest::newRow("Return, focus in a text field") << int(Qt::Key_Return) << int(Qt::NoModifier) << true << true;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << false << false;
        QTest::newRow("Space") << int(Qt::Key_Space) << int(Qt::NoModifier) << false << false;
        QTest::newRow("letter") << int(Qt::Key_U) << int(Qt::NoModifier) << false << false;
    }
    // Return uploads even while disconnected, with the buttons disabled.
    void returnKey()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, intoLineEdit);
        QFETCH(bool, uploads);

        Tiravo w;
        const int chosen[] = {3, 7, 18, 1, 12};
        const char *combos[] = {"tiltComboBox", "headingComboBox", "modeComboBox", "videoComboBox", "zoomComboBox"};
        for (int f = 0; f < 5; ++f)
            child<QComboBox>(w, combos[f])->setCurrentIndex(chosen[f] - 1);

        QWidget *target = intoLineEdit ? child<QWidget>(w, "tiltLineEdit") : static_cast<QWidget *>(&w);
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

        const ParamExchange &x = w.exchange();
        if (!uploads) {
            QCOMPARE(int(x.commandCode), int(READ_PARAM_1));
            QVERIFY(std::all_of(x.paramBlock.begin(), x.paramBlock.end(), [](auto b) { return b == 0; }));
            QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
            QApplication::sendEvent(&w, &press);
            QVERIFY2(press.isAccepted(), "the window swallows keys it does not use");
            return;
        }
        QCOMPARE(int(x.commandCode), int(WRITE_PARAM_1));
        std::array<std::uint8_t, 18> expected{};
        expected[9] = 3;
        expected[13] = 7;
        expected[4] = 18;
        expected[10] = 1;
        expected[12] = 12;
        QCOMPARE(x.paramBlock, expected);
    }

    void parameterSlotsOnlyChangeTheNextRequest()
    {
        Tiravo w;
        child<QComboBox>(w, "tiltComboBox")->setCurrentIndex(-1);
        QVERIFY(QMetaObject::invokeMethod(&w, "on_updatePushButton_clicked"));
        QCOMPARE(int(w.exchange().commandCode), int(WRITE_PARAM_1));
        QCOMPARE(int(w.exchange().paramBlock[9]), 0); // nothing selected uploads 0
        QCOMPARE(int(w.exchange().paramBlock[13]), 1);

        QVERIFY(QMetaObject::invokeMethod(&w, "on_downloadPushButton_clicked"));
        QCOMPARE(int(w.exchange().commandCode), int(READ_PARAM_1));
        QVERIFY(QMetaObject::invokeMethod(&w, "on_programPushButton_clicked"));
        QVERIFY(QMetaObject::invokeMethod(&w, "on_programPushButton_clicked"));
        QCOMPARE(int(w.exchange().saveRequest), 2);
        QCOMPARE(int(w.exchange().commandCode), int(READ_PARAM_1));
    }

    void probingListsOnlyPortsThatOpen()
    {
        PtyPair pty;
        QVERIFY(pty.isValid());
        const QString missing = QStringLiteral("/dev/sbus-channel-no-such-port");
        PortList::registerPort(pty.slavePath());
        PortList::registerPort(missing);
        const quint16 before = portCount;

        Tiravo w;
        auto *ports = child<QComboBox>(w, "comComboBox");
        QStringList listed;
        for (int i = 0; i < ports->count(); ++i)
            listed << ports->itemText(i);
        QVERIFY(listed.contains(pty.slavePath()));
        QVERIFY(!listed.contains(missing));
        QCOMPARE(listed.first(), pty.slavePath());
        QCOMPARE(int(portCount - before), ports->count());
        QVERIFY(portCount - before < PortList::availablePortNames().size());

        PortList::unregisterPort(pty.slavePath());
        PortList::unregisterPort(missing);
        QVERIFY(!PortList::availablePortNames().contains(pty.slavePath()));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
