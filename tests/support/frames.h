// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// Frames as the controller would build them, with a CRC written here
// independently of the program's own, so a wrong CRC cannot agree with itself.
#include <QByteArray>
#include <QVector>

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "link/frame.h"

namespace TestFrames {

inline constexpr quint8 kAllCommands[] = {WRITE_PARAM_1, WRITE_PARAM_2, WRITE_PARAM_3, READ_PARAM_1,
                                          READ_PARAM_2,  READ_PARAM_3,  POLL_POSITIONS_1, POLL_POSITIONS_2,
                                          POLL_GIMBAL,   POLL_TEST_DATA};

// The bytes of a frame or a block, to compare or print; and a frame (or a block) of bytes.
template <typename Bytes> QByteArray bytesOf(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

template <typename Array = Frame, typename Bytes> Array arrayOf(const Bytes &b)
{
    Array a{};
    std::copy_n(b.begin(), std::min(std::size_t(b.size()), a.size()), a.begin());
    return a;
}

// `block` with each {slot, value} put in.
inline ParamBlock with(ParamBlock block, std::initializer_list<std::pair<int, int>> changes)
{
    for (auto [slot, value] : changes)
        block[std::size_t(slot)] = std::uint8_t(value);
    return block;
}

// Bit by bit: polynomial 0x1021, initial 0, MSB first.
inline quint16 referenceCrc(const QByteArray &bytes)
{
    quint16 crc = 0;
    for (char c : bytes) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

// 47 bytes: the header, offset 4, the command at 36, payload from 37, the CRC
// over 0..44 high byte first (or, to build a broken frame, low byte first).
inline QByteArray frame(const char *header, quint8 offset4, quint8 command, const QVector<quint8> &payload,
                        bool lowByteFirst = false)
{
    QByteArray f(47, '\0');
    f[0] = header[0];
    f[1] = header[1];
    f[4] = char(offset4);
    f[36] = char(command);
    for (int i = 0; i < payload.size() && i < 8; ++i)
        f[37 + i] = char(payload[i]);
    const quint16 crc = referenceCrc(f.left(45));
    f[45] = char(lowByteFirst ? crc & 0xFF : crc >> 8);
    f[46] = char(lowByteFirst ? crc >> 8 : crc & 0xFF);
    return f;
}

inline QByteArray request(quint8 command, quint8 save, const QVector<quint8> &payload = {})
{
    return frame("\xAB\xCD", save, command, payload);
}

inline QByteArray replyWithPayload(quint8 echo, const QVector<quint8> &payload, quint8 saveResult = 0)
{
    return frame("\xBE\xA0", saveResult, echo, payload);
}

// A reply with the given bytes at their absolute offsets (37..44).
inline QByteArray reply(quint8 echo, std::initializer_list<std::pair<int, quint8>> bytes = {},
                        quint8 saveResult = 0, bool lowByteFirst = false)
{
    QVector<quint8> payload(8, 0);
    for (const auto &b : bytes)
        payload[b.first - 37] = b.second;
    return frame("\xBE\xA0", saveResult, echo, payload, lowByteFirst);
}

inline bool crcIsGood(const QByteArray &f)
{
    return f.size() == 47 && referenceCrc(f) == 0;
}

inline quint8 command(const QByteArray &request)
{
    return request.size() == 47 ? quint8(request[36]) : 0;
}

// What a test's controller holds and reports. Answers every request the way
// the window expects a controller to; tests change its fields to script it.
struct Device {
    QVector<quint8> block{11, 12, 13, 14, 2, 16, 17, 18, 19, 3, 6, 22, 7, 5, 25, 26, 27, 28};
    qint8 pos[5] = {-100, 40, 7, -1, 100}; // tilt, heading, mode, video, zoom
    quint8 gimbalBit = 0;
    quint8 test[5] = {1, 2, 3, 4, 255};

    QByteArray answer(const QByteArray &request)
    {
        const quint8 cmd = command(request);
        const quint8 save = request.size() == 47 && request[4] == 0x02 ? 0x02 : 0;
        const auto store = [&](int first, int count) {
            for (int i = 0; i < count; ++i)
                block[first + i] = quint8(request[37 + i]);
        };
        switch (cmd) {
        case WRITE_PARAM_1: store(0, 8); break;
        case WRITE_PARAM_2: store(8, 8); break;
        case WRITE_PARAM_3: store(16, 2); break;
        case READ_PARAM_1: return replyWithPayload(cmd, block.mid(0, 8), save);
        case READ_PARAM_2: return replyWithPayload(cmd, block.mid(8, 8), save);
        case READ_PARAM_3: return replyWithPayload(cmd, block.mid(16, 2), save);
        case POLL_POSITIONS_1: return reply(cmd, {{41, quint8(pos[2])}}, save);
        case POLL_POSITIONS_2:
            return reply(cmd, {{38, quint8(pos[0])}, {39, quint8(pos[3])}, {41, quint8(pos[4])}, {42, quint8(pos[1])}},
                         save);
        // The other bits of the gimbal byte mean nothing to the window.
        case POLL_GIMBAL: return reply(cmd, {{41, quint8(0xFE | gimbalBit)}}, save);
        case POLL_TEST_DATA:
            return reply(cmd, {{39, test[0]}, {40, test[1]}, {41, test[2]}, {42, test[3]}, {43, test[4]}}, save);
        }
        return reply(cmd, {}, save);
    }
};

} // namespace TestFrames
