// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QDateTime>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include "app/blockmemory.h"
#include "formats/livelog.h"
#include "link/blockload.h"
#include "link/paramexchange.h"
#include "ui/texts.h"

class QAction;
class QDialog;
class QWidget;

// The parameter files and the live log of the window's context menu, and the
// history of blocks behind them: saving the block the controller sent,
// loading a file (or the block a write replaced) through the window's own
// sequencer, asking before an unstored write is left behind, and logging one
// CSV row per poll cycle. It opens the window's dialogs and reads and writes
// the link data; everything it needs of the form goes through Window, so it
// moves no widget of it. The live data stays in view: results go to dialogs
// and, through Window::showNote, to the status field's tooltip.
class ParamFiles : public QObject
{
public:
    // What the window lends: all of it is cheap and asked for as needed,
    // since the port and the language change under the menu's feet.
    struct Window {
        // The port is open (the link may still be lost).
        std::function<bool()> portOpen;
        // The open port's device, as a saved file records it.
        std::function<QString()> portLocation;
        // A function's name as the window's caption for it reads.
        std::function<QString(int function)> functionName;
        // The selectors show this block, as after an upload.
        std::function<void(const ParamBlock &)> showChannels;
        // The status field's tooltip tells of this file: which text, its
        // path and, for a finished log, the row count.
        std::function<void(FileText, const QString &path, qint64 rows)> showNote;
        // What the history found of the controller changed; the tooltip shows it.
        std::function<void()> renewStatusTip;
        // Closes the port, as Disconnect does once the store it waited for is answered.
        std::function<void()> disconnect;
    };

    // Stand-ins for a person and a clock, for tests: `dialog` answers each of
    // the dialogs in place of exec(), returning what exec() would; `now`
    // gives the time live data is logged and the history is written with.
    struct Hooks {
        std::function<int(QDialog &)> dialog;
        std::function<QDateTime()> now;
    };

    // The actions are the window's children and shortcuts, so Ctrl+S and
    // Ctrl+O work wherever its focus is.
    ParamFiles(QWidget &window, ParamExchange &link, Window callbacks);
    ~ParamFiles() override;

    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // Save, Load, Undo and the live log, in the menu's order.
    QList<QAction *> actions() const;
    void renewTexts();
    // Saving needs a block read whole in this contact and neither being read
    // again nor rewritten; a load waits for the write under way, which its
    // read would cut off.
    void enableActions();

    // What the window tells of the link.
    void startContact(const BlockHistory::Adapter &adapter);
    void replyArrived(const ReplyEffect &effect);
    // On every tick with the link lost or the port closed.
    void linkDown();
    bool loadRunning() const { return load_.running(); }
    // The port closed in the middle of a load: says what the controller may hold.
    void abandonLoad();
    void stopLiveLog();

    // A write of this contact not stored yet: asks whether to store it
    // before closing (or disconnecting). True when the close may go ahead now.
    bool settleUnstoredWrite(bool closingWindow);
    // The window is being closed: true when the close may go ahead. A
    // question still open is ended with No, and standard error learns what
    // the controller is left holding, as the window that could say so is gone.
    bool allowClose();
    // Ends the dialog running now, if any.
    void endDialog();

    // For the status field's tooltip: the history's finding on this controller.
    QString contactWarning(Language language) const { return memory_.contactWarning(language); }

    // Two functions on one channel: true when the operator still wants the write.
    bool confirmSharedChannels(const ParamBlock &block);
    // Told from outside the tick and the port's read, whose slot a dialog
    // would hold: the link would starve until it closes.
    void tellLater(const QString &text, bool failure);

private:
    void saveToFile();
    void loadFromFile();
    void undoLastWrite();
    void toggleLiveLog();
    void logPollCycle();
    void followLoad(BlockLoad::Next next);
    void followMemory(const ReplyEffect &effect);
    void askToWrite();
    void askToStore();
    // Opens a file (no proposed name) or saves one (named as proposed); empty when cancelled.
    QString chooseFile(const char *name, FileText title, FileText filter, const QString &proposed);
    int runDialog(QDialog &dialog);
    int ask(const char *name, QMessageBox::Icon icon, const QString &title, const QString &text,
            QMessageBox::StandardButton preferred = QMessageBox::NoButton);
    void tell(const QString &text, bool failure);
    // The text names what is being loaded.
    void tellAboutLoad(FileText text, bool failure);
    // In English, for standard error: what the controller holds while a write
    // or store is under way; empty when nothing is at stake.
    QString whatControllerHolds() const;
    bool portClosed() const { return !window_.portOpen(); }
    QDateTime now() const;

    QWidget &windowWidget_;
    ParamExchange &link_;
    const Window window_;
    Hooks hooks_;

    QAction *saveAction_ = nullptr;
    QAction *loadAction_ = nullptr;
    QAction *undoAction_ = nullptr;
    QAction *logAction_ = nullptr;

    BlockLoad load_;
    QString loadPath_;
    // How the questions and results of a load name what is loaded: the
    // file's name, or the write an undo goes back on.
    QString loadName_;
    BlockMemory memory_;
    LiveLog liveLog_;
    // Where the last file was chosen; the dialogs start there.
    QString fileDirectory_;
    // The operator chose to store before closing or disconnecting: done once
    // the controller answers the store, whatever the answer.
    enum class AfterStore { Nothing, Close, Disconnect } afterStore_ = AfterStore::Nothing;
    // The close question was answered; a close held back meanwhile does not ask again.
    bool closeAnswered_ = false;
    // The window has been closed: a result arriving now is not shown.
    bool closing_ = false;
    // The dialog running now, so that closing the window can end it.
    QPointer<QDialog> activeDialog_;
};
