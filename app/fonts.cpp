// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/fonts.h"

#include <QCoreApplication>
#include <QFont>
#include <QStringList>

void installFontSubstitutes()
{
    const QStringList song = {
        QStringLiteral("SimSun"), QStringLiteral("NSimSun"),       // Windows, or Windows fonts copied over
        QStringLiteral("Songti SC"), QStringLiteral("STSong"),     // macOS
        QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"), // Linux distributions
    };
    QFont::insertSubstitutions(QStringLiteral("宋体"), song);
    QFont::insertSubstitutions(QStringLiteral("仿宋"),
                               QStringList{QStringLiteral("FangSong"), QStringLiteral("STFangsong")} + song);
}

void enableDisplayScaling()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
}
