// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

#include "link/frame.h"
#include "link/linktask.h"

class QEventLoop;

// Puts a LinkTask on a real serial port: one request every 50 ms, as the
// window sends them, and every reply the assembler completes handed over.
class LinkRunner : public QObject
{
    Q_OBJECT

public:
    enum class Result { Done, Silent, Refused, PortLost, Interrupted };

    explicit LinkRunner(QObject *parent = nullptr);
    ~LinkRunner() override;

    // Opens with the controller's line settings. On failure, error holds the
    // system's reason and what can be done about it.
    bool open(const QString &portName, QString *error);
    // Where the port is, as the user named it (a link stays a link).
    QString portLocation() const;

    // Runs the task's current job to its end. onCycle is called after each
    // complete poll cycle; interrupted is asked on every tick.
    Result run(LinkTask &task, const std::function<void()> &onCycle = {},
               const std::function<bool()> &interrupted = {});
    QString failure() const { return failure_; }

private:
    void tick();
    void readReplies();
    void stop(Result result);

    QSerialPort port_;
    QString typedName_;
    QTimer timer_;
    QElapsedTimer sent_;
    ReplyAssembler assembler_;
    LinkTask *task_ = nullptr;
    QEventLoop *loop_ = nullptr;
    std::function<void()> onCycle_;
    std::function<bool()> interrupted_;
    std::uint64_t cyclesSeen_ = 0;
    Result result_ = Result::Done;
    QString failure_;
};
