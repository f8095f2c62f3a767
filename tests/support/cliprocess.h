// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// A backup that restores the default block with tilt on 3 and slot 0 at 17.
inline const QByteArray kGoodBackup = R"({"format": "sbus-channel parameter block", "version": 1, )"
                                      R"("channels": {"tilt": 3, "pan": 2, "mode": 5, "rec": 6, "zoom": 7}, )"
                                      R"("block": [17,90,100,33,5,120,30,150,45,3,6,200,7,2,80,35,175,65]})";

// The command line as a test runs it: the history of blocks is on, where a
// user's is, but under the test's own directory.
inline QProcessEnvironment underTestDir(const QTemporaryDir &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SBUS_CHANNEL_HISTORY"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    return env;
}
