// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QFile>
#include <QString>

#include "app/tiravo.h"

// Measurements compare English captions, so the window must start in English
// whatever the bench's stored choice is. This puts an English file there for
// the life of the object and leaves the directory as it was found afterwards.
// Make it after the application object, which knows the executable's directory.
class EnglishConfig
{
public:
    EnglishConfig()
        : path(Tiravo::languageFilePath())
    {
        QFile old(path);
        if (old.open(QIODevice::ReadOnly)) {
            existed = true;
            saved = old.readAll();
        }
        // The settings library keeps a group named General under [%General];
        // a plain [General] section would hold top-level keys instead.
        write("[%General]\nLangureType=2\n");
    }
    ~EnglishConfig()
    {
        if (existed)
            write(saved);
        else
            QFile::remove(path);
    }
    EnglishConfig(const EnglishConfig &) = delete;
    EnglishConfig &operator=(const EnglishConfig &) = delete;

private:
    void write(const QByteArray &bytes) const
    {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
    }

    QString path;
    QByteArray saved;
    bool existed = false;
};
