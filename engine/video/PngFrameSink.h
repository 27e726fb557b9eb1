#pragma once
// A video output that writes pictures to files: for tests and tools.
//
// Pictures are kept at their display size (square pixels). Every `everyMs`
// of title time the first picture at or after the mark is written as
// DIR/frame-<title time in ms, 8 digits>.png (everyMs 0: every picture), and
// one line "<title ms> <64-bit FNV-1a hash of the pixels, hex>" per written
// picture goes to DIR/frames.txt.
//
// Threads: present() runs on the video thread; the getters may be read from
// any thread (guarded by m_mutex).

#include "engine/video/VideoOutput.h"

#include <QString>
#include <cstdint>
#include <mutex>
#include <vector>

namespace velmora::video {

class PngFrameSink : public ImageOutput
{
public:
    // dir empty: nothing is written, pictures are only counted and hashed.
    PngFrameSink(const QString &dir, int everyMs);
    // Before playback: write only pictures of this title (0: any, menus included).
    void setTitleFilter(int title) { m_titleFilter = title; }

    QSize pictureSize(const QSize &displaySize) override { return displaySize; }
    void present(const VideoPicture &picture) override;
    void clear() override {}
    void showMessage(const QString &) override {}

    struct Written
    {
        std::int64_t titleMs = 0;
        std::uint64_t hash = 0;
        QString path;
    };
    std::vector<Written> written() const;
    int presentedCount() const;
    // The last picture presented.
    QImage lastImage() const;
    // Files that could not be written.
    int failures() const;

    static std::uint64_t hashImage(const QImage &image);

private:
    const QString m_dir;
    const int m_everyMs;
    int m_titleFilter = 0;

    mutable std::mutex m_mutex; // guards the fields below
    std::int64_t m_nextMark = 0;
    std::int64_t m_lastTitleMs = -1;
    std::vector<Written> m_written;
    int m_presented = 0;
    int m_failures = 0;
    QImage m_last;
};

} // namespace velmora::video
