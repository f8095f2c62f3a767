// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "formats/backupfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QSet>
#include <QStringList>

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "formats/functionnames.h"
#include "lang/qtlanguage.h"
#include "link/paramexchange.h"
#include "os/safefile.h"

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

QJsonArray blockJson(const ParamBlock &block)
{
    QJsonArray a;
    for (std::uint8_t b : block)
        a.append(int(b));
    return a;
}

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
        channels += (f ? ", " : "") + text(functionName(f)) + ": " +
                    QByteArray::number(block[std::size_t(kFunctionSlot[f])]);
    out += "  \"channels\": {" + channels + "},\n";
    out += "  \"block\": " + compact(blockJson(block)) + "\n";
    out += "}\n";
    return out;
}

bool read(const QByteArray &data, ParamBlock *block, QString *error, Language language, OutOfRange outOfRange)
{
    const auto say = [&](const char *english, const char *chinese) { return textIn({chinese, english}, language); };
    // Files and standard input are read only one byte past the limit, so
    // the size of what came says nothing about the size of what was there.
    if (data.size() > kMaxBytes) {
        *error = say("it is more than %1 bytes long; a backup is well under that", "文件超过 %1 字节，而备份文件远小于此")
                     .arg(kMaxBytes);
        return false;
    }
    if (const auto twice = duplicateKey(data)) {
        // A key at the top has no object's name to give; arg() would warn on stderr about the unused one.
        *error = twice->second.isEmpty()
                     ? say("it gives \"%1\" twice; a backup names each entry once", "文件两次给出“%1”；备份文件中每项只出现一次")
                           .arg(twice->first)
                     : say("its \"%2\" gives \"%1\" twice; a backup names each entry once",
                           "文件的“%2”两次给出“%1”；备份文件中每项只出现一次")
                           .arg(twice->first, twice->second);
        return false;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
    if (doc.isNull()) {
        *error = say("it is not JSON (%1 at byte %2)", "它不是 JSON 文件（第 %2 字节：%1）")
                     .arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    const QJsonObject root = doc.object();
    if (!doc.isObject() || root.value(QStringLiteral("format")).toString() != kFormat) {
        *error = say("it is not a parameter block backup (no \"format\": \"%1\")",
                     "它不是参数备份文件（没有 \"format\": \"%1\"）")
                     .arg(kFormat);
        return false;
    }
    int version = 0;
    if (!wholeNumber(root.value(QStringLiteral("version")), 1, 1 << 30, &version)) {
        *error = say("its \"version\" is missing or not a whole number", "它的“version”缺失或不是整数");
        return false;
    }
    if (version != kVersion) {
        *error = say("it is format version %1; this program reads version %2", "它是第 %1 版格式；本程序读取第 %2 版")
                     .arg(version)
                     .arg(kVersion);
        return false;
    }

    const QJsonArray bytes = root.value(QStringLiteral("block")).toArray();
    if (!root.value(QStringLiteral("block")).isArray() || bytes.size() != kParamSlots) {
        *error = say("\"block\" must be a list of %1 numbers", "“block”必须是 %1 个数字的列表")
                     .arg(kParamSlots);
        return false;
    }
    ParamBlock parsed{};
    for (int i = 0; i < kParamSlots; ++i) {
        int b = 0;
        if (!wholeNumber(bytes.at(i), 0, 255, &b)) {
            *error = say("byte %1 of \"block\" is not a whole number from 0 to 255", "“block”的第 %1 字节不是 0 到 255 的整数")
                         .arg(i);
            return false;
        }
        parsed[std::size_t(i)] = std::uint8_t(b);
    }

    const QJsonObject channels = root.value(QStringLiteral("channels")).toObject();
    for (int f = 0; f < kFunctionCount; ++f) {
        const QString name = functionName(f);
        const int inBlock = parsed[std::size_t(kFunctionSlot[f])];
        int named = 0;
        if (!wholeNumber(channels.value(name), 0, 255, &named)) {
            *error = say("\"channels\" has no whole number for %1", "“channels”中没有 %1 的整数")
                         .arg(name);
            return false;
        }
        if (named != inBlock) {
            *error = say("\"channels\" gives %1 channel %2, but the block holds %3 in its slot %4; "
                         "the file was changed in one place only",
                         "“channels”给出 %1 通道 %2，而“block”第 %4 位是 %3；文件只在一处被改过")
                         .arg(name)
                         .arg(named)
                         .arg(inBlock)
                         .arg(kFunctionSlot[f]);
            return false;
        }
    }
    // Last, so that a file refused for its channels alone is one that allowing
    // them would load.
    if (outOfRange == OutOfRange::Refuse) {
        if (const QString why = outOfRangeReason(parsed, language); !why.isEmpty()) {
            *error = why;
            return false;
        }
    }
    *block = parsed;
    return true;
}

QString outOfRangeReason(const ParamBlock &block, Language language)
{
    const std::vector<int> functions = functionsOutOfRange(block);
    if (functions.empty())
        return {};
    QStringList held;
    for (int f : functions)
        held << textIn({"%1 在通道 %2", "%1 is on channel %2"}, language)
                    .arg(functionName(f))
                    .arg(block[std::size_t(kFunctionSlot[f])]);
    return held.join(textIn({"，", ", "}, language)) +
           textIn({"；SBUS 通道为 1 到 18", "; SBUS channels are 1 to 18"}, language);
}

LoadResult load(const QString &path, ParamBlock *block, QString *error, Language language, OutOfRange outOfRange)
{
    QByteArray data;
    if (!SafeFile::readRegular(path, kMaxBytes, &data, error))
        return LoadResult::Unreadable;
    return read(data, block, error, language, outOfRange) ? LoadResult::Loaded : LoadResult::Refused;
}

bool save(const QString &path, const ParamBlock &block, const QDateTime &taken, const QString &port, QString *error)
{
    return SafeFile::replace(path, write(block, taken, port), error);
}

} // namespace BackupFile
