// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

#include "simrig.h"

// Stands in for the operator at every dialog the window opens: file dialogs
// get `file` (cancelled when it is empty); a message box with a button named
// `press` has it clicked, a question is answered Yes when its object name is
// in yesTo and No otherwise. Every message box is kept as "name: text".
struct Operator {
    QString file;
    QString press;
    QStringList yesTo;
    QStringList seen;

    int answer(QDialog &dialog)
    {
        if (auto *files = qobject_cast<QFileDialog *>(&dialog)) {
            files->selectFile(file);
            return file.isEmpty() ? QDialog::Rejected : QDialog::Accepted;
        }
        auto &box = static_cast<QMessageBox &>(dialog);
        seen << dialog.objectName() + QStringLiteral(": ") + box.text();
        if (auto *button = box.findChild<QPushButton *>(press); button && !press.isEmpty()) {
            button->click();
            return 0;
        }
        if (!box.button(QMessageBox::Yes))
            return QMessageBox::Ok;
        return yesTo.contains(dialog.objectName()) ? QMessageBox::Yes : QMessageBox::No;
    }
    // A message box whose "name: text" starts with `name` and holds `part`.
    bool saw(const QString &name, const QString &part = {}) const
    {
        const auto says = [&](const QString &s) { return s.startsWith(name) && s.contains(part); };
        return std::any_of(seen.begin(), seen.end(), says);
    }
    QString said() const { return seen.join(QLatin1Char('\n')); }
};

// The rig with the operator at its dialogs and the window's clock starting at `start`.
struct OperatedRig : Rig {
    explicit OperatedRig(const QDateTime &start, std::uint32_t seed = 1)
        : Rig(seed)
    {
        w->setHooks({[this](QDialog &d) { return person.answer(d); }, [this, start] { return start.addMSecs(ms); }});
    }
    QString statusTip() const { return w->findChild<QLineEdit *>(QStringLiteral("linkStatusLineEdit"))->toolTip(); }
    QAction *action(const char *name) const { return w->findChild<QAction *>(QLatin1String(name)); }
    void trigger(const char *name) { action(name)->trigger(); }

    Operator person;
};
