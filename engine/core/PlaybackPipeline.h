#pragma once
// The playback machinery under the engine: the navigation thread, the
// demultiplexer, the video thread with its decoder, and the master clock.
//
//   navigation thread   loops on dvdnav_get_next_block, handles every event,
//                       demultiplexes data blocks, feeds the audio player and
//                       the video queue. NAV packets travel through the video
//                       queue with the data, so the time and highlight of what
//                       is on screen come from the unit being shown.
//   video thread        decodes, deinterlaces, waits for each picture's time
//                       on the master clock (the audio clock while sound
//                       plays, else the system clock), drops late pictures,
//                       hands each picture as decoded to the output, which scales it.
//   audio thread        inside AudioPlayer (engine/audio).
//
// Time stamps on a DVD restart at every loop of a menu and jump at cell
// boundaries; the navigation thread rebases them onto one continuous
// timeline (90 kHz) before anything downstream sees them. Every seek, jump
// and menu call flushes the queues under a new serial, and each serial has
// one speed: normal, every frame at 0.5 or 2 times on the system clock
// without sound, or a key-frame scan, where the navigation thread searches
// the title one step at a time (a flush per step) and the video thread
// decodes only intra pictures and shows the first of each step at once.
//
// Commands: the control thread never calls libdvdnav. Every operation that
// acts on the disc checks what it can at once (from what is on screen, the
// navigator's last published position and the disc information read at
// open) and throws there; then it starts the new serial, when it changes
// what plays, and posts the libdvdnav part to the navigation thread, which
// runs it between blocks (or in the middle of a still, a drain or a wait for
// room). What the disc refuses only then comes back as a Refused event.
//
// Threads: construct, start(), stop(), the navigation commands and
// setPaused() on one control thread (the engine's UI thread); none of them
// waits on the disc. The read-only queries may be called from any thread.
// The event handler is called on the engine's threads (navigation or video),
// never under a pipeline lock; it must not call back into the pipeline's
// control functions.
//
// Ownership: borrows the navigator, the video output, the audio player and
// the overlay; they must outlive the pipeline (stop() is enough). A pipeline
// whose navigation thread stop() had to let go is handed, with the navigator
// and the overlay, to that thread (leaveBehind()).

#include "engine/core/BoundedQueue.h"
#include "engine/core/CommandQueue.h"
#include "engine/core/FlushSerial.h"
#include "engine/core/PictureOverlay.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/core/ScanPlan.h"
#include "engine/nav/StreamSummary.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace velmora {
class AudioPlayer;
namespace video { class VideoOutput; }
}

namespace velmora::core {

struct VideoItem;
struct NavUnit;

struct PipelineEvent
{
    enum class Kind {
        Time,            // a unit's first picture is on screen: titleTime90k
        TitleChange,     // the picture on screen belongs to another title (title; 0 = a menu)
        ChapterStart,    // ... to another chapter
        TitleInfo,       // title, title set or streams changed
        FirstPicture,    // the first picture after start or a flush
        Still,           // a still began (still seconds in chapter; 255 = until the user acts)
        Ended,           // the disc's playback ended (STOP)
        Error,           // playback ended with an error (code, message)
        Note,            // something passing went wrong; playback goes on (message)
        Refused,         // the disc refused a command; playback goes on (code, message)
    };
    Kind kind = Kind::Time;
    int title = 0;
    int chapter = 0;
    std::int64_t titleTime90k = 0;
    int framesPerSecond = 25;
    std::int32_t code = 0;
    QString message;
    int serial = -1;      // the flush generation the event belongs to (see currentSerial())
};

// What is on screen now, as far as the video thread has shown it.
struct ShownPosition
{
    bool valid = false;       // something has been shown since start or the last flush
    int title = 0;            // 0 in menus
    int chapter = 0;
    std::int64_t titleTime90k = 0;
    int framesPerSecond = 25;
    bool wide = false;
    std::int64_t timeline90k = 0;
};

class PlaybackPipeline
{
public:
    struct Options
    {
        bool paced = true;            // false: as fast as the machine goes (tools)
        int decoderThreads = 0;       // 0: automatic
        bool deinterlace = true;
        bool endOnInfiniteStill = false; // tools: an infinite still ends playback
    };
    using EventHandler = std::function<void(const PipelineEvent &)>;

    PlaybackPipeline(nav::DvdNavigator &navigator, video::VideoOutput *video, AudioPlayer *audio, Options options,
                     EventHandler handler);
    ~PlaybackPipeline();
    PlaybackPipeline(const PlaybackPipeline &) = delete;
    PlaybackPipeline &operator=(const PlaybackPipeline &) = delete;

    // Before start(): the subpicture/highlight hook (may stay null).
    void setOverlay(PictureOverlay *overlay) { m_overlay = overlay; }

    // Starts the threads; playback goes on from wherever the navigator stands
    // (the disc's first-play program for a fresh one). Throws
    // EngineError(NoDecoder) when the MPEG-2 decoder is missing.
    void start();
    // Joins every thread (within about 50 ms). Idempotent. Should the
    // navigation thread be stuck inside libdvdnav (a read a failing drive
    // retries for seconds; a disc whose program jumps in a circle without
    // playing anything spins inside the library), which we cannot
    // interrupt, it is let go after NavigatorAnswerMs and abandoned() turns
    // true: the owner must then not destroy the pipeline, the navigator or
    // the overlay itself, but hand them to leaveBehind().
    void stop();
    bool isRunning() const { return m_running; }
    bool abandoned() const { return m_abandoned; }

    // What a navigation thread that was let go may still use.
    struct LeftBehind
    {
        std::unique_ptr<PlaybackPipeline> pipeline;
        std::unique_ptr<PictureOverlay> overlay;
        std::unique_ptr<nav::DvdNavigator> navigator;
    };
    // Control thread, after stop(): destroys the pipeline, then the overlay,
    // then the navigator (closing the disc's files). When the pipeline was
    // abandoned, its navigation thread does that as its very last act, as
    // soon as its libdvdnav call comes back; when that thread has ended
    // already, it is done at once, on the caller's thread. Never waits. A
    // libdvdnav call that never comes back keeps them for good (a leak, not
    // a crash or a hang).
    static void leaveBehind(LeftBehind leftovers);
    // Any thread: how long the navigator has been inside one libdvdnav call
    // (0 when not in one). Seconds mean a disc the library loops on.
    std::int64_t navigatorBusyMs() const;
    // How long stop() waits for the navigation thread before letting it go.
    static constexpr int NavigatorAnswerMs = 150;

    void setPaused(bool paused);
    bool isPaused() const { return m_paused.load(); }

    // Before start(): the navigator goes back to the disc's first-play
    // program first (it played before; no need to open the disc again).
    void rewindNavigator();

    // ---- navigation: control thread; throw EngineError when refused ----
    // NotAllowed for a title or menu the disc does not have (or cannot reach
    // from where it is), NotInTitle, ChapterOutOfRange, TimeOutOfRange as
    // named; DeviceError when the navigation thread has not taken the last
    // CommandQueue::Capacity commands (a drive that does not answer).
    void playTitle(int title);
    void playChapter(int title, int chapter);
    // Plays the current title from target (90 kHz title time), showing the
    // first picture at or after it.
    void playAtTime(std::int64_t target90k);
    // Plays title from target (90 kHz title time) wherever the navigator
    // stands, a menu's still included. TimeOutOfRange past the title's end.
    void playTitleAt(int title, std::int64_t target90k);
    void nextChapter();
    void prevChapter();
    void menuCall(int menu);
    // The logical audio stream to play; -1: the navigator's choice.
    void selectAudioStream(int logical) { m_audioChoice = logical; }
    // The logical subpicture stream to show in titles; -1: the navigator's
    // choice. Takes effect with the next picture.
    void selectSubpictureStream(int logical) { m_subpictureChoice = logical; }
    // Ordinary subtitles shown (forced subpictures show either way).
    void setShowSubtitles(bool show) { m_showSubtitles = show; }

    // ---- scanning: control thread ----
    // Normal speed, every frame at 0.5 or 2 times (no sound), or key frames
    // only (forward 4 and up, every backward speed): the navigation thread
    // then searches the title step by step, at least KeyFrameScan's four
    // pictures a second. Changing speed goes on from the picture on screen.
    // Throws NotInTitle for any speed but normal outside a title. A key-frame
    // scan that reaches the title's start plays on normally from there; one
    // that reaches its end plays the last unit normally, so the disc's own
    // command after the title runs.
    void setSpeed(ScanSpeed speed);
    ScanSpeed speed() const;

    // ---- menu buttons: control thread ----
    // They work on the NAV packet of the unit on screen (not the one the
    // navigator has read ahead to). Positions are in the picture's own
    // coordinates (720x576 or 720x480). The select calls return false when no
    // button is there or none is on screen; activation runs the button's
    // command (usually a jump, which flushes), at most once per NAV packet.
    enum class ButtonMove { Up, Down, Left, Right };
    bool selectButtonAt(int x, int y);
    bool activateButtonAt(int x, int y);
    bool moveButtonSelection(ButtonMove move);
    bool activateSelectedButton();
    // The highlighted button number (1-based), 0 when none.
    int currentButton() const;
    // The streams of the title or menu on screen (empty before the first picture).
    StreamSummary streams() const;

    // ---- any thread ----
    // Bumped by every flush; events of an older serial describe what was
    // shown before the last seek or jump.
    int currentSerial() const;
    ShownPosition shown() const;
    // Where the navigator reads now (as it last published it, or where the
    // commands posted since take it): title (0 outside titles) and chapter.
    void navigatorPosition(int *title, int *chapter, bool *inTitle) const;
    // Frames shown, dropped late, decoded (for tools and tests).
    int framesShown() const { return m_framesShown.load(); }
    int framesDropped() const { return m_framesDropped.load(); }
    bool ended() const { return m_ended.load(); }
    // Pictures presented while sound of their serial was playing, and how
    // many of them were within SyncToleranceMs of the audio clock.
    static constexpr int SyncToleranceMs = 20;
    int syncMeasured() const { return m_syncMeasured.load(); }
    int syncWithinTolerance() const { return m_syncWithin.load(); }

private:
    struct NavState;
    struct VideoState;
    // Where the navigator stands, published by the navigation thread after
    // every jump and every new unit, or foreseen by the control thread for
    // the jumps it posted (serial: the serial it belongs to).
    struct NavPosition
    {
        int serial = -1;
        int title = 0;            // 0 outside titles
        int chapter = 0;
        bool inTitle = false;
        bool firstPlay = true;    // nothing read yet: no menu can be called
        int titleSet = 0;         // the title set whose menus a menu call reaches, 0 none
    };

    // ---- control thread (PlaybackPipeline.cpp, NavigationCommands.cpp) ----
    // State lock held: a new serial; the video thread hides pictures before
    // target (title time, -1 for none); the new serial plays at speed.
    int flushLocked(std::int64_t target90k, ScanSpeed speed = ScanSpeed::normal());
    // Posts command for the navigation thread; with flush, a new serial
    // starts in the same step (see flushLocked), so the navigation thread
    // runs the command before it reads anything under the new serial.
    // Throws DeviceError when the queue is full.
    // foresee: where the command takes the navigator (for the checks of the
    // commands that follow before the navigation thread has run it).
    struct Flush { std::int64_t target90k = -1; ScanSpeed speed = ScanSpeed::normal(); };
    void post(CommandQueue::Command command, std::optional<Flush> flush,
              std::optional<NavPosition> foresee = std::nullopt, int coalesceKey = 0);
    // The title and chapter on screen, else where the navigator stands; false outside titles.
    bool titleOnScreen(int *title, int *chapter) const;
    // State lock held: the navigator's position for the current serial.
    NavPosition positionLocked() const;
    // Posts a seek within title to target, at speed.
    void postSeek(int title, std::int64_t target90k, ScanSpeed speed);

    // ---- navigation thread (NavigationLoop.cpp) ----
    void navLoop();
    // Runs the commands taken from the queue; a refusal becomes a Refused event.
    void runCommands(std::deque<CommandQueue::Command> commands);
    // State lock held by lock: runs what is pending (commands posted without
    // a flush) with the lock released. False when nothing was pending.
    bool runPendingLocked(std::unique_lock<std::mutex> &lock);
    // Publishes where the navigator stands, for serial.
    void publishPosition(int serial);
    // The title and chapter the navigator is in; false outside titles.
    bool navigatorTitle(int *title, int *chapter) const;
    // A refusal: the Refused event, with libdvdnav's reason.
    void refuse(const QString &what);
    // At a NAV packet of unitTitle (0 outside titles): the pending time search, if any.
    void runPendingSeek(int unitTitle);
    // Jumps with libdvdnav's call; the still of the place left behind is passed by.
    template <class F> void jumpNow(const char *what, F &&call);
    // Seeks in title to target (the navigator may first go back into the title).
    void seekNow(int title, std::int64_t target90k);
    // Pushes an item, waiting for room while the serial holds.
    bool pushVideo(VideoItem &&item, int serial, std::size_t cost);
    // A read failed (a sector that cannot be read, ReadErrors.cpp): moves the
    // navigator on to the next unit, or ends playback when the hole is too
    // long or nothing follows it.
    void passUnreadable(NavState &s, int serial);
    // Ends playback saying what could not be read; waits for a command.
    void endUnreadable(NavState &s, int serial);
    // Title time of a sector of the current program chain (of sectors), from the last unit read.
    std::int64_t navigatorTicks(const NavState &s, std::int64_t sector, std::int64_t sectors) const;
    // Sends a drain marker and waits until the video thread has shown everything before it.
    bool drainVideo(int serial);
    // Waits (up to timeout) until the queued sound has been heard.
    void drainAudio(int serial, std::chrono::milliseconds timeout);
    // Waits until the serial changes, stop, or timeout (<0: forever),
    // running commands posted meanwhile. True when the serial changed or stop.
    bool waitForCommand(int serial, int timeoutMs);
    // A timed still: waits ms of unpaused time, running commands meanwhile.
    // True when the serial changed or stop.
    bool holdStill(int serial, int ms);
    // One step of a key-frame scan (a time search and a flush), or its end at an edge of the title.
    void scanStep(NavState &s);
    // Back to normal speed; seeks to target first when it is not negative.
    void endScan(std::int64_t target90k);
    // Remembers the navigator's highlighted button and has the picture on screen drawn again with it.
    void highlightChanged();

    // ---- video thread (Presentation.cpp) ----
    void videoLoop();
    // What to draw over a picture of this unit.
    OverlayFrame overlayFrame(const std::shared_ptr<const NavUnit> &unit, QSize codedSize, bool wide,
                              std::int64_t pts, ScanSpeed speed) const;

    // Any thread.
    void report(PipelineEvent event);
    // The pipeline first (it borrows the others), then the overlay, then the navigator.
    static void destroy(LeftBehind &leftovers);

    nav::DvdNavigator &m_navigator;
    video::VideoOutput *m_video;
    AudioPlayer *m_audio;
    PictureOverlay *m_overlay = nullptr;
    const Options m_options;
    EventHandler m_handler;

    // Navigation thread only (set by commands it runs).
    std::optional<KeyFrameScan> m_scanPlan; // the key-frame scan under way
    int m_scanTitle = 0;          // the title it scans
    bool m_staleStill = false;    // jumped: a still before the new place's first NAV packet is the old one
    int m_lastTitleSet = 0;       // the last title set the navigator entered (its menus are reachable)
    // A time search libdvdnav refused right after a title jump (it still
    // stood in the still it left): run at the title's first NAV packet.
    // Any command run later drops it.
    struct PendingSeek { int title = 0; std::int64_t target90k = 0; };
    std::optional<PendingSeek> m_pendingSeek;

    std::unique_ptr<BoundedQueue<VideoItem>> m_videoQueue;

    // m_stateMutex guards the fields below; m_command is signalled on every
    // flush, posted command, stop, and when the video thread acknowledges a
    // drain. Lock order: m_stateMutex, then a queue's or the sound player's
    // own lock. No libdvdnav call is ever made under it.
    mutable std::mutex m_stateMutex;
    FlushSerial m_serial;                            // the serial and its followers
    CommandQueue m_commands;
    std::shared_ptr<const NavUnit> m_shownUnit;      // the unit of the picture on screen
    std::shared_ptr<const NavUnit> m_activatedUnit;  // the unit whose button last ran
    std::condition_variable m_command;
    std::int64_t m_seekTarget = -1;   // title time to show first, for the current serial
    ScanSpeed m_speed = ScanSpeed::normal(); // the speed of the current serial
    StreamSummary m_shownStreams;     // the streams of the unit on screen
    bool m_ownJump = false;           // the next HOP_CHANNEL is a jump we flushed for
    bool m_stopRequested = false;
    int m_drainRequested = 0;         // id of the last drain marker sent
    int m_drainDone = 0;              // id of the last drain marker the video thread finished
    ShownPosition m_shown;
    NavPosition m_navPosition;        // published by the navigation thread
    NavPosition m_foreseen;           // where the jumps posted for the current serial lead
    // Handed over by leaveBehind() while the navigation thread was still out;
    // it takes them as it ends (after it set m_navExited, under this lock).
    std::unique_ptr<LeftBehind> m_leftBehind;

    std::atomic<bool> m_paused{false};
    std::atomic<int> m_audioChoice{-1};       // logical audio stream chosen by the user, -1 none
    std::atomic<int> m_subpictureChoice{-1};  // logical, -1: the navigator's
    std::atomic<bool> m_showSubtitles{true};
    std::atomic<int> m_highlightButton{0};    // the highlighted button as far as anyone knows, 0 none
    std::atomic<int> m_drawnButton{0};        // the button the picture on screen was drawn with
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_framesShown{0};
    std::atomic<int> m_framesDropped{0};
    std::atomic<int> m_audioFedSerial{-1};   // the serial sound was last queued for
    std::atomic<int> m_syncMeasured{0};
    std::atomic<int> m_syncWithin{0};
    bool m_running = false;           // control thread only
    bool m_abandoned = false;         // control thread only
    std::atomic<bool> m_navExited{false}; // set under m_stateMutex: the navigation thread is done with us
    std::atomic<bool> m_letGo{false}; // the navigation thread was abandoned: it touches nothing more
    std::atomic<std::int64_t> m_navCallSince{0}; // steady-clock ms when the current libdvdnav call began, 0 none
    std::thread m_navThread;
    std::thread m_videoThread;
};

} // namespace velmora::core
