// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include "app/tiravo.h"
#include "os/configfile.h"
#include "port/portlist.h"
#include "rig/englishconfig.h"

inline constexpr char kChineseLanguageFile[] = "[%General]\nLangureType=1\n";

// The language store lives beside the executable under test.
inline QString configPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
}

// Where the choice goes when the executable's directory is not writable.
inline QString perUserConfigPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/config.ini");
}

inline void removeConfig()
{
    QFile::remove(configPath());
}

// The settings library keeps a file it has read and rereads it only when its
// size or modification time changed; "1" and "2" are the same size, and two
// writes often fall in the same second. Each write therefore gets a time of
// its own, later than any before it, so a window never reads a stale choice.
inline void writeConfigRaw(const QByteArray &bytes)
{
    static qint64 writes = 0;
    QFile f(configPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    f.write(bytes);
    f.flush();
    f.setFileTime(QDateTime::currentDateTime().addSecs(++writes * 2), QFileDevice::FileModificationTime);
}

inline QByteArray readConfigRaw()
{
    QFile f(configPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the settings library reads back for the stored language, or a null
// variant when there is no entry.
inline QVariant storedLanguage()
{
    QSettings s(configPath(), QSettings::IniFormat);
    return s.value(ConfigFile::languageEntry());
}

// A window made after this starts in English with a fresh port list and no
// message run under way, however earlier windows of the test left the globals.
inline void freshEnglishWindow()
{
    writeConfigRaw(kEnglishLanguageFile);
    resetWindowCounts();
}
