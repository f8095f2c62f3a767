// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class GimbalModel;
class QSocketNotifier;

// Puts a GimbalModel at the far end of a real serial device node: the model
// serves the master side of a pseudo-terminal from the event loop, and any
// program opens the slave side (devicePath) as it would a USB adapter.
class PtyController : public QObject
{
    Q_OBJECT

public:
    explicit PtyController(GimbalModel &model, QObject *parent = nullptr);
    ~PtyController() override;

    bool isOpen() const { return masterFd >= 0; }
    QString devicePath() const { return path; }
    QString errorString() const { return error; }

    // Milliseconds since construction, unless a test supplies its own clock.
    std::int64_t now() const;
    void setClock(std::function<std::int64_t()> clock) { testClock = std::move(clock); }

    // The adapter vanishes: the master side closes and whoever holds the
    // device node gets an error.
    void unplug();

    // True when every byte the model produced has been written.
    bool idle() const { return outbox.empty(); }
    std::uint64_t bytesWritten() const { return written; }

signals:
    // After each read from the line has been handled and its first reply written.
    void requestsHandled();
    void unpluggedNow();

private:
    void readRequests();
    void writeNextPiece();
    void writeChunk(const std::vector<std::uint8_t> &chunk);

    GimbalModel &model;
    int masterFd = -1;
    // Held open so the master never reads EIO (and spins) while nobody has the port open.
    int slaveFd = -1;
    QString path;
    QString error;
    std::unique_ptr<QSocketNotifier> notifier;
    // The pieces of a split reply leave one per timer expiry, so they reach
    // the host in separate reads as they would from a slow device.
    std::deque<std::vector<std::uint8_t>> outbox;
    QTimer pieceTimer;
    QElapsedTimer clock;
    std::function<std::int64_t()> testClock;
    std::uint64_t written = 0;
};
