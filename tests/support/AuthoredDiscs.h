#pragma once
// Discs A and B (tests/discs/author.sh; their contents in
// tests/discs/discs.md) as the playback tests play them: where they are,
// the colours they show, and a run of one through the pipeline.

#include "tests/support/PipelineRun.h"

#include <QFile>
#include <QString>

#include <algorithm>

namespace velmora::testing {

inline QString discA() { return QStringLiteral(VELMORA_DISC_DIR "/A"); }
inline QString discB() { return QStringLiteral(VELMORA_DISC_DIR "/B"); }
inline QString isoA() { return QStringLiteral(VELMORA_DISC_DIR "/A.iso"); }

inline const QRgb Red = qRgb(200, 30, 30), Green = qRgb(30, 160, 30), Blue = qRgb(30, 60, 210),
                  Yellow = qRgb(230, 210, 30), Magenta = qRgb(180, 30, 180), Navy = qRgb(20, 30, 80),
                  Cyan = qRgb(30, 170, 200), Orange = qRgb(240, 130, 20);

// Disc A's title 1: a chapter of one colour every 10 s.
inline QRgb chapterColourA(std::int64_t titleMs)
{
    static const QRgb colours[] = {Red, Green, Blue, Yellow};
    return colours[std::clamp<int>(int(titleMs / 10000), 0, 3)];
}

// Disc A or B played through the pipeline. Unpaced runs go as fast as the
// machine decodes and end at an infinite still; the sound is written
// unpaced either way.
struct Run : PipelineRun
{
    explicit Run(const QString &path, bool paced, video::VideoOutput *sink = nullptr, const QString &wav = {})
        : PipelineRun(path, {.paced = paced, .sink = sink, .wav = wav, .endOnInfiniteStill = !paced})
    {
    }
};

} // namespace velmora::testing

#define REQUIRE_DISCS()                                                                                                \
    if (!QFile::exists(velmora::testing::discA() + "/VIDEO_TS/VIDEO_TS.IFO")                                           \
        || !QFile::exists(velmora::testing::discB() + "/VIDEO_TS/VIDEO_TS.IFO"))                                       \
        QSKIP("authored discs missing (tests/discs/author.sh)");
