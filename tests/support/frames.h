#pragma once

// Frames as the controller would build them, with a CRC written here
// independently of the program's own, so a wrong CRC cannot agree with itself.
#include <QByteArray>
#include <QVector>

#include <cstdint>
#include <initializer_list>
#include <utility>

namespace TestFrames {

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

// A reply: header BE A0, the echo at 36, the given bytes at their offsets,
// the save result at 4, CRC high byte first. lowByteFirst stores it the wrong way round.
inline QByteArray reply(quint8 echo, std::initializer_list<std::pair<int, quint8>> bytes = {},
                        quint8 saveResult = 0, bool lowByteFirst = false)
{
    QByteArray f(47, '\0');
    f[0] = char(0xBE);
    f[1] = char(0xA0);
    f[4] = char(saveResult);
    f[36] = char(echo);
    for (const auto &b : bytes)
        f[b.first] = char(b.second);
    const quint16 crc = referenceCrc(f.left(45));
    f[45] = char(lowByteFirst ? crc & 0xFF : crc >> 8);
    f[46] = char(lowByteFirst ? crc >> 8 : crc & 0xFF);
    return f;
}

// A reply whose payload 37..44 is the given eight bytes.
inline QByteArray replyWithPayload(quint8 echo, const QVector<quint8> &payload, quint8 saveResult = 0)
{
    QByteArray f = reply(echo, {}, saveResult);
    for (int i = 0; i < payload.size() && i < 8; ++i)
        f[37 + i] = char(payload[i]);
    const quint16 crc = referenceCrc(f.left(45));
    f[45] = char(crc >> 8);
    f[46] = char(crc & 0xFF);
    return f;
}

inline bool crcIsGood(const QByteArray &frame)
{
    return frame.size() == 47 && referenceCrc(frame) == 0;
}

} // namespace TestFrames
