// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/paramfiles.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#include "formats/backupfile.h"
#include "formats/blockhistory.h"
#include "formats/functionnames.h"
#include "formats/liverecord.h"
#include "os/stopsignals.h"

namespace {
QString text(FileText id)
{
    return inWindowLanguage(kFileTexts[id]);
}

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

void warn(const QString &text)
{
    qWarning().noquote() << QStringLiteral("%1: %2").arg(QCoreApplication::applicationName(), text);
}
} // namespace

ParamFiles::ParamFiles(QWidget &window, ParamExchange &link, Window callbacks)
    : windowWidget_(window)
    , link_(link)
    , window_(std::move(callbacks))
{
    const auto make = [this](const char *name, const QKeySequence &key, void (ParamFiles::*handler)()) {
        auto *action = new QAction(&windowWidget_);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        windowWidget_.addAction(action);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    saveAction_ = make("saveParamsAction", QKeySequence::Save, &ParamFiles::saveToFile);
    loadAction_ = make("loadParamsAction", QKeySequence::Open, &ParamFiles::loadFromFile);
    logAction_ = make("logLiveAction", QKeySequence(), &ParamFiles::toggleLiveLog);
    undoAction_ = make("undoWriteAction", QKeySequence::Undo, &ParamFiles::undoLastWrite);
}

ParamFiles::~ParamFiles()
{
    endDialog();
}

QList<QAction *> ParamFiles::actions() const
{
    return {saveAction_, loadAction_, undoAction_, logAction_};
}

void ParamFiles::renewTexts()
{
    saveAction_->setText(text(MENU_SAVE_PARAMS));
    loadAction_->setText(text(MENU_LOAD_PARAMS));
    logAction_->setText(text(liveLog_.active() ? MENU_STOP_LOG : MENU_LOG_LIVE));
    undoAction_->setText(text(MENU_UNDO_WRITE));
}

void ParamFiles::enableActions()
{
    const bool open = !portClosed();
    const bool busy = link_.writing() || load_.running();
    // A Download under way replaces the block part by part: saved halfway,
    // the file would mix what the controller held before with what it holds now.
    const bool reading =
        link_.commandCode == READ_PARAM_1 || link_.commandCode == READ_PARAM_2 || link_.commandCode == READ_PARAM_3;
    saveAction_->setEnabled(open && link_.blockDownloaded() && !reading && !busy);
    loadAction_->setEnabled(open && !busy);
    undoAction_->setEnabled(open && !busy);
    logAction_->setEnabled(liveLog_.active() || (open && !link_.linkLost()));
}

void ParamFiles::startContact(const BlockHistory::Adapter &adapter)
{
    memory_.startContact(adapter);
}

void ParamFiles::replyArrived(const ReplyEffect &effect)
{
    if (load_.running())
        followLoad(load_.afterReply(effect, link_));
    else if (effect.step == ReplyEffect::WriteDropped)
        tellLater(text(WRITE_DROPPED), true);
    followMemory(effect);
    // The test data request ends a poll cycle: one row per cycle.
    if (liveLog_.active() && effect.answered == POLL_TEST_DATA)
        logPollCycle();
    enableActions();
}

void ParamFiles::linkDown()
{
    memory_.endContact();
    // The store asked for before disconnecting can't be answered now.
    if (afterStore_ == AfterStore::Disconnect) {
        afterStore_ = AfterStore::Nothing;
        if (!portClosed())
            window_.disconnect();
    }
    stopLiveLog();
}

QDateTime ParamFiles::now() const
{
    return hooks_.now ? hooks_.now() : QDateTime::currentDateTimeUtc();
}

int ParamFiles::runDialog(QDialog &dialog)
{
    activeDialog_ = &dialog;
    const int result = hooks_.dialog ? hooks_.dialog(dialog) : dialog.exec();
    activeDialog_ = nullptr;
    return result;
}

void ParamFiles::endDialog()
{
    if (activeDialog_)
        activeDialog_->reject();
}

// A message box in the window's language, buttons included.
int ParamFiles::ask(const char *name, QMessageBox::Icon icon, const QString &title, const QString &body,
                    QMessageBox::StandardButton preferred)
{
    const bool question = icon == QMessageBox::Question;
    QMessageBox box(icon, title, body, question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    &windowWidget_);
    box.setObjectName(QLatin1String(name));
    if (question) {
        box.button(QMessageBox::Yes)->setText(text(BUTTON_YES));
        box.button(QMessageBox::No)->setText(text(BUTTON_NO));
        box.setDefaultButton(preferred);
    } else {
        box.button(QMessageBox::Ok)->setText(text(BUTTON_OK));
    }
    return runDialog(box);
}

void ParamFiles::tell(const QString &body, bool failure)
{
    if (closing_)
        return;
    ask(failure ? "fileFailureDialog" : "fileResultDialog", failure ? QMessageBox::Warning : QMessageBox::Information,
        windowWidget_.windowTitle(), body);
}

void ParamFiles::tellLater(const QString &body, bool failure)
{
    QTimer::singleShot(0, this, [this, body, failure] { tell(body, failure); });
}

void ParamFiles::tellAboutLoad(FileText id, bool failure)
{
    tellLater(text(id).arg(loadName_), failure);
}

QString ParamFiles::chooseFile(const char *name, FileText title, FileText filter, const QString &proposed)
{
    if (fileDirectory_.isEmpty()) {
        fileDirectory_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (fileDirectory_.isEmpty() || !QFileInfo(fileDirectory_).isDir())
            fileDirectory_ = QDir::homePath();
    }
    QFileDialog dialog(&windowWidget_, text(title), fileDirectory_);
    dialog.setObjectName(QLatin1String(name));
    const bool saving = !proposed.isEmpty();
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(text(filter));
    dialog.setLabelText(QFileDialog::LookIn, text(LABEL_LOOK_IN));
    dialog.setLabelText(QFileDialog::FileName, text(LABEL_FILE_NAME));
    dialog.setLabelText(QFileDialog::FileType, text(LABEL_FILE_TYPE));
    dialog.setLabelText(QFileDialog::Accept, text(saving ? BUTTON_SAVE : BUTTON_OPEN));
    dialog.setLabelText(QFileDialog::Reject, text(BUTTON_CANCEL));
    if (saving) {
        dialog.setDefaultSuffix(QFileInfo(proposed).suffix());
        dialog.selectFile(QDir(fileDirectory_).filePath(proposed));
    }
    if (runDialog(dialog) != QDialog::Accepted)
        return {};
    const QString path = dialog.selectedFiles().value(0);
    if (!path.isEmpty())
        fileDirectory_ = QFileInfo(path).absolutePath();
    return path;
}

bool ParamFiles::confirmSharedChannels(const ParamBlock &block)
{
    QString shared = BlockHistory::sharedChannelWarning(block, windowLanguage());
    if (shared.isEmpty())
        return true;
    shared[0] = shared[0].toUpper();
    return ask("sharedChannelDialog", QMessageBox::Question, windowWidget_.windowTitle(),
               text(SHARED_CHANNEL_ASK).arg(shared), QMessageBox::No) == QMessageBox::Yes;
}

void ParamFiles::saveToFile()
{
    enableActions();
    if (!saveAction_->isEnabled())
        return;
    // Taken before the dialog: the file holds the block as it was when asked for.
    const ParamBlock block = link_.paramBlock;
    const QString port = window_.portLocation();
    const QString path = chooseFile("saveParamsDialog", TITLE_SAVE_PARAMS, FILTER_PARAMS, proposedName("", "json"));
    if (path.isEmpty())
        return;
    QString why;
    if (!BackupFile::save(path, block, QDateTime::currentDateTimeUtc(), port, &why)) {
        tell(text(SAVE_FAILED).arg(QDir::toNativeSeparators(path), why), true);
        return;
    }
    window_.showNote(NOTE_SAVED, path, 0);
    // A faithful copy all the same, but one Load refuses: better learnt now
    // than on the day it is needed.
    if (const std::vector<int> outside = functionsOutOfRange(block); !outside.empty()) {
        QStringList functions;
        for (int f : outside)
            functions << window_.functionName(f);
        const QString separator = LangureFlag == 1 ? QStringLiteral("、") : QStringLiteral(", ");
        tell(text(SAVED_OUT_OF_RANGE).arg(QDir::toNativeSeparators(path), functions.join(separator)), false);
    }
}

void ParamFiles::loadFromFile()
{
    enableActions();
    if (!loadAction_->isEnabled())
        return;
    const QString path = chooseFile("loadParamsDialog", TITLE_LOAD_PARAMS, FILTER_PARAMS, QString());
    if (path.isEmpty())
        return;
    ParamBlock target{};
    QString why;
    switch (BackupFile::load(path, &target, &why, windowLanguage())) {
    case BackupFile::LoadResult::Unreadable:
        tell(text(LOAD_UNREADABLE).arg(QDir::toNativeSeparators(path), why), true);
        return;
    case BackupFile::LoadResult::Refused:
        tell(text(LOAD_REFUSED).arg(QDir::toNativeSeparators(path), why), true);
        return;
    case BackupFile::LoadResult::Loaded:
        break;
    }
    // The port may have gone while the dialog was open.
    if (portClosed())
        return;
    if (!confirmSharedChannels(target))
        return;
    loadPath_ = path;
    loadName_ = fileName(path);
    load_.start(target, link_);
    enableActions();
}

// Writes back what the controller held before the last write through this
// adapter, with a load's comparison and questions.
void ParamFiles::undoLastWrite()
{
    enableActions();
    if (!undoAction_->isEnabled())
        return;
    const auto write = memory_.lastWrite();
    if (!write) {
        tell(text(UNDO_NOTHING), false);
        return;
    }
    if (!confirmSharedChannels(*write->before) || portClosed())
        return;
    loadPath_.clear();
    loadName_ = text(UNDO_NAME).arg(write->time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    load_.start(*write->before, link_);
    enableActions();
}

void ParamFiles::followLoad(BlockLoad::Next next)
{
    switch (next) {
    case BlockLoad::Next::Nothing:
        break;
    case BlockLoad::Next::AskToWrite:
        QTimer::singleShot(0, this, &ParamFiles::askToWrite);
        break;
    case BlockLoad::Next::AskToStore:
        QTimer::singleShot(0, this, &ParamFiles::askToStore);
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
        tellLater(text(WRITE_DROPPED), true);
        break;
    }
}

void ParamFiles::askToWrite()
{
    if (load_.stage() != BlockLoad::Stage::Asking)
        return;
    const ParamBlock &from = load_.before();
    const ParamBlock &to = load_.target();
    QStringList lines;
    for (int slot = 0; slot < kParamSlots; ++slot) {
        if (from[slot] == to[slot])
            continue;
        QString label = text(LOAD_SLOT).arg(slot);
        for (int f = 0; f < kFunctionCount; ++f) {
            if (kFunctionSlot[f] == slot)
                label = window_.functionName(f);
        }
        lines << labelled(label, QStringLiteral("%1 → %2").arg(from[slot]).arg(to[slot]));
    }
    // An undo has no file: what it writes back is what the controller held.
    const bool undoing = loadPath_.isEmpty();
    const bool yes = ask("loadCompareDialog", QMessageBox::Question,
                         text(undoing ? TITLE_UNDO_WRITE : TITLE_LOAD_PARAMS),
                         text(undoing ? UNDO_ASK : LOAD_ASK)
                             .arg(loadName_, QString::number(lines.size()), lines.join(QLatin1Char('\n'))),
                         QMessageBox::No) == QMessageBox::Yes;
    if (load_.stage() != BlockLoad::Stage::Asking)
        return;
    load_.answerWrite(yes, link_);
    // The selectors show what is being written, as after an upload.
    if (yes)
        window_.showChannels(to);
}

void ParamFiles::askToStore()
{
    if (load_.stage() != BlockLoad::Stage::OfferingStore)
        return;
    const bool yes = !closing_ && ask("loadStoreDialog", QMessageBox::Question, text(TITLE_LOAD_PARAMS),
                                      text(LOAD_ASK_STORE).arg(loadName_), QMessageBox::Yes) == QMessageBox::Yes;
    // Closing the port while the question was open has ended the load and said so.
    if (load_.stage() != BlockLoad::Stage::OfferingStore)
        return;
    load_.answerStore(yes, link_);
    if (!yes)
        tellAboutLoad(LOAD_NOT_STORED, false);
}

void ParamFiles::abandonLoad()
{
    if (!load_.running())
        return;
    const BlockLoad::Holds holds = load_.abandon();
    const FileText id = holds == BlockLoad::Holds::Unchanged       ? LOAD_CUT_UNCHANGED
                        : holds == BlockLoad::Holds::PartlyWritten ? LOAD_CUT_PARTLY
                        : holds == BlockLoad::Holds::InRam         ? LOAD_CUT_IN_RAM
                                                                   : LOAD_CUT_STORE_UNKNOWN;
    tellAboutLoad(id, holds != BlockLoad::Holds::Unchanged);
}

void ParamFiles::toggleLiveLog()
{
    if (liveLog_.active()) {
        stopLiveLog();
        return;
    }
    enableActions();
    if (!logAction_->isEnabled())
        return;
    const QString path = chooseFile("logLiveDialog", TITLE_LOG_LIVE, FILTER_CSV, proposedName("-live", "csv"));
    if (path.isEmpty() || portClosed())
        return;
    QString why;
    if (!liveLog_.start(path, &why)) {
        tell(text(LOG_FAILED).arg(QDir::toNativeSeparators(path), why), true);
        return;
    }
    window_.showNote(NOTE_LOGGING, path, 0);
    renewTexts();
}

void ParamFiles::logPollCycle()
{
    QString why;
    if (liveLog_.append(LiveRecord::csvRow(now(), link_.channelPos, link_.testData, link_.gimbalState), &why))
        return;
    // A file that is gone is told of by the stop, as when it goes between rows.
    if (!liveLog_.lost())
        tellLater(text(LOG_FAILED).arg(QDir::toNativeSeparators(liveLog_.path()), why), true);
    stopLiveLog();
}

void ParamFiles::stopLiveLog()
{
    if (!liveLog_.active())
        return;
    liveLog_.stop();
    // A count of rows in a file that no longer exists would be a false comfort.
    if (liveLog_.lost()) {
        tellLater(text(LOG_LOST).arg(QDir::toNativeSeparators(liveLog_.path())), true);
        window_.showNote(LOG_LOST, liveLog_.path(), 0);
    } else {
        window_.showNote(NOTE_LOGGED, liveLog_.path(), liveLog_.rows());
    }
    renewTexts();
    enableActions();
}

// After each reply: what the history learnt, shown in the tooltip and on
// standard error.
void ParamFiles::followMemory(const ReplyEffect &effect)
{
    const QDateTime at = hooks_.now ? hooks_.now().toLocalTime() : QDateTime::currentDateTime();
    if (memory_.afterReply(effect, link_, at)) {
        window_.renewStatusTip();
        const QString warning = memory_.contactWarning(windowLanguage());
        if (!warning.isEmpty())
            warn(warning);
    }
    // The history is a help, not a condition: without it the window works
    // as before, and says once why it can't remember.
    const QString problem = memory_.takeProblem(windowLanguage());
    if (!problem.isEmpty())
        warn(problem);
    if (effect.save != ReplyEffect::NoSaveResult && afterStore_ == AfterStore::Disconnect) {
        afterStore_ = AfterStore::Nothing;
        // Not from inside the read: the port object is still delivering.
        QTimer::singleShot(0, this, [this] {
            if (!portClosed())
                window_.disconnect();
        });
    }
}

bool ParamFiles::settleUnstoredWrite(bool closingWindow)
{
    // A stop signal (Ctrl+C in the terminal, a logout) is no one at the
    // window to answer; standard error then says what is left unstored.
    if (closingWindow && (closeAnswered_ || StopSignals::pending() != 0))
        return true;
    if (!memory_.unstoredWrite() || portClosed() || link_.linkLost() || afterStore_ != AfterStore::Nothing)
        return true;
    // Closing while a question is open (a load's offer to store) answers
    // it No, as it always has: the operator was being asked already.
    if (activeDialog_)
        return true;
    QMessageBox box(QMessageBox::Warning, windowWidget_.windowTitle(),
                    text(closingWindow ? UNSTORED_CLOSE_ASK : UNSTORED_DISCONNECT_ASK), QMessageBox::NoButton,
                    &windowWidget_);
    box.setObjectName(QStringLiteral("unstoredWriteDialog"));
    QPushButton *store =
        box.addButton(text(closingWindow ? BUTTON_STORE_CLOSE : BUTTON_STORE_DISCONNECT), QMessageBox::AcceptRole);
    store->setObjectName(QStringLiteral("storeButton"));
    QPushButton *without = box.addButton(text(closingWindow ? BUTTON_CLOSE_ANYWAY : BUTTON_DISCONNECT_ANYWAY),
                                         QMessageBox::DestructiveRole);
    without->setObjectName(QStringLiteral("withoutStoringButton"));
    QPushButton *cancel = box.addButton(text(BUTTON_CANCEL), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    box.setDefaultButton(store);
    box.setEscapeButton(cancel);
    runDialog(box);
    // The link may have gone while the question was open: then there is
    // nothing left to store, and the answer to go ahead stands.
    if (box.clickedButton() == without || (box.clickedButton() == store && (portClosed() || link_.linkLost()))) {
        closeAnswered_ = closingWindow;
        return true;
    }
    if (box.clickedButton() != store)
        return false;
    link_.requestSave();
    afterStore_ = closingWindow ? AfterStore::Close : AfterStore::Disconnect;
    if (closingWindow) {
        closeAnswered_ = true;
        // Held back by the close guard until the store is answered.
        QTimer::singleShot(0, &windowWidget_, &QWidget::close);
    }
    return false;
}

bool ParamFiles::allowClose()
{
    if (!closing_ && !settleUnstoredWrite(true))
        return false;
    if (!closing_) {
        closing_ = true;
        const QString holds = whatControllerHolds();
        if (!holds.isEmpty())
            warn(QStringLiteral("closed; %1").arg(holds));
    }
    endDialog();
    return true;
}

// In English, like everything the window says on standard error: whoever
// reads it there started us from a terminal or a script.
QString ParamFiles::whatControllerHolds() const
{
    if (load_.running()) {
        const QString &file = loadName_;
        switch (load_.stage()) {
        case BlockLoad::Stage::Reading:
        case BlockLoad::Stage::Asking:
            return QStringLiteral("nothing of %1 was written; the controller keeps the parameters it had.").arg(file);
        case BlockLoad::Stage::OfferingStore:
            return QStringLiteral("the controller holds the parameters of %1 in RAM; they are not stored "
                                  "permanently and last until it is switched off.")
                .arg(file);
        case BlockLoad::Stage::Writing:
        case BlockLoad::Stage::Storing:
        case BlockLoad::Stage::Idle:
            break;
        }
    }
    if (link_.writeUnfinished())
        return QStringLiteral("the write was cut off after %1 of its 3 parts: the controller's RAM may hold part of "
                              "the new parameters and part of the old. Nothing was stored permanently; switching "
                              "the controller off and on brings back the stored ones.")
            .arg(link_.writesConfirmed());
    if (link_.saveRequest != 0)
        return QStringLiteral("the controller holds the new parameters in RAM; whether it stored them permanently "
                              "is not known. Connect again and press Save Param.");
    if (memory_.unstoredWrite())
        return QStringLiteral("the controller holds parameters written in this session in RAM only; they were not "
                              "stored permanently and last until it is switched off.");
    return {};
}
