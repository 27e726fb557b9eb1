#pragma once
// A disc opened and played through the real pipeline into a recording
// output (or another sink), with its sound in a WAV file when asked, and
// what it presented and reported kept for the test to read.
//
// Threads: the pipeline's threads present pictures and report events; the
// test reads both from its own thread (each under its lock).

#include "engine/audio/AudioPlayer.h"
#include "engine/audio/WavFileOutput.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/core/SubpictureCompositor.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/video/PngFrameSink.h"
#include "engine/video/VideoOutput.h"
#include "tests/support/PipelineEventLog.h"

#include <QElapsedTimer>
#include <QImage>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::testing {

inline bool near(QRgb a, QRgb b, int tolerance = 24)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
           && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

inline QString rgbText(QRgb c)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// The background sample point of the authored discs, clear of every label
// and button (stored x 100, y 300; y 256 on the 480-line disc B), as a
// share of the picture.
inline QRgb background(const QImage &image, bool discBImage = false)
{
    const double fy = discBImage ? 256.0 / 480 : 300.0 / 576;
    return image.pixel(int(image.width() * 100.0 / 720), int(image.height() * fy));
}

// Records every picture the pipeline presents.
class RecordingOutput : public video::ImageOutput
{
public:
    struct Picture
    {
        std::int64_t titleMs;
        int title;
        QRgb sample;
        std::uint64_t hash;
        std::chrono::steady_clock::time_point at;
    };
    bool keepHash = false; // set before playing
    bool discB = false;    // sample disc B's background point

    QSize pictureSize(const QSize &displaySize) override { return displaySize; }
    void present(const video::VideoPicture &p) override
    {
        Picture rec{p.titleTime90k / 90, p.title, background(p.image, discB),
                    keepHash ? video::PngFrameSink::hashImage(p.image) : 0, std::chrono::steady_clock::now()};
        std::lock_guard lock(m_mutex);
        m_pictures.push_back(rec);
        m_last = p.image;
    }
    void clear() override {}
    void showMessage(const QString &) override {}

    std::vector<Picture> pictures() const
    {
        std::lock_guard lock(m_mutex);
        return m_pictures;
    }
    QImage last() const
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }
    // The first picture near colour after index from; -1 when none.
    int find(QRgb colour, std::size_t from = 0) const
    {
        std::lock_guard lock(m_mutex);
        for (std::size_t i = from; i < m_pictures.size(); ++i)
            if (near(m_pictures[i].sample, colour))
                return int(i);
        return -1;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Picture> m_pictures; // guarded by m_mutex
    QImage m_last;                   // guarded by m_mutex
};

struct PipelineRun : PipelineEventLog
{
    struct Setup
    {
        bool paced = true;
        video::VideoOutput *sink = nullptr; // null: output
        QString wav;                        // the sound into this file; empty: no sound
        WavFileOutput::Pacing wavPacing = WavFileOutput::Pacing::None;
        bool endOnInfiniteStill = false;
        bool overlay = false; // subpictures and highlights drawn through `overlay`
    };

    std::unique_ptr<nav::DvdNavigator> navigator;
    RecordingOutput output;
    core::SubpictureCompositor overlay;
    std::unique_ptr<AudioPlayer> audio;
    std::unique_ptr<core::PlaybackPipeline> pipeline; // null when the disc did not open

    PipelineRun(const QString &path, const Setup &setup)
    {
        nav::OpenError error;
        navigator = nav::DvdNavigator::open(path, &error);
        if (!navigator)
            return;
        if (!setup.wav.isEmpty()) {
            audio = std::make_unique<AudioPlayer>(std::make_unique<WavFileOutput>(setup.wav, setup.wavPacing));
            audio->start();
        }
        core::PlaybackPipeline::Options options;
        options.paced = setup.paced;
        options.endOnInfiniteStill = setup.endOnInfiniteStill;
        pipeline = std::make_unique<core::PlaybackPipeline>(*navigator, setup.sink ? setup.sink : &output,
                                                            audio.get(), options, recorder());
        if (setup.overlay)
            pipeline->setOverlay(&overlay);
    }
    ~PipelineRun() { finish(); }
    PipelineRun(const PipelineRun &) = delete;
    PipelineRun &operator=(const PipelineRun &) = delete;

    // Stops playback and completes the WAV file.
    void finish()
    {
        if (pipeline)
            pipeline->stop();
        if (audio)
            audio->stop();
    }
    // Activates the button at (x, y) of the menu whose first picture came
    // after event index from (a button of the menu before cannot run twice).
    // Returns the event count just before the button ran, -1 on failure.
    int press(std::size_t from, int x, int y) const
    {
        if (waitEvent(Kind::FirstPicture, from, 8000) < 0)
            return -1;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 8000) {
            const std::size_t count = eventCount();
            if (pipeline->activateButtonAt(x, y))
                return int(count);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
};

} // namespace velmora::testing
