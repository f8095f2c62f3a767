// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// The window against the simulated controller over a real pseudo-terminal, on
// a clock that moves 50 ms per tick, ticks driven by invoking the tick slot.
#include <QtTest>

#include <QComboBox>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <random>

#include "sim/gimbalmodel.h"
#include "rig/tickrig.h"
#include "ui/rownames.h"

inline const ParamBlock &kDefault = GimbalModel::kDefaultBlock;

template <typename Bytes> QByteArray raw(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

// A function slot may hold any channel; every other slot must hold the controller's own value.
inline bool onlyChannelsDiffer(ParamBlock b)
{
    for (int s : kFunctionSlot)
        b[s] = b[s] >= 1 && b[s] <= GimbalModel::kSbusChannels ? kDefault[s] : 0;
    return b == kDefault;
}

// The history of stored blocks in a file of the test's own, named before the
// window looks for it as it starts; afterwards there is none at all.
struct HistoryFile {
    QTemporaryDir historyDir;
    const QString historyPath = historyDir.filePath(QStringLiteral("history.jsonl"));
    HistoryFile() { qputenv("SBUS_CHANNEL_HISTORY", historyPath.toLocal8Bit()); }
    ~HistoryFile() { qputenv("SBUS_CHANNEL_HISTORY", QByteArray()); }
};

// Keeps the controller's flash file for as long as the rig lives; a base of
// Rig, so the directory exists before the controller looks for its file.
struct FlashDir {
    QTemporaryDir dir;
};

// The rig with the controller's flash in a file, clicked with the mouse.
struct Rig : FlashDir, TickRig {
    explicit Rig(std::uint32_t seed = 1)
        : TickRig(dir.filePath(QStringLiteral("flash.bin")).toStdString(), seed)
    {
    }

    void click(const char *name) { QTest::mouseClick(get(name), Qt::LeftButton); }
    int shown(int f) const { return combo(kFunctionRows[f].channel)->currentText().toInt(); }
    // Picks five random channels, presses Upload and returns the channels picked.
    Channels upload(std::mt19937 &rng)
    {
        Channels picked{};
        for (int f = 0; f < kFunctionCount; ++f) {
            combo(kFunctionRows[f].channel)->setCurrentIndex(int(rng() % 18));
            picked[f] = std::uint8_t(shown(f));
        }
        click("updatePushButton");
        return picked;
    }
    // What a controller started now would load from the file.
    ParamBlock stored() const { return GimbalModel(model.flashPath()).ram(); }

    bool tickUntil(const std::function<bool()> &done, int maxTicks = 12)
    {
        return done() || ticksUntil(done, maxTicks) > 0;
    }
    bool untilText(const char *widget, const char *wanted, int maxTicks = 12)
    {
        return tickUntil([=] { return text(widget) == QLatin1String(wanted); }, maxTicks);
    }
};
