#include "PlaybackPipeline.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/core/PipelineItems.h"
#include "engine/core/PipelineTiming.h"
#include "engine/video/VideoDecoder.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPipeline, "velmora.pipeline", QtWarningMsg)

namespace velmora::core {

using namespace timing;

PlaybackPipeline::PlaybackPipeline(nav::DvdNavigator &navigator, video::VideoOutput *video, AudioPlayer *audio,
                                   Options options, EventHandler handler)
    : m_navigator(navigator), m_video(video), m_audio(audio), m_options(options), m_handler(std::move(handler)),
      m_videoQueue(std::make_unique<BoundedQueue<VideoItem>>(VideoQueueItems, VideoQueueBytes, VideoQueueUnits)),
      m_serial(*m_videoQueue, audio)
{
}

PlaybackPipeline::~PlaybackPipeline()
{
    stop();
}

void PlaybackPipeline::start()
{
    if (m_running)
        return;
    {
        // Fails early, on the caller's thread, when the decoder is missing.
        video::VideoDecoder probe(video::VideoDecoder::Options{1, false});
    }
    {
        std::lock_guard lock(m_stateMutex);
        m_stopRequested = false;
        // A sound player that fed an earlier pipeline is still on that one's
        // serial: it takes ours, or it would drop every packet.
        m_serial.rejoin();
    }
    m_ended = false;
    m_navExited = false;
    m_running = true;
    m_videoThread = std::thread([this] { videoLoop(); });
    m_navThread = std::thread([this] {
        navLoop();
        std::unique_ptr<LeftBehind> leftovers;
        {
            std::lock_guard lock(m_stateMutex);
            m_navExited = true;
            leftovers = std::move(m_leftBehind);
        }
        // Past the lock the owner may destroy the pipeline at any time (or
        // it was handed to us): nothing of it is touched from here on.
        if (leftovers)
            destroy(*leftovers);
    });
}

void PlaybackPipeline::leaveBehind(LeftBehind leftovers)
{
    if (PlaybackPipeline *pipeline = leftovers.pipeline.get(); pipeline && pipeline->m_abandoned) {
        std::lock_guard lock(pipeline->m_stateMutex);
        if (!pipeline->m_navExited.load()) {
            pipeline->m_leftBehind = std::make_unique<LeftBehind>(std::move(leftovers));
            return;
        }
    }
    // Stopped for good, or the thread came back and ended between stop() and now.
    destroy(leftovers);
}

void PlaybackPipeline::destroy(LeftBehind &leftovers)
{
    leftovers.pipeline.reset();
    leftovers.overlay.reset();
    leftovers.navigator.reset();
}

std::int64_t PlaybackPipeline::navigatorBusyMs() const
{
    const std::int64_t since = m_navCallSince.load();
    if (since == 0)
        return 0;
    return steadyMs() - since;
}

void PlaybackPipeline::stop()
{
    if (!m_running)
        return;
    {
        std::lock_guard lock(m_stateMutex);
        m_stopRequested = true;
        m_command.notify_all();
        // Releases a feeding thread waiting for room in the sound player.
        m_serial.retire();
    }
    m_videoQueue->abort();
    m_videoThread.join();
    const auto deadline = Clock::now() + std::chrono::milliseconds(NavigatorAnswerMs);
    while (!m_navExited.load() && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    if (m_navExited.load()) {
        m_navThread.join();
    } else {
        // Inside libdvdnav (a disc it loops on, a read that does not come
        // back): nothing can stop it. Let it go rather than hang the caller;
        // what it uses stays alive until it comes back (leaveBehind()).
        qCWarning(lcPipeline, "the navigator does not answer; leaving its thread behind");
        m_letGo = true;
        m_navThread.detach();
        m_abandoned = true;
    }
    m_running = false;
}

void PlaybackPipeline::setPaused(bool paused)
{
    m_paused = paused;
    if (m_audio)
        m_audio->setPaused(paused);
    std::lock_guard lock(m_stateMutex);
    m_command.notify_all();
}

int PlaybackPipeline::currentSerial() const
{
    std::lock_guard lock(m_stateMutex);
    return m_serial.current();
}

ShownPosition PlaybackPipeline::shown() const
{
    std::lock_guard lock(m_stateMutex);
    return m_shown;
}

ScanSpeed PlaybackPipeline::speed() const
{
    std::lock_guard lock(m_stateMutex);
    return m_speed;
}

StreamSummary PlaybackPipeline::streams() const
{
    std::lock_guard lock(m_stateMutex);
    return m_shownStreams;
}

int PlaybackPipeline::currentButton() const
{
    return m_highlightButton.load();
}

void PlaybackPipeline::report(PipelineEvent event)
{
    if (m_letGo.load())
        return;
    if (event.serial < 0)
        event.serial = currentSerial();
    if (m_handler)
        m_handler(event);
}

// ---------------------------------------------------------------------------
// Serials, commands and positions

int PlaybackPipeline::flushLocked(std::int64_t target90k, ScanSpeed speed)
{
    const int serial = m_serial.advance();
    m_seekTarget = target90k;
    m_speed = speed;
    m_shown.valid = false;
    m_shownUnit.reset();
    m_ownJump = true;
    m_command.notify_all();
    m_ended = false;
    return serial;
}

void PlaybackPipeline::post(CommandQueue::Command command, std::optional<Flush> flush,
                            std::optional<NavPosition> foresee, int coalesceKey)
{
    std::lock_guard lock(m_stateMutex);
    if (m_commands.size() >= CommandQueue::Capacity)
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("The disc does not answer"));
    if (flush)
        flushLocked(flush->target90k, flush->speed);
    if (foresee) {
        m_foreseen = *foresee;
        m_foreseen.serial = m_serial.current();
    } else if (flush) {
        m_foreseen.serial = -1; // unknown until the navigator has run it
    }
    m_commands.post(std::move(command), coalesceKey);
    m_command.notify_all();
}

PlaybackPipeline::NavPosition PlaybackPipeline::positionLocked() const
{
    const int serial = m_serial.current();
    if (m_navPosition.serial != serial && m_foreseen.serial == serial)
        return m_foreseen; // the navigator has not run the jumps posted since
    return m_navPosition;
}

void PlaybackPipeline::navigatorPosition(int *title, int *chapter, bool *inTitle) const
{
    NavPosition now;
    {
        std::lock_guard lock(m_stateMutex);
        now = positionLocked();
    }
    if (title)
        *title = now.inTitle ? now.title : 0;
    if (chapter)
        *chapter = now.inTitle ? now.chapter : 0;
    if (inTitle)
        *inTitle = now.inTitle && now.title > 0;
}

bool PlaybackPipeline::titleOnScreen(int *title, int *chapter) const
{
    // What the user sees counts, not where the navigator reads ahead: it may
    // be in the next chapter, or already past the title's end in a menu.
    std::lock_guard lock(m_stateMutex);
    if (m_shown.valid && m_shown.title > 0) {
        *title = m_shown.title;
        *chapter = m_shown.chapter;
        return true;
    }
    const NavPosition now = positionLocked();
    if (!now.inTitle || now.title <= 0)
        return false;
    *title = now.title;
    *chapter = now.chapter;
    return true;
}

} // namespace velmora::core
