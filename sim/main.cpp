// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// gimbal-sim: a simulated gimbal controller on a pseudo-terminal. Prints the
// device path to open, then answers requests until interrupted.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <unistd.h>

#include "link/linktask.h"
#include "sim/gimbalmodel.h"
#include "sim/ptycontroller.h"
#include "sim/simoptions.h"
#include "version.h"

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

const char *outcomeName(GimbalModel::Outcome o)
{
    switch (o) {
    case GimbalModel::Outcome::Answered: return "answered";
    case GimbalModel::Outcome::Silent: return "not answered (silent)";
    case GimbalModel::Outcome::Dropped: return "reply dropped";
    case GimbalModel::Outcome::Corrupted: return "reply sent with a broken CRC";
    case GimbalModel::Outcome::WrongEcho: return "reply sent with a wrong echo";
    case GimbalModel::Outcome::None: break;
    }
    return "";
}

QString blockText(const ParamBlock &block)
{
    QStringList bytes;
    for (std::uint8_t b : block)
        bytes << QString::number(b);
    return bytes.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gimbal-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SBUS_CHANNEL_VERSION));

    QCommandLineParser parser;
    SimOptions::add(parser, QStringLiteral(
        "A simulated gimbal controller on a pseudo-terminal. The first line of output is the\n"
        "serial device to open (115200 8N1); the controller answers every request frame\n"
        "until interrupted (Ctrl+C). Its parameter block starts as tilt 1, pan 2, mode 5,\n"
        "rec 6, zoom 7, or as stored in the --flash file."));
    const QCommandLineOption linkOption(QStringLiteral("link"),
                                        QStringLiteral("Also make the device reachable as this symlink "
                                                       "(for example /tmp/ttyGIMBAL)."),
                                        QStringLiteral("path"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Print every request and what became of its reply."));
    parser.addOption(linkOption);
    parser.addOption(verboseOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "gimbal-sim: unexpected argument %s; see --help\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }

    GimbalModel model(QFile::encodeName(SimOptions::flashPath(parser, QString())).toStdString(),
                      SimOptions::seed(parser));
    PtyController pty(model);
    if (!pty.isOpen()) {
        std::fprintf(stderr, "gimbal-sim: cannot create a pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    QString error;
    if (!SimOptions::apply(parser, model, pty, &error)) {
        std::fprintf(stderr, "gimbal-sim: %s\n", qPrintable(error));
        return 2;
    }

    const QString link = parser.value(linkOption);
    if (!link.isEmpty()) {
        // Only a stale symlink is replaced, never a file that happens to have the name.
        if (QFileInfo(link).isSymLink())
            QFile::remove(link);
        if (!QFile::link(pty.devicePath(), link)) {
            std::fprintf(stderr, "gimbal-sim: cannot create the link %s\n", qPrintable(link));
            return 1;
        }
    }

    std::printf("%s\n", qPrintable(pty.devicePath()));
    std::fflush(stdout);
    switch (model.flashState()) {
    case GimbalModel::FlashState::Loaded:
        std::fprintf(stderr, "flash: %s\n", model.flashPath().c_str());
        break;
    case GimbalModel::FlashState::Missing:
        std::fprintf(stderr, "flash: %s does not exist yet; starting from the default block\n",
                     model.flashPath().c_str());
        break;
    case GimbalModel::FlashState::Unusable:
        std::fprintf(stderr, "flash: %s is not an 18-byte block; starting from the default block\n",
                     model.flashPath().c_str());
        break;
    case GimbalModel::FlashState::NotAFile:
        std::fprintf(stderr, "flash: %s is not a regular file; starting from the default block, and every save "
                             "will fail\n",
                     model.flashPath().c_str());
        break;
    case GimbalModel::FlashState::InMemory:
        std::fprintf(stderr, "flash: in memory only (use --flash FILE to keep stored parameters)\n");
        break;
    }
    std::fprintf(stderr, "block: %s\n", qPrintable(blockText(model.ram())));

    if (::pipe(signalPipe) != 0)
        return 1;
    QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    if (parser.isSet(verboseOption)) {
        QObject::connect(&pty, &PtyController::requestsHandled, &app, [&model, &pty] {
            std::fprintf(stderr, "%8lld ms  %-16s %s\n", static_cast<long long>(pty.now()),
                         commandName(model.lastCommand()), outcomeName(model.lastOutcome()));
        });
    }
    QObject::connect(&pty, &PtyController::unpluggedNow, &app, [] {
        std::fprintf(stderr, "unplugged: the line is closed\n");
        QCoreApplication::quit();
    });

    const int result = app.exec();
    if (!link.isEmpty())
        QFile::remove(link);
    std::fprintf(stderr, "served %llu requests, ignored %llu with a bad CRC; block: %s\n",
                 static_cast<unsigned long long>(model.requestsSeen()),
                 static_cast<unsigned long long>(model.requestsIgnored()), qPrintable(blockText(model.ram())));
    return result;
}
