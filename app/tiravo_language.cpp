// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/tiravo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

#include "os/safefile.h"
#include "ui_tiravo.h"

namespace {
// Judged by the effective identity, the one a write is judged by; plain
// access() asks about the real one.
bool directoryWritable(const QString &dir)
{
#ifdef Q_OS_UNIX
    return ::faccessat(AT_FDCWD, QFile::encodeName(dir).constData(), W_OK | X_OK, AT_EACCESS) == 0;
#else
    return QFileInfo(dir).isWritable();
#endif
}

// The file a settings object may be made on: config.ini itself, or the
// regular file it links to. Empty for anything else: the settings library
// would block the window on a FIFO before it ever shows, and its atomic
// rename would turn a device node into a file of ours.
QString usableStore(const QString &path)
{
    QString why;
    return SafeFile::writeTarget(path, &why);
}

} // namespace

// The choice lives beside the executable as long as that directory takes
// it. An installed copy sits where users can't write, and there each user
// keeps a file of their own instead of losing the choice.
QString Tiravo::languageFilePath()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    if (directoryWritable(QCoreApplication::applicationDirPath()))
        return usableStore(beside);
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    // Without a home there is nowhere better; the file beside us is still read.
    if (perUser.isEmpty() || !QDir().mkpath(perUser))
        return usableStore(beside);
    const QString own = perUser + QStringLiteral("/config.ini");
    // A choice stored beside the executable before its directory became
    // read-only, or left there by whoever installed it, is where this user's
    // file starts from, so it is not lost.
    const QString source = usableStore(beside);
    if (!QFileInfo::exists(own) && !source.isEmpty() && QFileInfo::exists(source))
        QFile::copy(source, own);
    return usableStore(own);
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
// stores LangureFlag. The settings object commits when it goes out of scope.
void Tiravo::LangureTypeWR(unsigned char mode)
{
    const QString path = languageFilePath();
    if (path.isEmpty()) {
        // Nothing is read from or written to a store that is no file; the
        // window starts in Chinese as it does without a stored choice.
        if (mode == 0) {
            LangureFlag = 1;
            ui->chRadioButton->click();
        }
        return;
    }
    QSettings settings(path, QSettings::IniFormat);

    if (mode == 0) {
        // Narrowed before the test, so a stored 257 reads as 1.
        LangureFlag = static_cast<quint8>(
            settings.value(QStringLiteral("General/LangureType"), QVariant()).toInt());
        if (LangureFlag != 1 && LangureFlag != 2) {
            settings.beginGroup(QStringLiteral("General"));
            settings.setValue(QStringLiteral("LangureType"), QStringLiteral("1"));
            settings.endGroup();
            LangureFlag = 1;
            ui->chRadioButton->click();
        } else if (LangureFlag == 2) {
            ui->enRadioButton->click();
        } else {
            ui->chRadioButton->click();
        }
        return;
    }

    settings.beginGroup(QStringLiteral("General"));
    if (LangureFlag == 1)
        settings.setValue(QStringLiteral("LangureType"), QStringLiteral("1"));
    else if (LangureFlag == 2)
        settings.setValue(QStringLiteral("LangureType"), QStringLiteral("2"));
    settings.endGroup();
}
