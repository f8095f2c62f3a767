// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "link/frame.h"

// A controller's whole parameter block as a small JSON document that a person
// can read and a script can diff: what format it is, when and from which port
// it was taken, the five assignments by name and the 18 bytes.
namespace BackupFile {

constexpr int kVersion = 1;
// Far more than a backup ever is; anything longer is not one, and is not read.
constexpr qint64 kMaxBytes = 64 * 1024;

QByteArray write(const ParamBlock &block, const QDateTime &taken, const QString &port);

// Checks everything before anything is sent: the format and version, 18
// whole numbers of 0..255, channels 1..18, and that the named assignments
// agree with the bytes (a file edited in one place only is refused). Returns
// false with the reason in error.
bool read(const QByteArray &data, ParamBlock *block, QString *error);

} // namespace BackupFile
