// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// sbus-channel-cli restore as a production line: many simulated controllers,
// served by this test on pseudo-terminals, configured by one process.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <optional>

#include "cli/exitcodes.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"
#include "support/cliprocess.h"
#include "support/files.h"

namespace {
const QVariantList kFileBytes{17, 90, 100, 33, 5, 120, 30, 150, 45, 3, 6, 200, 7, 2, 80, 35, 175, 65};

struct Controller {
    std::unique_ptr<GimbalModel> model = std::make_unique<GimbalModel>();
    std::unique_ptr<PtyController> pty = std::make_unique<PtyController>(*model);
};

// A report row, whichever form it came in.
struct Row {
    QString port, holds;
    std::optional<ParamBlock> before, after;
    int code = -1;
};

std::optional<ParamBlock> block(const QVariantList &bytes)
{
    if (bytes.size() != 18)
        return std::nullopt;
    ParamBlock b{};
    for (int i = 0; i < 18; ++i)
        b[std::size_t(i)] = std::uint8_t(bytes[i].toInt());
    return b;
}

// RFC 4180, as a spreadsheet reads it: a quoted field may hold commas, line
// breaks and doubled quotes; records end in CRLF. Anything else is no CSV.
QList<QStringList> parseCsv(const QString &text)
{
    static const QRegularExpression field(R"re(\G(?:"((?:[^"]|"")*)"|([^,"\r\n]*))(,|\r\n|$))re");
    QList<QStringList> records{QStringList()};
    for (int at = 0; at < text.size();) {
        const QRegularExpressionMatch m = field.match(text, at);
        if (m.capturedLength() == 0)
            return {};
        records.last() << (m.capturedStart(1) >= 0 ? m.captured(1).replace("\"\"", "\"") : m.captured(2));
        at = m.capturedEnd();
        if (m.captured(3) == "\r\n" && at < text.size())
            records << QStringList();
    }
    return records;
}

QList<Row> readReport(const QString &path)
{
    const QByteArray data = contents(path);
    QList<Row> rows;
    if (path.endsWith(".json")) {
        const QJsonObject d = QJsonDocument::fromJson(data).object();
        if (d.value("block").toArray().toVariantList() != kFileBytes)
            return {};
        for (const QJsonValue &v : d.value("units").toArray()) {
            const QJsonObject u = v.toObject();
            rows << Row{u.value("port").toString(), u.value("holds").toString(),
                        block(u.value("before").toArray().toVariantList()),
                        block(u.value("after").toArray().toVariantList()), u.value("exitCode").toInt(-1)};
        }
        return rows;
    }
    const QList<QStringList> records = parseCsv(QString::fromUtf8(data));
    const auto bytes = [](const QString &field) { return block(QVariant(field.split(' ', Qt::SkipEmptyParts)).toList()); };
    for (const QStringList &r : records.mid(1))
        if (r.size() == 12)
            rows << Row{r[2], r[9], bytes(r[7]), bytes(r[8]), r[11].toInt()};
    return rows;
}
} // namespace

class TstCliBatch : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::vector<Controller> units;

    QString file() const { return dir.filePath("backup.json"); }

    Controller &add() { return units.emplace_back(); }

    void start(QProcess &p, const QStringList &args)
    {
        p.setProcessEnvironment(underTestDir(dir));
        p.start(SBUS_CLI, QStringList{"restore", file()} + args);
        QVERIFY(p.waitForStarted());
    }

    // This test's event loop serves the controllers while the program runs.
    int finish(QProcess &p)
    {
        QSignalSpy finished(&p, SIGNAL(finished(int, QProcess::ExitStatus)));
        if (p.state() != QProcess::NotRunning && !finished.wait(60000))
            p.kill();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        QVERIFY(writeFile(file(), kGoodBackup));
    }

    void cleanup()
    {
        units.clear();
        QFile::remove(dir.filePath("data/sbus-channel/history.jsonl"));
    }

    // Ten at once: one whose store fails, one that puts its old block back
    // after the store, one unplugged half way through its write, one that
    // already holds the file's block. Every row says what
    // its controller really holds, and flash only ever takes whole blocks.
    void tenUnitsInOneCommand_data()
    {
        QTest::addColumn<QString>("report");
        QTest::newRow("csv") << "report.csv";
        QTest::newRow("json") << "report.json";
    }
    void tenUnitsInOneCommand()
    {
        QFETCH(QString, report);
        const ParamBlock old = GimbalModel::kDefaultBlock, fresh = *block(kFileBytes);
        QStringList args{"--yes", "--save", "--verify", "--report", dir.filePath(report)};
        // One port by a name that a CSV field must quote, quotes doubled.
        QStringList ports;
        for (int i = 0; i < 10; ++i) {
            Controller &u = add();
            ports << (i == 9 ? dir.filePath("unit \"9\", by a link") : u.pty->devicePath());
            if (i == 9) {
                QFile::remove(ports.last());
                QVERIFY(QFile::link(u.pty->devicePath(), ports.last()));
            }
            args << "--port" << ports.last();
            GimbalModel *model = u.model.get();
            PtyController *pty = u.pty.get();
            connect(pty, &PtyController::requestsHandled, this, [=] {
                QVERIFY(model->flash() == old || model->flash() == fresh);
                if (i == 5 && model->flash() == fresh)
                    model->setRam(old);
                if (i == 6 && model->lastCommand() == WRITE_PARAM_2)
                    pty->unplug();
            });
        }
        units[3].model->faults.failSaves = 1;
        units[8].model->setRam(fresh);
        QProcess p;
        start(p, args);
        // The first failing unit's code, in --port order.
        QCOMPARE(finish(p), ExitCode::kDeviceRefused);

        const QList<Row> rows = readReport(dir.filePath(report));
        QCOMPARE(rows.size(), 10);
        for (int i = 0; i < 10; ++i) {
            const Row &r = rows[i];
            const GimbalModel &m = *units[std::size_t(i)].model;
            const QString expected = i == 3 ? "store failed" : i == 6 ? "partly written" : "stored";
            const int code = i == 3 || i == 5 ? ExitCode::kDeviceRefused : i == 6 ? ExitCode::kPortUnavailable : 0;
            QVERIFY2(r.port == ports[i] && r.holds == expected && r.code == code,
                     qPrintable(QString("unit %1: %2 %3").arg(i).arg(r.holds).arg(r.code)));
            QVERIFY(r.before == (i == 8 ? fresh : old));
            // A write cut off part way leaves RAM unknown, and the row says so.
            QCOMPARE(r.after.has_value(), i != 6);
            if (r.after)
                QVERIFY(*r.after == m.ram());
            QVERIFY(m.flash() == (r.holds == "stored" ? fresh : old));
        }
        // The units took turns at the history: every line whole.
        const QList<QByteArray> lines = contents(dir.filePath("data/sbus-channel/history.jsonl")).trimmed().split('\n');
        QCOMPARE(lines.size(), 10 + 8 + 9); // reads, confirmed writes, answered stores
        for (const QByteArray &line : lines)
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
    }

    // --wait on a port with nothing behind it yet: each controller that comes
    // is one unit, however long it stays; Ctrl+C then ends the run, all well.
    void waitConfiguresEachArrival()
    {
        const QString link = dir.filePath("line"), report = dir.filePath("wait.csv");
        QFile::remove(link);
        QProcess p;
        start(p, {"--wait", "--port", link, "--yes", "--save", "--verify", "--report", report});
        QByteArray out;
        const auto printed = [&](const char *text) { return (out += p.readAllStandardOutput()).contains(text); };
        for (int n = 1; n <= 2; ++n) {
            if (n == 2) {
                // Still there a second later, still the same unit.
                const quint64 seen = units.back().model->requestsSeen();
                QTRY_VERIFY_WITH_TIMEOUT(units.back().model->requestsSeen() > seen + 20, 5000);
                units.back().pty->unplug();
            }
            QFile::remove(link);
            QVERIFY(QFile::link(add().pty->devicePath(), link));
            QTRY_VERIFY_WITH_TIMEOUT(printed(qPrintable(QString("(unit %1)").arg(n))), 20000);
        }
        ::kill(pid_t(p.processId()), SIGINT);
        QCOMPARE(finish(p), ExitCode::kOk);
        QVERIFY2(!out.contains("(unit 3)"), out.constData());
        const QList<Row> rows = readReport(report);
        QCOMPARE(rows.size(), 2);
        for (int n = 0; n < 2; ++n) {
            QVERIFY(rows[n].before == GimbalModel::kDefaultBlock && rows[n].code == 0);
            QVERIFY(units[std::size_t(n)].model->flash() == *block(kFileBytes));
        }
    }
};

QTEST_GUILESS_MAIN(TstCliBatch)
#include "tst_cli_batch.moc"
