// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "app/closeguard.h"
#include "app/paramfiles.h"
#include "link/frame.h"
#include "link/paramexchange.h"
#include "port/portlist.h"
#include "ui/texts.h"

class QAction;
class QComboBox;
class QLabel;
class QCloseEvent;
class QContextMenuEvent;
class QLineEdit;
class QSlider;
class QKeyEvent;
class QTimer;
class Ui_Tiravo;

// Ticks for which a status message has been shown. One count for the whole
// program: messages that follow one another share it, so a run of messages
// disappears 45 ticks after the first one appeared.
extern std::uint8_t statusTicks;

// Number of ports comComboBox was last filled with. Process-wide on purpose:
// the refresh compares against it, and it must not be reset by a new window.
extern quint16 portCount;

// Both counts back to where a program starts them, for a test, a benchmark or
// the rig that makes one window after another and wants each to list its
// ports and count its messages as the first window of a program does.
void resetWindowCounts();

// The one window of the program: it owns the form, the link data and the
// 50 ms tick, and moves data between them and the widgets.
class Tiravo : public QWidget
{
    Q_OBJECT

public:
    explicit Tiravo(QWidget *parent = nullptr);
    ~Tiravo() override;

    // The file the language choice is read from and stored in: config.ini
    // beside the executable, or the user's own one where that directory can't
    // be written. Empty when neither is a regular file the window may replace.
    static QString languageFilePath();

    // Read-only view of the link data, for programs and tests that embed the window.
    const ParamExchange &exchange() const { return link; }
    const ReplyAssembler &receiver() const { return rxAssembler; }

    // Stand-ins for a person and a clock, for tests: every dialog of the
    // window is one of its parameter files'.
    using Hooks = ParamFiles::Hooks;
    void setHooks(Hooks hooks) { files->setHooks(std::move(hooks)); }

    // Makes `name` the operator's choice in the port list, over the adapter
    // remembered from the last run: the command line's first --port, or a
    // host program's simulated controller.
    void choosePort(const QString &name);

    // Ticks a returning adapter must stay present before the window connects
    // to it by itself: a controller powered through the same plug may still
    // be starting.
    static constexpr int kReconnectSettleTicks = 40;
    // A message is shown for this many ticks (2.25 s), counted from the first of a run.
    static constexpr std::uint8_t kMessageTicks = 45;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    // The order of these slots is the order of the meta-object table; keep it.
    void my_readuart();
    void SYS_QTimerUpDate();
    void on_startPushButton_clicked();
    void keyPressEvent(QKeyEvent *event) override;
    void LangureCharLoad();
    void ChangeLangure();
    void LangureTypeWR(unsigned char);
    void on_updatePushButton_clicked();
    void on_downloadPushButton_clicked();
    void on_programPushButton_clicked();
    void on_chRadioButton_clicked();
    void on_enRadioButton_clicked();

private:
    void probePorts();
    void restoreChoice();
    bool paramControlsLive() const;
    void readChannelCombos();
    // Each row's widgets in function order: tilt, heading, mode, video, zoom.
    // Found once by the row names the form shares with everything that drives it.
    void findRows();
    const std::array<QComboBox *, kFunctionCount> &channelCombos() const { return rows.channels; }
    const std::array<QSlider *, kFunctionCount> &positionSliders() const { return rows.positions; }
    const std::array<QLineEdit *, kFunctionCount> &testFields() const { return rows.testData; }

    // Names, tab order, port descriptions and the status field's tooltip.
    // Screen readers get the window's combo boxes through an interface of
    // ours once this has run, which must be before the form is built.
    static void installAccessibleCombos();
    void setUpAssistance();
    void renewAccessibleNames();
    void describePortItems();
    QString wrapForTooltip(const QString &text) const;

    // Connection to the controller.
    void openPort();
    void closePort();
    void checkPortError();
    void refreshPortList();
    void enableForOpenPort(bool open);
    // Upload, Save and the selectors follow paramControlsLive, on every tick.
    void enableParamControls();
    bool portClosed() const;
    // Nothing is selected because the port the operator chose has vanished.
    bool chosenPortGone() const;
    bool hasChoice() const;
    static QString choiceText(const std::optional<BlockHistory::Adapter> &adapter, const QString &port);
    // The item that is the chosen adapter under any of its names, or -1.
    int indexOfChoice(const QStringList &names) const;
    void takeChoice(int index);
    // The adapter behind a listed item, as the port list last found it.
    BlockHistory::Adapter adapterAt(int index) const;
    // Where the remembered port and the reconnect choice are written (they
    // are read from languageFilePath()); empty where writes would not last.
    static QString portMemoryFile();
    void toggleReconnect(bool on);
    // Each disconnected tick: connects once the awaited adapter has been
    // back for the settle time.
    void followAwaitedAdapter();

    // The context menu: the parameter files' actions and the reconnect choice.
    void setUpContextMenu();
    // What the parameter files borrow of the window.
    ParamFiles::Window lentToFiles();
    // The menu's texts, in the window's language.
    void renewFileTexts();
    // What the port and the link do, told to the parameter files.
    void enableFileActions() { files->enableActions(); }
    void abandonLoad() { files->abandonLoad(); }
    void stopLiveLog() { files->stopLiveLog(); }
    bool settleUnstoredWrite(bool closingWindow) { return files->settleUnstoredWrite(closingWindow); }
    QString fileText(FileText id) const;
    void showStatusTip();
    // A caption as a name: "Pan  Channel:" reads "Pan Channel".
    static QString nameFromCaption(const QString &caption);

    // A disconnected window with nothing left to show rests instead of
    // ticking, until a device node changes, the operator connects or the
    // safety net's time comes.
    void restIfIdle();
    void resumeTicking();
    void wakeToList();

    // The exchange on the line and what the window shows of it.
    void sendFrame();
    void parseFrame(const Frame &reply);
    void updateDisplay();
    void showChannels(const ParamBlock &block);
    // After the port closed: what a write it cut off may have left.
    void tellCutOffWrite();
    void resetLinkData();

    Ui_Tiravo *ui;
    // The port selector's caption for screen readers; the form has no room for one.
    QLabel *portCaption = nullptr;
    struct {
        std::array<QComboBox *, kFunctionCount> channels{};
        std::array<QSlider *, kFunctionCount> positions{};
        std::array<QLineEdit *, kFunctionCount> testData{};
    } rows;
    QSerialPort probePort;
    QPointer<QSerialPort> serialPort;
    QTimer *sysTimer = nullptr;
    ParamExchange link;
    QString LangureChar[kTextTableSize];
    // Lives with the window, not with a port, so a reply cut off by closing
    // the port is completed by the bytes that follow a reopen.
    ReplyAssembler rxAssembler;
    PortList::SystemPortScan portScan;
    int quietTicks = 0;
    bool resting = false;
    std::unique_ptr<QSocketNotifier> wakeOnNotice;
    QTimer restNet;
    // The port the operator chose, kept while it is unplugged: the list
    // then selects nothing in its place, and selects it again when it is
    // back. Empty until the list first has a port.
    QString chosenPort;
    // Who that port is, so that it is found under another name and never
    // confused with another adapter under the same one.
    std::optional<BlockHistory::Adapter> chosenAdapter;
    // What the system said of each listed port, in the list's order.
    QList<PortList::Facts> portFacts;
    QAction *reconnectAction = nullptr;
    // The adapter of a link that ended because the adapter vanished, while
    // reconnecting is wanted; and for how many ticks it has been back.
    std::optional<BlockHistory::Adapter> awaitedAdapter;
    int presentTicks = 0;
    // Ticks until the facts of a list that lacks the choice are asked again.
    // One second: by then the system has said who a fresh adapter is.
    static constexpr int kFactsRecheckTicks = 20;
    int factsRecheckTicks = 0;
    // The last port that would not open, as the system showed it then: told
    // again from this look in another language, not looked at anew; none
    // after a good open.
    std::optional<PortList::FailedOpen> openFailure;
    // Why the language choice won't outlast this run, in both languages so
    // it is told again in the other; empty while the store takes it.
    struct {
        QString chinese;
        QString english;
    } languageNote;
    // Declared after the link data it reads.
    CloseGuard closeGuard{*this, link};

    // Owned here rather than by the QObject tree: it holds the link data by
    // reference, so it must go before that does, which a child of the window,
    // deleted only once all members are gone, would not.
    std::unique_ptr<ParamFiles> files;
    // What the status field's tooltip tells of the last file, renewed in the
    // window's language: which text, its path and the row count.
    struct {
        FileText text = kFileTextCount;
        QString path;
        qint64 rows = 0;
    } fileNote;
    // Functions whose slot, as last read, holds no channel of 1..18; one bit
    // each, in function order, for the status field's tooltip.
    std::uint8_t channelsOutOfRange = 0;
};
