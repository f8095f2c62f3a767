// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The form as uic builds it, before the window touches it: every object the
// window finds by name, with its class, the channel selectors' items, and the
// fixed rectangles of the form's own children.
#include <QtTest>

#include "ui/rownames.h"
#include "ui_tiravo.h"

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void namedObjectsAndRectangles()
    {
        QWidget form;
        Ui_Tiravo ui;
        ui.setupUi(&form);
        QList<QPair<const char *, const char *>> named = {
            {"startPushButton", "QPushButton"}, {"updatePushButton", "QPushButton"},
            {"downloadPushButton", "QPushButton"}, {"programPushButton", "QPushButton"},
            {"comComboBox", "QComboBox"}, {"chRadioButton", "QRadioButton"}, {"enRadioButton", "QRadioButton"},
            {"linkStatusLineEdit", "QLineEdit"}, {"linkStatusLabel", "QLabel"}, {"statusLabel", "QLabel"},
            {"testLabel", "QLabel"}};
        for (const FunctionRowNames &row : kFunctionRows)
            named += {{row.channel, "QComboBox"}, {row.position, "QSlider"}, {row.testData, "QLineEdit"},
                      {row.caption, "QLabel"}, {row.testCaption, "QLabel"}};
        for (const auto &[name, className] : named) {
            const QObject *o = form.findChild<QObject *>(QLatin1String(name));
            QVERIFY2(o, name);
            QCOMPARE(o->metaObject()->className(), className);
        }

        QStringList channels;
        for (int c = 1; c <= 18; ++c)
            channels << QString::number(c);
        for (const FunctionRowNames &row : kFunctionRows) {
            const auto *combo = form.findChild<QComboBox *>(QLatin1String(row.channel));
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            QCOMPARE(items, channels);
        }

        // Placement inside the panels depends on font metrics; only the form
        // and its own children have fixed geometry.
        QCOMPARE(form.geometry(), QRect(0, 0, 736, 360));
        const QMap<QString, QRect> fixed = {
            {"layoutWidget", {20, 10, 701, 231}},  {"line", {20, 240, 701, 16}},
            {"testLabel", {330, 250, 80, 16}},     {"statusLabel", {560, 250, 131, 16}},
            {"layoutWidget1", {21, 271, 701, 61}}, {"layoutWidget2", {570, 340, 151, 18}}};
        QMap<QString, QRect> children;
        for (const QWidget *c : form.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            children.insert(c->objectName(), c->geometry());
        QCOMPARE(children, fixed);
    }
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
