// The video thread: decodes, waits for each picture's time on the master
// clock (the sound being heard, else the system clock), drops late pictures,
// hands each picture as decoded to the output, which scales it and has the
// overlay drawn over it.
#include "PlaybackPipeline.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/core/PipelineItems.h"
#include "engine/core/PipelineTiming.h"
#include "engine/spu/ButtonHighlight.h"
#include "engine/video/VideoDecoder.h"
#include "engine/video/VideoOutput.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdlib>
#include <deque>

namespace velmora::core {

using namespace timing;

// ---------------------------------------------------------------------------
// Video thread

struct PlaybackPipeline::VideoState
{
    int serial = -1;
    std::int64_t target = -1;
    std::deque<std::shared_ptr<const NavUnit>> units;
    const NavUnit *lastShownUnit = nullptr;
    std::shared_ptr<const NavUnit> lastShownUnitRef;
    int shownTitle = -1;
    int shownChapter = -1;
    int shownTitleSet = -1;
    bool firstAfterFlush = true;      // for the first-picture event
    bool reanchor = true;             // the next picture starts the clock afresh
    Clock::time_point firstShownAt;   // of the first picture after the last (re)start
    std::int64_t lastPts = -1;
    // System clock: timeline position anchorPts at anchorAt.
    bool anchored = false;
    std::int64_t anchorPts = 0;
    Clock::time_point anchorAt;
    ScanSpeed speed = ScanSpeed::normal(); // of this serial
    bool keyPictureShown = false;     // key-frame scan: the serial's one picture is out
    StreamSummary shownStreams;
    // The picture on screen as decoded, to present again with its overlay
    // when only the highlight changes (kept only where there are buttons).
    video::VideoFrame lastPicture;
    OverlayFrame lastFrame;
    std::shared_ptr<const NavUnit> lastFrameUnit;

    double rate() const { return speed.playsEveryFrame() ? speed.speed() : 1.0; }
    std::int64_t systemTicksSince(Clock::time_point t) const { return std::int64_t(double(ticksSince(t)) * rate()); }
};

OverlayFrame PlaybackPipeline::overlayFrame(const std::shared_ptr<const NavUnit> &unit, QSize codedSize, bool wide,
                                            std::int64_t pts, ScanSpeed speed) const
{
    OverlayFrame frame;
    frame.codedSize = codedSize;
    frame.wide = wide;
    frame.pts90k = pts;
    frame.showSubtitles = m_showSubtitles.load();
    frame.subpicturesOn = speed.subpicturesOn();
    if (!unit)
        return frame;
    frame.subpictureStream = unit->navigatorSubpicture;
    const int choice = m_subpictureChoice.load();
    if (unit->title > 0 && choice >= 0 && unit->streams && choice < unit->streams->subpictureStreamCount()
        && unit->streams->subpictureStreamEnabled(choice))
        frame.subpictureStream = unit->streams->subpicture(choice).physical & 0x1F;
    if (buttonCount(unit->pci) > 0) {
        frame.pci = &unit->pci;
        frame.button = m_highlightButton.load();
        std::lock_guard lock(m_stateMutex);
        frame.activated = m_activatedUnit == unit;
    }
    return frame;
}

void PlaybackPipeline::videoLoop()
{
    VideoState v;
    std::unique_ptr<video::VideoDecoder> decoder;
    try {
        decoder = std::make_unique<video::VideoDecoder>(
            video::VideoDecoder::Options{m_options.decoderThreads, m_options.deinterlace});
    } catch (const EngineError &e) {
        report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, e.code(), e.message()});
        return;
    }
    const auto stopOrStale = [&] {
        std::lock_guard lock(m_stateMutex);
        return m_stopRequested || m_serial.current() != v.serial;
    };

    // The master clock: the sound being heard while there is sound of this
    // serial, else the system clock carried on from the last reading.
    const auto clockNow = [&]() -> std::int64_t {
        if (m_audio) {
            const AudioClock ac = m_audio->clock();
            if (ac.valid && !ac.drained && ac.serial == v.serial && ac.pts90k != NoPts) {
                v.anchored = true;
                v.anchorPts = ac.pts90k;
                v.anchorAt = Clock::now();
                return ac.pts90k;
            }
        }
        if (!v.anchored)
            return -1;
        return v.anchorPts + v.systemTicksSince(v.anchorAt);
    };

    const auto onFrame = [&](const AVFrame *frame) {
        if (stopOrStale())
            return;
        const int fps = v.units.empty() ? 25 : v.units.back()->framesPerSecond;
        const std::int64_t frameTicks = 90000 / std::max(1, fps);
        std::int64_t pts = frame->pts;
        if (pts == AV_NOPTS_VALUE || pts < 0)
            pts = v.lastPts >= 0 ? v.lastPts + frameTicks : 0;
        v.lastPts = pts;

        // The unit this picture belongs to: the last one starting at or before it.
        std::shared_ptr<const NavUnit> unit;
        for (const auto &u : v.units) {
            if (u->timelineStart <= pts + frameTicks / 2 || !unit)
                unit = u;
        }
        const std::int64_t titleTime =
            unit ? std::max<std::int64_t>(0, unit->titleTime90k + (pts - unit->timelineStart)) : 0;
        if (v.target >= 0) {
            if (titleTime + frameTicks / 2 < v.target)
                return; // decoded only to reach the target picture
            v.target = -1;
        }
        const bool keyFrames = !v.speed.playsEveryFrame();
        if (keyFrames) {
            // One picture per step of the scan, shown at once.
            if (v.keyPictureShown)
                return;
            v.keyPictureShown = true;
        }

        if (m_options.paced && !keyFrames) {
            std::int64_t now = clockNow();
            if (v.reanchor || now < 0 || pts - now > 5 * 90000) {
                // Nothing to follow yet (or a clock far off after a still): start here.
                v.anchored = true;
                v.anchorPts = pts;
                v.anchorAt = Clock::now();
                now = pts;
                v.firstShownAt = Clock::now();
            } else if (now - pts > LateDropTicks) {
                ++m_framesDropped;
                return;
            }
            v.reanchor = false;
            for (;;) {
                if (stopOrStale())
                    return;
                if (m_paused.load()) {
                    // Held: the picture on screen stays. The system clock
                    // restarts from this picture; the audio clock stood still.
                    std::unique_lock lock(m_stateMutex);
                    m_command.wait_for(lock, 20ms);
                    v.anchored = false;
                    continue;
                }
                if (m_audio && m_audioFedSerial.load() == v.serial && Clock::now() - v.firstShownAt < AudioStartWait) {
                    const AudioClock ac = m_audio->clock();
                    if (!(ac.valid && ac.serial == v.serial && ac.pts90k != NoPts) || ac.pts90k < pts) {
                        // Sound is on its way but not heard up to here yet: hold this picture.
                        std::this_thread::sleep_for(2ms);
                        v.anchored = false;
                        continue;
                    }
                }
                now = clockNow();
                if (now < 0) {
                    v.anchored = true;
                    v.anchorPts = pts;
                    v.anchorAt = Clock::now();
                    now = pts;
                }
                if (pts <= now)
                    break;
                const std::int64_t wait = std::min(pts - now, WaitSliceTicks);
                std::this_thread::sleep_for(std::chrono::microseconds(wait * 100 / 9));
            }
        }

        const bool wide = unit ? unit->wide : false;
        const QSize display = video::displaySizeFor(frame->height, wide);
        video::VideoFrame picture;
        picture.displaySize = display;
        picture.codedSize = QSize(frame->width, frame->height);
        picture.titleTime90k = titleTime;
        picture.timeline90k = pts;
        picture.title = unit ? unit->title : 0;
        picture.wide = wide;
        picture.frame = video::shareFrame(frame);
        if (m_video && picture.frame) {
            // The output scales the decoded picture once, to its own size, and
            // has the overlay drawn over the result.
            video::OverlayPainter paint;
            if (m_overlay) {
                v.lastFrame = overlayFrame(unit, picture.codedSize, wide, pts, v.speed);
                v.lastFrameUnit = unit;
                v.lastPicture = v.lastFrame.pci ? picture : video::VideoFrame();
                paint = [&](QImage &image) { m_overlay->paint(image, v.lastFrame); };
            }
            m_video->presentFrame(picture, paint);
        }
        if (m_options.paced && m_audio) {
            const AudioClock ac = m_audio->clock();
            if (ac.valid && !ac.drained && !ac.paused && ac.serial == v.serial && ac.pts90k != NoPts) {
                ++m_syncMeasured;
                if (std::abs(pts - ac.pts90k) <= SyncToleranceMs * 90)
                    ++m_syncWithin;
            }
        }
        ++m_framesShown;

        const int title = unit ? unit->title : 0;
        const int chapter = unit ? unit->chapter : 0;
        const int fpsShown = unit ? unit->framesPerSecond : 25;
        {
            std::lock_guard lock(m_stateMutex);
            if (m_serial.current() == v.serial) {
                m_shown = ShownPosition{true, title, chapter, titleTime, fpsShown, wide, pts};
                m_shownUnit = unit;
            }
        }
        const bool firstPicture = v.firstAfterFlush;
        v.firstAfterFlush = false;
        if (firstPicture)
            report(PipelineEvent{PipelineEvent::Kind::FirstPicture, title, chapter, titleTime, fpsShown, 0, {}, v.serial});
        const bool streamsChanged = unit && unit->streams && *unit->streams != v.shownStreams;
        if (streamsChanged) {
            v.shownStreams = *unit->streams;
            std::lock_guard lock(m_stateMutex);
            m_shownStreams = v.shownStreams;
        }
        if (unit && (title != v.shownTitle || unit->titleSet != v.shownTitleSet || streamsChanged)) {
            const bool titleChanged = title != v.shownTitle;
            v.shownTitle = title;
            v.shownTitleSet = unit->titleSet;
            if (titleChanged)
                report(PipelineEvent{PipelineEvent::Kind::TitleChange, title, chapter, titleTime, fpsShown, 0, {}, v.serial});
            report(PipelineEvent{PipelineEvent::Kind::TitleInfo, title, chapter, titleTime, fpsShown, 0, {}, v.serial});
        }
        if (unit && chapter != v.shownChapter) {
            v.shownChapter = chapter;
            if (title > 0)
                report(PipelineEvent{PipelineEvent::Kind::ChapterStart, title, chapter, titleTime, fpsShown, 0, {}, v.serial});
        }
        if (unit && unit.get() != v.lastShownUnit) {
            v.lastShownUnit = unit.get();
            v.lastShownUnitRef = unit;
            report(PipelineEvent{PipelineEvent::Kind::Time, title, chapter, titleTime, fpsShown, 0, {}, v.serial});
        }
    };

    for (;;) {
        {
            std::lock_guard lock(m_stateMutex);
            if (m_stopRequested)
                return;
        }
        std::optional<VideoItem> item = m_videoQueue->pop(50ms);
        if (!item)
            continue;
        int serial = 0;
        std::int64_t target = -1;
        ScanSpeed speed = ScanSpeed::normal();
        {
            std::lock_guard lock(m_stateMutex);
            if (m_stopRequested)
                return;
            serial = m_serial.current();
            target = m_seekTarget;
            speed = m_speed;
        }
        // Popped just before a flush: it belongs to what was playing before.
        if (item->serial != serial)
            continue;
        if (serial != v.serial) {
            // First item after a flush: nothing of before may show.
            v.serial = serial;
            v.target = target;
            v.units.clear();
            v.lastPts = -1;
            v.firstAfterFlush = true;
            v.reanchor = true;
            v.anchored = false;
            v.speed = speed;
            v.keyPictureShown = false;
            v.lastPicture = video::VideoFrame();
            v.lastFrameUnit.reset();
            decoder->reset();
            decoder->setKeyFramesOnly(!speed.playsEveryFrame());
            if (m_overlay)
                m_overlay->reset();
        }
        switch (item->kind) {
        case VideoItem::Kind::Data:
            decoder->decode(item->bytes.data(), item->bytes.size(), item->pts >= 0 ? item->pts : AV_NOPTS_VALUE,
                            item->dts >= 0 ? item->dts : AV_NOPTS_VALUE, onFrame);
            break;
        case VideoItem::Kind::Unit:
            v.units.push_back(item->unit);
            while (v.units.size() > 16)
                v.units.pop_front();
            break;
        case VideoItem::Kind::Subpicture:
            if (m_overlay)
                m_overlay->subpicturePacket(item->id, item->bytes.data(), item->bytes.size(), item->pts);
            break;
        case VideoItem::Kind::Clut:
            if (m_overlay && item->bytes.size() == 64) {
                std::uint32_t clut[16];
                std::copy_n(reinterpret_cast<const std::uint32_t *>(item->bytes.data()), 16, clut);
                m_overlay->colourTable(clut);
            }
            break;
        case VideoItem::Kind::Repaint:
            if (m_overlay && v.lastPicture.frame && m_video) {
                // The same picture with the highlight as it is now.
                v.lastFrame = overlayFrame(v.lastFrameUnit, v.lastFrame.codedSize, v.lastFrame.wide,
                                           v.lastFrame.pts90k, v.speed);
                m_video->presentFrame(v.lastPicture, [&](QImage &image) { m_overlay->paint(image, v.lastFrame); });
            }
            break;
        case VideoItem::Kind::Drain:
            decoder->drain(onFrame);
            // The still's picture stays; the clock starts afresh after it.
            v.anchored = false;
            v.reanchor = true;
            {
                std::lock_guard lock(m_stateMutex);
                m_drainDone = std::max(m_drainDone, item->id);
                m_command.notify_all();
            }
            break;
        }
    }
}

} // namespace velmora::core
