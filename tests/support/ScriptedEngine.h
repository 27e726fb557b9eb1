#pragma once
// A scripted engine for unit tests: records every call in order and answers
// from values the test sets. A test makes any operation fail by naming it in
// failures (name -> error code); "*" fails every operation not named.
// Never ships in the player.

#include "engine/DvdEngine.h"
#include "engine/EngineError.h"

#include <QHash>
#include <QStringList>

namespace velmora::testing {

class ScriptedEngine final : public DvdEngine
{
    Q_OBJECT
public:
    explicit ScriptedEngine(QWidget *host = nullptr);

    // ---- What the test sets ----
    QHash<QString, std::int32_t> failures;   // operation name -> error code it throws
    int currentTitle = 1;
    int currentChapter = 1;
    int titlesAvailable = 2;
    QHash<int, int> chaptersInTitle{{1, 4}, {2, 1}};
    QString totalTitleTime = QStringLiteral("00:00:40:00");
    QStringList audioLanguages{QStringLiteral("English"), QStringLiteral("French")};
    QList<bool> audioEnabled{true, true};
    QStringList subpictureLanguages{QStringLiteral("English"), QStringLiteral("German")};
    QList<bool> subpictureEnabled{true, true};
    QStringList audioFormats{QStringLiteral("AC-3 5.1"), QStringLiteral("MPEG stereo")};
    int currentAudio = 0;
    int currentSubpicture = -1;
    PlayState state = PlayState::Stopped;
    QString discId;
    QString discName;

    // ---- What the test reads ----
    QStringList calls; // e.g. "Play", "PlayForwards(32)", "setMute(true)", "ShowMenu(3)"

    // Emits the engine's signals as the real engine would.
    void notify(int code, qint64 p1, qint64 p2 = 0) { emit DVDNotify(code, p1, p2); }
    void titleInfo() { emit TitleInfoChanged(0); }
    void reset() { emit PlaybackReset(0); }
    void identify(const QString &id)
    {
        discId = id;
        emit DiscIdentified(id);
    }

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
    QString DVDDirectory() const override { return m_directory; }
    void setDVDDirectory(const QString &path) override;
    bool ShowSubtitles() const override { return m_subtitles; }
    void setShowSubtitles(bool show) override;
    bool Mute() const override;
    void setMute(bool mute) override;
    PlayState playState() const override { return state; }
    QString DiscId() const override { return discId; }
    QString DiscName() const override { return discName; }
    QString AudioStreamFormat(int stream) override { return audioFormats.value(stream); }
    int CurrentAudioStream() override { return currentAudio; }
    int CurrentSubpictureStream() override { return currentSubpicture; }
    void PlayTitleAtTime(int title, const QString &timeCode) override;
    QWidget *surface() override { return m_surface; }
    void Move(int left, int top, int width, int height) override;
    void SetFocus() override;

private:
    // Records the call, then throws if the test scripted a failure for it.
    void call(const QString &name, const QString &args = {}) const;

    QWidget *m_surface;
    QString m_directory;
    bool m_subtitles = true;
    bool m_mute = false;
};

} // namespace velmora::testing
