// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>
#include <QtGlobal>

#include "lang/qtlanguage.h"

// Indices into Tiravo::LangureChar. Entries 0..28 are replaced on every load;
// 29..49 stay empty, room for texts to come without resizing the window's
// table (the menu's texts keep a table of their own, kFileTexts).
enum TextIndex : int {
    TXT_CONNECT = 0,
    TXT_DISCONNECT,
    TXT_UPLOAD_PARAM,
    TXT_DOWNLOAD_PARAM,
    TXT_SAVE_PARAM,
    TXT_TILT_CHANNEL,
    TXT_PAN_CHANNEL,
    TXT_MODE_CHANNEL,
    TXT_REC_CHANNEL,
    TXT_ZOOM_CHANNEL,
    TXT_TEST_DATA,
    TXT_TILT_DATA,
    TXT_PAN_DATA,
    TXT_MODE_DATA,
    TXT_REC_DATA,
    TXT_ZOOM_DATA,
    TXT_STATUS,
    TXT_CHINESE,
    TXT_ENGLISH,
    TXT_PORT_DISCONNECTED,
    TXT_GIMBAL_CONNECTED,
    TXT_GIMBAL_DISCONNECTED,
    TXT_UPLOADING,
    TXT_UPLOAD_DONE,
    TXT_DOWNLOADING,
    TXT_DOWNLOAD_DONE,
    TXT_SAVE_DONE,
    TXT_SAVE_FAILED,
    TXT_BLANK,
};

constexpr int kTextCount = TXT_BLANK + 1;
constexpr int kTextTableSize = 50;

// UTF-8 literals, decoded with QString::fromUtf8 when loaded.
extern const char *const kChineseTexts[kTextCount];
extern const char *const kEnglishTexts[kTextCount];

// Texts the window gives to screen readers and tooltips. They are kept out
// of the LangureChar table, whose layout the language loading relies on;
// each Chinese text stands beside its English one so the two can't drift apart.
enum AssistText : int {
    AX_PORT_SELECTOR,
    AX_TILT_POSITION,
    AX_PAN_POSITION,
    AX_MODE_POSITION,
    AX_REC_POSITION,
    AX_ZOOM_POSITION,
    TIP_DEVICE,
    TIP_DESCRIPTION,
    TIP_MANUFACTURER,
    TIP_SERIAL_NUMBER,
    TIP_USB_ID,
    TIP_STABLE_NAME,
    // Why the language choice can't be kept.
    LANG_NO_HOME,          // %1 the program's folder
    LANG_NO_FOLDER,        // %1 the per-user folder, %2 the reason, %3 the program's folder
    LANG_NOT_FILE,         // %1 the file, %2 what it is
    LANG_NOT_WRITTEN,      // %1 the file, %2 the reason
    kAssistTextCount
};

extern const TextPair kAssistTexts[kAssistTextCount];

// Process-wide language flag: 1 Chinese, 2 English, 0 until the stored choice
// has been read at start-up.
extern quint8 LangureFlag;

// The window's language, for whatever it has reported in it.
inline Language windowLanguage()
{
    return LangureFlag == 1 ? Language::Chinese : Language::English;
}

// The pair's text in the window's language.
inline QString inWindowLanguage(const TextPair &pair)
{
    return textIn(pair, windowLanguage());
}

// "Tilt Channel: 3" or "云台俯仰通道：3", as the window's language writes a label.
inline QString labelled(const QString &label, const QString &value)
{
    return label + inWindowLanguage({"：", ": "}) + value;
}

// The context menu, its file dialogs and what they tell. %1 names a file
// unless said otherwise.
enum FileText : int {
    MENU_SAVE_PARAMS,
    MENU_LOAD_PARAMS,
    MENU_LOG_LIVE,
    MENU_STOP_LOG,
    TITLE_SAVE_PARAMS,
    TITLE_LOAD_PARAMS,
    TITLE_LOG_LIVE,
    FILTER_PARAMS,
    FILTER_CSV,
    NOTE_SAVED,
    NOTE_LOGGING,
    NOTE_LOGGED,           // %2 rows
    SAVE_FAILED,           // %2 the reason
    LOAD_UNREADABLE,       // %2 the reason
    LOAD_REFUSED,          // %2 the reason
    LOAD_SAME,
    LOAD_ASK,              // %2 bytes that differ, %3 one line each
    LOAD_SLOT,             // %1 the slot's number
    LOAD_ASK_STORE,
    LOAD_STORED,
    LOAD_NOT_STORED,
    LOAD_STORE_FAILED,
    LOAD_CUT_UNCHANGED,
    LOAD_CUT_PARTLY,
    LOAD_CUT_IN_RAM,
    LOAD_CUT_STORE_UNKNOWN,
    SAVED_OUT_OF_RANGE,    // %2 the functions, by their captions
    LOG_FAILED,            // %2 the reason
    LOG_LOST,
    // Qt's own dialogs speak English unless told otherwise.
    BUTTON_YES,
    BUTTON_NO,
    BUTTON_OK,
    BUTTON_SAVE,
    BUTTON_OPEN,
    BUTTON_CANCEL,
    LABEL_LOOK_IN,
    LABEL_FILE_NAME,
    LABEL_FILE_TYPE,
    // Writes the operator started, and what the controller holds after them.
    UPLOAD_CUT,            // %1 parts of 3 the controller confirmed
    WRITE_DROPPED,
    CLOSE_WAITING,
    CHANNELS_OUT_OF_RANGE, // %1 the functions, by their captions
    // The port list while disconnected.
    PORT_GONE,             // %1 the port the operator chose
    NO_PORT_CHOSEN,
    // What the window remembers of stored blocks.
    MENU_UNDO_WRITE,
    UNDO_NOTHING,
    UNDO_NAME,             // %1 the time of the write undone
    UNSTORED_CLOSE_ASK,
    UNSTORED_DISCONNECT_ASK,
    BUTTON_STORE_CLOSE,
    BUTTON_CLOSE_ANYWAY,
    BUTTON_STORE_DISCONNECT,
    BUTTON_DISCONNECT_ANYWAY,
    SHARED_CHANNEL_ASK,    // %1 which functions share which channel
    TITLE_UNDO_WRITE,
    UNDO_ASK,              // %1 what was held before (UNDO_NAME), %2 bytes that differ, %3 one line each
    // Connecting again by itself when a vanished adapter returns.
    MENU_RECONNECT,
    RECONNECT_WAITING,     // %1 the adapter, %2 seconds it must stay present
    kFileTextCount
};

extern const TextPair kFileTexts[kFileTextCount];
