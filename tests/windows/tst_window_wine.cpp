// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The Windows window, under Wine on a display, against the simulated
// controller that tests/windows/window-session puts behind COM1: connect,
// download, upload, store and switch the language, as the operator clicks it,
// with a picture of each language. The window runs on its own timer, since
// the controller is another process; every wait is on what the window shows.
#include <QtTest>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QRadioButton>

#include "app/tiravo.h"
#include "support/settingsfile.h"
#include "ui/rownames.h"
#include "ui/texts.h"

namespace {

constexpr int kWaitMs = 15000;

QString env(const char *name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

} // namespace

class TestWindowWine : public QObject
{
    Q_OBJECT

    template <typename T = QWidget> T *get(Tiravo &w, const char *name)
    {
        T *found = w.findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no widget named %s", name);
        return found;
    }
    QString text(Tiravo &w, const char *name) { return get(w, name)->property("text").toString(); }
    void click(Tiravo &w, const char *name) { QTest::mouseClick(get(w, name), Qt::LeftButton); }

    // The window as Wine draws it: the session script takes the picture off
    // the X display when asked through a file, and removes the file when done.
    void picture(const QString &name)
    {
        const QString dir = env("SBUS_WINE_SHOTS");
        if (dir.isEmpty())
            return;
        QApplication::processEvents();
        const QString request = QDir(dir).filePath(name + QStringLiteral(".wanted"));
        QFile f(request);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(request), kWaitMs);
    }

private slots:
    void initTestCase()
    {
        if (env("SBUS_WINE_PORT").isEmpty())
            QSKIP("run by tests/windows/window-session, which puts the simulated controller behind a COM port");
        freshEnglishWindow();
    }
    void cleanupTestCase() { removeConfig(); }

    void session()
    {
        const QString port = env("SBUS_WINE_PORT");
        Tiravo w;
        w.move(40, 40);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QComboBox *ports = get<QComboBox>(w, "comComboBox");
        QTRY_VERIFY_WITH_TIMEOUT(ports->findText(port) >= 0, kWaitMs);
        ports->setCurrentIndex(ports->findText(port));

        click(w, "startPushButton");
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "statusLabel"), QStringLiteral("Download Param Success"), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "linkStatusLineEdit"), QStringLiteral("Gmbal Connect"), kWaitMs);
        for (int f = 0; f < kFunctionCount; ++f)
            QVERIFY(get<QComboBox>(w, kFunctionRows[f].channel)->currentIndex() >= 0);

        const int chosen[kFunctionCount] = {4, 9, 12, 16, 18};
        for (int f = 0; f < kFunctionCount; ++f)
            get<QComboBox>(w, kFunctionRows[f].channel)->setCurrentIndex(chosen[f] - 1);
        click(w, "updatePushButton");
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "statusLabel"), QStringLiteral("Upload Param Success"), kWaitMs);
        click(w, "programPushButton");
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "statusLabel"), QStringLiteral("Save Param Success"), kWaitMs);

        // The controller's flash, a Linux file the simulator keeps, holds the channels chosen.
        QFile flash(env("SBUS_WINE_FLASH"));
        QVERIFY2(flash.open(QIODevice::ReadOnly), qPrintable(flash.fileName()));
        const QByteArray stored = flash.readAll();
        QCOMPARE(stored.size(), int(kParamSlots));
        for (int f = 0; f < kFunctionCount; ++f)
            QCOMPARE(int(quint8(stored[kFunctionSlot[f]])), chosen[f]);
        picture(QStringLiteral("window-wine-en.png"));

        // The language is chosen while disconnected, then the link comes back in it.
        click(w, "startPushButton");
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "linkStatusLineEdit"), QStringLiteral("Port Disonnection"), kWaitMs);
        // On its indicator: the font Wine gives may end the caption before the button's middle.
        QRadioButton *chinese = get<QRadioButton>(w, "chRadioButton");
        QTest::mouseClick(chinese, Qt::LeftButton, {}, QPoint(6, chinese->height() / 2));
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "linkStatusLineEdit"), QString::fromUtf8(kChineseTexts[TXT_PORT_DISCONNECTED]),
                                  kWaitMs);
        // The file's own bytes, read again if a read met it while Wine held it
        // open: the settings library would keep the empty result of such a
        // read as long as the file's size and time stay the same.
        const auto fileSays = [] {
            const QFileInfo file(configPath());
            return QStringLiteral("exists %1 size %2 time %3; it holds:\n%4")
                .arg(file.exists())
                .arg(file.size())
                .arg(file.lastModified().toString(Qt::ISODateWithMs), QString::fromUtf8(readConfigRaw()));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(readConfigRaw().contains("LangureType=1"),
                                  qPrintable(fileSays() + QStringLiteral("\nthe status field says: ") +
                                             get(w, "linkStatusLineEdit")->toolTip()),
                                  kWaitMs);
        click(w, "startPushButton");
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "statusLabel"), QString::fromUtf8(kChineseTexts[TXT_DOWNLOAD_DONE]), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "linkStatusLineEdit"), QString::fromUtf8(kChineseTexts[TXT_GIMBAL_CONNECTED]),
                                  kWaitMs);
        for (int f = 0; f < kFunctionCount; ++f)
            QCOMPARE(get<QComboBox>(w, kFunctionRows[f].channel)->currentIndex(), chosen[f] - 1);
        picture(QStringLiteral("window-wine-zh.png"));
        click(w, "startPushButton");
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "linkStatusLineEdit"), QString::fromUtf8(kChineseTexts[TXT_PORT_DISCONNECTED]),
                                  kWaitMs);
    }
};

QTEST_MAIN(TestWindowWine)
#include "tst_window_wine.moc"
