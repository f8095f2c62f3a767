// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Files that the programs write are replaced only when they are regular
// files: a backup named /dev/null, a FIFO someone reads from, or a settings
// file that is a link to a device must never turn into a regular file of
// ours. Files they read are opened without ever blocking, so a FIFO with no
// writer or a device node can't hang a program before it has said anything.
namespace SafeFile {

// Where a write to `path` lands: `path` itself when it is a regular file or
// does not exist yet, the regular file a symbolic link points to (so the link
// is kept), or nothing, with the reason in `why`, for anything else.
QString writeTarget(const QString &path, QString *why);

// Replaces the file all at once (a cut-off write never replaces a good file),
// through writeTarget. Every step is checked, down to the file's size on the
// disk; false with the reason in `why` (a full disk says so), the old file as
// it was and no temporary file left. The new file keeps the old one's
// permissions.
bool replace(const QString &path, const QByteArray &data, QString *why);

// Hands all of `data` to a descriptor, taking up a write that the system cut
// short or a signal interrupted. `written` is how much went, the reason in
// `why` when not all of it did.
bool writeAll(int fd, const QByteArray &data, qint64 *written, QString *why);

// Reads a regular file (links followed) of at most maxBytes; anything else is
// refused without being opened for long enough to block. A longer file gives
// maxBytes + 1 bytes, so the caller can tell it is too long: its first ones,
// or with `tail` its last ones, for a file that grows at its end and whose
// newest part is what matters.
bool readRegular(const QString &path, qint64 maxBytes, QByteArray *data, QString *why, bool tail = false);

// Reads a descriptor to its end, however the data arrives (a pipe hands it
// over in pieces), or to one byte past maxBytes. A read cut short by a signal
// is taken up again unless `stop` says otherwise.
bool readToEnd(int fd, qint64 maxBytes, QByteArray *data, QString *why, const std::function<bool()> &stop = {});

// What a path is, for a message: "a FIFO", "a directory", "a character device"...
QString kindOf(const QString &path);

} // namespace SafeFile
