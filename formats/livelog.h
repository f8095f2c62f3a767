// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QFile>
#include <QString>

// A CSV file of live data that grows by one row per poll cycle. Each row is
// handed to the system as it comes, so a crash loses at most the row being
// written; a file that is not a regular one is never opened.
class LiveLog
{
public:
    // Empties or creates the file and writes the column names. False, with
    // the reason in `why`, when that can't be done.
    bool start(const QString &path, QString *why);
    // False, with the reason, when the row did not reach the file.
    bool append(const QString &row, QString *why);
    void stop();

    bool active() const { return file_.isOpen(); }
    // The file of the current or last log, and how many rows it got.
    const QString &path() const { return path_; }
    qint64 rows() const { return rows_; }

private:
    bool writeLine(const QString &line, QString *why);

    QFile file_;
    QString path_;
    qint64 rows_ = 0;
};
