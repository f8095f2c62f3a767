// The form as uic builds it: object tree, geometry, fonts, properties and the
// default texts, checked on a bare widget right after setupUi.
#include <QtTest>

#include <QAbstractButton>
#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "ui_tiravo.h"

namespace {

const QStringList kChannelCombos = {QStringLiteral("tiltComboBox"), QStringLiteral("headingComboBox"),
                                    QStringLiteral("modeComboBox"), QStringLiteral("videoComboBox"),
                                    QStringLiteral("zoomComboBox")};
const QStringList kSliders = {QStringLiteral("tiltSlider"), QStringLiteral("headingSlider"),
                              QStringLiteral("modeSlider"), QStringLiteral("videoSlider"),
                              QStringLiteral("zoomSlider")};
const QStringList kDataFields = {QStringLiteral("tiltLineEdit"), QStringLiteral("videoLineEdit"),
                                 QStringLiteral("headingLineEdit"), QStringLiteral("zoomLineEdit"),
                                 QStringLiteral("modeLineEdit"), QStringLiteral("linkStatusLineEdit")};

QStringList itemNames(QLayout *layout)
{
    QStringList out;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        out << (item->widget() ? item->widget()->objectName() : item->layout()->objectName());
    }
    return out;
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private:
    QWidget form;
    Ui_Tiravo ui;

    template <typename T> T *find(const QString &name)
    {
        T *w = form.findChild<T *>(name);
        if (!w)
            qFatal("no object named %s", qPrintable(name));
        return w;
    }

private slots:
    void initTestCase()
    {
        ui.setupUi(&form);
    }

    void formItself()
    {
        QCOMPARE(form.objectName(), QStringLiteral("Tiravo"));
        QVERIFY(form.isEnabled());
        QCOMPARE(form.size(), QSize(736, 360));
        QCOMPARE(form.minimumSize(), QSize(20, 30));
        QCOMPARE(form.maximumSize(), QSize(5000, QWIDGETSIZE_MAX));
        QCOMPARE(form.windowTitle(), QStringLiteral("SBUS CHAANNEL"));

        QWidget named;
        named.setObjectName(QStringLiteral("mine"));
        Ui_Tiravo other;
        other.setupUi(&named);
        QCOMPARE(named.objectName(), QStringLiteral("mine"));
    }

    // raise() reorders the children, so the list reads bottom to top.
    void directChildrenStackBottomToTop()
    {
        QStringList widgets;
        for (QObject *o : form.children())
            if (o->isWidgetType())
                widgets << o->objectName();
        QCOMPARE(widgets, (QStringList{QStringLiteral("layoutWidget1"), QStringLiteral("layoutWidget2"),
                                       QStringLiteral("layoutWidget"), QStringLiteral("testLabel"),
                                       QStringLiteral("line"), QStringLiteral("statusLabel")}));
    }

    void geometry_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("testLabel") << "testLabel" << QRect(330, 250, 80, 16);
        QTest::newRow("line") << "line" << QRect(20, 240, 701, 16);
        QTest::newRow("layoutWidget") << "layoutWidget" << QRect(20, 10, 701, 231);
        QTest::newRow("layoutWidget1") << "layoutWidget1" << QRect(21, 271, 701, 61);
        QTest::newRow("statusLabel") << "statusLabel" << QRect(560, 250, 131, 16);
        QTest::newRow("layoutWidget2") << "layoutWidget2" << QRect(570, 340, 151, 18);
    }
    void geometry()
    {
        QFETCH(QString, name);
        QFETCH(QRect, rect);
        QCOMPARE(find<QWidget>(name)->geometry(), rect);
    }

    void layoutNesting_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("spacing");
        QTest::addColumn<QStringList>("items");
        auto row = [](const char *layout, int spacing, QStringList items) {
            QTest::newRow(layout) << QString::fromLatin1(layout) << spacing << items;
        };
        row("horizontalLayout_7", 6, {"verticalLayout", "verticalLayout_2"});
        row("verticalLayout", 6, {"horizontalLayout", "horizontalLayout_2", "horizontalLayout_3",
                                  "horizontalLayout_4", "horizontalLayout_5"});
        row("horizontalLayout", 30, {"tiltLabel", "tiltSlider", "tiltComboBox"});
        row("horizontalLayout_2", 30, {"headingLabel", "headingSlider", "headingComboBox"});
        row("horizontalLayout_3", 30, {"modeLabel", "modeSlider", "modeComboBox"});
        row("horizontalLayout_4", 30, {"videoLabel", "videoSlider", "videoComboBox"});
        row("horizontalLayout_5", 30, {"zoomLabel", "zoomSlider", "zoomComboBox"});
        row("verticalLayout_2", 6, {"horizontalLayout_6", "updatePushButton", "downloadPushButton",
                                    "programPushButton"});
        row("horizontalLayout_6", 6, {"comComboBox", "startPushButton"});
        row("horizontalLayout_14", 6, {"verticalLayout_3", "verticalLayout_4", "verticalLayout_5"});
        row("verticalLayout_3", 6, {"horizontalLayout_8", "horizontalLayout_9"});
        row("horizontalLayout_8", 6, {"testTiltLabel", "tiltLineEdit"});
        row("horizontalLayout_9", 6, {"testVideoLabel", "videoLineEdit"});
        row("verticalLayout_4", 6, {"horizontalLayout_12", "horizontalLayout_11"});
        row("horizontalLayout_12", 6, {"testheadingLabel", "headingLineEdit"});
        row("horizontalLayout_11", 6, {"testZoomLabel", "zoomLineEdit"});
        row("verticalLayout_5", 6, {"horizontalLayout_10", "horizontalLayout_13"});
        row("horizontalLayout_10", 6, {"testModeLabel", "modeLineEdit"});
        row("horizontalLayout_13", 6, {"linkStatusLabel", "linkStatusLineEdit"});
        row("horizontalLayout_15", 6, {"chRadioButton", "enRadioButton"});
    }
    void layoutNesting()
    {
        QFETCH(QString, layout);
        QFETCH(int, spacing);
        QFETCH(QStringList, items);
        QLayout *l = find<QLayout>(layout);
        QCOMPARE(itemNames(l), items);
        QCOMPARE(l->spacing(), spacing);
        for (int i = 0; i < l->count(); ++i) {
            QCOMPARE(int(l->itemAt(i)->alignment()), 0);
            if (auto *box = qobject_cast<QBoxLayout *>(l))
                QCOMPARE(box->stretch(i), 0);
        }
    }

    // Widgets sit in their container in creation order, which is also the tab order.
    void creationOrderInsideContainers()
    {
        auto widgetChildren = [&](const char *container) {
            QStringList out;
            for (QObject *o : find<QWidget>(QString::fromLatin1(container))->children())
                if (o->isWidgetType())
                    out << o->objectName();
            return out;
        };
        QStringList panel;
        for (const char *f : {"tilt", "heading", "mode", "video", "zoom"})
            panel << QStringLiteral("%1Label").arg(QLatin1String(f)) << QStringLiteral("%1Slider").arg(QLatin1String(f))
                  << QStringLiteral("%1ComboBox").arg(QLatin1String(f));
        panel << "comComboBox" << "startPushButton" << "updatePushButton" << "downloadPushButton"
              << "programPushButton";
        QCOMPARE(widgetChildren("layoutWidget"), panel);
        QCOMPARE(widgetChildren("layoutWidget1"),
                 (QStringList{"testTiltLabel", "tiltLineEdit", "testVideoLabel", "videoLineEdit",
                              "testheadingLabel", "headingLineEdit", "testZoomLabel", "zoomLineEdit",
                              "testModeLabel", "modeLineEdit", "linkStatusLabel", "linkStatusLineEdit"}));
        QCOMPARE(widgetChildren("layoutWidget2"), (QStringList{"chRadioButton", "enRadioButton"}));

        for (const char *top : {"horizontalLayout_7", "horizontalLayout_14", "horizontalLayout_15"})
            QCOMPARE(find<QLayout>(QString::fromLatin1(top))->contentsMargins(), QMargins(0, 0, 0, 0));
    }

    void fonts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("points");
        const QString song = QStringLiteral("宋体");
        const QString fangsong = QStringLiteral("仿宋");
        for (const char *n : {"testLabel", "startPushButton", "updatePushButton", "downloadPushButton",
                              "programPushButton", "testTiltLabel", "testVideoLabel", "testheadingLabel",
                              "testZoomLabel", "testModeLabel", "linkStatusLabel"})
            QTest::newRow(n) << QString::fromLatin1(n) << song << 12;
        for (const char *n : {"tiltLabel", "headingLabel", "modeLabel", "videoLabel", "zoomLabel"})
            QTest::newRow(n) << QString::fromLatin1(n) << song << 16;
        for (const QString &n : kChannelCombos)
            QTest::newRow(qPrintable(n)) << n << fangsong << 20;
        QTest::newRow("comComboBox") << "comComboBox" << fangsong << 12;
    }
    void fonts()
    {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(int, points);
        const QFont f = find<QWidget>(name)->font();
        QCOMPARE(f.family(), family);
        QCOMPARE(f.pointSize(), points);
        QCOMPARE(f.styleStrategy(), form.font().styleStrategy());
    }

    // Font E changes only the antialiasing; everything else follows the parent.
    void dataFieldsAndInheritedFonts()
    {
        for (const QString &n : kDataFields) {
            auto *e = find<QLineEdit>(n);
            QVERIFY(e->font().styleStrategy() & QFont::NoAntialias);
            QCOMPARE(e->font().family(), form.font().family());
            QCOMPARE(e->font().pointSize(), form.font().pointSize());
            QVERIFY(e->acceptDrops());
            QVERIFY(!e->isReadOnly());
            QCOMPARE(e->echoMode(), QLineEdit::Normal);
            QVERIFY(!e->dragEnabled());
            QVERIFY(!e->isClearButtonEnabled());
            QVERIFY(e->text().isEmpty());
        }
        for (const char *n : {"statusLabel", "chRadioButton", "enRadioButton", "layoutWidget"})
            QCOMPARE(find<QWidget>(QString::fromLatin1(n))->font(), form.font());
        QCOMPARE(find<QWidget>(QStringLiteral("tiltSlider"))->font(), form.font());
    }

    void minimumAndMaximumSizes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QSize>("maximum");
        const QSize unbounded(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        for (const char *n : {"tiltLabel", "headingLabel", "modeLabel", "videoLabel", "zoomLabel"})
            QTest::newRow(n) << QString::fromLatin1(n) << QSize(145, 0) << unbounded;
        for (const QString &n : kChannelCombos)
            QTest::newRow(qPrintable(n)) << n << QSize(60, 30) << QSize(80, QWIDGETSIZE_MAX);
        QTest::newRow("comComboBox") << "comComboBox" << QSize(100, 48) << unbounded;
        for (const char *n : {"startPushButton", "updatePushButton", "downloadPushButton", "programPushButton"})
            QTest::newRow(n) << QString::fromLatin1(n) << QSize(100, 50) << unbounded;
        for (const char *n : {"testTiltLabel", "testVideoLabel", "testheadingLabel", "testZoomLabel",
                              "testModeLabel", "linkStatusLabel"})
            QTest::newRow(n) << QString::fromLatin1(n) << QSize(70, 0) << unbounded;
    }
    void minimumAndMaximumSizes()
    {
        QFETCH(QString, name);
        QFETCH(QSize, minimum);
        QFETCH(QSize, maximum);
        QCOMPARE(find<QWidget>(name)->minimumSize(), minimum);
        QCOMPARE(find<QWidget>(name)->maximumSize(), maximum);
    }

    void channelSelectors()
    {
        QStringList items;
        for (int i = 1; i <= 18; ++i)
            items << QString::number(i);
        const QSizePolicy defaults = QComboBox().sizePolicy();
        for (const QString &n : kChannelCombos) {
            auto *c = find<QComboBox>(n);
            QStringList got;
            for (int i = 0; i < c->count(); ++i) {
                got << c->itemText(i);
                QVERIFY(c->itemIcon(i).isNull());
                QVERIFY(!c->itemData(i).isValid());
            }
            QCOMPARE(got, items);
            QCOMPARE(c->currentIndex(), 0);
            QCOMPARE(c->currentText(), QStringLiteral("1"));
            QCOMPARE(c->sizePolicy().horizontalPolicy(), QSizePolicy::MinimumExpanding);
            QCOMPARE(c->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
            QCOMPARE(c->sizePolicy().horizontalStretch(), 0);
            QCOMPARE(c->sizePolicy().verticalStretch(), 0);
            QCOMPARE(c->sizePolicy().controlType(), QSizePolicy::DefaultType);
            QCOMPARE(c->sizePolicy().hasHeightForWidth(), defaults.hasHeightForWidth());
            QCOMPARE(c->layoutDirection(), Qt::LeftToRight);
        }
        QCOMPARE(find<QComboBox>(QStringLiteral("comComboBox"))->count(), 0);
    }

    void sliders()
    {
        for (const QString &n : kSliders) {
            auto *s = find<QSlider>(n);
            QCOMPARE(s->orientation(), Qt::Horizontal);
            QCOMPARE(s->minimum(), -100);
            QCOMPARE(s->maximum(), 100);
            QCOMPARE(s->pageStep(), 20);
            QCOMPARE(s->value(), 0);
            QCOMPARE(s->sliderPosition(), 0);
            QCOMPARE(s->tickPosition(), QSlider::TicksBothSides);
            QCOMPARE(s->tickInterval(), 0);
            QVERIFY(s->isEnabled());
        }
        auto *line = find<QFrame>(QStringLiteral("line"));
        QCOMPARE(line->frameShape(), QFrame::HLine);
        QCOMPARE(line->frameShadow(), QFrame::Sunken);
    }

    // The defaults differ from the run-time Chinese set in three places
    // (videoLabel, testZoomLabel, enRadioButton); both are kept as they are.
    void defaultTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        auto row = [](const char *name, const char *text) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text);
        };
        row("testLabel", "测试数据");
        row("tiltLabel", "云台俯仰通道：");
        row("headingLabel", "云台指向通道：");
        row("modeLabel", "云台模式通道：");
        row("videoLabel", "拍照录像通道：");
        row("zoomLabel", "相机变焦通道：");
        row("startPushButton", "开始调试");
        row("updatePushButton", "参数上传");
        row("downloadPushButton", "参数下载");
        row("programPushButton", "参数烧写");
        row("testTiltLabel", "俯仰数据");
        row("testVideoLabel", "录像数据");
        row("testheadingLabel", "指向数据");
        row("testZoomLabel", "变倍数据");
        row("testModeLabel", "模式数据");
        row("linkStatusLabel", "连接状态");
        row("statusLabel", "");
        row("chRadioButton", "中文");
        row("enRadioButton", "英文");
    }
    void defaultTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QWidget *w = find<QWidget>(name);
        if (auto *label = qobject_cast<QLabel *>(w))
            QCOMPARE(label->text(), text);
        else
            QCOMPARE(qobject_cast<QAbstractButton *>(w)->text(), text);
    }

    void radioButtonsStartUncheckedAndExcludeEachOther()
    {
        QWidget fresh;
        Ui_Tiravo u;
        u.setupUi(&fresh);
        QVERIFY(!u.chRadioButton->isChecked());
        QVERIFY(!u.enRadioButton->isChecked());
        u.enRadioButton->click();
        u.chRadioButton->click();
        QVERIFY(u.chRadioButton->isChecked());
        QVERIFY(!u.enRadioButton->isChecked());
    }

    // Absolute geometry: the panels neither move nor stretch with the window,
    // and at the initial size nothing sticks out past x 721 / y 357.
    void fixedPlacementWhenResized()
    {
        QWidget w;
        Ui_Tiravo u;
        u.setupUi(&w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QRect bounds;
        for (QObject *o : w.children())
            if (auto *c = qobject_cast<QWidget *>(o))
                bounds |= c->geometry();
        QCOMPARE(bounds.right(), 721);
        QCOMPARE(bounds.bottom(), 357);

        QMap<QWidget *, QRect> before;
        for (QWidget *c : w.findChildren<QWidget *>())
            if (!c->isWindow()) // combo box popups live in windows of their own
                before[c] = c->geometry();
        w.resize(1200, 700);
        QCoreApplication::processEvents();
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QCOMPARE(it.key()->geometry(), it.value());

        w.resize(5, 5);
        QCOMPARE(w.size(), QSize(20, 30));
        w.resize(9000, 20000);
        QCOMPARE(w.size(), QSize(5000, 20000));
    }

    // Nothing inside the panels is pushed outside its container by the layouts.
    void controlsFitTheirContainers()
    {
        QWidget w;
        Ui_Tiravo u;
        u.setupUi(&w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const char *container : {"layoutWidget", "layoutWidget1", "layoutWidget2"}) {
            auto *c = w.findChild<QWidget *>(QString::fromLatin1(container));
            for (QObject *o : c->children()) {
                if (auto *child = qobject_cast<QWidget *>(o)) {
                    QVERIFY2(c->rect().contains(child->geometry()),
                             qPrintable(child->objectName() + QStringLiteral(" sticks out")));
                    QVERIFY2(child->width() > 0 && child->height() > 0, qPrintable(child->objectName()));
                }
            }
        }
        for (const QString &n : kChannelCombos) {
            auto *combo = w.findChild<QComboBox *>(n);
            QVERIFY(combo->width() >= 60 && combo->width() <= 80);
            QVERIFY(combo->height() >= 30);
        }
    }
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
