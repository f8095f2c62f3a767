// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The window's side of the serial connection: opening and closing the port,
// the error check of every tick and the port list while disconnected.
#include "app/tiravo.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include "app/portmemory.h"
#include "port/linesettings.h"
#include "port/portlist.h"
#include "ui_tiravo.h"

namespace {
QString noPortsNote(Language language)
{
    const std::string note = PortDiagnostics::noPortsFound(language);
    return QString::fromUtf8(note.data(), int(note.size()));
}

} // namespace

// The port as it was chosen, and who it is where that says more.
QString Tiravo::choiceText(const std::optional<BlockHistory::Adapter> &adapter, const QString &port)
{
    if (!adapter)
        return port;
    const QString who = BlockHistory::adapterText(*adapter);
    return who == adapter->port || adapter->port.isEmpty() ? who : QStringLiteral("%1 (%2)").arg(adapter->port, who);
}

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
    // Whatever the operator does with the button, a reconnect no longer
    // waits to do it in their place.
    awaitedAdapter.reset();
    presentTicks = 0;
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
        openFailure.reset();
        showStatusTip();
        const QString why = hasChoice() ? fileText(PORT_GONE).arg(choiceText(chosenAdapter, chosenPort))
                            : ui->comComboBox->count() == 0 ? noPortsNote(windowLanguage())
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
        openFailure.reset();
        // Asked afresh: the list's facts may be older than the adapter now
        // behind the name.
        const BlockHistory::Adapter adapter = BlockHistory::adapterOf(portName);
        files->startContact(adapter);
        // While the port is open the choice can't change: it is this contact's adapter.
        chosenPort = portName;
        chosenAdapter = adapter;
        PortMemory::storeAdapter(portMemoryFile(), adapter);
    } else {
        openFailure = PortList::lookAtFailedOpen(portName, error);
        const QString why = PortList::whyNotOpened(*openFailure, Language::English);
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
    if (files->loadRunning())
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
    if (serialPort && serialPort->isOpen() && serialPort->error() == QSerialPort::NoError)
        return;
    // Only an adapter that went away is waited for: a line that failed
    // while its adapter stayed would fail again.
    const bool vanished = serialPort && serialPort->isOpen() &&
                          (serialPort->error() == QSerialPort::ResourceError ||
                           serialPort->error() == QSerialPort::DeviceNotFoundError || !PortList::isPresent(chosenPort));
    closePort();
    if (vanished && reconnectAction->isChecked()) {
        awaitedAdapter = chosenAdapter;
        presentTicks = 0;
        showStatusTip();
    }
}

// Rebuilt only when the ports listed change, so the operator's choice
// stays put while nothing is plugged in or out; a swap of one adapter for
// another between two ticks counts as a change too, or the vanished one
// would stay on offer. Ports are not test-opened here: one held by another
// program is listed too, and a failed connect says so.
//
// The choice is an adapter, not a name: when it vanishes, nothing is
// selected in its place, so Connect can't open another device (where
// another controller may be), not even another adapter of the same type
// that now has its name; when it comes back, under whatever name, it is
// selected again. Only a list that never had a choice takes its first port.
void Tiravo::refreshPortList()
{
    const QStringList names = PortList::availablePortNames(portScan);
    // An empty selector says why it may be empty, in the window's language,
    // which the tick after a switch brings here.
    const QString emptyTip = names.isEmpty() ? wrapForTooltip(noPortsNote(windowLanguage())) : QString();
    if (ui->comComboBox->toolTip() != emptyTip)
        ui->comComboBox->setToolTip(emptyTip);
    QStringList shown;
    for (int i = 0; i < ui->comComboBox->count(); ++i)
        shown << ui->comComboBox->itemText(i);
    const bool recheck = names == shown && factsRecheckTicks > 0 && --factsRecheckTicks == 0;
    if (names == shown && !recheck)
        return;
    if (ui->comComboBox->currentIndex() >= 0)
        takeChoice(ui->comComboBox->currentIndex());
    const bool wasGone = chosenPortGone();
    portCount = static_cast<quint16>(names.size());
    portFacts = names.isEmpty() ? QList<PortList::Facts>() : PortList::factsOf(names);
    if (!recheck) {
        ui->comComboBox->clear();
        ui->comComboBox->addItems(names);
    }
    if (hasChoice())
        ui->comComboBox->setCurrentIndex(indexOfChoice(names));
    describePortItems();
    // The system may name a freshly plugged adapter before it has told who
    // the adapter is; a choice not found is looked for once more a second
    // later, by when it has.
    if (!recheck)
        factsRecheckTicks = chosenPortGone() && !names.isEmpty() ? kFactsRecheckTicks : 0;
    if (wasGone != chosenPortGone())
        showStatusTip();
}

bool Tiravo::hasChoice() const
{
    return chosenAdapter || !chosenPort.isEmpty();
}

bool Tiravo::chosenPortGone() const
{
    return ui->comComboBox->currentIndex() < 0 && hasChoice();
}

BlockHistory::Adapter Tiravo::adapterAt(int index) const
{
    return BlockHistory::adapterOf(portFacts.value(index), ui->comComboBox->itemText(index));
}

void Tiravo::takeChoice(int index)
{
    chosenPort = ui->comComboBox->itemText(index);
    chosenAdapter = adapterAt(index);
}

// The name it was chosen under comes first where two names lead to it.
int Tiravo::indexOfChoice(const QStringList &names) const
{
    if (!chosenAdapter)
        return names.indexOf(chosenPort);
    int found = -1;
    for (int i = 0; i < names.size(); ++i) {
        if (!BlockHistory::sameAdapter(*chosenAdapter, adapterAt(i)))
            continue;
        if (names[i] == chosenPort)
            return i;
        if (found < 0)
            found = i;
    }
    return found;
}

void Tiravo::choosePort(const QString &name)
{
    const int index = ui->comComboBox->findText(name);
    // Not there yet: chosen by its name until it is, and known by who it is
    // from then on.
    chosenPort = name;
    chosenAdapter.reset();
    if (index >= 0)
        takeChoice(index);
    ui->comComboBox->setCurrentIndex(index);
    showStatusTip();
}

void Tiravo::toggleReconnect(bool on)
{
    PortMemory::storeReconnect(portMemoryFile(), on);
    if (!on)
        awaitedAdapter.reset();
    showStatusTip();
}

void Tiravo::followAwaitedAdapter()
{
    if (!awaitedAdapter)
        return;
    const int index = ui->comComboBox->currentIndex();
    const bool back = index >= 0 && BlockHistory::sameAdapter(*awaitedAdapter, adapterAt(index));
    presentTicks = back ? presentTicks + 1 : 0;
    if (presentTicks < kReconnectSettleTicks)
        return;
    awaitedAdapter.reset();
    presentTicks = 0;
    openPort();
}
