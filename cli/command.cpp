// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/command.h"

#include <QByteArray>

#include "os/safefile.h"
#include "os/stopsignals.h"

namespace Cli {

int doneWith(const Command &c, QJsonObject report, const ParamBlock &block)
{
    if (c.json) {
        report.insert(QStringLiteral("port"), c.port);
        report.insert(QStringLiteral("channels"), Output::channelsJson(block));
        report.insert(QStringLiteral("outOfRange"), Output::outOfRangeJson(block));
        report.insert(QStringLiteral("block"), BackupFile::blockJson(block));
        Output::printJson(report);
    }
    return ExitCode::kOk;
}

BackupFile::LoadResult loadBackup(const QString &path, ParamBlock *block, QString *why)
{
    if (path != QLatin1String("-"))
        return BackupFile::load(path, block, why, Language::English, BackupFile::OutOfRange::Allow);
    QByteArray data;
    if (!SafeFile::readToEnd(0, BackupFile::kMaxBytes, &data, why, [] { return StopSignals::pending() != 0; }))
        return BackupFile::LoadResult::Unreadable;
    return BackupFile::read(data, block, why, Language::English, BackupFile::OutOfRange::Allow)
               ? BackupFile::LoadResult::Loaded
               : BackupFile::LoadResult::Refused;
}

} // namespace Cli
