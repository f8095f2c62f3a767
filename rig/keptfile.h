// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QByteArray>
#include <QString>

// A file as it was found, put back when asked and again when the object goes:
// a tour or a measurement that changes the operator's language file leaves it
// as it was, however it ends short of a crash. Make it before whatever may
// write the file, the window included, which stores a choice when it finds none.
class KeptFile
{
public:
    explicit KeptFile(QString path);
    ~KeptFile();
    KeptFile(const KeptFile &) = delete;
    KeptFile &operator=(const KeptFile &) = delete;

    // Writes the file back as found, or removes it if there was none, when it
    // differs; false, with the reason, if that failed.
    bool putBack(QString *why = nullptr) const;
    const QString &path() const { return path_; }

private:
    QString path_;
    QByteArray saved_;
    bool existed_ = false;
};
