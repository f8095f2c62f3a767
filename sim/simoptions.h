// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QString>

#include <cstdint>

class GimbalModel;
class PtyController;
class QCommandLineParser;

// The simulated controller's knobs, shared by every program that embeds one.
namespace SimOptions {

// Describes the program, adds --help, --version and the simulated controller's knobs.
void add(QCommandLineParser &parser, const QString &description);

// The flash file asked for, or fallback when none was given.
QString flashPath(const QCommandLineParser &parser, const QString &fallback);
std::uint32_t seed(const QCommandLineParser &parser);

// Sets the fault knobs and schedules the timed ones on the transport. Returns
// false, with the reason in error, when a value does not parse or is out of range.
bool apply(const QCommandLineParser &parser, GimbalModel &model, PtyController &pty, QString *error);

} // namespace SimOptions
