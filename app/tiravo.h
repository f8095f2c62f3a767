// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QWidget>

#include <array>

#include "app/closeguard.h"
#include "link/frame.h"
#include "link/paramexchange.h"
#include "link/portlist.h"
#include "ui/texts.h"

class QComboBox;
class QLineEdit;
class QSlider;
class QKeyEvent;
class QTimer;
class Ui_Tiravo;

// Ticks for which a status message has been shown. One count for the whole
// program: messages that follow one another share it, so a run of messages
// disappears 45 ticks after the first one appeared.
extern std::uint8_t statusTicks;

// The one window of the program: it owns the form, the link data and the
// 50 ms tick, and moves data between them and the widgets.
class Tiravo : public QWidget
{
    Q_OBJECT

public:
    explicit Tiravo(QWidget *parent = nullptr);
    ~Tiravo() override;

    // Read-only view of the link data, for programs and tests that embed the window.
    const ParamExchange &exchange() const { return link; }
    const ReplyAssembler &receiver() const { return rxAssembler; }

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
    void readChannelCombos();
    // Each row's widgets in function order: tilt, heading, mode, video, zoom.
    std::array<QComboBox *, kFunctionCount> channelCombos() const;
    std::array<QSlider *, kFunctionCount> positionSliders() const;
    std::array<QLineEdit *, kFunctionCount> testFields() const;

    // Names, tab order, port descriptions and the failed-open tooltip.
    void setUpAssistance();
    void renewAccessibleNames();
    void describePortItems();
    void showOpenFailure();
    QString wrapForTooltip(const QString &text) const;

    // Connection to the controller.
    void openPort();
    void closePort();
    void checkPortError();
    void refreshPortList();
    void enableForOpenPort(bool open);
    bool portClosed() const;

    // The exchange on the line and what the window shows of it.
    void sendFrame();
    void parseFrame(const Frame &reply);
    void updateDisplay();
    void resetLinkData();

    Ui_Tiravo *ui;
    QSerialPort probePort;
    QPointer<QSerialPort> serialPort;
    QTimer *sysTimer = nullptr;
    ParamExchange link;
    QString LangureChar[kTextTableSize];
    // Lives with the window, not with a port, so a reply cut off by closing
    // the port is completed by the bytes that follow a reopen.
    ReplyAssembler rxAssembler;
    PortList::SystemPortScan portScan;
    // The last port that would not open, kept to explain it again in
    // another language; empty after a good open.
    struct {
        QString port;
        QString error;
    } openFailure;
    // Declared after the link data it reads.
    CloseGuard closeGuard{*this, link};
};
