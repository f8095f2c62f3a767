// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's side of its context menu and of its parameter files: what it
// lends them of the form, the menu itself, and the close, which a write not
// stored yet may hold back. The files, the live log and their dialogs are
// ParamFiles'.
#include "app/tiravo.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>

#include "port/portlist.h"
#include "ui_tiravo.h"

QString Tiravo::fileText(FileText id) const
{
    return inWindowLanguage(kFileTexts[id]);
}

ParamFiles::Window Tiravo::lentToFiles()
{
    ParamFiles::Window lent;
    lent.portOpen = [this] { return !portClosed(); };
    lent.portLocation = [this] { return PortList::systemLocation(ui->comComboBox->currentText()); };
    lent.functionName = [this](int f) { return nameFromCaption(LangureChar[TXT_TILT_CHANNEL + f]); };
    lent.showChannels = [this](const ParamBlock &block) { showChannels(block); };
    lent.showNote = [this](FileText text, const QString &path, qint64 rows) {
        fileNote = {text, path, rows};
        showStatusTip();
    };
    lent.renewStatusTip = [this] { showStatusTip(); };
    lent.disconnect = [this] { closePort(); };
    return lent;
}

void Tiravo::setUpContextMenu()
{
    reconnectAction = new QAction(this);
    reconnectAction->setObjectName(QStringLiteral("reconnectAction"));
    reconnectAction->setCheckable(true);
    // Only the operator's toggle is stored; the start-up's setChecked is not one.
    connect(reconnectAction, &QAction::triggered, this, &Tiravo::toggleReconnect);
    // A combo box takes every context menu request and shows nothing; the
    // selectors hold no text to copy, so theirs goes on to the window.
    for (QComboBox *combo : findChildren<QComboBox *>())
        combo->setContextMenuPolicy(Qt::NoContextMenu);
}

void Tiravo::renewFileTexts()
{
    files->renewTexts();
    reconnectAction->setText(fileText(MENU_RECONNECT));
}

// Reached from every widget that has no menu of its own: the input fields
// keep theirs. From the keyboard, the menu opens over the focused widget.
void Tiravo::contextMenuEvent(QContextMenuEvent *event)
{
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QWidget *focus = focusWidget() ? focusWidget() : this;
        at = focus->mapToGlobal(focus->rect().center());
    }
    files->enableActions();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("contextMenu"));
    menu.addActions(files->actions());
    menu.addSeparator();
    menu.addAction(reconnectAction);
    menu.exec(at);
}

// A close that gets here goes ahead (CloseGuard has let it through), unless
// a write not stored yet holds it back for the operator's answer.
void Tiravo::closeEvent(QCloseEvent *event)
{
    if (!files->allowClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
