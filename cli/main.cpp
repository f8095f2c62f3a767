// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// sbus-channel-cli: the gimbal controller's parameters from a shell or a
// production-line script, over the same link code as the window.
#include <QCoreApplication>

#include "cli/commands.h"
#include "cli/output.h"
#include "version.h"

int main(int argc, char *argv[])
{
    Output::guardStandardStreams();
    Output::prepareConsole();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sbus-channel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SBUS_CHANNEL_VERSION));
    return Cli::run(QCoreApplication::arguments().mid(1));
}
