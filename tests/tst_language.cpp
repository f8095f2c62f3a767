// The stored language choice: what each content of config.ini beside the
// executable gives at start-up, what is written back, and a restart round trip.
#include <QtTest>

#include <QAbstractButton>
#include <QRadioButton>

#include "app/tiravo.h"
#include "support/settingsfile.h"

namespace {
bool english(Tiravo &w)
{
    const bool en = w.findChild<QRadioButton *>(QStringLiteral("enRadioButton"))->isChecked();
    const bool ch = w.findChild<QRadioButton *>(QStringLiteral("chRadioButton"))->isChecked();
    const QString start = w.findChild<QAbstractButton *>(QStringLiteral("startPushButton"))->text();
    if (en == ch || start != (en ? QStringLiteral("Connect") : QStringLiteral("开始调试")))
        qFatal("radio buttons and captions disagree");
    return en;
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

    void storedChoiceAtStartUp_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("storedAfter");
        QTest::addColumn<bool>("untouched");

        auto row = [](const char *name, const char *value, bool english, const char *after, bool untouched) {
            QTest::newRow(name) << (QByteArray("[%General]\nLangureType=") + value + '\n') << english
                                << QString::fromLatin1(after) << untouched;
        };
        QTest::newRow("no file") << QByteArray() << false << "1" << false;
        QTest::newRow("no entry") << QByteArray("[Other]\nkey=value\n") << false << "1" << false;
        row("1", "1", false, "1", true);
        row("2", "2", true, "2", true);
        row("0", "0", false, "1", false);
        row("3", "3", false, "1", false);
        row("abc", "abc", false, "1", false);
        row("empty", "", false, "1", false);
        row("257, low byte 1", "257", false, "257", true);
        row("-254, low byte 2", "-254", true, "-254", true);
    }
    void storedChoiceAtStartUp()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, english);
        QFETCH(QString, storedAfter);
        QFETCH(bool, untouched);

        if (!file.isNull())
            writeConfigRaw(file);
        Tiravo w;
        QCOMPARE(::english(w), english);
        QCOMPARE(int(LangureFlag), english ? 2 : 1);
        QCOMPARE(storedLanguage().toString(), storedAfter);
        if (untouched)
            QCOMPARE(readConfigRaw(), file);
        if (file.startsWith("[Other]")) // the rest of the file survives the rewrite
            QVERIFY(readConfigRaw().contains("key=value"));
    }

    void choiceSurvivesRestart()
    {
        for (const char *choice : {"enRadioButton", "chRadioButton"}) {
            {
                Tiravo w;
                w.findChild<QRadioButton *>(QString::fromLatin1(choice))->click();
            }
            Tiravo restarted;
            QCOMPARE(english(restarted), choice[0] == 'e');
        }
    }

    // A store that can be neither read nor written (a directory in its place)
    // gives Chinese, is not reported, and does not stop a switch.
    void unusableStoreStillSwitches()
    {
        QVERIFY(QDir().mkpath(configPath()));
        {
            Tiravo w;
            QVERIFY(!english(w));
            w.findChild<QRadioButton *>(QStringLiteral("enRadioButton"))->click();
            QVERIFY(english(w));
        }
        QVERIFY(QDir(configPath()).removeRecursively());
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
