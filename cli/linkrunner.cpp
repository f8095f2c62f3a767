#include "cli/linkrunner.h"

#include <QEventLoop>

#include "link/linesettings.h"
#include "link/portdiagnostics.h"
#include "link/portlist.h"

namespace {
// The window's tick.
constexpr int kTickMs = 50;

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
    return PortList::systemLocation(port_.portName());
}

bool LinkRunner::open(const QString &portName, QString *error)
{
    port_.setPortName(portName);
    if (!port_.open(QIODevice::ReadWrite)) {
        QString text = QStringLiteral("cannot open %1: %2").arg(portName, port_.errorString());
        const std::string hint = PortDiagnostics::hintForFailedOpen(portLocation().toStdString());
        if (!hint.empty())
            text += QLatin1Char('\n') + QString::fromStdString(hint);
        *error = text;
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
    if (port_.error() != QSerialPort::NoError) {
        failure_ = QStringLiteral("the port failed: %1").arg(port_.errorString());
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
