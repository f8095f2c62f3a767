// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// A port that won't open is looked at once, when it fails: the status
// field's tooltip tells that look in whichever language the window speaks,
// however often the operator switches, and only a new attempt looks again.
#include <QtTest>
#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "app/tiravo.h"
#include "support/clicks.h"
#include "support/files.h"
#include "support/settingsfile.h"

class TestWindowOpenFailure : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshEnglishWindow(); }
    void cleanupTestCase() { removeConfig(); }

    void toldAgainFromOneLook()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString port = dir.filePath(QStringLiteral("ttyUSB9"));

        Tiravo w;
        w.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly)->stop();
        QMetaObject::invokeMethod(&w, "SYS_QTimerUpDate");
        auto *ports = w.findChild<QComboBox *>("comComboBox");
        ports->addItem(port);
        ports->setCurrentText(port);
        auto *status = w.findChild<QLineEdit *>("linkStatusLineEdit");
        const QString app = QCoreApplication::applicationName();
        const QString gone = "there is no port " + port + " (adapter unplugged?)";
        const QString goneZh = "串口 " + port + " 不存在（适配器已拔出？）";
        const QString file = port + " is not a serial port (it is a regular file)";
        const QString fixes = "\n  fix: plug the adapter in, or choose the port it has now";
        QTest::ignoreMessage(QtWarningMsg, qPrintable(app + ": " + gone + fixes));
        QTest::mouseClick(w.findChild<QWidget *>("startPushButton"), Qt::LeftButton);
        QVERIFY2(unwrapped(status->toolTip()).startsWith(unwrapped(gone)), qPrintable(status->toolTip()));
        QMetaObject::invokeMethod(&w, "SYS_QTimerUpDate"); // the failure turns the window back

        // Something else stands there now; a look at it would say so.
        QVERIFY(writeFile(port, {}));
        for (const char *language : {"chRadioButton", "enRadioButton", "chRadioButton"}) {
            clickCaption(w, language);
            const QString tip = unwrapped(status->toolTip());
            const bool chinese = language[0] == 'c';
            QVERIFY2(tip.startsWith(unwrapped(chinese ? goneZh : gone + fixes)), qPrintable(status->toolTip()));
        }

        // A new attempt looks again.
        clickCaption(w, "enRadioButton");
        QCOMPARE(ports->currentText(), port);
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(app + ": " + file +
                                        "\n  fix: choose the adapter's serial port itself, e.g. /dev/ttyUSB0 or "
                                        "/dev/ttyACM0"));
        QTest::mouseClick(w.findChild<QWidget *>("startPushButton"), Qt::LeftButton);
        QVERIFY2(unwrapped(status->toolTip()).startsWith(unwrapped(file)), qPrintable(status->toolTip()));
    }
};

QTEST_MAIN(TestWindowOpenFailure)
#include "tst_window_openfailure.moc"
