// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's side of the serial connection: opening and closing the port,
// the error check of every tick and the port list while disconnected.
#include "app/tiravo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include "port/linesettings.h"
#include "port/portlist.h"
#include "ui_tiravo.h"

// The port state is not kept in a flag of its own: the start button's caption
// is it. The language can change only while disconnected, and loading a
// language always puts that language's Connect caption on the button, so the
// test holds in both languages.
bool Tiravo::portClosed() const
{
    return ui->startPushButton->text() == LangureChar[TXT_CONNECT];
}

void Tiravo::on_startPushButton_clicked()
{
    if (portClosed())
        openPort();
    else
        closePort();
}

void Tiravo::openPort()
{
    resumeTicking();
    // No parent: each connect gets a fresh port, so an error left on an earlier
    // one never carries over. closePort releases it with deleteLater().
    serialPort = new QSerialPort;
    const QString portName = ui->comComboBox->currentText();
    // Opened, and so locked, under the device's own name: a second name for a
    // port in use (a by-id link, a symlink) is refused as busy.
    serialPort->setPortName(PortList::deviceName(portName));
    // A failed open does not change the course here: the port keeps the
    // failure as its error, and the next tick's checkPortError turns the
    // window back. The status texts stay as they are; the why goes to the
    // status field's tooltip and, for whoever started us from a terminal, to
    // standard error.
    // What the last controller held says nothing about this one.
    channelsOutOfRange = 0;
    if (serialPort->open(QIODevice::ReadWrite)) {
        openFailure = {};
    } else {
        openFailure = {portName, serialPort->errorString()};
        const QString why = PortList::whyNotOpened(portName, openFailure.error);
        qWarning().noquote() << QStringLiteral("%1: %2").arg(QCoreApplication::applicationName(), why);
    }
    showStatusTip();
    applyLineSettings(*serialPort);
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(my_readuart()));

    ui->startPushButton->setText(LangureChar[TXT_DISCONNECT]);
    enableForOpenPort(true);
}

void Tiravo::closePort()
{
    if (serialPort) {
        if (serialPort->isOpen())
            serialPort->clear(QSerialPort::AllDirections);
        // Replies that are still queued for delivery belong to a closed link.
        disconnect(serialPort, nullptr, this, nullptr);
        // Deferred, because the tick that found an error still writes its frame
        // to this port after closing; the object must live to the end of the event.
        serialPort->deleteLater();
    }

    ui->startPushButton->setText(LangureChar[TXT_CONNECT]);
    enableForOpenPort(false);
    ui->statusLabel->clear();
    // A load tells of its own write; a plain upload's is told here.
    if (load.running())
        abandonLoad();
    else
        tellCutOffWrite();
    link.abandonWrite();
    stopLiveLog();
}

// The parameter controls work only on an open port; the port choice and the
// language only on a closed one, which keeps the caption test of portClosed valid.
void Tiravo::enableForOpenPort(bool open)
{
    ui->comComboBox->setEnabled(!open);
    ui->downloadPushButton->setEnabled(open);
    ui->chRadioButton->setEnabled(!open);
    ui->enRadioButton->setEnabled(!open);
    enableParamControls();
    enableFileActions();
}

void Tiravo::enableParamControls()
{
    const bool live = paramControlsLive();
    ui->updatePushButton->setEnabled(live);
    ui->programPushButton->setEnabled(live);
    for (QComboBox *combo : channelCombos())
        combo->setEnabled(live);
}

// Every error kind closes the link alike: an unplugged adapter (resource or
// read error), a write that failed, or an open that never succeeded.
void Tiravo::checkPortError()
{
    if (!serialPort || serialPort->error() != QSerialPort::NoError)
        closePort();
}

// Rebuilt only when the number of ports changes, so the operator's choice
// stays put while nothing is plugged in or out. Ports are not test-opened
// here: one held by another program is listed too, and a failed connect
// says so.
void Tiravo::refreshPortList()
{
    const QStringList names = PortList::availablePortNames(portScan);
    if (names.size() == portCount)
        return;
    portCount = static_cast<quint16>(names.size());
    ui->comComboBox->clear();
    ui->comComboBox->addItems(names);
    describePortItems();
}
