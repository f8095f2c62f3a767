// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "formats/liverecord.h"

#include <QStringList>

namespace LiveRecord {

QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

int testValue(std::uint8_t sent)
{
    return int(sent) * 10;
}

QString csvHeader()
{
    return QStringLiteral("time,tilt_pos,pan_pos,mode_pos,rec_pos,zoom_pos,"
                          "tilt_test,pan_test,mode_test,rec_test,zoom_test,gimbal");
}

QString gimbalText(std::uint8_t gimbalState)
{
    return gimbalState == 0 ? QStringLiteral("connected") : QStringLiteral("not connected");
}

QString csvRow(const QDateTime &time, const std::array<std::int8_t, kFunctionCount> &positions,
               const std::array<std::uint8_t, kFunctionCount> &testData, std::uint8_t gimbalState)
{
    QStringList fields{isoTime(time)};
    for (std::int8_t p : positions)
        fields << QString::number(p);
    for (std::uint8_t t : testData)
        fields << QString::number(testValue(t));
    fields << gimbalText(gimbalState);
    return fields.join(QLatin1Char(','));
}

} // namespace LiveRecord
