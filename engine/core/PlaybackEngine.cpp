#include "PlaybackEngine.h"

#include "engine/EngineError.h"
#include "engine/TimeCode.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/core/QtEntry.h"
#include "engine/core/SubpictureCompositor.h"
#include "engine/device/DriveEject.h"
#include "engine/nav/DiscIdentity.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/video/VideoSurface.h"

#include <cstdio>
#include <QFile>
#include <QLoggingCategory>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

Q_LOGGING_CATEGORY(lcEngine, "velmora.engine")

namespace velmora {

using core::PipelineEvent;

PlaybackEngine::PlaybackEngine(QWidget *host) : DvdEngine(host), m_identity(new nav::DiscIdentity(this))
{
    connect(m_identity, &nav::DiscIdentity::identified, this, &DvdEngine::DiscIdentified);
    // Created after the engine, so the host destroys the engine (and its
    // threads) before the surface they paint on.
    m_surface = new video::VideoSurface(host);
    m_surface->setObjectName(QStringLiteral("DVD"));
    qCInfo(lcEngine, "pictures drawn by %s", qPrintable(m_surface->backendReason()));
    if (qEnvironmentVariableIsSet("VELMORA_VIDEO_STATS"))
        std::fprintf(stderr, "velmora-video: %s\n", qPrintable(m_surface->backendReason()));
    m_watchdog.setInterval(500);
    connect(&m_watchdog, &QTimer::timeout, this, [this] { guardedEntry("watchdog", [this] { checkNavigator(); }); });

    // Should the host delete the surface first, the threads that paint on it stop before it goes.
    connect(m_surface, &video::VideoSurface::destroying, this,
            [this] { guardedEntry("surface destroyed", [this] { stopPipeline(); }); }, Qt::DirectConnection);

    // Menus are worked with the mouse and, while the surface has the focus, the arrow keys.
    // Outside a menu (no buttons in the unit on screen) these do nothing.
    connect(m_surface, &video::VideoSurface::pointerMoved, this, [this](const QPoint &pos) {
        guardedEntry("pointer move", [&] {
            if (m_pipeline && m_state == State::Playing)
                m_pipeline->selectButtonAt(pos.x(), pos.y());
        });
    });
    connect(m_surface, &video::VideoSurface::pointerClicked, this, [this](const QPoint &pos) {
        guardedEntry("pointer click", [&] {
            if (m_pipeline && m_state == State::Playing && m_pipeline->activateButtonAt(pos.x(), pos.y()))
                m_minSerial = m_pipeline->currentSerial();
        });
    });
    connect(m_surface, &video::VideoSurface::navigationKey, this, [this](int key) {
        guardedEntry("menu key", [&] { navigationKey(key); });
    });
}

template <class Work>
void PlaybackEngine::guardedEntry(const char *where, Work &&work)
{
    core::guarded(where, std::forward<Work>(work), [this](const QString &message) {
        if (m_surface)
            m_surface->showMessage(message);
    });
}

void PlaybackEngine::navigationKey(int key)
{
    if (!m_pipeline || m_state != State::Playing)
        return;
    using Move = core::PlaybackPipeline::ButtonMove;
    switch (key) {
    case Qt::Key_Up: m_pipeline->moveButtonSelection(Move::Up); break;
    case Qt::Key_Down: m_pipeline->moveButtonSelection(Move::Down); break;
    case Qt::Key_Left: m_pipeline->moveButtonSelection(Move::Left); break;
    case Qt::Key_Right: m_pipeline->moveButtonSelection(Move::Right); break;
    default:
        if (m_pipeline->activateSelectedButton())
            m_minSerial = m_pipeline->currentSerial();
        break;
    }
}

PlaybackEngine::~PlaybackEngine()
{
    stopPipeline();
    if (m_audio)
        m_audio->stop();
}

// ---------------------------------------------------------------------------
// Source and outputs

void PlaybackEngine::ensureOpen()
{
    if (m_navigator)
        return;
    const QString directory = m_directory;
    std::unique_ptr<nav::DvdNavigator> navigator;
    nav::OpenError error;
    m_offUi.run([&] { navigator = nav::DvdNavigator::open(directory, &error); });
    if (directory != m_directory)
        throw EngineError(ErrorCode::NoDisc, QStringLiteral("The source changed while it was being opened"));
    if (!navigator) {
        if (m_surface)
            m_surface->showMessage(error.message);
        throw EngineError(error.code, error.message);
    }
    m_navigator = std::move(navigator);
    m_navigatorUsed = false;
    m_state = State::Stopped;
    m_identity->start(m_navigator->path());
}

void PlaybackEngine::checkDecoders() const
{
    // Said before playing, not discovered in the middle of a title.
    for (const nav::TitleInfo &title : m_navigator->info().titles) {
        for (const nav::AudioStreamInfo &stream : title.audio) {
            AVCodecID id = AV_CODEC_ID_NONE;
            if (stream.format == QLatin1String("AC-3"))
                id = AV_CODEC_ID_AC3;
            else if (stream.format == QLatin1String("MPEG"))
                id = AV_CODEC_ID_MP2;
            else if (stream.format == QLatin1String("LPCM"))
                id = AV_CODEC_ID_PCM_DVD;
            else if (stream.format == QLatin1String("DTS"))
                id = AV_CODEC_ID_DTS;
            if (id != AV_CODEC_ID_NONE && !avcodec_find_decoder(id))
                throw EngineError(ErrorCode::NoDecoder,
                                  QStringLiteral("No %1 audio decoder in libavcodec").arg(stream.format));
        }
    }
    if (!avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO))
        throw EngineError(ErrorCode::NoDecoder, QStringLiteral("No MPEG-2 video decoder in libavcodec"));
}

void PlaybackEngine::ensureAudio()
{
    if (m_audio && m_audio->isRunning())
        return;
    std::unique_ptr<AudioPlayer> fresh;
    AudioPlayer *player = m_audio.get();
    m_offUi.run([&] {
        try {
            if (!player) {
                // A sound device that is missing, busy or fails plays on as
                // silence on the system clock; the player claims it again
                // when it can.
                fresh = std::make_unique<AudioPlayer>(soundDeviceOutput());
                // Runs on the audio thread (or in start()): the note is
                // shown on the UI thread.
                fresh->setDeviceHandler([this](AudioPlayer::DeviceEvent event, const QString &description) {
                    QMetaObject::invokeMethod(
                        this,
                        [this, event, description] {
                            if (m_surface)
                                m_surface->showNote(event == AudioPlayer::DeviceEvent::Lost
                                                        ? QStringLiteral("Sound lost (%1); playing on without sound").arg(description)
                                                        : QStringLiteral("Sound is back (%1)").arg(description));
                        },
                        Qt::QueuedConnection);
                });
                player = fresh.get();
            }
            player->start();
        } catch (const EngineError &e) {
            throw EngineError(ErrorCode::NoInterface, e.message());
        }
    });
    if (fresh) {
        fresh->setMuted(m_muted);
        m_audio = std::move(fresh);
    }
}

void PlaybackEngine::stopPipeline()
{
    m_watchdog.stop();
    if (!m_pipeline)
        return;
    m_pipeline->stop();
    if (m_pipeline->abandoned()) {
        // Its navigation thread is still inside libdvdnav and may use all
        // three: it destroys them once it comes back, and the disc's files
        // close then (the next Play opens the source afresh).
        qCWarning(lcEngine, "the disc does not answer; its navigator is released when it comes back");
        core::PlaybackPipeline::leaveBehind({std::move(m_pipeline), std::move(m_overlay), std::move(m_navigator)});
        m_navigatorUsed = false;
        m_state = State::Closed;
        if (m_surface)
            m_surface->showMessage(QStringLiteral("The disc does not answer"));
    } else {
        m_pipeline.reset();
    }
    ++m_generation;
}

void PlaybackEngine::checkNavigator()
{
    // VELMORA_VIDEO_STATS: the picture counters on standard error twice a
    // second, for benchmarks that compare dropped pictures with other players.
    static const bool videoStats = qEnvironmentVariableIsSet("VELMORA_VIDEO_STATS");
    if (videoStats && m_pipeline && m_surface)
        std::fprintf(stderr,
                     "velmora-video: output=%s shown=%d late_dropped=%d presented=%d not_painted=%d "
                     "sync_within_20ms=%d/%d\n",
                     qPrintable(m_surface->canvasKind()), m_pipeline->framesShown(), m_pipeline->framesDropped(),
                     m_surface->presentedFrames(), m_surface->skippedFrames(), m_pipeline->syncWithinTolerance(),
                     m_pipeline->syncMeasured());

    // A disc whose program jumps in a circle without playing anything keeps
    // libdvdnav busy inside one call for good: end playback with a message.
    if (!m_pipeline || m_pipeline->navigatorBusyMs() < StuckNavigatorMs)
        return;
    // The source is let go so the drive can be ejected; the next Play opens
    // it again. A navigator still inside libdvdnav when stop() gives up
    // cannot be closed under its thread: that thread closes it when the
    // library lets it out (stopPipeline).
    closeSource();
    if (m_surface)
        m_surface->showMessage(QStringLiteral("The disc does not answer"));
    emit DVDNotify(PlaybackStopped, 0, 0);
    emit PlaybackReset(0);
}

void PlaybackEngine::closeSource()
{
    stopPipeline();
    if (m_audio)
        m_audio->stop();
    m_navigator.reset();
    m_navigatorUsed = false;
    m_state = State::Closed;
}

core::PlaybackPipeline &PlaybackEngine::requirePipeline(const char *what)
{
    if (!m_pipeline || m_state == State::Ended)
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("%1: nothing is playing").arg(QLatin1String(what)));
    return *m_pipeline;
}

// ---------------------------------------------------------------------------
// Playback

void PlaybackEngine::Render(int mode)
{
    if (mode == 1) {
        m_resumeTitle = 0;
        if (!m_pipeline)
            closeSource();
        return;
    }
    ensureOpen();
    ensureAudio();
}

void PlaybackEngine::Play()
{
    if (m_pipeline && (m_state == State::Paused || m_state == State::Playing)) {
        if (!m_pipeline->speed().isNormal()) {
            // Back to normal speed with sound, from the picture on screen.
            m_pipeline->setSpeed(ScanSpeed::normal());
            m_minSerial = m_pipeline->currentSerial();
        }
        if (m_state == State::Paused)
            m_pipeline->setPaused(false);
        m_state = State::Playing;
        return;
    }
    // Start over from the disc's first-play program (or resume from a bare
    // Stop) on the navigator already open: it goes back to the start
    // without reading the disc's information again.
    if (m_pipeline) {
        stopPipeline();
        if (m_audio)
            m_audio->stop();
    }
    ensureOpen();
    const bool rewind = m_navigatorUsed || m_state == State::Ended;
    checkDecoders();
    ensureAudio();

    const int generation = ++m_generation;
    m_minSerial = 0;
    m_overlay = std::make_unique<core::SubpictureCompositor>();
    auto pipeline = std::make_unique<core::PlaybackPipeline>(
        *m_navigator, m_surface.data(), m_audio.get(), core::PlaybackPipeline::Options{},
        [this, generation](const PipelineEvent &event) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, event] {
                    guardedEntry("engine event", [&] { onPipelineEvent(generation, event); });
                },
                Qt::QueuedConnection);
        });
    pipeline->setOverlay(m_overlay.get());
    if (rewind)
        pipeline->rewindNavigator();
    pipeline->setShowSubtitles(m_showSubtitles);
    pipeline->selectSubpictureStream(m_subpictureChoice);
    if (m_audioChoice >= 0)
        pipeline->selectAudioStream(m_audioChoice);
    if (m_resumeTitle > 0) {
        const int title = m_resumeTitle;
        const std::int64_t at = m_resumeTime90k;
        m_resumeTitle = 0;
        try {
            pipeline->playTitle(title);
            if (at > 0)
                pipeline->playAtTime(at);
        } catch (const EngineError &e) {
            qCInfo(lcEngine, "cannot resume at title %d: %s", title, qPrintable(e.message()));
        }
    }
    pipeline->start();
    m_navigatorUsed = true;
    m_pipeline = std::move(pipeline);
    m_watchdog.start();
    m_state = State::Playing;
}

void PlaybackEngine::Pause()
{
    auto &pipeline = requirePipeline("Pause");
    pipeline.setPaused(true);
    m_state = State::Paused;
}

void PlaybackEngine::Stop()
{
    if (m_pipeline) {
        const core::ShownPosition shown = m_pipeline->shown();
        if (m_state != State::Ended && shown.valid && shown.title > 0) {
            m_resumeTitle = shown.title;
            m_resumeTime90k = shown.titleTime90k;
        }
    }
    stopPipeline();
    if (m_audio)
        m_audio->stop(); // releases the device
    if (m_surface)
        m_surface->clear();
    if (m_navigator)
        m_state = State::Stopped;
    QMetaObject::invokeMethod(
        this,
        [this] {
            guardedEntry("playback stopped", [this] {
                emit DVDNotify(PlaybackStopped, 0, 0);
                emit PlaybackReset(0);
            });
        },
        Qt::QueuedConnection);
}

void PlaybackEngine::PlayAtTime(const QString &timeCode)
{
    const auto tc = TimeCode::fromText(timeCode);
    if (!tc)
        throw EngineError(ErrorCode::TimeOutOfRange, QStringLiteral("Not a time code: \"%1\"").arg(timeCode));
    auto &pipeline = requirePipeline("PlayAtTime");
    const int title = currentTitleNumber();
    const nav::TitleInfo *info = m_navigator->info().title(title);
    if (!info)
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Not playing a title"));
    pipeline.playAtTime(tc->toTicks90k(info->video.framesPerSecond));
    m_minSerial = pipeline.currentSerial();
    if (m_state == State::Paused) {
        pipeline.setPaused(false);
        m_state = State::Playing;
    }
}

void PlaybackEngine::scan(bool forwards, double speed)
{
    const auto direction = forwards ? ScanSpeed::Direction::Forward : ScanSpeed::Direction::Backward;
    const std::optional<ScanSpeed> scanSpeed = ScanSpeed::from(direction, speed);
    if (!scanSpeed)
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("No scanning at %1 times normal speed").arg(speed));
    if (scanSpeed->isNormal()) {
        Play();
        return;
    }
    auto &pipeline = requirePipeline(forwards ? "PlayForwards" : "PlayBackwards");
    pipeline.setSpeed(*scanSpeed);
    m_minSerial = pipeline.currentSerial();
    if (m_state == State::Paused) {
        pipeline.setPaused(false);
        m_state = State::Playing;
    }
}

void PlaybackEngine::PlayBackwards(double speed)
{
    scan(false, speed);
}

void PlaybackEngine::PlayForwards(double speed)
{
    scan(true, speed);
}

void PlaybackEngine::PlayNextChapter()
{
    auto &pipeline = requirePipeline("PlayNextChapter");
    pipeline.nextChapter();
    m_minSerial = pipeline.currentSerial();
}

void PlaybackEngine::PlayPrevChapter()
{
    auto &pipeline = requirePipeline("PlayPrevChapter");
    pipeline.prevChapter();
    m_minSerial = pipeline.currentSerial();
}

void PlaybackEngine::ShowMenu(int menu)
{
    if (menu != TitleMenu && menu != RootMenu && menu != SubpictureMenu && menu != ChapterMenu)
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("No menu number %1").arg(menu));
    auto &pipeline = requirePipeline("ShowMenu");
    pipeline.menuCall(menu);
    m_minSerial = pipeline.currentSerial();
}

void PlaybackEngine::Eject()
{
    const QString drive = m_directory.isEmpty() ? defaultDrive() : m_directory;
    struct stat info {};
    const bool isDrive = !drive.isEmpty() && ::stat(QFile::encodeName(drive).constData(), &info) == 0 && S_ISBLK(info.st_mode);
    if (!isDrive) {
        // A folder, an image or no drive at all: refused, and playback goes on untouched.
        ejectDrive(drive);
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("%1 is not a drive").arg(drive));
    }
    // The drive in use: stop and let go of the disc first, or it may refuse.
    if (m_pipeline)
        Stop();
    closeSource();
    ejectDrive(drive);
}

// ---------------------------------------------------------------------------
// Properties and host

QString PlaybackEngine::DVDDirectory() const
{
    return m_directory;
}

void PlaybackEngine::setDVDDirectory(const QString &path)
{
    if (path == m_directory)
        return;
    m_directory = path;
    m_resumeTitle = 0;
    m_identity->clear();
    if (m_navigator || m_pipeline) {
        const bool wasPlaying = m_pipeline != nullptr;
        closeSource();
        if (m_surface)
            m_surface->clear();
        if (wasPlaying) {
            QMetaObject::invokeMethod(
                this, [this] { guardedEntry("playback reset", [this] { emit PlaybackReset(0); }); },
                Qt::QueuedConnection);
        }
    }
}

bool PlaybackEngine::ShowSubtitles() const
{
    return m_showSubtitles;
}

void PlaybackEngine::setShowSubtitles(bool show)
{
    m_showSubtitles = show;
    if (m_pipeline)
        m_pipeline->setShowSubtitles(show);
}

bool PlaybackEngine::Mute() const
{
    return m_muted;
}

void PlaybackEngine::setMute(bool mute)
{
    m_muted = mute;
    if (m_audio)
        m_audio->setMuted(mute);
}

QWidget *PlaybackEngine::surface()
{
    return m_surface.data();
}

void PlaybackEngine::Move(int left, int top, int width, int height)
{
    if (m_surface)
        m_surface->setGeometry(left, top, std::max(0, width), std::max(0, height));
}

void PlaybackEngine::SetFocus()
{
    if (!m_surface)
        return;
    // The video window comes back in front (in full screen the panel may cover it).
    QWidget *window = m_surface->window();
    window->raise();
    window->activateWindow();
    m_surface->setFocus(Qt::OtherFocusReason);
}

void PlaybackEngine::PlayTitle(int title)
{
    if (!m_pipeline || m_state == State::Ended)
        Play();
    m_pipeline->playTitle(title);
    m_minSerial = m_pipeline->currentSerial();
    if (m_state == State::Paused) {
        m_pipeline->setPaused(false);
        m_state = State::Playing;
    }
}

double PlaybackEngine::syncShare() const
{
    if (!m_pipeline || m_pipeline->syncMeasured() == 0)
        return -1.0;
    return double(m_pipeline->syncWithinTolerance()) / m_pipeline->syncMeasured();
}

bool PlaybackEngine::isPlaying() const
{
    return m_pipeline != nullptr && (m_state == State::Playing || m_state == State::Paused);
}

bool PlaybackEngine::isPaused() const
{
    return m_state == State::Paused;
}

QString PlaybackEngine::audioOutputDescription() const
{
    return m_audio ? m_audio->outputDescription() : QString();
}

DvdEngine *createPlaybackEngine(QWidget *host)
{
    return new PlaybackEngine(host);
}

} // namespace velmora
