#include "PlaybackPipeline.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/core/PictureOverlay.h"
#include "engine/demux/PsDemuxer.h"
#include "engine/spu/ButtonHighlight.h"
#include "engine/spu/SubpictureTimeline.h"
#include "engine/video/FrameScaler.h"
#include "engine/video/VideoDecoder.h"
#include "engine/video/VideoOutput.h"

#include <QLoggingCategory>

#include <dvdnav/dvdnav.h>
#include <dvdread/nav_types.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <deque>
#include <vector>

Q_LOGGING_CATEGORY(lcPipeline, "velmora.pipeline", QtWarningMsg)

// Exported by libdvdnav 6.1 but missing from its header. Only mode 0 works.
extern "C" dvdnav_status_t dvdnav_jump_to_sector_by_time(dvdnav_t *self, uint64_t time_in_pts_ticks, int32_t mode);

namespace velmora::core {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A still or end holds the picture; the navigation thread waits at most this
// long for the video thread to show what is queued before it goes on anyway.
constexpr auto DrainTimeout = 3000ms;
// Events without a single data block before we give up on a disc that loops
// through empty program chains.
constexpr int NoDataEventLimit = 4000;
// A picture later than this on the master clock is dropped, not shown.
constexpr std::int64_t LateDropTicks = 90000 / 10; // 100 ms
// Waiting for a picture's time, the video thread looks up at least this often
// (pause, flush, stop).
constexpr std::int64_t WaitSliceTicks = 90000 / 100; // 10 ms
// Video queue: about 2 s of a DVD's top rate; enough to stay ahead of sound.
constexpr std::size_t VideoQueueItems = 4096;
constexpr std::size_t VideoQueueBytes = 3 * 1024 * 1024;
// ... and at most this many units (0.4-1 s each) ahead of the picture on
// screen: the navigator must not run far ahead of what the user sees (a
// chapter skip counts from the chapter on screen, and the title may end).
constexpr std::size_t VideoQueueUnits = 3;
// The first picture shows at once; the next ones wait this long at most for
// the sound to start (a sound server takes a few hundred milliseconds), so
// picture and sound start together instead of the picture running ahead.
constexpr auto AudioStartWait = 600ms;
// Seeks decode from the unit before the target: the unit at the target may
// open with pictures that refer to the one before it.
constexpr std::int64_t SeekLeadTicks = 90000 / 2;
// A key-frame scan that runs into the title's end plays this much of it
// normally, so the title ends (and its command after it runs) as on a disc played through.
constexpr std::int64_t ScanEndPlayTicks = 90000;

std::int64_t wallTicks()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count() * 9 / 100;
}

std::int64_t ticksSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t).count() * 9 / 100;
}

} // namespace

// One NAV packet's worth of context for the pictures of its unit.
struct NavUnit
{
    std::int64_t timelineStart = 0;   // vobu_s_ptm on our timeline
    std::int64_t timelineEnd = 0;
    std::int64_t titleTime90k = 0;    // title (or menu) time at the unit's start
    int title = 0;                    // 0 in menus
    int chapter = 0;
    int framesPerSecond = 25;
    bool wide = false;
    int codedHeight = 576;
    int titleSet = 0;
    int domain = 0;
    pci_t pci{};
    std::shared_ptr<const StreamSummary> streams; // the program chain's streams
    int navigatorSubpicture = -1;     // physical stream the navigator shows, -1 none
};

struct VideoItem
{
    // Repaint: draw the picture on screen again (the highlight changed).
    enum class Kind { Data, Unit, Subpicture, Clut, Drain, Repaint } kind = Kind::Data;
    int serial = 0;                   // the flush generation it was read under
    std::vector<std::uint8_t> bytes;
    std::int64_t pts = -1;            // timeline, -1 for none
    std::int64_t dts = -1;
    int id = 0;                       // subpicture stream; drain marker id
    std::shared_ptr<const NavUnit> unit;
};

PlaybackPipeline::PlaybackPipeline(nav::DvdNavigator &navigator, video::VideoOutput *video, AudioPlayer *audio,
                                   Options options, EventHandler handler)
    : m_navigator(navigator), m_video(video), m_audio(audio), m_options(options), m_handler(std::move(handler)),
      m_videoQueue(std::make_unique<BoundedQueue<VideoItem>>(VideoQueueItems, VideoQueueBytes, VideoQueueUnits))
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
    }
    m_ended = false;
    m_navExited = false;
    m_running = true;
    m_videoThread = std::thread([this] { videoLoop(); });
    m_navThread = std::thread([this] {
        navLoop();
        m_navExited = true;
    });
}

std::int64_t PlaybackPipeline::navigatorBusyMs() const
{
    const std::int64_t since = m_navCallSince.load();
    if (since == 0)
        return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count() - since;
}

std::unique_lock<std::mutex> PlaybackPipeline::tryLockNavigator() const
{
    // Polled rather than a timed mutex: the navigation thread holds the lock
    // only for one block at a time, so a free moment comes within microseconds
    // unless libdvdnav is stuck.
    std::unique_lock lock(m_navMutex, std::try_to_lock);
    const auto deadline = Clock::now() + std::chrono::milliseconds(NavigatorAnswerMs);
    while (!lock && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        lock.try_lock();
    }
    return lock;
}

std::unique_lock<std::mutex> PlaybackPipeline::lockNavigator() const
{
    std::unique_lock lock = tryLockNavigator();
    if (!lock)
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("The disc does not answer"));
    return lock;
}

void PlaybackPipeline::stop()
{
    if (!m_running)
        return;
    {
        std::lock_guard lock(m_stateMutex);
        m_stopRequested = true;
        m_command.notify_all();
    }
    m_videoQueue->abort();
    if (m_audio)
        m_audio->flush(m_serial + 1000); // releases a feeding thread waiting for room
    m_videoThread.join();
    const auto deadline = Clock::now() + std::chrono::milliseconds(NavigatorAnswerMs);
    while (!m_navExited.load() && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    if (m_navExited.load()) {
        m_navThread.join();
    } else {
        // Spinning inside libdvdnav: nothing can stop it. Let it go rather
        // than hang the caller; the owner keeps what it uses alive.
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
    return m_serial;
}

ShownPosition PlaybackPipeline::shown() const
{
    std::lock_guard lock(m_stateMutex);
    return m_shown;
}

void PlaybackPipeline::navigatorPosition(int *title, int *chapter, bool *inTitle) const
{
    if (title)
        *title = 0;
    if (chapter)
        *chapter = 0;
    if (inTitle)
        *inTitle = false;
    std::unique_lock lock = tryLockNavigator();
    if (!lock)
        return;
    int32_t t = 0;
    int32_t c = 0;
    dvdnav_t *nav = m_navigator.handle();
    const bool vts = dvdnav_is_domain_vts(nav);
    if (dvdnav_current_title_info(nav, &t, &c) != DVDNAV_STATUS_OK)
        t = c = 0;
    if (title)
        *title = vts ? t : 0;
    if (chapter)
        *chapter = vts ? c : 0;
    if (inTitle)
        *inTitle = vts && t > 0;
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
// Navigation commands (control thread)

void PlaybackPipeline::flushLocked(std::int64_t target90k, ScanSpeed speed)
{
    int serial = 0;
    if (speed.playsEveryFrame())
        m_scanPlan.reset();
    {
        std::lock_guard lock(m_stateMutex);
        serial = ++m_serial;
        m_seekTarget = target90k;
        m_speed = speed;
        m_ownJump = true;
        m_shown.valid = false;
        m_shownUnit.reset();
        m_command.notify_all();
    }
    m_videoQueue->flush(serial);
    if (m_audio)
        m_audio->flush(serial);
    m_ended = false;
}

template <class F>
void PlaybackPipeline::jump(const char *what, F &&call, std::int64_t target90k)
{
    auto lock = lockNavigator();
    dvdnav_t *nav = m_navigator.handle();
    if (call(nav) != DVDNAV_STATUS_OK)
        throw EngineError(ErrorCode::NotAllowed, QStringLiteral("%1: %2").arg(QLatin1String(what), m_navigator.lastError()));
    // libdvdnav keeps a pending still across a jump (also one it has not
    // reported yet, at a cell's end): the new place opens with the old
    // still, which the navigation thread then passes by.
    m_staleStill = true;
    flushLocked(target90k);
}

void PlaybackPipeline::playTitle(int title)
{
    jump("Title play", [title](dvdnav_t *nav) { return dvdnav_title_play(nav, title); }, -1);
}

void PlaybackPipeline::playChapter(int title, int chapter)
{
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (!info || chapter < 1 || chapter > info->chapterStarts90k.size())
        throw EngineError(ErrorCode::ChapterOutOfRange, QStringLiteral("No chapter %1 in title %2").arg(chapter).arg(title));
    // Hide any picture an open group of pictures shows before the chapter's first.
    const std::int64_t start = info->chapterStarts90k[chapter - 1];
    jump("Chapter play", [&](dvdnav_t *nav) { return dvdnav_part_play(nav, title, chapter); },
         std::max<std::int64_t>(0, start - 90000 / 50));
}

bool PlaybackPipeline::currentTitleLocked(int *title, int *chapter) const
{
    dvdnav_t *nav = m_navigator.handle();
    int32_t t = 0;
    int32_t c = 0;
    const bool vts = dvdnav_is_domain_vts(nav);
    const dvdnav_status_t status = dvdnav_current_title_info(nav, &t, &c);
    if (!vts || status != DVDNAV_STATUS_OK || t <= 0)
        return false;
    *title = t;
    *chapter = c;
    return true;
}

bool PlaybackPipeline::titleOnScreenLocked(int *title, int *chapter) const
{
    // What the user sees counts, not where the navigator reads ahead: it may
    // be in the next chapter, or already past the title's end in a menu.
    const ShownPosition now = shown();
    if (now.valid && now.title > 0) {
        *title = now.title;
        *chapter = now.chapter;
        return true;
    }
    return currentTitleLocked(title, chapter);
}

void PlaybackPipeline::playAtTime(std::int64_t target90k)
{
    auto lock = lockNavigator();
    int title = 0;
    int chapter = 0;
    if (!titleOnScreenLocked(&title, &chapter))
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Not playing a title"));
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (!info || target90k < 0 || target90k >= info->duration90k)
        throw EngineError(ErrorCode::TimeOutOfRange, QStringLiteral("The time is past the end of the title"));
    seekLocked(title, target90k, ScanSpeed::normal());
}

void PlaybackPipeline::seekLocked(int title, std::int64_t target90k, ScanSpeed speed)
{
    dvdnav_t *nav = m_navigator.handle();
    const std::uint64_t searchAt = std::uint64_t(std::max<std::int64_t>(0, target90k - SeekLeadTicks));
    int navTitle = 0;
    int navChapter = 0;
    if (!currentTitleLocked(&navTitle, &navChapter) || navTitle != title) {
        // The navigator has read past the title on screen (into the menu the
        // title ends in, perhaps a still): back into the title first.
        dvdnav_still_skip(nav);
        if (dvdnav_title_play(nav, title) != DVDNAV_STATUS_OK)
            throw EngineError(ErrorCode::NotAllowed, QStringLiteral("Title play: %1").arg(m_navigator.lastError()));
    }
    if (dvdnav_time_search(nav, searchAt) != DVDNAV_STATUS_OK)
        throw EngineError(ErrorCode::TimeOutOfRange, QStringLiteral("Time search: %1").arg(m_navigator.lastError()));
    flushLocked(target90k, speed);
}

void PlaybackPipeline::nextChapter()
{
    auto lock = lockNavigator();
    dvdnav_t *nav = m_navigator.handle();
    int title = 0;
    int chapter = 0;
    if (!titleOnScreenLocked(&title, &chapter))
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Not playing a title"));
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (!info || chapter >= info->chapterStarts90k.size())
        throw EngineError(ErrorCode::ChapterOutOfRange, QStringLiteral("This is the last chapter"));
    if (dvdnav_part_play(nav, title, chapter + 1) != DVDNAV_STATUS_OK)
        throw EngineError(ErrorCode::NotAllowed, QStringLiteral("Next chapter: %1").arg(m_navigator.lastError()));
    flushLocked(std::max<std::int64_t>(0, info->chapterStarts90k[chapter] - 90000 / 50));
}

void PlaybackPipeline::prevChapter()
{
    auto lock = lockNavigator();
    dvdnav_t *nav = m_navigator.handle();
    int title = 0;
    int chapter = 0;
    if (!titleOnScreenLocked(&title, &chapter))
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Not playing a title"));
    const nav::TitleInfo *info = m_navigator.info().title(title);
    const int target = std::max(1, chapter - 1);
    if (!info || target > info->chapterStarts90k.size())
        throw EngineError(ErrorCode::ChapterOutOfRange, QStringLiteral("No previous chapter"));
    if (dvdnav_part_play(nav, title, target) != DVDNAV_STATUS_OK)
        throw EngineError(ErrorCode::NotAllowed, QStringLiteral("Previous chapter: %1").arg(m_navigator.lastError()));
    flushLocked(std::max<std::int64_t>(0, info->chapterStarts90k[target - 1] - 90000 / 50));
}

void PlaybackPipeline::menuCall(int menu)
{
    jump("Menu", [menu](dvdnav_t *nav) { return dvdnav_menu_call(nav, DVDMenuID_t(menu)); }, -1);
}

void PlaybackPipeline::selectAudioStream(int logical)
{
    auto lock = lockNavigator();
    m_audioChoice = logical;
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

void PlaybackPipeline::setSpeed(ScanSpeed speed)
{
    auto lock = lockNavigator();
    int title = 0;
    int chapter = 0;
    const bool inTitle = titleOnScreenLocked(&title, &chapter);
    if (!inTitle && !speed.isNormal())
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Scanning needs a title"));
    const ShownPosition now = shown();
    const nav::TitleInfo *info = m_navigator.info().title(title);
    std::int64_t position = 0;
    if (now.valid && now.title == title) {
        position = now.titleTime90k;
    } else {
        // Nothing shown since the last seek: go on from where it aims.
        std::lock_guard state(m_stateMutex);
        position = std::max<std::int64_t>(0, m_seekTarget);
    }
    if (info)
        position = std::clamp<std::int64_t>(position, 0, std::max<std::int64_t>(0, info->duration90k - 1));
    if (!inTitle || !info) {
        // Normal speed outside a title: nothing to restart.
        m_scanPlan.reset();
        std::lock_guard state(m_stateMutex);
        m_speed = speed;
        return;
    }
    if (!speed.playsEveryFrame()) {
        flushLocked(-1, speed); // the navigation thread takes the first step at once
        // The plan's end stops short of the title's last unit, which plays normally.
        m_scanPlan.emplace(speed, position, std::max<std::int64_t>(0, info->duration90k - ScanEndPlayTicks), wallTicks());
        m_scanTitle = title;
        return;
    }
    // Every frame at the new rate from the picture on screen; sound queued
    // for the old one goes with the flush.
    seekLocked(title, position, speed);
}

// ---------------------------------------------------------------------------
// Menu buttons (control thread)

namespace {
// libdvdnav wants a mutable PCI; ours is the shown unit's copy.
template <class F>
bool withShownPci(const std::shared_ptr<const NavUnit> &unit, F &&call)
{
    if (!unit || unit->pci.hli.hl_gi.hli_ss == 0)
        return false; // no buttons in this unit
    pci_t pci = unit->pci;
    return call(&pci) == DVDNAV_STATUS_OK;
}
} // namespace

bool PlaybackPipeline::selectButtonAt(int x, int y)
{
    auto lock = lockNavigator();
    std::shared_ptr<const NavUnit> unit;
    {
        std::lock_guard state(m_stateMutex);
        unit = m_shownUnit;
    }
    // Outside every button libdvdnav fails (with a misleading "Bad VM state."): nothing happens.
    if (!unit || buttonAt(unit->pci, x, y) == 0)
        return false;
    if (!withShownPci(unit, [&](pci_t *pci) { return dvdnav_mouse_select(m_navigator.handle(), pci, x, y); }))
        return false;
    highlightChangedLocked();
    return true;
}

void PlaybackPipeline::highlightChangedLocked()
{
    int32_t button = 0;
    if (dvdnav_get_current_highlight(m_navigator.handle(), &button) != DVDNAV_STATUS_OK)
        button = 0;
    if (m_highlightButton.exchange(button) == button)
        return;
    // A still menu shows no new picture: have the one on screen drawn again.
    VideoItem item;
    item.kind = VideoItem::Kind::Repaint;
    item.serial = currentSerial();
    m_videoQueue->push(item, item.serial, 0, false, 0ms);
}

bool PlaybackPipeline::moveButtonSelection(ButtonMove move)
{
    auto lock = lockNavigator();
    std::shared_ptr<const NavUnit> unit;
    {
        std::lock_guard state(m_stateMutex);
        unit = m_shownUnit;
    }
    dvdnav_t *nav = m_navigator.handle();
    const bool moved = withShownPci(unit, [&](pci_t *pci) {
        switch (move) {
        case ButtonMove::Up: return dvdnav_upper_button_select(nav, pci);
        case ButtonMove::Down: return dvdnav_lower_button_select(nav, pci);
        case ButtonMove::Left: return dvdnav_left_button_select(nav, pci);
        case ButtonMove::Right: return dvdnav_right_button_select(nav, pci);
        }
        return DVDNAV_STATUS_ERR;
    });
    if (!moved)
        return false;
    highlightChangedLocked();
    // A button in auto-action mode runs its command as soon as it is
    // selected: libdvdnav has done so, and this NAV packet is spent.
    const int button = m_highlightButton.load();
    if (button >= 1 && button <= buttonCount(unit->pci) && unit->pci.hli.btnit[button - 1].auto_action_mode == 1) {
        {
            std::lock_guard state(m_stateMutex);
            m_activatedUnit = unit;
        }
        flushLocked(-1);
    }
    return true;
}

bool PlaybackPipeline::activateButtonAt(int x, int y)
{
    auto lock = lockNavigator();
    std::shared_ptr<const NavUnit> unit;
    {
        std::lock_guard state(m_stateMutex);
        if (m_shownUnit && m_shownUnit == m_activatedUnit)
            return false; // this NAV packet's button has run already
        unit = m_shownUnit;
    }
    if (!unit || buttonAt(unit->pci, x, y) == 0)
        return false; // a click outside every button does nothing
    if (!withShownPci(unit, [&](pci_t *pci) { return dvdnav_mouse_activate(m_navigator.handle(), pci, x, y); }))
        return false;
    {
        std::lock_guard state(m_stateMutex);
        m_activatedUnit = unit;
    }
    flushLocked(-1);
    return true;
}

bool PlaybackPipeline::activateSelectedButton()
{
    auto lock = lockNavigator();
    std::shared_ptr<const NavUnit> unit;
    {
        std::lock_guard state(m_stateMutex);
        if (m_shownUnit && m_shownUnit == m_activatedUnit)
            return false;
        unit = m_shownUnit;
    }
    if (!withShownPci(unit, [&](pci_t *pci) { return dvdnav_button_activate(m_navigator.handle(), pci); }))
        return false;
    {
        std::lock_guard state(m_stateMutex);
        m_activatedUnit = unit;
    }
    flushLocked(-1);
    return true;
}

int PlaybackPipeline::currentButton() const
{
    std::unique_lock lock = tryLockNavigator();
    if (!lock)
        return 0;
    int32_t button = 0;
    if (dvdnav_get_current_highlight(m_navigator.handle(), &button) != DVDNAV_STATUS_OK)
        return 0;
    return button;
}

// ---------------------------------------------------------------------------
// Navigation thread

struct PlaybackPipeline::NavState
{
    int serial = -1;
    // Timeline: the disc's time stamps plus offset; the offset changes
    // wherever the stamps jump so the timeline runs on without a break.
    std::int64_t offset = 0;
    bool haveLastEnd = false;
    std::int64_t lastEndPtm = 0;       // disc time stamp where the last unit ended
    std::int64_t timelineEnd = 0;      // our timeline where the last unit ended
    std::shared_ptr<const NavUnit> unit;
    std::int64_t seekTarget = -1;
    // Sound.
    int audioPhysical = -1;
    demux::StreamType audioType = demux::StreamType::Ac3;
    bool audioBroken = false;
    // What the navigator told us.
    bool wide = false;
    int codedHeight = 576;
    int framesPerSecond = 25;
    int titleSet = 0;
    int noDataEvents = 0;
    // The program chain's streams, read again at every event that may change them.
    std::shared_ptr<const StreamSummary> streams = std::make_shared<const StreamSummary>();
    int navigatorSubpicture = -1;
    // Speed of this serial; a key-frame scan reads one unit per step.
    ScanSpeed speed = ScanSpeed::normal();
    bool keyFrames() const { return !speed.playsEveryFrame(); }
    bool soundOn() const { return speed.soundOn(); }
    bool scanStepDue = false;          // take the next step before reading on
    bool scanUnitSeen = false;         // the step's NAV packet has come
    bool scanUnitRead = false;         // ... and all of its unit: show it, then wait
    Clock::time_point nextStepAt;

    std::int64_t toTimeline(std::int64_t pts) const { return pts < 0 ? -1 : pts + offset; }
    std::int64_t titleTimeOf(std::int64_t timeline) const
    {
        if (!unit || timeline < 0)
            return -1;
        return unit->titleTime90k + (timeline - unit->timelineStart);
    }
};

bool PlaybackPipeline::pushVideo(VideoItem &&item, int serial, std::size_t cost)
{
    item.serial = serial;
    for (;;) {
        if (m_videoQueue->push(item, serial, cost, item.kind == VideoItem::Kind::Unit, 50ms))
            return true;
        std::lock_guard lock(m_stateMutex);
        if (m_stopRequested || m_serial != serial)
            return false;
        // Same serial: the queue was full; the item is intact, try again.
    }
}

void PlaybackPipeline::drainAudio(int serial, std::chrono::milliseconds timeout)
{
    if (!m_audio)
        return;
    // In short steps, so a stop or a jump is never kept waiting.
    for (auto left = timeout; left > 0ms; left -= 20ms) {
        {
            std::lock_guard lock(m_stateMutex);
            if (m_stopRequested || m_serial != serial)
                return;
        }
        if (m_audio->drain(20ms))
            return;
    }
}

bool PlaybackPipeline::waitForCommand(int serial, int timeoutMs)
{
    std::unique_lock lock(m_stateMutex);
    const auto changed = [&] { return m_stopRequested || m_serial != serial; };
    if (timeoutMs < 0) {
        m_command.wait(lock, changed);
        return true;
    }
    return m_command.wait_for(lock, std::chrono::milliseconds(timeoutMs), changed);
}

bool PlaybackPipeline::drainVideo(int serial)
{
    int id = 0;
    {
        std::lock_guard lock(m_stateMutex);
        id = ++m_drainRequested;
    }
    VideoItem item;
    item.kind = VideoItem::Kind::Drain;
    item.id = id;
    if (!pushVideo(std::move(item), serial, 0))
        return false;
    std::unique_lock lock(m_stateMutex);
    return m_command.wait_for(lock, DrainTimeout,
                              [&] { return m_stopRequested || m_serial != serial || m_drainDone >= id; })
           && !m_stopRequested && m_serial == serial;
}

void PlaybackPipeline::scanStepLocked(NavState &s)
{
    if (!m_scanPlan)
        return;
    s.nextStepAt = Clock::now() + std::chrono::microseconds(KeyFrameScan::kPictureInterval * 100 / 9);
    int title = 0;
    int chapter = 0;
    if (!currentTitleLocked(&title, &chapter) || title != m_scanTitle) {
        endScanLocked(s, -1); // the disc has moved on by itself
        return;
    }
    const KeyFrameScan::Target target = m_scanPlan->next(wallTicks());
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (target.edge == KeyFrameScan::Edge::Start) {
        endScanLocked(s, 0);
        return;
    }
    if (target.edge == KeyFrameScan::Edge::End) {
        endScanLocked(s, info ? std::max<std::int64_t>(0, info->duration90k - ScanEndPlayTicks) : -1);
        return;
    }
    if (dvdnav_time_search(m_navigator.handle(), std::uint64_t(target.position)) != DVDNAV_STATUS_OK) {
        qCInfo(lcPipeline, "scan: time search failed: %s", qPrintable(m_navigator.lastError()));
        endScanLocked(s, -1);
        return;
    }
    flushLocked(-1, s.speed);
}

void PlaybackPipeline::endScanLocked(NavState &, std::int64_t target90k)
{
    m_scanPlan.reset();
    if (target90k >= 0) {
        try {
            seekLocked(m_scanTitle, target90k, ScanSpeed::normal());
            return;
        } catch (const EngineError &e) {
            qCInfo(lcPipeline, "scan: cannot play on at the edge: %s", qPrintable(e.message()));
        }
    }
    flushLocked(-1);
}

void PlaybackPipeline::navLoop()
{
    NavState s;
    std::vector<std::uint8_t> block(DVD_VIDEO_LB_LEN);
    const demux::PsDemuxer demuxer;
    dvdnav_t *nav = m_navigator.handle();

    for (;;) {
        int event = 0;
        int length = 0;
        int serial = 0;
        bool newSerial = false;
        dvdnav_status_t status = DVDNAV_STATUS_OK;
        // Filled under the lock for the events that need the navigator's state.
        std::shared_ptr<NavUnit> freshUnit;
        bool ownJump = false;
        std::uint32_t clut[16] = {};
        bool audioChanged = false;
        int wantedPhysical = -1;
        int wantedFormat = -1;
        if (s.scanUnitRead) {
            // A key-frame scan has read its step's unit: show it, then wait for the next step.
            s.scanUnitRead = false;
            drainVideo(s.serial);
            std::unique_lock lock(m_stateMutex);
            while (!m_stopRequested && m_serial == s.serial && (m_paused.load() || Clock::now() < s.nextStepAt))
                m_command.wait_for(lock, 20ms);
            s.scanStepDue = true;
        }
        {
            std::lock_guard navLock(m_navMutex);
            const auto takeSerial = [&] {
                std::lock_guard lock(m_stateMutex);
                if (m_stopRequested)
                    return false;
                serial = m_serial;
                if (serial != s.serial) {
                    newSerial = true;
                    s.seekTarget = m_seekTarget;
                    s.speed = m_speed;
                    s.scanStepDue = s.keyFrames();
                    s.scanUnitSeen = false;
                    s.scanUnitRead = false;
                }
                return true;
            };
            if (!takeSerial())
                return;
            if (s.keyFrames() && s.scanStepDue) {
                s.scanStepDue = false;
                scanStepLocked(s);
                if (!takeSerial())
                    return;
                s.scanStepDue = false;
            }
            m_navCallSince = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
            status = dvdnav_get_next_block(nav, block.data(), &event, &length);
            m_navCallSince = 0;
            m_inStill = status == DVDNAV_STATUS_OK && event == DVDNAV_STILL_FRAME;
            if (m_inStill && m_staleStill && (!s.unit || newSerial)) {
                // The still of the place we jumped away from (no unit of
                // the new place has come yet): not the new place's.
                dvdnav_still_skip(nav);
                m_inStill = false;
                event = DVDNAV_NOP;
            }
            if (event == DVDNAV_NAV_PACKET)
                m_staleStill = false;
            if (status == DVDNAV_STATUS_OK) {
                switch (event) {
                case DVDNAV_NAV_PACKET: {
                    auto unit = std::make_shared<NavUnit>();
                    if (pci_t *pci = dvdnav_get_current_nav_pci(nav))
                        unit->pci = *pci;
                    unit->titleTime90k = std::max<std::int64_t>(0, dvdnav_get_current_time(nav));
                    int32_t t = 0;
                    int32_t c = 0;
                    if (dvdnav_is_domain_vts(nav) && dvdnav_current_title_info(nav, &t, &c) == DVDNAV_STATUS_OK) {
                        unit->title = t;
                        unit->chapter = c;
                    }
                    unit->domain = dvdnav_is_domain_vts(nav) ? DVD_DOMAIN_VTSTitle : DVD_DOMAIN_VMGM;
                    if (buttonCount(unit->pci) > 0) {
                        // An invalid current button is repaired to the first valid one.
                        int32_t current = 0;
                        if (dvdnav_get_current_highlight(nav, &current) != DVDNAV_STATUS_OK)
                            current = 0;
                        const int repaired = repairButton(unit->pci, current);
                        if (repaired != current && repaired > 0
                            && dvdnav_button_select(nav, &unit->pci, repaired) == DVDNAV_STATUS_OK)
                            current = repaired;
                        m_highlightButton = current;
                    }
                    freshUnit = unit;
                    break;
                }
                case DVDNAV_HOP_CHANNEL: {
                    std::lock_guard lock(m_stateMutex);
                    ownJump = m_ownJump;
                    m_ownJump = false;
                    break;
                }
                case DVDNAV_VTS_CHANGE: {
                    s.titleSet = reinterpret_cast<const dvdnav_vts_change_event_t *>(block.data())->new_vtsN;
                    // 0 is 4:3 and 3 is 16:9, whatever the header says.
                    s.wide = dvdnav_get_video_aspect(nav) == 3;
                    uint32_t w = 0;
                    uint32_t h = 0;
                    if (dvdnav_get_video_resolution(nav, &w, &h) == DVDNAV_STATUS_OK && h > 0) {
                        s.codedHeight = int(h);
                        s.framesPerSecond = h == 576 || h == 288 ? 25 : 30;
                    }
                    [[fallthrough]];
                }
                case DVDNAV_CELL_CHANGE:
                case DVDNAV_AUDIO_STREAM_CHANGE: {
                    int logical = m_audioChoice >= 0 ? m_audioChoice : dvdnav_get_active_audio_stream(nav);
                    // Despite its name and header this maps logical to physical.
                    int physical = logical >= 0 ? dvdnav_get_audio_logical_stream(nav, std::uint8_t(logical)) : -1;
                    if (physical < 0) {
                        for (int l = 0; l < 8 && physical < 0; ++l) {
                            physical = dvdnav_get_audio_logical_stream(nav, std::uint8_t(l));
                            if (physical >= 0)
                                logical = l;
                        }
                    }
                    if (physical >= 0) {
                        wantedPhysical = physical & 7;
                        wantedFormat = dvdnav_audio_stream_format(nav, std::uint8_t(logical));
                    }
                    audioChanged = true;
                    break;
                }
                case DVDNAV_SPU_CLUT_CHANGE:
                    std::copy_n(reinterpret_cast<const std::uint32_t *>(block.data()), 16, clut);
                    break;
                default:
                    break;
                }
                if (event == DVDNAV_VTS_CHANGE || event == DVDNAV_CELL_CHANGE || event == DVDNAV_AUDIO_STREAM_CHANGE
                    || event == DVDNAV_SPU_STREAM_CHANGE) {
                    // The program chain (or its stream choice) may have changed.
                    StreamSummary summary = StreamSummary::read(nav);
                    if (summary != *s.streams)
                        s.streams = std::make_shared<const StreamSummary>(std::move(summary));
                    const ActiveSubpicture active = activeSubpicture(dvdnav_get_active_spu_stream(nav));
                    // A menu's buttons live in its one subpicture stream.
                    s.navigatorSubpicture = active.physical >= 0 ? active.physical
                                            : dvdnav_is_domain_vts(nav) ? -1 : 0;
                }
            }
        }

        if (m_letGo.load())
            return; // came back from the library after stop() gave up on it: touch nothing
        if (newSerial) {
            s.serial = serial;
            s.haveLastEnd = false;
            s.unit.reset();
            s.noDataEvents = 0;
        }
        if (status != DVDNAV_STATUS_OK) {
            const QString why = m_navigator.lastError();
            qCWarning(lcPipeline, "navigation failed: %s", qPrintable(why));
            drainVideo(serial);
            m_ended = true;
            report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, ErrorCode::DeviceError,
                                 QStringLiteral("Cannot read the disc: %1").arg(why)});
            waitForCommand(serial, -1);
            continue;
        }

        if (event != DVDNAV_BLOCK_OK && event != DVDNAV_STILL_FRAME && event != DVDNAV_WAIT) {
            if (++s.noDataEvents > NoDataEventLimit) {
                m_ended = true;
                report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, ErrorCode::NotADvd,
                                     QStringLiteral("The disc keeps jumping without playing anything")});
                waitForCommand(serial, -1);
                continue;
            }
        }

        if (audioChanged && m_audio && !s.audioBroken) {
            demux::StreamType type = demux::StreamType::Ac3;
            int streamId = -1;
            switch (wantedFormat) {
            case DVD_AUDIO_FORMAT_AC3: type = demux::StreamType::Ac3; streamId = 0x80 + wantedPhysical; break;
            case DVD_AUDIO_FORMAT_MPEG:
            case DVD_AUDIO_FORMAT_MPEG2_EXT: type = demux::StreamType::MpegAudio; streamId = 0xC0 + wantedPhysical; break;
            case DVD_AUDIO_FORMAT_LPCM: type = demux::StreamType::Lpcm; streamId = 0xA0 + wantedPhysical; break;
            case DVD_AUDIO_FORMAT_DTS: type = demux::StreamType::Dts; streamId = 0x88 + wantedPhysical; break;
            default: break;
            }
            if (streamId < 0) {
                s.audioPhysical = -1;
            } else if (streamId >= 0 && (wantedPhysical != s.audioPhysical || type != s.audioType)) {
                try {
                    if (auto format = AudioFormat::fromStreamId(streamId))
                        m_audio->setFormat(*format);
                    s.audioPhysical = wantedPhysical;
                    s.audioType = type;
                } catch (const EngineError &e) {
                    // Play the picture without sound rather than nothing at all.
                    s.audioBroken = true;
                    s.audioPhysical = -1;
                    report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, e.code(), e.message()});
                }
            }
        }

        switch (event) {
        case DVDNAV_BLOCK_OK: {
            s.noDataEvents = 0;
            demuxer.demux(block.data(), block.size(), [&](const demux::EsPacket &pkt) {
                switch (pkt.type) {
                case demux::StreamType::Video: {
                    VideoItem item;
                    item.kind = VideoItem::Kind::Data;
                    item.bytes.assign(pkt.data, pkt.data + pkt.size);
                    item.pts = s.toTimeline(pkt.pts);
                    item.dts = s.toTimeline(pkt.dts);
                    pushVideo(std::move(item), serial, pkt.size);
                    break;
                }
                case demux::StreamType::Subpicture: {
                    if (!m_overlay || s.keyFrames())
                        break;
                    VideoItem item;
                    item.kind = VideoItem::Kind::Subpicture;
                    item.id = pkt.id;
                    item.bytes.assign(pkt.data, pkt.data + pkt.size);
                    item.pts = s.toTimeline(pkt.pts);
                    pushVideo(std::move(item), serial, pkt.size);
                    break;
                }
                case demux::StreamType::Ac3:
                case demux::StreamType::Dts:
                case demux::StreamType::Lpcm:
                case demux::StreamType::MpegAudio: {
                    if (!m_audio || !s.soundOn() || pkt.type != s.audioType || pkt.id != s.audioPhysical)
                        break;
                    const std::int64_t timeline = s.toTimeline(pkt.pts);
                    // After a seek, sound before the first picture shown is not heard.
                    if (s.seekTarget >= 0 && timeline >= 0) {
                        const std::int64_t titleTime = s.titleTimeOf(timeline);
                        if (titleTime >= 0 && titleTime < s.seekTarget)
                            break;
                        s.seekTarget = -1;
                    }
                    const AudioPacket packet{pkt.data, pkt.size, timeline >= 0 ? timeline : NoPts, serial};
                    for (;;) {
                        if (m_audio->submit(packet, 50ms)) {
                            m_audioFedSerial = serial;
                            break;
                        }
                        std::lock_guard lock(m_stateMutex);
                        if (m_stopRequested || m_serial != serial || !m_audio->isRunning()
                            || m_audio->queuedDuration() < 200ms)
                            break; // refused for good, not for want of room
                    }
                    break;
                }
                case demux::StreamType::NavPci:
                case demux::StreamType::NavDsi:
                    break; // the navigator has parsed them (DVDNAV_NAV_PACKET)
                }
            });
            break;
        }
        case DVDNAV_NAV_PACKET: {
            auto unit = freshUnit;
            if (!unit)
                break;
            if (s.keyFrames()) {
                if (s.scanUnitSeen) {
                    s.scanUnitRead = true; // the step's unit is complete
                    break;
                }
                s.scanUnitSeen = true;
            }
            unit->streams = s.streams;
            unit->navigatorSubpicture = s.navigatorSubpicture;
            const std::int64_t startPtm = unit->pci.pci_gi.vobu_s_ptm;
            const std::int64_t endPtm = unit->pci.pci_gi.vobu_e_ptm;
            if (!s.haveLastEnd || startPtm != s.lastEndPtm) {
                // A discontinuity (a jump, a cell with its own clock, a menu
                // looping): the timeline carries on where the last unit ended.
                s.offset = s.timelineEnd - startPtm;
            }
            s.haveLastEnd = true;
            s.lastEndPtm = endPtm;
            s.timelineEnd = endPtm + s.offset;
            unit->timelineStart = startPtm + s.offset;
            unit->timelineEnd = s.timelineEnd;
            unit->framesPerSecond = s.framesPerSecond;
            unit->wide = s.wide;
            unit->codedHeight = s.codedHeight;
            unit->titleSet = s.titleSet;
            s.unit = unit;
            VideoItem item;
            item.kind = VideoItem::Kind::Unit;
            item.unit = unit;
            pushVideo(std::move(item), serial, 0);
            break;
        }
        case DVDNAV_STILL_FRAME: {
            if (s.keyFrames()) {
                // Scanning passes stills by.
                std::lock_guard navLock(m_navMutex);
                dvdnav_still_skip(nav);
                s.scanUnitRead = true;
                break;
            }
            const auto *still = reinterpret_cast<const dvdnav_still_event_t *>(block.data());
            const int seconds = still->length;
            if (m_audio)
                m_audio->endOfStream(50ms); // the codec parser holds the last frame back
            drainVideo(serial);
            drainAudio(serial, 100ms);
            report(PipelineEvent{PipelineEvent::Kind::Still, 0, 0, 0, 25, seconds, {}});
            bool interrupted = false;
            if (seconds == 0xff) {
                if (m_options.endOnInfiniteStill) {
                    m_ended = true;
                    report(PipelineEvent{PipelineEvent::Kind::Ended, 0, 0, 0, 25, 0, {}});
                }
                interrupted = waitForCommand(serial, -1);
            } else {
                interrupted = waitForCommand(serial, m_options.paced ? seconds * 1000 : 0);
            }
            if (!interrupted) {
                std::lock_guard navLock(m_navMutex);
                std::lock_guard lock(m_stateMutex);
                if (m_serial == serial)
                    dvdnav_still_skip(nav);
            }
            break;
        }
        case DVDNAV_WAIT: {
            if (m_audio)
                m_audio->endOfStream(50ms);
            drainVideo(serial);
            std::lock_guard navLock(m_navMutex);
            std::lock_guard lock(m_stateMutex);
            if (m_serial == serial)
                dvdnav_wait_skip(nav);
            break;
        }
        case DVDNAV_HOP_CHANNEL:
            if (!ownJump) {
                // The disc jumped by itself (end of a title, a menu command):
                // what is queued still belongs on screen; show it first.
                drainVideo(serial);
            }
            s.haveLastEnd = false;
            break;
        case DVDNAV_SPU_CLUT_CHANGE:
            if (m_overlay) {
                VideoItem item;
                item.kind = VideoItem::Kind::Clut;
                item.bytes.assign(reinterpret_cast<const std::uint8_t *>(clut),
                                  reinterpret_cast<const std::uint8_t *>(clut) + sizeof clut);
                pushVideo(std::move(item), serial, 0);
            }
            break;
        case DVDNAV_STOP:
            if (m_audio)
                m_audio->endOfStream(50ms);
            drainVideo(serial);
            drainAudio(serial, 1000ms);
            m_ended = true;
            report(PipelineEvent{PipelineEvent::Kind::Ended, 0, 0, 0, 25, 0, {}});
            waitForCommand(serial, -1);
            break;
        default:
            break;
        }
    }
}

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
    // The picture on screen before anything was drawn over it, to draw again
    // when only the highlight changes (kept only where there are buttons).
    QImage clean;
    video::VideoPicture lastPicture;
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
    video::FrameScaler scaler;

    const auto stopOrStale = [&] {
        std::lock_guard lock(m_stateMutex);
        return m_stopRequested || m_serial != v.serial;
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
        video::VideoPicture picture;
        picture.displaySize = display;
        picture.codedSize = QSize(frame->width, frame->height);
        picture.titleTime90k = titleTime;
        picture.timeline90k = pts;
        picture.title = unit ? unit->title : 0;
        picture.wide = wide;
        const QSize size = m_video ? m_video->pictureSize(display) : QSize();
        if (!size.isEmpty()) {
            picture.image = scaler.scale(frame, size);
            if (m_overlay && !picture.image.isNull()) {
                v.lastFrame = overlayFrame(unit, picture.codedSize, wide, pts, v.speed);
                v.lastFrameUnit = unit;
                v.lastPicture = picture;
                v.clean = v.lastFrame.pci ? picture.image : QImage(); // shared, not copied
                m_overlay->paint(picture.image, v.lastFrame);
            }
            if (!picture.image.isNull())
                m_video->present(picture);
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
            if (m_serial == v.serial) {
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
            serial = m_serial;
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
            v.clean = QImage();
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
            if (m_overlay && !v.clean.isNull() && m_video) {
                // The same picture with the highlight as it is now.
                v.lastFrame = overlayFrame(v.lastFrameUnit, v.lastFrame.codedSize, v.lastFrame.wide,
                                           v.lastFrame.pts90k, v.speed);
                video::VideoPicture picture = v.lastPicture;
                picture.image = v.clean;
                m_overlay->paint(picture.image, v.lastFrame);
                m_video->present(picture);
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
