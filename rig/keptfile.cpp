// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "rig/keptfile.h"

#include <QFile>

#include <cstdio>

#include "os/safefile.h"

KeptFile::KeptFile(QString path)
    : path_(std::move(path))
{
    QFile f(path_);
    existed_ = f.open(QIODevice::ReadOnly);
    if (existed_)
        saved_ = f.readAll();
}

KeptFile::~KeptFile()
{
    QString why;
    if (!putBack(&why))
        std::fprintf(stderr, "could not put %s back as it was: %s\n", qPrintable(path_), qPrintable(why));
}

bool KeptFile::putBack(QString *why) const
{
    QString reason;
    QFile f(path_);
    bool ok = true;
    if (!existed_) {
        ok = !f.exists() || f.remove();
        reason = f.errorString();
    } else if (!f.open(QIODevice::ReadOnly) || f.readAll() != saved_) {
        f.close();
        ok = SafeFile::replace(path_, saved_, &reason);
    }
    if (!ok && why)
        *why = reason;
    return ok;
}
