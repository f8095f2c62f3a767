// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// What the window remembers of stored blocks: the contact check, undoing the
// last write, and the question before an unstored write is left behind.
#include "app/tiravo.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QPushButton>
#include <QTimer>

#include "formats/blockhistory.h"
#include "os/stopsignals.h"
#include "ui_tiravo.h"

void Tiravo::followMemory(const ReplyEffect &effect)
{
    const QDateTime now = hooks.now ? hooks.now().toLocalTime() : QDateTime::currentDateTime();
    if (memory.afterReply(effect, link, now)) {
        showStatusTip();
        const QString warning = memory.contactWarning(reportLanguage());
        if (!warning.isEmpty())
            qWarning().noquote() << QStringLiteral("%1: %2").arg(QCoreApplication::applicationName(), warning);
    }
    // The history is a help, not a condition: without it the window works
    // as before, and says once why it can't remember.
    const QString problem = memory.takeProblem(reportLanguage());
    if (!problem.isEmpty())
        qWarning().noquote() << QStringLiteral("%1: %2").arg(QCoreApplication::applicationName(), problem);
    if (effect.save != ReplyEffect::NoSaveResult && afterStore == AfterStore::Disconnect) {
        afterStore = AfterStore::Nothing;
        // Not from inside the read: the port object is still delivering.
        QTimer::singleShot(0, this, [this] {
            if (!portClosed())
                closePort();
        });
    }
}

bool Tiravo::confirmSharedChannels(const ParamBlock &block)
{
    QString shared = BlockHistory::sharedChannelWarning(block, reportLanguage());
    if (shared.isEmpty())
        return true;
    shared[0] = shared[0].toUpper();
    return ask("sharedChannelDialog", QMessageBox::Question, windowTitle(), fileText(SHARED_CHANNEL_ASK).arg(shared),
               QMessageBox::No) == QMessageBox::Yes;
}

void Tiravo::undoLastWrite()
{
    enableFileActions();
    if (!undoWriteAction->isEnabled())
        return;
    const auto write = memory.lastWrite();
    if (!write) {
        tell(fileText(UNDO_NOTHING), false);
        return;
    }
    if (!confirmSharedChannels(*write->before) || portClosed())
        return;
    loadPath.clear();
    loadName = fileText(UNDO_NAME).arg(write->time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    load.start(*write->before, link);
    enableFileActions();
}

bool Tiravo::settleUnstoredWrite(bool closingWindow)
{
    // A stop signal (Ctrl+C in the terminal, a logout) is no one at the
    // window to answer; standard error then says what is left unstored.
    if (closingWindow && (closeAnswered || StopSignals::pending() != 0))
        return true;
    if (!memory.unstoredWrite() || portClosed() || link.linkLost() || afterStore != AfterStore::Nothing)
        return true;
    // Closing while a question is open (a load's offer to store) answers
    // it No, as it always has: the operator was being asked already.
    if (activeDialog)
        return true;
    QMessageBox box(QMessageBox::Warning, windowTitle(),
                    fileText(closingWindow ? UNSTORED_CLOSE_ASK : UNSTORED_DISCONNECT_ASK), QMessageBox::NoButton,
                    this);
    box.setObjectName(QStringLiteral("unstoredWriteDialog"));
    QPushButton *store =
        box.addButton(fileText(closingWindow ? BUTTON_STORE_CLOSE : BUTTON_STORE_DISCONNECT), QMessageBox::AcceptRole);
    store->setObjectName(QStringLiteral("storeButton"));
    QPushButton *without = box.addButton(fileText(closingWindow ? BUTTON_CLOSE_ANYWAY : BUTTON_DISCONNECT_ANYWAY),
                                         QMessageBox::DestructiveRole);
    without->setObjectName(QStringLiteral("withoutStoringButton"));
    QPushButton *cancel = box.addButton(fileText(BUTTON_CANCEL), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    box.setDefaultButton(store);
    box.setEscapeButton(cancel);
    runDialog(box);
    // The link may have gone while the question was open: then there is
    // nothing left to store, and the answer to go ahead stands.
    if (box.clickedButton() == without || (box.clickedButton() == store && (portClosed() || link.linkLost()))) {
        closeAnswered = closingWindow;
        return true;
    }
    if (box.clickedButton() != store)
        return false;
    link.requestSave();
    afterStore = closingWindow ? AfterStore::Close : AfterStore::Disconnect;
    if (closingWindow) {
        closeAnswered = true;
        // Held back by the close guard until the store is answered.
        QTimer::singleShot(0, this, &QWidget::close);
    }
    return false;
}
