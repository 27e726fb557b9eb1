#pragma once
// The real DVD engine behind the player: libdvdnav navigation, our own
// demultiplexer, FFmpeg decoding, ALSA sound and a Qt video surface.
//
// Lifecycle and the meaning of Render:
//  - DVDDirectory names the source; setting a different one while a disc is
//    open closes it (playback stops) so the next Play opens the new one.
//  - Render(0) ("before a play") opens the source now if it is not open and
//    prepares the outputs, so the following Play starts at once. It throws
//    the opening error (NoDisc, NotADvd) and shows it on the surface. The
//    source is opened on a worker thread; meanwhile the windows keep
//    painting (a local event loop without user input, a busy cursor).
//    The navigator stays open for Play, and for Play after Stop or after
//    the disc's end (it goes back to the first-play program without
//    reading the disc again).
//  - Render(1) ("after a stop") forgets where playback stopped and releases
//    the source, so the next Play reads the disc afresh from its first-play
//    program (a new disc may be in the drive). While playing it does
//    nothing: the commands always Stop first.
//  - Play opens what is needed (as Render(0) does), starts from the first-play program, resumes
//    after Pause, and after a bare Stop resumes at the title and time where
//    Stop left (Render(1) cancels that).
//  - Stop joins every engine thread, releases the sound device, clears the
//    surface and reports the playback reset.
//
// Threads: every operation is called on the UI thread (the engine's thread)
// and returns promptly. The navigation, video and audio threads report back
// through queued calls, so all three signals are emitted on the UI thread.
//
// Ownership: created by createPlaybackEngine() as a child of the host window;
// its surface is another child of the host, created with it. Destroying the
// engine stops playback first; destroying the surface first stops it too.

#include "engine/DvdEngine.h"
#include "engine/core/OffUiThread.h"
#include "engine/nav/StreamSummary.h"

#include <QPointer>
#include <QTimer>
#include <memory>

namespace velmora {

class AudioPlayer;
namespace nav { class DvdNavigator; class DiscIdentity; }
namespace video { class VideoSurface; }
namespace core { class PlaybackPipeline; class SubpictureCompositor; struct PipelineEvent; }

class PlaybackEngine : public DvdEngine
{
    Q_OBJECT
public:
    explicit PlaybackEngine(QWidget *host);
    ~PlaybackEngine() override;

    void Render(int mode) override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    void PlayAtTime(const QString &timeCode) override;
    void PlayBackwards(double speed) override;
    void PlayForwards(double speed) override;
    void PlayNextChapter() override;
    void PlayPrevChapter() override;
    void ShowMenu(int menu) override;
    void Eject() override;

    int CurrentTitle() override;
    int CurrentChapter() override;
    int TitlesAvailable() override;
    int ChaptersInTitle(int title) override;
    QString TotalTitleTime() override;
    QString TimeCodeToText(std::int32_t timeCode) override;

    int AudioStreamCount() override;
    bool AudioStreamEnabled(int stream) override;
    QString GetAudioLanguage(int stream) override;
    int SubpictureStreamCount() override;
    bool SubpictureStreamEnabled(int stream) override;
    QString GetSubpictureLanguage(int stream) override;
    void SelectAudioStream(int stream) override;
    void SelectSubpictureStream(int stream) override;

    QString DVDDirectory() const override;
    void setDVDDirectory(const QString &path) override;
    bool ShowSubtitles() const override;
    void setShowSubtitles(bool show) override;
    bool Mute() const override;
    void setMute(bool mute) override;

    // Desktop integration (PlaybackEngineDesktop.cpp).
    PlayState playState() const override;
    QString DiscId() const override;
    QString DiscName() const override;
    QString AudioStreamFormat(int stream) override;
    int CurrentAudioStream() override;
    int CurrentSubpictureStream() override;
    void PlayTitleAtTime(int title, const QString &timeCode) override;

    QWidget *surface() override;
    void Move(int left, int top, int width, int height) override;
    void SetFocus() override;

    // ---- beyond the player's operations: tools and tests ----
    // Plays a title from its start (starting playback when needed).
    void PlayTitle(int title);
    // Share of pictures shown within 20 ms of the audio clock (-1 when none was measured).
    double syncShare() const;
    // True while playback threads run (paused included).
    bool isPlaying() const;
    bool isPaused() const;
    // The sound output in use ("ALSA device ...", "silent ..."); empty before Play.
    QString audioOutputDescription() const;

private:
    enum class State { Closed, Stopped, Playing, Paused, Ended };
    void ensureOpen();
    void ensureAudio();
    // Throws NoDecoder when libavcodec cannot decode a stream of the disc.
    void checkDecoders() const;
    void stopPipeline();
    void closeSource();
    void onPipelineEvent(int generation, const core::PipelineEvent &event);
    // The title the user sees (0 in menus or stopped) and its frame rate.
    int currentTitleNumber() const;
    core::PlaybackPipeline &requirePipeline(const char *what);
    void scan(bool forwards, double speed);
    // The streams of what is on screen (empty when nothing plays).
    StreamSummary streams() const;

    void checkNavigator();
    // Arrow keys move the menu highlight; Return and Enter activate.
    void navigationKey(int key);
    // Every entry from Qt (surface signals, queued events, timers) runs
    // through here: a failure becomes a message on the surface, never an
    // exception in Qt.
    template <class Work> void guardedEntry(const char *where, Work &&work);
    // A libdvdnav call this long means the disc loops inside the library.
    static constexpr int StuckNavigatorMs = 8000;

    QPointer<video::VideoSurface> m_surface;
    nav::DiscIdentity *m_identity;  // child; reads the id of each source opened
    QTimer m_watchdog;             // notices a navigator stuck inside libdvdnav
    QString m_directory;
    std::unique_ptr<nav::DvdNavigator> m_navigator;
    std::unique_ptr<AudioPlayer> m_audio;
    std::unique_ptr<core::SubpictureCompositor> m_overlay; // used by m_pipeline's video thread
    std::unique_ptr<core::PlaybackPipeline> m_pipeline;
    State m_state = State::Closed;
    core::OffUiThread m_offUi;     // opens the source and the sound device (ensureOpen, ensureAudio)
    bool m_navigatorUsed = false;  // a pipeline ran on m_navigator: its VM is not at the start
    int m_generation = 0;          // bumped per pipeline; stale queued events are ignored
    int m_minSerial = 0;           // events of older serials (before the last seek) are ignored
    bool m_muted = false;
    bool m_showSubtitles = true;
    int m_audioChoice = -1;
    int m_subpictureChoice = -1;
    // Where a bare Stop left off (title 0: nowhere).
    int m_resumeTitle = 0;
    std::int64_t m_resumeTime90k = 0;
};

// The factory the player uses: a PlaybackEngine whose surface is a child of host.
DvdEngine *createPlaybackEngine(QWidget *host);

} // namespace velmora
