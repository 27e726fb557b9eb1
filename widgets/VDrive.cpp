#include "VDrive.h"

#include "ProgressBar.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace velmora {

qint16 TitleSeconds = 1;
QString SeekTime;

namespace {

std::function<QString()> g_caption;
std::function<ProgressBar *()> g_seekBar;

// Length of the caption's label including its ": " (4 for "时间: ", 6 for
// "Time: "); throws when the caption has no label.
qsizetype labelLength(const QString &caption)
{
    const qsizetype colon = caption.indexOf(QStringLiteral(": "));
    if (colon < 0)
        throw std::invalid_argument("time caption without a label");
    return colon + 2;
}

// Up to count characters from 0-based index start; empty past the end.
QString mid(const QString &text, qsizetype start, qsizetype count)
{
    if (start >= text.size())
        return {};
    return text.mid(start, count);
}

qint16 checked16(qint32 value)
{
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        throw std::overflow_error("16-bit overflow");
    return static_cast<qint16>(value);
}

struct Clock
{
    qint16 hours;
    qint16 minutes;
    qint16 seconds;
};

// Fields of a time code "hh:mm:ss:ff"; frames are read (and must be a
// number) only when withFrames is set.
Clock readTimeCode(const QString &code, bool withFrames)
{
    Clock clock{fieldToInt16(mid(code, 0, 2)), fieldToInt16(mid(code, 3, 2)), fieldToInt16(mid(code, 6, 2))};
    if (withFrames)
        fieldToInt16(mid(code, 9, 2));
    return clock;
}

QString twoDigits(qint32 value)
{
    const QString text = QString::number(value);
    return value < 10 ? QStringLiteral("0") + text : text;
}

} // namespace

double roundHalfEven(double value)
{
    const double down = std::floor(value);
    const double fraction = value - down;
    if (fraction > 0.5)
        return down + 1;
    if (fraction < 0.5)
        return down;
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1;
}

qint16 toInt16(double value)
{
    if (!std::isfinite(value))
        throw std::overflow_error("not a finite number");
    const double rounded = roundHalfEven(value);
    if (rounded < std::numeric_limits<qint16>::min() || rounded > std::numeric_limits<qint16>::max())
        throw std::overflow_error("16-bit overflow");
    return static_cast<qint16>(rounded);
}

qint16 fieldToInt16(const QString &field)
{
    const QString trimmed = field.trimmed();
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (trimmed.isEmpty() || !ok)
        throw std::invalid_argument("not a number");
    return toInt16(value);
}

void ParseTitleLength(const QString &caption)
{
    TitleSeconds = 1;
    try {
        const QString total = mid(caption, labelLength(caption) + 13, 11).trimmed();
        const Clock clock = readTimeCode(total, true);
        const qint16 hours = checked16(checked16(qint32(clock.hours) * 60) * 60);
        const qint16 minutes = checked16(qint32(clock.minutes) * 60);
        TitleSeconds = checked16(qint32(checked16(qint32(hours) + minutes)) + clock.seconds);
    } catch (const std::exception &) {
        TitleSeconds = 1;
    }
}

void TimeToPosition(const QString &caption, ProgressBar &seek)
{
    ParseTitleLength(caption);
    double value = 0;
    try {
        const QString current = mid(caption, labelLength(caption), 11).trimmed();
        const Clock clock = readTimeCode(current, false);
        const double seconds = double(clock.hours) * 60 * 60 + double(clock.minutes) * 60 + double(clock.seconds);
        if (TitleSeconds == 0)
            return;
        value = toInt16(seconds * (double(seek.MaxValue()) / double(TitleSeconds)));
    } catch (const std::exception &) {
        return;
    }
    // Runs on every time notification: a value the bar would refuse (title
    // length unknown, say) must not raise a message box every second.
    if (value < 0 || value > seek.MaxValue())
        return;
    seek.setValue(int(value));
}

void PositionToTime(int position, int maxValue)
{
    SeekTime.clear();
    const double product = roundHalfEven(double(TitleSeconds) * double(position));
    if (product < std::numeric_limits<qint32>::min() || product > std::numeric_limits<qint32>::max())
        return;
    if (maxValue == 0)
        return;
    const qint32 total = qint32(product) / qint32(maxValue);
    const qint32 hours = total / 3600;
    const qint32 minutes = (total - hours * 3600) / 60;
    const qint32 seconds = total - hours * 3600 - minutes * 60;
    SeekTime = twoDigits(hours) + u':' + twoDigits(minutes) + u':' + twoDigits(seconds) + QStringLiteral(":00");
}

void setVDriveSources(std::function<QString()> caption, std::function<ProgressBar *()> seekBar)
{
    g_caption = std::move(caption);
    g_seekBar = std::move(seekBar);
}

void ParseTitleLength()
{
    if (g_caption)
        ParseTitleLength(g_caption());
}

void TimeToPosition()
{
    if (!g_caption || !g_seekBar)
        return;
    if (ProgressBar *seek = g_seekBar())
        TimeToPosition(g_caption(), *seek);
}

void PositionToTime(int position)
{
    if (!g_seekBar) {
        SeekTime.clear();
        return;
    }
    ProgressBar *seek = g_seekBar();
    if (seek)
        PositionToTime(position, seek->MaxValue());
    else
        SeekTime.clear();
}

} // namespace velmora
