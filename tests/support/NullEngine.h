#pragma once
// An engine with no disc: every playback or disc query throws NoDisc. The
// properties (DVDDirectory, ShowSubtitles, Mute) keep what is written. A test
// double for code that must cope with an engine refusing everything.

#include "engine/DvdEngine.h"

namespace velmora {

class NullEngine final : public DvdEngine
{
    Q_OBJECT
public:
    explicit NullEngine(QWidget *host);

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
    void setDVDDirectory(const QString &path) override { m_directory = path; }
    bool ShowSubtitles() const override { return m_subtitles; }
    void setShowSubtitles(bool show) override { m_subtitles = show; }
    bool Mute() const override { return m_mute; }
    void setMute(bool mute) override { m_mute = mute; }
    QWidget *surface() override { return m_surface; }
    void Move(int left, int top, int width, int height) override;
    void SetFocus() override;

private:
    [[noreturn]] void noDisc() const;

    QWidget *m_surface; // owned by the host window
    QString m_directory;
    bool m_subtitles = true;
    bool m_mute = false;
};

} // namespace velmora
