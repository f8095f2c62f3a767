// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The simulated controller's model on its own: finding requests in any
// stream, its flash file, and a save that rides on a write.
#include <QtTest>

#include <QTemporaryDir>

#include <sys/stat.h>

#include "link/paramexchange.h"
#include "sim/gimbalmodel.h"
#include "support/files.h"
#include "support/frames.h"

Q_DECLARE_METATYPE(GimbalModel::FlashState)

namespace {

const ParamBlock &kDefault = GimbalModel::kDefaultBlock;

const auto raw = [](const auto &b) { return TestFrames::bytesOf(b); };

QByteArray feed(GimbalModel &m, const QByteArray &in)
{
    QByteArray out;
    for (const auto &chunk : m.receive(reinterpret_cast<const std::uint8_t *>(in.data()), std::size_t(in.size()), 0))
        out += raw(chunk);
    return out;
}

QByteArray request(std::uint8_t command, std::uint8_t save = 0, const ParamBlock &block = {})
{
    return raw(buildRequest(command, save, block));
}

} // namespace

class TestGimbalModel : public QObject
{
    Q_OBJECT

private slots:
    // Wherever the bytes are cut, even between the two header bytes, and
    // whatever comes before it (noise, a reply, a request with a bad CRC, a
    // header leading nowhere), a request gets the reply of a clean line.
    void modelFindsTheRequest()
    {
        GimbalModel clean;
        const QByteArray reply = feed(clean, request(READ_PARAM_1));
        const QByteArray badCrc = request(READ_PARAM_2).replace(20, 1, "\x01", 1);
        const QByteArray junk =
            QByteArray("\x01\xAB\x02\xCD\xFF", 5) + reply + badCrc + QByteArray("\xAB\xCD\x00\x07\xAB", 5);
        for (const QByteArray &stream : {request(READ_PARAM_1), junk + request(READ_PARAM_1)}) {
            for (int cut = 0; cut <= stream.size(); ++cut) {
                GimbalModel m;
                QByteArray out = feed(m, stream.left(cut));
                out += feed(m, stream.mid(cut));
                QCOMPARE(out, reply);
                QCOMPARE(m.requestsSeen(), std::uint64_t(1));
            }
        }
    }

    // Only a regular file of exactly one block is trusted, anything else
    // gives the default; a store is whole or fails, replaces only a regular
    // file (through a link, kept), and the next model starts from it.
    void flashFile_data()
    {
        QTest::addColumn<int>("size"); // -1: no file
        QTest::addColumn<QString>("node"); // "file", "no directory", "link", "FIFO"
        QTest::addColumn<GimbalModel::FlashState>("state");
        QTest::newRow("missing") << -1 << "file" << GimbalModel::FlashState::Missing;
        QTest::newRow("no directory") << -1 << "no directory" << GimbalModel::FlashState::Missing;
        QTest::newRow("17 bytes") << 17 << "file" << GimbalModel::FlashState::Unusable;
        QTest::newRow("19 bytes") << 19 << "file" << GimbalModel::FlashState::Unusable;
        QTest::newRow("18 bytes") << 18 << "file" << GimbalModel::FlashState::Loaded;
        QTest::newRow("link to 18 bytes") << 18 << "link" << GimbalModel::FlashState::Loaded;
        QTest::newRow("FIFO") << -1 << "FIFO" << GimbalModel::FlashState::NotAFile;
    }
    void flashFile()
    {
        QFETCH(int, size);
        QFETCH(QString, node);
        QFETCH(GimbalModel::FlashState, state);
        const bool dirExists = node != "no directory";
        QTemporaryDir dir;
        const QString path = dir.filePath(QLatin1String(dirExists ? "flash.bin" : "gone/flash.bin"));
        const QByteArray content = QByteArray::fromHex("28292a2b2c2d2e2f303132333435363738393a").left(size);
        const QString real = node == "link" ? dir.filePath(QStringLiteral("real.bin")) : path;
        QVERIFY(size < 0 || writeFile(real, content));
        QVERIFY(node != "link" || QFile::link(real, path));
        QVERIFY(node != "FIFO" || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        GimbalModel m(path.toStdString());
        QVERIFY(m.flashState() == state);
        const QByteArray loaded = size == kParamSlots ? content : raw(kDefault);
        QCOMPARE(raw(m.ram()), loaded);

        // A store riding on the last write part keeps that part too.
        ParamBlock written = GimbalModel::defaultWith({18, 3, 5, 6, 7});
        written[17] = 0x55;
        feed(m, request(WRITE_PARAM_2, 0, written));
        const bool stores = dirExists && node != "FIFO";
        QCOMPARE(quint8(feed(m, request(WRITE_PARAM_3, kSaveRequested, written))[4]), stores ? kSaveStored : kSaveFailed);
        QCOMPARE(int(m.ram()[17]), 0x55);
        QCOMPARE(raw(m.flash()), stores ? raw(m.ram()) : loaded);
        GimbalModel next(path.toStdString());
        QCOMPARE(raw(next.ram()), raw(m.flash()));
        QCOMPARE(QFileInfo(path).isSymLink(), node == "link");
        QCOMPARE(QFileInfo(path).isFile(), stores);
    }
    // A forgotten save answers "stored" and leaves the flash file as it was;
    // the one after it stores as ever.
    void forgottenSavesAreAnsweredStored()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("flash.bin")).toStdString();
        GimbalModel m(path);
        m.faults.forgetSaves = 1;
        feed(m, request(WRITE_PARAM_2, 0, GimbalModel::defaultWith({3, 2, 5, 6, 7})));
        for (const bool forgotten : {true, false}) {
            QCOMPARE(quint8(feed(m, request(READ_PARAM_1, kSaveRequested))[4]), kSaveStored);
            QCOMPARE(raw(m.flash()), raw(forgotten ? kDefault : m.ram()));
            QCOMPARE(raw(GimbalModel(path).ram()), raw(m.flash()));
        }
    }
};

QTEST_MAIN(TestGimbalModel)
#include "tst_gimbalmodel.moc"
