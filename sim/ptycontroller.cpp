// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "sim/ptycontroller.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "sim/gimbalmodel.h"
#include "sim/rawpty.h"

PtyController::PtyController(GimbalModel &gimbal, QObject *parent)
    : QObject(parent)
    , model(gimbal)
{
    clock.start();
    pieceTimer.setSingleShot(true);
    pieceTimer.setInterval(2);
    connect(&pieceTimer, &QTimer::timeout, this, &PtyController::writeNextPiece);

    const RawPty pty = openRawPty();
    if (pty.master < 0) {
        error = pty.error;
        return;
    }
    masterFd = pty.master;
    slaveFd = pty.slave;
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    path = pty.path;
    notifier = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &PtyController::readRequests);
}

PtyController::~PtyController()
{
    notifier.reset();
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
}

std::int64_t PtyController::now() const
{
    return testClock ? testClock() : clock.elapsed();
}

void PtyController::unplug()
{
    if (masterFd < 0)
        return;
    notifier.reset();
    pieceTimer.stop();
    outbox.clear();
    ::close(masterFd);
    ::close(slaveFd);
    masterFd = slaveFd = -1;
    emit unpluggedNow();
}

void PtyController::readRequests()
{
    std::uint8_t buf[512];
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n > 0) {
            for (auto &chunk : model.receive(buf, std::size_t(n), now()))
                outbox.push_back(std::move(chunk));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // EOF or a hard error on our own side: nothing more will come.
        notifier->setEnabled(false);
        error = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO));
        break;
    }
    if (!outbox.empty() && !pieceTimer.isActive())
        writeNextPiece();
    emit requestsHandled();
}

void PtyController::writeNextPiece()
{
    if (outbox.empty() || masterFd < 0)
        return;
    writeChunk(outbox.front());
    outbox.pop_front();
    if (!outbox.empty())
        pieceTimer.start();
}

void PtyController::writeChunk(const std::vector<std::uint8_t> &chunk)
{
    std::size_t done = 0;
    while (done < chunk.size()) {
        const ssize_t n = ::write(masterFd, chunk.data() + done, chunk.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        // A full line buffer means the host is not reading; like a UART, the
        // controller does not wait for it, and the rest of the chunk is lost.
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    written += done;
}
