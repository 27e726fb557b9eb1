#pragma once
// The DVD engine as the player sees it.
//
// Every operation the windows and commands use, under the names they call.
// Operations are called on the UI thread only; they return promptly (they
// queue work for the engine's own threads where needed) and report failure
// by throwing velmora::EngineError. Results are what the engine knows at the
// time of the call.
//
// The engine reports back only through its three signals, always emitted on
// the UI thread (the thread the engine object lives in), so receivers never
// need locks.
//
// Ownership: an engine is a QObject created by an EngineFactory for one host
// window; the host owns it (QObject parent) and places its surface() widget.

#include "engine/EngineError.h"

#include <QObject>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace velmora {

class DvdEngine : public QObject
{
    Q_OBJECT
public:
    // Menu numbers accepted by ShowMenu.
    enum Menu { TitleMenu = 2, RootMenu = 3, SubpictureMenu = 4, ChapterMenu = 7 };
    // Notification codes of DVDNotify.
    enum Event {
        TitleChange = 258,      // param1: new title number
        ChapterStart = 259,     // param1: chapter number
        PlaybackStopped = 274,  // no parameters
        CurrentTime = 282,      // param1: packed TimeCode of the picture on screen
    };

    explicit DvdEngine(QObject *parent = nullptr) : QObject(parent) {}
    ~DvdEngine() override = default;

    // ---- Playback ----
    // Prepares playback. mode 1 is passed after a stop, 0 before a play.
    // Opens the source named by DVDDirectory when it is not open yet and
    // creates the outputs; a later Play then starts at once.
    virtual void Render(int mode) = 0;
    // Starts playback from the disc's first-play program, resumes after Pause
    // or Stop, and returns scanning to normal speed with sound.
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    // Plays the current title from "hh:mm:ss:ff".
    virtual void PlayAtTime(const QString &timeCode) = 0;
    // Scan at 0.5, 1, 2, 4, 8, 16 or 32 times normal speed (other speeds
    // throw InvalidArgument; outside a title NotInTitle). Sound and
    // subpictures are off at every speed but forward 1; time notifications
    // go on. Forward 0.5 and 2 play every frame; faster, and backwards, show
    // key frames only, at least four a second. Backwards into the title's
    // start plays on normally from there; forwards past its end, the disc's
    // own command after the title runs. Play returns to normal speed.
    virtual void PlayBackwards(double speed) = 0;
    virtual void PlayForwards(double speed) = 0;
    virtual void PlayNextChapter() = 0;
    virtual void PlayPrevChapter() = 0;
    virtual void ShowMenu(int menu) = 0;
    // Stops playback and opens the tray of the drive in use (or the default
    // drive). Throws, leaving playback alone, when the source is a folder or
    // an image (DeviceError) or there is no drive (NoDisc); DeviceError when
    // the drive refuses.
    virtual void Eject() = 0;

    // ---- Position and disc structure ----
    virtual int CurrentTitle() = 0;
    virtual int CurrentChapter() = 0;
    virtual int TitlesAvailable() = 0;
    virtual int ChaptersInTitle(int title) = 0;
    virtual QString TotalTitleTime() = 0;                // "hh:mm:ss:ff"
    virtual QString TimeCodeToText(std::int32_t timeCode) = 0;

    // ---- Streams ----
    // Of the title or menu on screen (counts 0 when nothing plays); stream
    // numbers outside the count throw InvalidArgument. Languages are English
    // names, "Unknown" when the disc gives none.
    virtual int AudioStreamCount() = 0;
    virtual bool AudioStreamEnabled(int stream) = 0;
    virtual QString GetAudioLanguage(int stream) = 0;
    virtual int SubpictureStreamCount() = 0;
    virtual bool SubpictureStreamEnabled(int stream) = 0;
    virtual QString GetSubpictureLanguage(int stream) = 0;
    virtual void SelectAudioStream(int stream) = 0;
    virtual void SelectSubpictureStream(int stream) = 0;

    // ---- Properties ----
    // The folder, VIDEO_TS folder, ISO image or device to play; empty is the drive.
    virtual QString DVDDirectory() const = 0;
    virtual void setDVDDirectory(const QString &path) = 0;
    virtual bool ShowSubtitles() const = 0;
    virtual void setShowSubtitles(bool show) = 0;
    virtual bool Mute() const = 0;
    virtual void setMute(bool mute) = 0;

    // ---- Desktop integration: resume points, stream menus, media keys ----
    // Defaults fit an engine that knows no disc (NullEngine, test doubles).
    enum class PlayState {
        Stopped,  // nothing plays (also after the disc's playback ended)
        Playing,  // a title at normal speed
        Paused,
        Scanning, // fast forward or rewind
        Menu,     // a disc menu or another program chain outside the titles
    };
    virtual PlayState playState() const { return PlayState::Stopped; }
    // The open disc's identity: libdvdread's DVDDiscID as 32 lower-case hex
    // digits; empty until it is known. It is read off the UI thread when a
    // source opens and announced by DiscIdentified.
    virtual QString DiscId() const { return {}; }
    // The disc's name (volume label, else its folder's name); empty when no
    // disc is open.
    virtual QString DiscName() const { return {}; }
    // Coding and channel layout of an audio stream of the title on screen,
    // "AC-3 5.1", "MPEG stereo"; empty when not known (menus, no disc).
    virtual QString AudioStreamFormat(int stream) { (void)stream; return {}; }
    // The logical streams heard and shown now; -1 for none (subtitles off).
    virtual int CurrentAudioStream() { return -1; }
    virtual int CurrentSubpictureStream() { return -1; }
    // Plays title from "hh:mm:ss:ff", opening the source and starting
    // playback when needed. Throws like PlayAtTime.
    virtual void PlayTitleAtTime(int title, const QString &timeCode);

    // ---- Host ----
    // The video surface: the "DVD" control of the host window. Owned by the
    // engine's host window (it is created as that window's child).
    virtual QWidget *surface() = 0;
    // Moves the surface inside its host, in pixels.
    virtual void Move(int left, int top, int width, int height) = 0;
    // Gives the surface the keyboard focus and brings its window to the front.
    virtual void SetFocus() = 0;

signals:
    // Notification: event code and two parameters (see Event).
    void DVDNotify(int eventCode, qint64 param1, qint64 param2);
    // The title, the title set or the set of streams changed.
    void TitleInfoChanged(int unused);
    // Playback was reset: Stop, or the disc's playback ended.
    void PlaybackReset(int unused);
    // The open disc's identity became known (see DiscId).
    void DiscIdentified(const QString &discId);
};

inline void DvdEngine::PlayTitleAtTime(int title, const QString &timeCode)
{
    (void)title;
    (void)timeCode;
    throw EngineError(ErrorCode::NotAllowed, QStringLiteral("This engine cannot play a title from a time"));
}

// Creates an engine whose surface is a child of host; the engine is parented
// to host as well.
using EngineFactory = std::function<DvdEngine *(QWidget *host)>;

} // namespace velmora
