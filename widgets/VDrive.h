#pragma once
// Conversions between the time caption, the seek bar and engine time codes.
//
// The time caption is the video window's time label: a label ending in ": "
// ("时间: " or "Time: "), the current time code, " /" and the title's total
// time code, e.g. "时间: 00:12:07:18 /01:45:33:00". Time codes are
// "hh:mm:ss:ff". All arithmetic is 16-bit where noted; an overflow is a
// failure, never a wrap-around.

#include <QString>
#include <QtGlobal>
#include <functional>

namespace velmora {

class ProgressBar;

// Length of the current title in whole seconds; 1 while unknown.
extern qint16 TitleSeconds;
// The time code under the seek bar's slider ("hh:mm:ss:00"); empty when the
// last conversion failed.
extern QString SeekTime;

// Sets TitleSeconds from the caption's total time; leaves it 1 on any failure.
void ParseTitleLength(const QString &caption);
// ParseTitleLength, then moves seek to the caption's current time on its
// value scale. A value that cannot be worked out (unreadable time, unknown or
// zero title length, a result outside 0..MaxValue) leaves the bar where it is
// and shows nothing.
void TimeToPosition(const QString &caption, ProgressBar &seek);
// Sets SeekTime to the time of position on a scale of 0..maxValue; empty on
// failure.
void PositionToTime(int position, int maxValue);

// The routines without arguments read the caption and the seek bar through
// the sources the shell installs at start-up (the video window's time label
// and the control panel's seek bar). Without sources they do nothing.
void setVDriveSources(std::function<QString()> caption, std::function<ProgressBar *()> seekBar);
void ParseTitleLength();
void TimeToPosition();
void PositionToTime(int position);

// Round to nearest, halves to even (the rule for every float-to-integer
// conversion of these routines and of the seek bar).
double roundHalfEven(double value);
// Rounds to a 16-bit integer; throws std::overflow_error outside -32768..32767.
qint16 toInt16(double value);
// Reads a numeric field as a 16-bit integer (blanks trimmed; decimals rounded
// half to even); throws std::invalid_argument or std::overflow_error.
qint16 fieldToInt16(const QString &field);

} // namespace velmora
