// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Parameter files and the live log, reached from the window's context menu:
// saving the block the controller sent, loading a file into it through the
// window's own sequencer, and logging one CSV row per poll cycle. Nothing
// here moves a widget of the form; results go to dialogs and to the status
// field's tooltip, so the live data stays in view.
#include "app/tiravo.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include "formats/backupfile.h"
#include "formats/functionnames.h"
#include "formats/liverecord.h"
#include "port/portlist.h"
#include "ui_tiravo.h"

namespace {
QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// A name with the date and time, so files of one bench session sort in order
// and a second one does not propose to replace the first.
QString proposedName(const char *kind, const char *suffix)
{
    return QStringLiteral("sbus-channel%1-%2.%3")
        .arg(QLatin1String(kind), QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmm")),
             QLatin1String(suffix));
}
} // namespace

QString Tiravo::fileText(FileText id) const
{
    return inWindowLanguage(kFileTexts[id]);
}

void Tiravo::setUpFileActions()
{
    // Window-wide, so Ctrl+S and Ctrl+O work wherever the focus is.
    const auto make = [this](const char *name, const QKeySequence &key, void (Tiravo::*handler)()) {
        auto *action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    saveParamsAction = make("saveParamsAction", QKeySequence::Save, &Tiravo::saveParamsToFile);
    loadParamsAction = make("loadParamsAction", QKeySequence::Open, &Tiravo::loadParamsFromFile);
    logLiveAction = make("logLiveAction", QKeySequence(), &Tiravo::toggleLiveLog);
    undoWriteAction = make("undoWriteAction", QKeySequence::Undo, &Tiravo::undoLastWrite);
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
    saveParamsAction->setText(fileText(MENU_SAVE_PARAMS));
    loadParamsAction->setText(fileText(MENU_LOAD_PARAMS));
    logLiveAction->setText(fileText(liveLog.active() ? MENU_STOP_LOG : MENU_LOG_LIVE));
    undoWriteAction->setText(fileText(MENU_UNDO_WRITE));
    reconnectAction->setText(fileText(MENU_RECONNECT));
}

// Saving needs a block read whole in this contact and not being rewritten;
// a load waits for the write under way, which its read would cut off.
void Tiravo::enableFileActions()
{
    const bool open = !portClosed();
    const bool busy = link.writing() || load.running();
    saveParamsAction->setEnabled(open && link.blockDownloaded() && !busy);
    loadParamsAction->setEnabled(open && !busy);
    undoWriteAction->setEnabled(open && !busy);
    logLiveAction->setEnabled(liveLog.active() || (open && !link.linkLost()));
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
    showContextMenu(at);
}

void Tiravo::showContextMenu(const QPoint &globalPos)
{
    enableFileActions();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("contextMenu"));
    menu.addActions({saveParamsAction, loadParamsAction, undoWriteAction, logLiveAction});
    menu.addSeparator();
    menu.addAction(reconnectAction);
    menu.exec(globalPos);
}

// A close that gets here goes ahead (CloseGuard has let it through). A
// question still open is ended with No, and whoever started us learns what
// the controller is left holding: the window that could have said so is gone.
void Tiravo::closeEvent(QCloseEvent *event)
{
    if (!closing && !settleUnstoredWrite(true)) {
        event->ignore();
        return;
    }
    if (!closing) {
        closing = true;
        const QString holds = whatControllerHolds();
        if (!holds.isEmpty())
            qWarning().noquote() << QStringLiteral("%1: closed; %2").arg(QCoreApplication::applicationName(), holds);
    }
    if (activeDialog)
        activeDialog->reject();
    QWidget::closeEvent(event);
}

int Tiravo::runDialog(QDialog &dialog)
{
    activeDialog = &dialog;
    const int result = hooks.dialog ? hooks.dialog(dialog) : dialog.exec();
    activeDialog = nullptr;
    return result;
}

// A message box in the window's language, buttons included.
int Tiravo::ask(const char *name, QMessageBox::Icon icon, const QString &title, const QString &text,
                QMessageBox::StandardButton preferred)
{
    const bool question = icon == QMessageBox::Question;
    QMessageBox box(icon, title, text, question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, this);
    box.setObjectName(QLatin1String(name));
    if (question) {
        box.button(QMessageBox::Yes)->setText(fileText(BUTTON_YES));
        box.button(QMessageBox::No)->setText(fileText(BUTTON_NO));
        box.setDefaultButton(preferred);
    } else {
        box.button(QMessageBox::Ok)->setText(fileText(BUTTON_OK));
    }
    return runDialog(box);
}

void Tiravo::tell(const QString &text, bool failure)
{
    if (closing)
        return;
    ask(failure ? "fileFailureDialog" : "fileResultDialog", failure ? QMessageBox::Warning : QMessageBox::Information,
        windowTitle(), text);
}

// Dialogs are never opened from inside the tick or a read of the port: their
// event loop would hold that slot, and the link would starve until they close.
void Tiravo::tellLater(const QString &text, bool failure)
{
    QTimer::singleShot(0, this, [this, text, failure] { tell(text, failure); });
}

void Tiravo::tellAboutLoad(FileText text, bool failure)
{
    tellLater(fileText(text).arg(loadName), failure);
}

QString Tiravo::chooseFile(const char *name, FileText title, FileText filter, const QString &proposed)
{
    if (fileDirectory.isEmpty()) {
        fileDirectory = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (fileDirectory.isEmpty() || !QFileInfo(fileDirectory).isDir())
            fileDirectory = QDir::homePath();
    }
    QFileDialog dialog(this, fileText(title), fileDirectory);
    dialog.setObjectName(QLatin1String(name));
    const bool saving = !proposed.isEmpty();
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(fileText(filter));
    dialog.setLabelText(QFileDialog::LookIn, fileText(LABEL_LOOK_IN));
    dialog.setLabelText(QFileDialog::FileName, fileText(LABEL_FILE_NAME));
    dialog.setLabelText(QFileDialog::FileType, fileText(LABEL_FILE_TYPE));
    dialog.setLabelText(QFileDialog::Accept, fileText(saving ? BUTTON_SAVE : BUTTON_OPEN));
    dialog.setLabelText(QFileDialog::Reject, fileText(BUTTON_CANCEL));
    if (saving) {
        dialog.setDefaultSuffix(QFileInfo(proposed).suffix());
        dialog.selectFile(QDir(fileDirectory).filePath(proposed));
    }
    if (runDialog(dialog) != QDialog::Accepted)
        return {};
    const QString path = dialog.selectedFiles().value(0);
    if (!path.isEmpty())
        fileDirectory = QFileInfo(path).absolutePath();
    return path;
}

void Tiravo::saveParamsToFile()
{
    enableFileActions();
    if (!saveParamsAction->isEnabled())
        return;
    // Taken before the dialog: the file holds the block as it was when asked for.
    const ParamBlock block = link.paramBlock;
    const QString port = PortList::systemLocation(ui->comComboBox->currentText());
    const QString path = chooseFile("saveParamsDialog", TITLE_SAVE_PARAMS, FILTER_PARAMS,
                                    proposedName("", "json"));
    if (path.isEmpty())
        return;
    QString why;
    if (!BackupFile::save(path, block, QDateTime::currentDateTimeUtc(), port, &why)) {
        tell(fileText(SAVE_FAILED).arg(QDir::toNativeSeparators(path), why), true);
        return;
    }
    fileNote = {NOTE_SAVED, path, 0};
    showStatusTip();
    // A faithful copy all the same, but one Load refuses: better learnt now
    // than on the day it is needed.
    if (const std::vector<int> outside = functionsOutOfRange(block); !outside.empty()) {
        QStringList functions;
        for (int f : outside)
            functions << nameFromCaption(LangureChar[TXT_TILT_CHANNEL + f]);
        const QString separator = LangureFlag == 1 ? QStringLiteral("、") : QStringLiteral(", ");
        tell(fileText(SAVED_OUT_OF_RANGE).arg(QDir::toNativeSeparators(path), functions.join(separator)), false);
    }
}

void Tiravo::loadParamsFromFile()
{
    enableFileActions();
    if (!loadParamsAction->isEnabled())
        return;
    const QString path = chooseFile("loadParamsDialog", TITLE_LOAD_PARAMS, FILTER_PARAMS, QString());
    if (path.isEmpty())
        return;
    ParamBlock target{};
    QString why;
    switch (BackupFile::load(path, &target, &why, reportLanguage())) {
    case BackupFile::LoadResult::Unreadable:
        tell(fileText(LOAD_UNREADABLE).arg(QDir::toNativeSeparators(path), why), true);
        return;
    case BackupFile::LoadResult::Refused:
        tell(fileText(LOAD_REFUSED).arg(QDir::toNativeSeparators(path), why), true);
        return;
    case BackupFile::LoadResult::Loaded:
        break;
    }
    // The port may have gone while the dialog was open.
    if (portClosed())
        return;
    if (!confirmSharedChannels(target))
        return;
    loadPath = path;
    loadName = fileName(path);
    load.start(target, link);
    enableFileActions();
}

void Tiravo::followLoad(BlockLoad::Next next)
{
    switch (next) {
    case BlockLoad::Next::Nothing:
        break;
    case BlockLoad::Next::AskToWrite:
        QTimer::singleShot(0, this, &Tiravo::askToWrite);
        break;
    case BlockLoad::Next::AskToStore:
        QTimer::singleShot(0, this, &Tiravo::askToStore);
        break;
    case BlockLoad::Next::AlreadyHeld:
        tellAboutLoad(LOAD_SAME, false);
        break;
    case BlockLoad::Next::Stored:
        tellAboutLoad(LOAD_STORED, false);
        break;
    case BlockLoad::Next::StoreFailed:
        tellAboutLoad(LOAD_STORE_FAILED, true);
        break;
    case BlockLoad::Next::WriteDropped:
        tellLater(fileText(WRITE_DROPPED), true);
        break;
    }
}

void Tiravo::askToWrite()
{
    if (load.stage() != BlockLoad::Stage::Asking)
        return;
    const ParamBlock &from = load.before();
    const ParamBlock &to = load.target();
    QStringList lines;
    for (int slot = 0; slot < kParamSlots; ++slot) {
        if (from[slot] == to[slot])
            continue;
        QString label = fileText(LOAD_SLOT).arg(slot);
        for (int f = 0; f < kFunctionCount; ++f) {
            if (kFunctionSlot[f] == slot)
                label = nameFromCaption(LangureChar[TXT_TILT_CHANNEL + f]);
        }
        lines << labelled(label, QStringLiteral("%1 → %2").arg(from[slot]).arg(to[slot]));
    }
    // An undo has no file: what it writes back is what the controller held.
    const bool undoing = loadPath.isEmpty();
    const bool yes = ask("loadCompareDialog", QMessageBox::Question,
                         fileText(undoing ? TITLE_UNDO_WRITE : TITLE_LOAD_PARAMS),
                         fileText(undoing ? UNDO_ASK : LOAD_ASK)
                             .arg(loadName, QString::number(lines.size()), lines.join(QLatin1Char('\n'))),
                         QMessageBox::No) == QMessageBox::Yes;
    if (load.stage() != BlockLoad::Stage::Asking)
        return;
    load.answerWrite(yes, link);
    // The selectors show what is being written, as after an upload.
    if (yes)
        showChannels(to);
}

void Tiravo::askToStore()
{
    if (load.stage() != BlockLoad::Stage::OfferingStore)
        return;
    const bool yes = !closing && ask("loadStoreDialog", QMessageBox::Question, fileText(TITLE_LOAD_PARAMS),
                                     fileText(LOAD_ASK_STORE).arg(loadName),
                                     QMessageBox::Yes) == QMessageBox::Yes;
    // Closing the port while the question was open has ended the load and said so.
    if (load.stage() != BlockLoad::Stage::OfferingStore)
        return;
    load.answerStore(yes, link);
    if (!yes)
        tellAboutLoad(LOAD_NOT_STORED, false);
}

// The port closed in the middle of a load: what the controller may now hold,
// and what to do about it.
void Tiravo::abandonLoad()
{
    if (!load.running())
        return;
    const BlockLoad::Holds holds = load.abandon();
    const FileText text = holds == BlockLoad::Holds::Unchanged       ? LOAD_CUT_UNCHANGED
                          : holds == BlockLoad::Holds::PartlyWritten ? LOAD_CUT_PARTLY
                          : holds == BlockLoad::Holds::InRam         ? LOAD_CUT_IN_RAM
                                                                     : LOAD_CUT_STORE_UNKNOWN;
    tellAboutLoad(text, holds != BlockLoad::Holds::Unchanged);
}

void Tiravo::toggleLiveLog()
{
    if (liveLog.active()) {
        stopLiveLog();
        return;
    }
    enableFileActions();
    if (!logLiveAction->isEnabled())
        return;
    const QString path = chooseFile("logLiveDialog", TITLE_LOG_LIVE, FILTER_CSV, proposedName("-live", "csv"));
    if (path.isEmpty() || portClosed())
        return;
    QString why;
    if (!liveLog.start(path, &why)) {
        tell(fileText(LOG_FAILED).arg(QDir::toNativeSeparators(path), why), true);
        return;
    }
    fileNote = {NOTE_LOGGING, path, 0};
    showStatusTip();
    renewFileTexts();
}

void Tiravo::logPollCycle()
{
    const QDateTime now = hooks.now ? hooks.now() : QDateTime::currentDateTimeUtc();
    QString why;
    if (liveLog.append(LiveRecord::csvRow(now, link.channelPos, link.testData, link.gimbalState), &why))
        return;
    // A file that is gone is told of by the stop, as when it goes between rows.
    if (!liveLog.lost())
        tellLater(fileText(LOG_FAILED).arg(QDir::toNativeSeparators(liveLog.path()), why), true);
    stopLiveLog();
}

void Tiravo::stopLiveLog()
{
    if (!liveLog.active())
        return;
    liveLog.stop();
    // A count of rows in a file that no longer exists would be a false comfort.
    if (liveLog.lost()) {
        tellLater(fileText(LOG_LOST).arg(QDir::toNativeSeparators(liveLog.path())), true);
        fileNote = {LOG_LOST, liveLog.path(), 0};
    } else {
        fileNote = {NOTE_LOGGED, liveLog.path(), liveLog.rows()};
    }
    showStatusTip();
    renewFileTexts();
    enableFileActions();
}
