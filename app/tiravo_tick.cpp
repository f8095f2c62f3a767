// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The 50 ms tick and the traffic it drives: one request out per tick while
// connected, replies in whenever the port has data, and the display of
// everything the link knows.
#include "app/tiravo.h"

#include <QByteArray>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "formats/liverecord.h"
#include "link/linktask.h"
#include "ui_tiravo.h"

std::uint8_t statusTicks = 0;
quint16 portCount = 0;

void resetWindowCounts()
{
    statusTicks = 0;
    portCount = 0;
}

namespace {
// Disconnected ticks after which nothing on screen can still change but for
// the port list: every message has run out.
constexpr int kTicksBeforeRest = Tiravo::kMessageTicks + 1;
// While resting, the port list is still taken as often as the scan's own
// safety net takes it while ticking, in case the system missed a notice.
constexpr int kRestNetMs = PortList::SystemPortScan::kRecheckCalls * LinkTask::kTickMs;

// The display is written only where what it shows changes: a line edit
// tells screen readers of every setText, even of the text it already holds,
// and each write costs a repaint. At 20 ticks a second that adds up.
void showIfChanged(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

void showIfChanged(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

void showIfChanged(QSlider *slider, int value)
{
    if (slider->value() != value)
        slider->setValue(value);
}

int messageText(std::uint8_t statusIndex)
{
    switch (statusIndex) {
    case StatusUploading: return TXT_UPLOADING;
    case StatusUploadDone: return TXT_UPLOAD_DONE;
    case StatusDownloading: return TXT_DOWNLOADING;
    case StatusDownloadDone: return TXT_DOWNLOAD_DONE;
    case StatusSaveDone: return TXT_SAVE_DONE;
    case StatusSaveFailed: return TXT_SAVE_FAILED;
    default: return TXT_BLANK;
    }
}
} // namespace

void Tiravo::SYS_QTimerUpDate()
{
    if (portClosed()) {
        refreshPortList();
        followAwaitedAdapter();
    } else {
        checkPortError();
        // Also after the check has just closed the link: the port object is
        // still alive until the event loop runs again, and nothing depends on
        // what becomes of this frame.
        sendFrame();
    }
    updateDisplay();
    closeGuard.afterTick();
    restIfIdle();
}

// Twenty ticks a second cost a disconnected window more than all it does in
// them, so once a disconnected tick only repeats the last one, the timer
// stops until the system says a device node changed. Ports named on the
// command line or registered by a host program are looked at on every tick
// instead, as no notice covers them; a stopped timer is left stopped, since
// whoever stopped it drives the ticks.
void Tiravo::restIfIdle()
{
    // A returning adapter's settle time and a second look at a new list's
    // facts are counted in ticks.
    if (!portClosed() || PortList::anyRegistered() || presentTicks > 0 || factsRecheckTicks > 0) {
        quietTicks = 0;
        return;
    }
    const int notices = portScan.noticeDescriptor();
    if (resting || !sysTimer->isActive() || notices < 0 || ++quietTicks < kTicksBeforeRest)
        return;
    if (!wakeOnNotice) {
        wakeOnNotice = std::make_unique<QSocketNotifier>(notices, QSocketNotifier::Read);
        connect(wakeOnNotice.get(), &QSocketNotifier::activated, this, &Tiravo::wakeToList);
        restNet.setSingleShot(true);
        connect(&restNet, &QTimer::timeout, this, [this] {
            portScan.expire();
            wakeToList();
        });
    }
    sysTimer->stop();
    wakeOnNotice->setEnabled(true);
    restNet.start(kRestNetMs);
    resting = true;
}

void Tiravo::resumeTicking()
{
    if (!resting)
        return;
    resting = false;
    quietTicks = 0;
    wakeOnNotice->setEnabled(false);
    restNet.stop();
    sysTimer->start(LinkTask::kTickMs);
}

// The tick that follows the notice lists the ports, so a plugged adapter
// shows at once; the window rests again once nothing more changes.
void Tiravo::wakeToList()
{
    resumeTicking();
    SYS_QTimerUpDate();
}

void Tiravo::sendFrame()
{
    const Frame request = link.nextRequest();
    // A port whose open failed is left to the error check; writing to it would
    // only make Qt complain about a device that is not open.
    if (!serialPort || !serialPort->isOpen())
        return;
    const char *bytes = reinterpret_cast<const char *>(request.data());
    qint64 left = qint64(request.size());
#ifdef Q_OS_UNIX
    // The port object queues a write and watches the line until it is
    // writable, and every turn of that watch wakes the event loop once more:
    // three passes of it per tick for one 47-byte frame. With nothing queued,
    // the frame goes straight to the device, which takes it whole; whatever
    // it does not take, and any error, goes the port object's way, which
    // then reports the error as before.
    if (serialPort->bytesToWrite() == 0) {
        const ssize_t n = ::write(int(serialPort->handle()), bytes, size_t(left));
        if (n > 0) {
            bytes += n;
            left -= n;
        }
    }
#endif
    if (left > 0) {
        serialPort->write(bytes, left);
        serialPort->flush();
    }
}

void Tiravo::my_readuart()
{
    if (!serialPort)
        return;
    const QByteArray data = serialPort->readAll();
    rxAssembler.feed(reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size()),
                     [this](const Frame &reply) { parseFrame(reply); });
}

void Tiravo::parseFrame(const Frame &reply)
{
    files->replyArrived(link.replyArrived(reply));
}

void Tiravo::updateDisplay()
{
    if (link.linkLost() || portClosed()) {
        showIfChanged(ui->linkStatusLineEdit, LangureChar[TXT_PORT_DISCONNECTED]);
        resetLinkData();
        files->linkDown();
    } else {
        showIfChanged(ui->linkStatusLineEdit,
                      LangureChar[link.gimbalState == 1 ? TXT_GIMBAL_DISCONNECTED : TXT_GIMBAL_CONNECTED]);
    }

    showIfChanged(ui->statusLabel, LangureChar[messageText(link.statusIndex)]);
    if (ui->statusLabel->text() != QLatin1String(" ")) {
        if (++statusTicks == kMessageTicks) {
            statusTicks = 0;
            link.statusIndex = StatusNone;
        }
    }

    const auto sliders = positionSliders();
    const auto fields = testFields();
    for (int f = 0; f < kFunctionCount; ++f)
        showIfChanged(sliders[f], link.channelPos[f]);
    for (int f = 0; f < kFunctionCount; ++f)
        showIfChanged(fields[f], QString::number(LiveRecord::testValue(link.testData[f])));

    if (link.downloadDone == 1) {
        showChannels(link.paramBlock);
        link.downloadDone = 0;
        std::uint8_t outside = 0;
        for (int f = 0; f < kFunctionCount; ++f) {
            const int channel = link.paramBlock[kFunctionSlot[f]];
            if (channel < 1 || channel > 18)
                outside |= std::uint8_t(1u << f);
        }
        if (outside != channelsOutOfRange) {
            channelsOutOfRange = outside;
            showStatusTip();
        }
    }
    enableParamControls();
}

void Tiravo::tellCutOffWrite()
{
    if (link.writeUnfinished())
        files->tellLater(fileText(UPLOAD_CUT).arg(link.writesConfirmed()), true);
}

// Items are "1".."18", so channel n is item n-1; 0 or anything above 18
// selects no item at all.
void Tiravo::showChannels(const ParamBlock &block)
{
    const auto combos = channelCombos();
    for (int f = 0; f < kFunctionCount; ++f) {
        const int index = block[kFunctionSlot[f]] - 1;
        if (combos[f]->currentIndex() != index)
            combos[f]->setCurrentIndex(index);
    }
}

// statusTicks and the reply assembler are left alone: the one outlives a
// link, the other a port.
void Tiravo::resetLinkData()
{
    link.reset();
}
