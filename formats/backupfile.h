// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QString>

#include "link/frame.h"
#include "lang/language.h"

// A controller's whole parameter block as a small JSON document that a person
// can read and a script can diff: what format it is, when and from which port
// it was taken, the five assignments by name and the 18 bytes. The window's
// parameter files and the command line's backups are the same files.
namespace BackupFile {

constexpr int kVersion = 1;
// Far more than a backup ever is; anything longer is not one, and is not read.
constexpr qint64 kMaxBytes = 64 * 1024;

// The 18 bytes as a JSON list of numbers.
QJsonArray blockJson(const ParamBlock &block);

QByteArray write(const ParamBlock &block, const QDateTime &taken, const QString &port);

// A backup of a controller whose slots hold no SBUS channel is a faithful
// copy, and is written as such; whether it may be read back so is the
// reader's choice, made explicitly.
enum class OutOfRange { Refuse, Allow };

// Checks everything before anything is sent: the format and version, 18
// whole numbers of 0..255, that the named assignments agree with the bytes
// (a file edited in one place only is refused), and, unless allowed,
// channels 1..18. Returns false with the reason, in the given language, in
// error.
bool read(const QByteArray &data, ParamBlock *block, QString *error,
          Language language = Language::English,
          OutOfRange outOfRange = OutOfRange::Refuse);

// Why `block` can't be read back without allowing it: each function whose
// slot holds no SBUS channel, with what it holds; empty when all are 1..18.
QString outOfRangeReason(const ParamBlock &block,
                         Language language = Language::English);

enum class LoadResult { Loaded, Unreadable, Refused };
// A file by name, with read()'s checks: only a regular file is read, and never
// in a way that could block. Unreadable gives the system's reason in error.
LoadResult load(const QString &path, ParamBlock *block, QString *error,
                Language language = Language::English,
                OutOfRange outOfRange = OutOfRange::Refuse);

// Replaces `path` all at once, and only when it is a regular file or new.
bool save(const QString &path, const ParamBlock &block, const QDateTime &taken, const QString &port, QString *error);

} // namespace BackupFile
