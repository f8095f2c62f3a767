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

namespace {
QString noPortsNote(PortDiagnostics::Language language)
{
    const std::string note = PortDiagnostics::noPortsFound(language);
    return QString::fromUtf8(note.data(), int(note.size()));
}
} // namespace

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
    else if (settleUnstoredWrite(false))
        closePort();
}

void Tiravo::openPort()
{
    resumeTicking();
    // With nothing selected (the chosen port is gone, or none is there),
    // Connect opens nothing rather than some other device.
    if (ui->comComboBox->currentIndex() < 0) {
        openFailure = {};
        showStatusTip();
        const QString why = !chosenPort.isEmpty()               ? fileText(PORT_GONE).arg(chosenPort)
                            : ui->comComboBox->count() == 0 ? noPortsNote(reportLanguage())
                                                            : fileText(NO_PORT_CHOSEN);
        qWarning().noquote() << QStringLiteral("%1: %2").arg(QCoreApplication::applicationName(), why);
        return;
    }
    // No parent: each connect gets a fresh port, so an error left on an earlier
    // one never carries over. closePort releases it with deleteLater().
    serialPort = new QSerialPort;
    const QString portName = ui->comComboBox->currentText();
    // A failed open does not change the course here: the port keeps the
    // failure as its error, and the next tick's checkPortError turns the
    // window back. The status texts stay as they are; the why goes to the
    // status field's tooltip and, for whoever started us from a terminal, to
    // standard error.
    // What the last controller held says nothing about this one.
    channelsOutOfRange = 0;
    // Opened, and so locked, under the device's own name: a second name for a
    // port in use (a by-id link, a symlink) is refused as busy, and so is a
    // port another serial program has locked.
    QString error;
    if (PortList::open(*serialPort, portName, &error)) {
        openFailure = {};
        memory.startContact(BlockHistory::adapterOf(portName));
    } else {
        openFailure = {portName, error};
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
    // A port refused for another program's lock was never opened, and so
    // carries no error of its own.
    if (!serialPort || !serialPort->isOpen() || serialPort->error() != QSerialPort::NoError)
        closePort();
}

// Rebuilt only when the ports listed change, so the operator's choice
// stays put while nothing is plugged in or out; a swap of one adapter for
// another between two ticks counts as a change too, or the vanished one
// would stay on offer. Ports are not test-opened here: one held by another
// program is listed too, and a failed connect says so.
//
// The choice stays with the port the operator chose: when it vanishes,
// nothing is selected in its place, so Connect can't open another device
// (where another controller may be); when it comes back, it is selected
// again. Only a list that never had a choice takes its first port.
void Tiravo::refreshPortList()
{
    const QStringList names = PortList::availablePortNames(portScan);
    // An empty selector says why it may be empty, in the window's language,
    // which the tick after a switch brings here.
    const QString emptyTip = names.isEmpty() ? wrapForTooltip(noPortsNote(reportLanguage())) : QString();
    if (ui->comComboBox->toolTip() != emptyTip)
        ui->comComboBox->setToolTip(emptyTip);
    QStringList shown;
    for (int i = 0; i < ui->comComboBox->count(); ++i)
        shown << ui->comComboBox->itemText(i);
    if (names == shown)
        return;
    if (ui->comComboBox->currentIndex() >= 0)
        chosenPort = ui->comComboBox->currentText();
    const bool wasGone = !chosenPort.isEmpty() && !shown.contains(chosenPort);
    portCount = static_cast<quint16>(names.size());
    ui->comComboBox->clear();
    ui->comComboBox->addItems(names);
    if (!chosenPort.isEmpty())
        ui->comComboBox->setCurrentIndex(names.indexOf(chosenPort));
    describePortItems();
    if (wasGone != !names.contains(chosenPort))
        showStatusTip();
}

bool Tiravo::chosenPortGone() const
{
    return ui->comComboBox->currentIndex() < 0 && !chosenPort.isEmpty();
}
