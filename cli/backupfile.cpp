// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "cli/backupfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QSet>

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "cli/output.h"
#include "link/paramexchange.h"

namespace {
const QString kFormat = QStringLiteral("sbus-channel parameter block");

bool wholeNumber(const QJsonValue &v, int low, int high, int *out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < low || d > high)
        return false;
    *out = int(d);
    return true;
}
// The JSON library keeps the last of two equal keys without a word, so a
// file could show one value to a person reading it and give the other to the
// controller. Returns the first key given twice in one object, with the
// object's own key ("" at the top). Looked for before the library parses the
// text, which leaks the value it drops (Qt 5.15); on text that is no JSON at
// all it finds nothing or a duplicate, and either way the file is refused.
std::optional<std::pair<QString, QString>> duplicateKey(const QByteArray &text)
{
    struct Level {
        bool object;
        QString name;
        QSet<QString> keys;
        bool expectKey;
    };
    std::vector<Level> levels;
    QString lastKey;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            int end = i + 1;
            while (end < text.size() && text[end] != '"')
                end += text[end] == '\\' ? 2 : 1;
            if (!levels.empty() && levels.back().object && levels.back().expectKey) {
                // Decoded by the library itself, so "t\u0069lt" is "tilt".
                const QString key =
                    QJsonDocument::fromJson('[' + text.mid(i, end - i + 1) + ']').array().at(0).toString();
                if (levels.back().keys.contains(key))
                    return std::make_pair(key, levels.back().name);
                levels.back().keys.insert(key);
                levels.back().expectKey = false;
                lastKey = key;
            }
            i = end;
        } else if (c == '{' || c == '[') {
            levels.push_back({c == '{', levels.empty() ? QString() : lastKey, {}, true});
        } else if ((c == '}' || c == ']') && !levels.empty()) {
            levels.pop_back();
        } else if (c == ',' && !levels.empty() && levels.back().object) {
            levels.back().expectKey = true;
        }
    }
    return std::nullopt;
}
} // namespace

namespace BackupFile {

QByteArray write(const ParamBlock &block, const QDateTime &taken, const QString &port)
{
    // Laid out by hand, one entry a line and the lists on one line each, so a
    // backup reads well and two of them diff line by line.
    const auto compact = [](const auto &value) {
        return QJsonDocument(value).toJson(QJsonDocument::Compact);
    };
    const auto text = [&](const QString &s) {
        // A one-element array is the way to have the JSON library quote a string.
        const QByteArray quoted = compact(QJsonArray{s});
        return quoted.mid(1, quoted.size() - 2);
    };
    QByteArray out = "{\n";
    out += "  \"format\": " + text(kFormat) + ",\n";
    out += "  \"version\": " + QByteArray::number(kVersion) + ",\n";
    out += "  \"taken\": " + text(taken.toUTC().toString(Qt::ISODate)) + ",\n";
    out += "  \"port\": " + text(port) + ",\n";
    QByteArray channels;
    for (int f = 0; f < kFunctionCount; ++f)
        channels += (f ? ", " : "") + text(Output::functionName(f)) + ": " +
                    QByteArray::number(block[std::size_t(kFunctionSlot[f])]);
    out += "  \"channels\": {" + channels + "},\n";
    out += "  \"block\": " + compact(Output::blockJson(block)) + "\n";
    out += "}\n";
    return out;
}

bool read(const QByteArray &data, ParamBlock *block, QString *error)
{
    if (data.size() > kMaxBytes) {
        *error = QStringLiteral("it is %1 bytes long; a backup is well under %2").arg(data.size()).arg(kMaxBytes);
        return false;
    }
    if (const auto twice = duplicateKey(data)) {
        *error = twice->second.isEmpty()
                     ? QStringLiteral("it gives \"%1\" twice; a backup names each entry once").arg(twice->first)
                     : QStringLiteral("its \"%1\" gives \"%2\" twice; a backup names each entry once")
                           .arg(twice->second, twice->first);
        return false;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
    if (doc.isNull()) {
        *error = QStringLiteral("it is not JSON (%1 at byte %2)").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    const QJsonObject root = doc.object();
    if (!doc.isObject() || root.value(QStringLiteral("format")).toString() != kFormat) {
        *error = QStringLiteral("it is not a parameter block backup (no \"format\": \"%1\")").arg(kFormat);
        return false;
    }
    int version = 0;
    if (!wholeNumber(root.value(QStringLiteral("version")), 1, 1 << 30, &version)) {
        *error = QStringLiteral("its \"version\" is missing or not a whole number");
        return false;
    }
    if (version != kVersion) {
        *error = QStringLiteral("it is format version %1; this program reads version %2").arg(version).arg(kVersion);
        return false;
    }

    const QJsonArray bytes = root.value(QStringLiteral("block")).toArray();
    if (!root.value(QStringLiteral("block")).isArray() || bytes.size() != kParamSlots) {
        *error = QStringLiteral("\"block\" must be a list of %1 numbers").arg(kParamSlots);
        return false;
    }
    ParamBlock parsed{};
    for (int i = 0; i < kParamSlots; ++i) {
        int b = 0;
        if (!wholeNumber(bytes.at(i), 0, 255, &b)) {
            *error = QStringLiteral("byte %1 of \"block\" is not a whole number from 0 to 255").arg(i);
            return false;
        }
        parsed[std::size_t(i)] = std::uint8_t(b);
    }

    const QJsonObject channels = root.value(QStringLiteral("channels")).toObject();
    for (int f = 0; f < kFunctionCount; ++f) {
        const QString name = Output::functionName(f);
        const int inBlock = parsed[std::size_t(kFunctionSlot[f])];
        int named = 0;
        if (!wholeNumber(channels.value(name), 0, 255, &named)) {
            *error = QStringLiteral("\"channels\" has no whole number for %1").arg(name);
            return false;
        }
        if (named != inBlock) {
            *error = QStringLiteral("\"channels\" gives %1 channel %2, but the block holds %3 in its slot %4; "
                                    "the file was changed in one place only")
                         .arg(name).arg(named).arg(inBlock).arg(kFunctionSlot[f]);
            return false;
        }
        if (inBlock < 1 || inBlock > 18) {
            *error = QStringLiteral("%1 is on channel %2; SBUS channels are 1 to 18").arg(name).arg(inBlock);
            return false;
        }
    }
    *block = parsed;
    return true;
}

} // namespace BackupFile
