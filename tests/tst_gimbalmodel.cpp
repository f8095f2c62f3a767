// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The simulated controller's model on its own and driven by the window's
// sequencer: finding requests in any stream, its flash file, and a save that
// rides on a write.
#include <QtTest>

#include <QTemporaryDir>

#include <sys/stat.h>

#include "link/paramexchange.h"
#include "sim/gimbalmodel.h"

Q_DECLARE_METATYPE(GimbalModel::FlashState)

namespace {

const ParamBlock &kDefault = GimbalModel::kDefaultBlock;

template <typename Bytes> QByteArray raw(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

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
        QFile f(node == "link" ? dir.filePath(QStringLiteral("real.bin")) : path);
        QVERIFY(size < 0 || (f.open(QIODevice::WriteOnly) && f.write(content) == size && f.flush()));
        QVERIFY(node != "link" || QFile::link(f.fileName(), path));
        QVERIFY(node != "FIFO" || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        GimbalModel m(path.toStdString());
        QVERIFY(m.flashState() == state);
        const QByteArray loaded = size == kParamSlots ? content : raw(kDefault);
        QCOMPARE(raw(m.ram()), loaded);

        feed(m, request(WRITE_PARAM_2, 0, GimbalModel::defaultWith({18, 3, 5, 6, 7})));
        const bool stores = dirExists && node != "FIFO";
        QCOMPARE(quint8(feed(m, request(READ_PARAM_1, kSaveRequested))[4]), stores ? kSaveStored : kSaveFailed);
        QCOMPARE(raw(m.flash()), stores ? raw(m.ram()) : loaded);
        GimbalModel next(path.toStdString());
        QCOMPARE(raw(next.ram()), raw(m.flash()));
        QCOMPARE(QFileInfo(path).isSymLink(), node == "link");
        QCOMPARE(QFileInfo(path).isFile(), stores);
    }
    // A forgotten save answers "stored" and leaves the flash, in the model and
    // on the disk, as it was; the one after it stores as ever.
    void forgottenSavesAreAnsweredStored()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("flash.bin")).toStdString();
        GimbalModel m(path);
        m.faults.forgetSaves = 1;
        const ParamBlock first = GimbalModel::defaultWith({3, 2, 5, 6, 7});
        feed(m, request(WRITE_PARAM_2, 0, first));
        QCOMPARE(quint8(feed(m, request(READ_PARAM_1, kSaveRequested))[4]), kSaveStored);
        QCOMPARE(raw(m.flash()), raw(kDefault));
        QCOMPARE(raw(GimbalModel(path).ram()), raw(kDefault));
        QCOMPARE(quint8(feed(m, request(READ_PARAM_1, kSaveRequested))[4]), kSaveStored);
        QCOMPARE(raw(GimbalModel(path).ram()), raw(m.ram()));
        QCOMPARE(m.faults.forgetSaves, 0);
    }

    // A save asked for during a write goes out with the write requests that
    // follow; the controller stores once the request's part is in RAM, so a
    // save riding on the last write keeps the whole new block.
    // Save pressed while an upload goes out, before any of its three write
    // requests: the controller stores the whole new block, never a mix.
    void saveDuringAWriteStoresTheWholeBlock_data()
    {
        QTest::addColumn<int>("writesBefore");
        for (int n = 0; n < 3; ++n)
            QTest::addRow("before write %d", n + 1) << n;
    }
    void saveDuringAWriteStoresTheWholeBlock()
    {
        QFETCH(int, writesBefore);
        GimbalModel model;
        ParamExchange ex;
        ReplyAssembler assembler;
        ReplyEffect::Save result = ReplyEffect::NoSaveResult;
        const auto tick = [&] {
            const QByteArray out = feed(model, raw(ex.nextRequest()));
            assembler.feed(reinterpret_cast<const std::uint8_t *>(out.data()), std::size_t(out.size()),
                           [&](const Frame &reply) {
                               if (const auto effect = ex.replyArrived(reply); effect.save != ReplyEffect::NoSaveResult)
                                   result = effect.save;
                           });
        };
        ParamBlock block;
        for (int i = 0; i < kParamSlots; ++i)
            block[i] = std::uint8_t(101 + i);
        // A store is taken only once the controller's block has been read.
        for (int i = 0; i < 3; ++i)
            tick();
        ex.requestBlockWrite(block);
        for (int i = 0; i < writesBefore; ++i)
            tick();
        ex.requestSave();
        for (int i = 0; i < 4 && result == ReplyEffect::NoSaveResult; ++i)
            tick();
        QCOMPARE(int(result), int(ReplyEffect::Stored));
        QCOMPARE(raw(model.flash()), raw(block));
    }

    // A write cut off by a silent controller, with or without a store asked
    // for, pressed again or not, and a controller swapped during the outage:
    // the controller ends with its old block or the whole new one, stored
    // only as a whole. Steps: t a tick answered, q a tick the controller
    // does not answer, A / B Upload of two choices, s Save, L the window's
    // lost-link reset, X another controller on the line.
    void cutOffWritesEndWhole_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("ram");   // "old", "A", "B" or "other"
        QTest::addColumn<QString>("flash"); // the same
        const QString answered(8, QLatin1Char('t'));
        for (int done = 0; done < 3; ++done) {
            const QString cut = QString(done, QLatin1Char('t')) + QStringLiteral("qL");
            QTest::addRow("cut after %d writes", done) << "A" + cut + answered << "A" << "old";
            QTest::addRow("cut after %d writes, Save during the write", done) << "As" + cut + answered << "A" << "A";
            QTest::addRow("cut after %d writes, Save in the outage", done) << "A" + cut + "s" + answered << "A"
                                                                           << "old";
        }
        QTest::newRow("pressed again while unfinished, then cut") << "AtBqL" + answered << "B" << "old";
        QTest::newRow("another controller after the outage") << "sAtqLX" + answered << "other" << "old";
    }
    void cutOffWritesEndWhole()
    {
        QFETCH(QString, steps);
        QFETCH(QString, ram);
        QFETCH(QString, flash);
        GimbalModel model;
        ParamExchange ex;
        ReplyAssembler assembler;
        ParamBlock other = kDefault;
        other[0] = 0xEE;
        const Channels a = {3, 4, 5, 6, 7}, b = {8, 9, 10, 11, 12};
        const auto tick = [&](bool answered) {
            const QByteArray out = feed(model, raw(ex.nextRequest()));
            if (answered)
                assembler.feed(reinterpret_cast<const std::uint8_t *>(out.data()), std::size_t(out.size()),
                               [&](const Frame &reply) { ex.replyArrived(reply); });
            ex.downloadDone = 0;
        };
        for (int i = 0; i < 3; ++i)
            tick(true);
        for (const QChar step : steps) {
            switch (step.toLatin1()) {
            case 't': tick(true); break;
            case 'q': tick(false); break;
            case 'A': QVERIFY(ex.requestUpload(a)); break;
            case 'B': QVERIFY(ex.requestUpload(b)); break;
            case 's': ex.requestSave(); break;
            case 'L': ex.reset(); break;
            case 'X': model.setRam(other); break;
            }
        }
        const auto named = [&](const QString &name) {
            return name == QLatin1String("A")       ? GimbalModel::defaultWith(a)
                   : name == QLatin1String("B")     ? GimbalModel::defaultWith(b)
                   : name == QLatin1String("other") ? other
                                                    : kDefault;
        };
        QCOMPARE(raw(model.ram()), raw(named(ram)));
        QCOMPARE(raw(model.flash()), raw(named(flash)));
        QVERIFY(!ex.writeUnfinished());
    }
};

QTEST_MAIN(TestGimbalModel)
#include "tst_gimbalmodel.moc"
