// The stored language choice: what each content of config.ini beside the
// executable gives at start-up, what is written back, and a restart round trip.
#include <QtTest>

#include <QAbstractButton>
#include <QRadioButton>

#include "app/tiravo.h"
#include "support/settingsfile.h"

namespace {

QRadioButton *radio(Tiravo &w, const char *name)
{
    return w.findChild<QRadioButton *>(QString::fromLatin1(name));
}

QString startCaption(Tiravo &w)
{
    return w.findChild<QAbstractButton *>(QStringLiteral("startPushButton"))->text();
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        removeConfig();
    }
    void cleanupTestCase()
    {
        removeConfig();
    }

    void storedChoiceAtStartUp_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QString>("stored"); // null: the file has no entry
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("storedAfter");
        QTest::addColumn<bool>("fileUntouched");

        QTest::newRow("no file") << false << QString() << false << "1" << false;
        QTest::newRow("file without the entry") << true << QString() << false << "1" << false;
        QTest::newRow("1") << true << "1" << false << "1" << true;
        QTest::newRow("2") << true << "2" << true << "2" << true;
        QTest::newRow("0") << true << "0" << false << "1" << false;
        QTest::newRow("3") << true << "3" << false << "1" << false;
        QTest::newRow("abc") << true << "abc" << false << "1" << false;
        QTest::newRow("empty") << true << "" << false << "1" << false;
        QTest::newRow("257, low byte 1") << true << "257" << false << "257" << true;
        QTest::newRow("258, low byte 2") << true << "258" << true << "258" << true;
        QTest::newRow("-254, low byte 2") << true << "-254" << true << "-254" << true;
    }
    void storedChoiceAtStartUp()
    {
        QFETCH(bool, fileExists);
        QFETCH(QString, stored);
        QFETCH(bool, english);
        QFETCH(QString, storedAfter);
        QFETCH(bool, fileUntouched);

        if (fileExists) {
            if (stored.isNull())
                writeConfigRaw("[Other]\nkey=value\n");
            else
                storeLanguage(stored);
        }
        const QByteArray before = readConfigRaw();

        Tiravo w;
        QCOMPARE(int(LangureFlag), english ? 2 : 1);
        QCOMPARE(radio(w, "enRadioButton")->isChecked(), english);
        QCOMPARE(radio(w, "chRadioButton")->isChecked(), !english);
        QCOMPARE(startCaption(w), english ? QStringLiteral("Connect") : QStringLiteral("开始调试"));
        QCOMPARE(radio(w, "enRadioButton")->text(), english ? QStringLiteral("EN") : QStringLiteral("English"));

        QCOMPARE(storedLanguage().toString(), storedAfter);
        if (fileUntouched)
            QCOMPARE(readConfigRaw(), before);
        if (fileExists && stored.isNull()) {
            QSettings s(configPath(), QSettings::IniFormat);
            QCOMPARE(s.value(QStringLiteral("Other/key")).toString(), QStringLiteral("value"));
        }
    }

    void choiceSurvivesRestart()
    {
        {
            Tiravo w;
            QCOMPARE(startCaption(w), QStringLiteral("开始调试"));
            radio(w, "enRadioButton")->click();
            QCOMPARE(startCaption(w), QStringLiteral("Connect"));
        }
        {
            Tiravo w;
            QVERIFY(radio(w, "enRadioButton")->isChecked());
            QCOMPARE(startCaption(w), QStringLiteral("Connect"));
            radio(w, "chRadioButton")->click();
        }
        Tiravo w;
        QVERIFY(radio(w, "chRadioButton")->isChecked());
        QCOMPARE(startCaption(w), QStringLiteral("开始调试"));
    }

    // A store that can be neither read nor written (here a directory in its
    // place) gives Chinese, is not reported, and does not stop a switch.
    void unusableStoreStillSwitches()
    {
        QVERIFY(QDir().mkpath(configPath()));
        {
            Tiravo w;
            QVERIFY(radio(w, "chRadioButton")->isChecked());
            radio(w, "enRadioButton")->click();
            QCOMPARE(startCaption(w), QStringLiteral("Connect"));
        }
        QVERIFY(QFileInfo(configPath()).isDir());
        QVERIFY(QDir(configPath()).removeRecursively());
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
