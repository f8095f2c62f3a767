// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QFile>
#include <QString>

// A CSV file of live data that grows by one row per poll cycle. Each row is
// handed to the system as it comes, so a crash loses at most the row being
// written; a file that is not a regular one is never opened. A row that does
// not reach the file whole is taken back, so the file always ends with a
// whole row.
class LiveLog
{
public:
    ~LiveLog() { stop(); }

    // Empties or creates the file and writes the column names. False, with
    // the reason in `why`, when that can't be done.
    bool start(const QString &path, QString *why);
    // False, with the reason, when the row did not reach the file, or when
    // the file is no longer the one at path() (see lost()).
    bool append(const QString &row, QString *why);
    void stop();

    bool active() const;
    // The file of the current or last log, and how many rows it got.
    const QString &path() const { return path_; }
    qint64 rows() const { return rows_; }
    // The file written was deleted, or another put in its place, while the
    // log ran: its rows are not at path(). Looked at with each row and at stop.
    bool lost() const { return lost_; }

private:
    bool writeLine(const QString &line, QString *why);
    void closeFile();
    bool stillAtPath();

#ifdef Q_OS_UNIX
    int fd_ = -1;
    // The file opened, to tell it from another one at the same path later.
    quint64 device_ = 0;
    quint64 inode_ = 0;
#else
    QFile file_;
#endif
    QString path_;
    // Where the last whole row ends.
    qint64 end_ = 0;
    qint64 rows_ = 0;
    bool lost_ = false;
};
