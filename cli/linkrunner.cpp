// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/linkrunner.h"

#include <QEventLoop>
#include <QFile>

#include "port/linesettings.h"
#include "port/portdiagnostics.h"
#include "port/portlist.h"

namespace {
constexpr int kTickMs = LinkTask::kTickMs;

LinkRunner::Result resultOf(LinkTask::State state)
{
    switch (state) {
    case LinkTask::State::Silent: return LinkRunner::Result::Silent;
    case LinkTask::State::Refused: return LinkRunner::Result::Refused;
    default: return LinkRunner::Result::Done;
    }
}
} // namespace

LinkRunner::LinkRunner(QObject *parent) : QObject(parent)
{
    timer_.setInterval(kTickMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &LinkRunner::tick);
    connect(&port_, &QSerialPort::readyRead, this, &LinkRunner::readReplies);
}

LinkRunner::~LinkRunner()
{
    if (port_.isOpen())
        port_.clear(QSerialPort::AllDirections);
}

QString LinkRunner::portLocation() const
{
    return PortList::systemLocation(typedName_);
}

bool LinkRunner::open(const QString &portName, QString *error)
{
    typedName_ = portName;
    // A file, a FIFO or /dev/null is not opened at all: what a serial port
    // does to its line settings has no business there.
    const bool hopeless = !PortDiagnostics::mayBeSerialPort(QFile::encodeName(portLocation()).toStdString());
    QString systemError;
    if (hopeless || !PortList::open(port_, portName, &systemError)) {
        *error = PortList::whyNotOpened(portName, hopeless ? port_.errorString() : systemError);
        return false;
    }
    applyLineSettings(port_);
    // Bytes from before this program opened the port belong to nobody's request.
    port_.clear(QSerialPort::AllDirections);
    return true;
}

LinkRunner::Result LinkRunner::run(LinkTask &task, const std::function<void()> &onCycle,
                                   const std::function<bool()> &interrupted)
{
    task_ = &task;
    onCycle_ = onCycle;
    interrupted_ = interrupted;
    cyclesSeen_ = task.pollCycles();
    failure_.clear();
    result_ = Result::Done;

    QEventLoop loop;
    loop_ = &loop;
    // One request per tick across jobs too: the first of this job waits for
    // whatever is left of the tick in which the last job's request went out.
    const qint64 left = sent_.isValid() ? kTickMs - sent_.elapsed() : 0;
    if (left <= 0)
        tick();
    if (loop_) {
        timer_.start(left > 0 ? int(left) : kTickMs);
        loop.exec();
    }
    timer_.stop();
    loop_ = nullptr;
    task_ = nullptr;
    return result_;
}

void LinkRunner::stop(Result result)
{
    result_ = result;
    if (result == Result::Silent || result == Result::Refused)
        failure_ = QString::fromStdString(task_->failure());
    // A program that took no lock but has the line open may be reading the
    // controller's replies before us: that is a clash, not a silent controller.
    if (result == Result::Silent) {
        const std::string location = QFile::encodeName(portLocation()).toStdString();
        if (PortDiagnostics::examine(location).access == PortDiagnostics::Access::Busy) {
            result_ = Result::PortLost;
            failure_ = QStringLiteral("no answer came, and ") + PortList::whyNotOpened(typedName_, failure_);
        }
    }
    timer_.stop();
    if (loop_) {
        loop_->quit();
        loop_ = nullptr;
    }
}

void LinkRunner::tick()
{
    if (!loop_)
        return;
    if (interrupted_ && interrupted_()) {
        stop(Result::Interrupted);
        return;
    }
    if (const QSerialPort::SerialPortError error = port_.error(); error != QSerialPort::NoError) {
        const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
                          error == QSerialPort::WriteError || error == QSerialPort::DeviceNotFoundError;
        failure_ = gone ? QStringLiteral("the port went away (adapter unplugged?)")
                        : QStringLiteral("the port stopped working: %1").arg(port_.errorString());
        stop(Result::PortLost);
        return;
    }
    const std::optional<Frame> request = task_->nextRequest();
    if (!request) {
        stop(resultOf(task_->state()));
        return;
    }
    port_.write(reinterpret_cast<const char *>(request->data()), qint64(request->size()));
    sent_.start();
    if (timer_.interval() != kTickMs)
        timer_.start(kTickMs);
}

void LinkRunner::readReplies()
{
    const QByteArray data = port_.readAll();
    if (!task_)
        return;
    assembler_.feed(reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size()),
                    [this](const Frame &reply) {
                        if (!task_)
                            return;
                        task_->replyArrived(reply);
                        if (onCycle_ && task_->pollCycles() != cyclesSeen_) {
                            cyclesSeen_ = task_->pollCycles();
                            onCycle_();
                        }
                        if (loop_ && !task_->running())
                            stop(resultOf(task_->state()));
                    });
}
