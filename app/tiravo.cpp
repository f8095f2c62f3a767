// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/tiravo.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QTimer>

#include "app/portselector.h"
#include "port/portlist.h"
#include "ui/rownames.h"
#include "app/portmemory.h"
#include "link/linktask.h"
#include "ui_tiravo.h"

Tiravo::Tiravo(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_Tiravo)
{
    installAccessibleCombos();
    ui->setupUi(this);
    PortSelector::install(*ui->comComboBox);
    findRows();
    setWindowTitle(QStringLiteral("SBUS CHANNEL"));
    files = std::make_unique<ParamFiles>(*this, link, lentToFiles());
    // Before the language is loaded, which names them.
    setUpContextMenu();

    // Restoring the language clicks a radio button; ChangeLangure is connected
    // only further down so that this click neither rewrites the settings file
    // nor loads the texts a second time.
    LangureTypeWR(0);
    LangureCharLoad();

    sysTimer = new QTimer(this);
    {
        // The probe's names and the facts of those that opened, from one
        // listing of the system's ports.
        const PortList::OneListing listing;
        probePorts();
        restoreChoice();
    }
    describePortItems();
    setUpAssistance();

    // The title is what stays in view while the window waits to close.
    closeGuard.onHold([this](bool held) {
        setWindowTitle(held ? QStringLiteral("SBUS CHANNEL \u2014 ") + fileText(CLOSE_WAITING)
                            : QStringLiteral("SBUS CHANNEL"));
        if (held)
            qWarning().noquote() << QStringLiteral("%1: closing once the controller has finished the write under "
                                                   "way (at most %2 s)")
                                        .arg(QCoreApplication::applicationName())
                                        .arg(CloseGuard::kMaxTicks * LinkTask::kTickMs / 1000);
    });

    connect(sysTimer, SIGNAL(timeout()), this, SLOT(SYS_QTimerUpDate()));
    connect(ui->chRadioButton, SIGNAL(clicked()), this, SLOT(ChangeLangure()));
    connect(ui->enRadioButton, SIGNAL(clicked()), this, SLOT(ChangeLangure()));
    // A port chosen in place of a vanished one ends the note that it is gone.
    connect(ui->comComboBox, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        takeChoice(index);
        // Another port chosen: the operator no longer waits for the old one.
        awaitedAdapter.reset();
        showStatusTip();
    });

    enableForOpenPort(false);

    resetLinkData();
    sysTimer->start(LinkTask::kTickMs);
}

Tiravo::~Tiravo()
{
    // A dialog of ours still running would outlive the window it belongs to,
    // holding the port open behind it.
    files->endDialog();
    delete ui;
    // A port still open when the window goes is closed now rather than left to
    // the end of the process, so the device node is free for the next program
    // at once. The port has no parent, so nothing else would release it.
    if (serialPort) {
        serialPort->close();
        delete serialPort.data();
    }
}

// Lists only the ports that open now, so an adapter held by another program
// is left out at start; the refresh while disconnected lists it later.
void Tiravo::probePorts()
{
    // Through the scan, which keeps the names: the first tick finds them
    // listed already unless a device came or went since.
    const QStringList names = PortList::availablePortNames(portScan);
    QString error;
    for (const QString &name : names) {
        if (!PortList::open(probePort, name, &error))
            continue;
        ui->comComboBox->addItem(name);
        probePort.close();
        ++portCount;
    }
}

// The adapter of the last run's good connect is chosen again, under
// whatever name it has now; absent, nothing is chosen in its place.
void Tiravo::restoreChoice()
{
    QStringList names;
    for (int i = 0; i < ui->comComboBox->count(); ++i)
        names << ui->comComboBox->itemText(i);
    // Asked once, for the choice and the items' descriptions alike.
    if (!names.isEmpty())
        portFacts = PortList::factsOf(names);
    const PortMemory::Remembered remembered = PortMemory::read(languageFilePath());
    reconnectAction->setChecked(remembered.reconnect);
    if (!remembered.adapter)
        return;
    chosenAdapter = remembered.adapter;
    chosenPort = remembered.adapter->port;
    ui->comComboBox->setCurrentIndex(indexOfChoice(names));
    if (chosenPortGone())
        showStatusTip();
}

// Only the main keyboard's Return uploads; the keypad's Enter is Qt::Key_Enter
// and is ignored on purpose. The event stays accepted either way.
void Tiravo::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return) {
        readChannelCombos();
        // A resting window must tick again: while disconnected, the next
        // tick puts the link data right again.
        resumeTicking();
    }
    // The platforms turn the Menu key into a context menu request, but only
    // Windows does so for Shift+F10. The focused widget gets it first, so an
    // input field still opens its own menu.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QWidget *target = focusWidget() ? focusWidget() : this;
        const QPoint centre = target->rect().center();
        QContextMenuEvent request(QContextMenuEvent::Keyboard, centre, target->mapToGlobal(centre));
        QCoreApplication::sendEvent(target, &request);
    }
}

namespace {

template <typename W> std::array<W *, kFunctionCount> rowWidgets(const QWidget &form, const char *FunctionRowNames::*name)
{
    std::array<W *, kFunctionCount> found{};
    for (int f = 0; f < kFunctionCount; ++f)
        found[f] = form.findChild<W *>(QLatin1String(kFunctionRows[f].*name));
    return found;
}

} // namespace

void Tiravo::findRows()
{
    rows.channels = rowWidgets<QComboBox>(*this, &FunctionRowNames::channel);
    rows.positions = rowWidgets<QSlider>(*this, &FunctionRowNames::position);
    rows.testData = rowWidgets<QLineEdit>(*this, &FunctionRowNames::testData);
}

// Nothing is written or stored before the selectors show what this contact
// read: until then they show placeholders the operator never chose. A write
// resumed after a lost link counts as shown, since the selectors show it.
bool Tiravo::paramControlsLive() const
{
    return !portClosed() && link.blockDownloaded() && link.downloadDone == 0;
}

void Tiravo::readChannelCombos()
{
    if (!paramControlsLive())
        return;
    const auto combos = channelCombos();
    Channels channels{};
    for (int f = 0; f < kFunctionCount; ++f) {
        // A selector showing nothing stands for a value the controller holds
        // and the items can't show (0, 19, 255...): it goes back as it came
        // rather than as 0, unless the operator chose a channel for it.
        if (combos[f]->currentIndex() < 0)
            channels[f] = link.paramBlock[kFunctionSlot[f]];
        else
            channels[f] = static_cast<std::uint8_t>(combos[f]->currentText().toInt(nullptr, 10));
    }
    // Said, not refused: the operator may mean it.
    ParamBlock chosen = link.paramBlock;
    for (int f = 0; f < kFunctionCount; ++f)
        chosen[kFunctionSlot[f]] = channels[f];
    if (!files->confirmSharedChannels(chosen) || !paramControlsLive())
        return;
    link.requestUpload(channels);
}

void Tiravo::on_updatePushButton_clicked()
{
    readChannelCombos();
}

void Tiravo::on_downloadPushButton_clicked()
{
    link.requestDownload();
}

void Tiravo::on_programPushButton_clicked()
{
    if (paramControlsLive())
        link.requestSave();
}

// Attached by name to the radio buttons; the language is handled by ChangeLangure.
void Tiravo::on_chRadioButton_clicked()
{
}

void Tiravo::on_enRadioButton_clicked()
{
}
