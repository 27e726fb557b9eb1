#pragma once
// DVD time codes.
//
// A time code travels in two forms: packed into 32 bits (the first parameter
// of the current-time notification) and as 11-character text "hh:mm:ss:ff".
// Packing, most significant byte first: hours, minutes, seconds, frames; each
// byte holds the plain binary value (not BCD).

#include <QString>
#include <cstdint>
#include <optional>

namespace velmora {

struct TimeCode
{
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;

    friend bool operator==(const TimeCode &, const TimeCode &) = default;

    std::int32_t packed() const;
    static TimeCode fromPacked(std::int32_t packed);

    // "hh:mm:ss:ff", two digits per field (hours above 99 are clamped to 99).
    QString toText() const;
    // Strict parse of "hh:mm:ss:ff": 11 characters, digits, minutes and
    // seconds below 60, frames below 30. Anything else is nullopt.
    static std::optional<TimeCode> fromText(const QString &text);

    // Conversions to and from 90 kHz clock ticks at a frame rate of 25 or 30
    // (29.97 is treated as 30, as DVD time codes are nominal).
    std::int64_t toTicks90k(int framesPerSecond) const;
    static TimeCode fromTicks90k(std::int64_t ticks, int framesPerSecond);
    double toSeconds(int framesPerSecond) const;
};

} // namespace velmora
