#include "TimeCode.h"

#include <algorithm>

namespace velmora {

std::int32_t TimeCode::packed() const
{
    const auto byte = [](int v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
    return static_cast<std::int32_t>((byte(hours) << 24) | (byte(minutes) << 16) | (byte(seconds) << 8) | byte(frames));
}

TimeCode TimeCode::fromPacked(std::int32_t packed)
{
    const auto u = static_cast<std::uint32_t>(packed);
    return TimeCode{int((u >> 24) & 0xff), int((u >> 16) & 0xff), int((u >> 8) & 0xff), int(u & 0xff)};
}

QString TimeCode::toText() const
{
    const auto two = [](int v) { return QStringLiteral("%1").arg(std::clamp(v, 0, 99), 2, 10, QLatin1Char('0')); };
    return two(hours) + u':' + two(minutes) + u':' + two(seconds) + u':' + two(frames);
}

std::optional<TimeCode> TimeCode::fromText(const QString &text)
{
    if (text.size() != 11)
        return std::nullopt;
    int fields[4];
    for (int i = 0; i < 4; ++i) {
        const QChar a = text.at(i * 3);
        const QChar b = text.at(i * 3 + 1);
        if (a < u'0' || a > u'9' || b < u'0' || b > u'9')
            return std::nullopt;
        if (i < 3 && text.at(i * 3 + 2) != u':')
            return std::nullopt;
        fields[i] = (a.unicode() - u'0') * 10 + (b.unicode() - u'0');
    }
    if (fields[1] > 59 || fields[2] > 59 || fields[3] > 29)
        return std::nullopt;
    return TimeCode{fields[0], fields[1], fields[2], fields[3]};
}

std::int64_t TimeCode::toTicks90k(int fps) const
{
    const std::int64_t secs = std::int64_t(hours) * 3600 + minutes * 60 + seconds;
    return secs * 90000 + (fps > 0 ? std::int64_t(frames) * 90000 / fps : 0);
}

TimeCode TimeCode::fromTicks90k(std::int64_t ticks, int fps)
{
    if (ticks < 0)
        ticks = 0;
    const std::int64_t secs = ticks / 90000;
    const std::int64_t rest = ticks % 90000;
    TimeCode tc;
    tc.hours = int(std::min<std::int64_t>(secs / 3600, 99));
    tc.minutes = int((secs / 60) % 60);
    tc.seconds = int(secs % 60);
    tc.frames = fps > 0 ? int(std::min<std::int64_t>(rest * fps / 90000, fps - 1)) : 0;
    return tc;
}

double TimeCode::toSeconds(int fps) const
{
    return double(toTicks90k(fps)) / 90000.0;
}

} // namespace velmora
