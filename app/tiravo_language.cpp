// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/tiravo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSettings>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

#include "os/configfile.h"
#include "os/installedcopy.h"
#include "ui_tiravo.h"

namespace {
#ifdef Q_OS_UNIX
QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
#endif

// Where the choice is read from, whether a write there can last, and if not,
// which text tells why and what fills it in.
struct LanguageStore {
    QString path;
    bool keeps = false;
    AssistText why = kAssistTextCount;
    QStringList args;
};

LanguageStore findLanguageStore()
{
    const ConfigFile::Place place = ConfigFile::find();
    LanguageStore store;
    store.path = place.path;
    store.keeps = place.keeps;
    switch (place.problem) {
    case ConfigFile::Problem::None:
        break;
    case ConfigFile::Problem::NotAFile:
        store.why = LANG_NOT_FILE;
        store.args = QStringList{place.refused, place.why};
        break;
    case ConfigFile::Problem::NoHome:
        store.why = LANG_NO_HOME;
        store.args = QStringList{place.programDir};
        break;
    case ConfigFile::Problem::NoFolder:
        store.why = LANG_NO_FOLDER;
        store.args = QStringList{place.refused, place.why, place.programDir};
        break;
    }
    return store;
}

// The settings library only says a write failed; the file's folder or the
// file itself usually says why.
QString whyNotWritten(const QString &file)
{
    QString why;
    if (!directoryTakesFiles(QFileInfo(file).absolutePath(), &why))
        return why;
#ifdef Q_OS_UNIX
    // It is read before it is written, so that nothing else in it is lost.
    const QByteArray name = QFile::encodeName(file);
    for (const int access : {W_OK, R_OK}) {
        if (::faccessat(AT_FDCWD, name.constData(), access, AT_EACCESS) != 0 && errno != ENOENT)
            return systemError(errno);
    }
#endif
    return QStringLiteral("the settings library could not write it");
}

QString formatted(const char *text, const QStringList &args)
{
    // All at once, so a path holding "%2" stays as it is.
    const QString t = QString::fromUtf8(text);
    switch (args.size()) {
    case 1:
        return t.arg(args[0]);
    case 2:
        return t.arg(args[0], args[1]);
    default:
        return t.arg(args.value(0), args.value(1), args.value(2));
    }
}

// Once per process for each reason: a switch that fails as the last one did
// adds nothing for whoever reads the terminal.
void tellOnce(const QString &english)
{
    static QSet<QString> told;
    if (told.contains(english))
        return;
    told.insert(english);
    QString text = english;
    qWarning().noquote() << QCoreApplication::applicationName() + QStringLiteral(": ") +
                                text.replace(QLatin1Char('\n'), QStringLiteral("\n  "));
}

} // namespace

QString Tiravo::languageFilePath()
{
    return ConfigFile::find().path;
}

QString Tiravo::portMemoryFile()
{
    const LanguageStore store = findLanguageStore();
    return store.keeps ? store.path : QString();
}

void Tiravo::LangureCharLoad()
{
    const char *const *texts = (LangureFlag == 1) ? kChineseTexts : kEnglishTexts;
    for (int i = 0; i < kTextCount; ++i)
        LangureChar[i] = QString::fromUtf8(texts[i]);

    ui->startPushButton->setText(LangureChar[TXT_CONNECT]);
    ui->updatePushButton->setText(LangureChar[TXT_UPLOAD_PARAM]);
    ui->downloadPushButton->setText(LangureChar[TXT_DOWNLOAD_PARAM]);
    ui->programPushButton->setText(LangureChar[TXT_SAVE_PARAM]);
    ui->tiltLabel->setText(LangureChar[TXT_TILT_CHANNEL]);
    ui->headingLabel->setText(LangureChar[TXT_PAN_CHANNEL]);
    ui->modeLabel->setText(LangureChar[TXT_MODE_CHANNEL]);
    ui->videoLabel->setText(LangureChar[TXT_REC_CHANNEL]);
    ui->zoomLabel->setText(LangureChar[TXT_ZOOM_CHANNEL]);
    ui->testLabel->setText(LangureChar[TXT_TEST_DATA]);
    ui->testTiltLabel->setText(LangureChar[TXT_TILT_DATA]);
    ui->testheadingLabel->setText(LangureChar[TXT_PAN_DATA]);
    ui->testModeLabel->setText(LangureChar[TXT_MODE_DATA]);
    ui->testVideoLabel->setText(LangureChar[TXT_REC_DATA]);
    ui->testZoomLabel->setText(LangureChar[TXT_ZOOM_DATA]);
    ui->linkStatusLabel->setText(LangureChar[TXT_STATUS]);
    ui->chRadioButton->setText(LangureChar[TXT_CHINESE]);
    ui->enRadioButton->setText(LangureChar[TXT_ENGLISH]);

    renewAccessibleNames();
    renewFileTexts();
    // The port descriptions and the failed-open tooltip follow the language too.
    describePortItems();
    showStatusTip();
}

void Tiravo::ChangeLangure()
{
    if (ui->chRadioButton->isChecked())
        LangureFlag = 1;
    else if (ui->enRadioButton->isChecked())
        LangureFlag = 2;

    LangureTypeWR(1);
    LangureCharLoad();
    // The link status field takes the new language on the next tick.
    resumeTicking();
}

// Mode 0 reads the stored choice and selects its radio button; any other mode
// stores LangureFlag. Where the choice can't be kept, the status field's
// tooltip says why and what to do, and standard error says it once.
void Tiravo::LangureTypeWR(unsigned char mode)
{
    const LanguageStore store = findLanguageStore();
    AssistText why = store.why;
    QStringList args = store.args;
    if (store.path.isEmpty()) {
        // Nothing is read from or written to a store that is no file; the
        // window starts in Chinese as it does without a stored choice.
        if (mode == 0) {
            LangureFlag = 1;
            ui->chRadioButton->click();
        }
    } else {
        QSettings settings(store.path, QSettings::IniFormat);
        bool write = LangureFlag == 1 || LangureFlag == 2;
        if (mode == 0) {
            // Narrowed before the test, so a stored 257 reads as 1.
            LangureFlag = static_cast<quint8>(
                settings.value(ConfigFile::languageEntry(), QVariant()).toInt());
            write = LangureFlag != 1 && LangureFlag != 2;
            if (write) {
                LangureFlag = 1;
                ui->chRadioButton->click();
            } else if (LangureFlag == 2) {
                ui->enRadioButton->click();
            } else {
                ui->chRadioButton->click();
            }
        }
        // A write known to be lost is not made: the settings library would
        // hold on to it and slip it into a later write of this process.
        if (write && store.keeps) {
            settings.beginGroup(ConfigFile::kLanguageGroup);
            settings.setValue(ConfigFile::kLanguageKey,
                              LangureFlag == 1 ? QStringLiteral("1") : QStringLiteral("2"));
            settings.endGroup();
            settings.sync();
            // A file the library could not parse is still rewritten whole,
            // with the choice in it; only an access error means it did not land.
            if (settings.status() == QSettings::AccessError) {
                why = LANG_NOT_WRITTEN;
                args = QStringList{QDir::toNativeSeparators(store.path), whyNotWritten(store.path)};
            }
        }
    }

    if (why == kAssistTextCount) {
        languageNote = {};
        return;
    }
    languageNote.chinese = formatted(kAssistTexts[why].chinese, args);
    languageNote.english = formatted(kAssistTexts[why].english, args);
    tellOnce(languageNote.english);
}
