#include "ScriptedEngine.h"

#include "engine/TimeCode.h"

namespace velmora::testing {

ScriptedEngine::ScriptedEngine(QWidget *host)
    : DvdEngine(host), m_surface(new QWidget(host))
{
    if (!host)
        m_surface->setParent(nullptr);
}

void ScriptedEngine::call(const QString &name, const QString &args) const
{
    auto *self = const_cast<ScriptedEngine *>(this);
    self->calls.append(args.isEmpty() ? name : name + u'(' + args + u')');
    auto it = failures.constFind(name);
    if (it == failures.constEnd())
        it = failures.constFind(QStringLiteral("*"));
    if (it != failures.constEnd())
        throw EngineError(it.value(), name + QStringLiteral(" refused by the script"));
}

static QString num(double v) { return QString::number(v); }

void ScriptedEngine::Render(int mode) { call(QStringLiteral("Render"), num(mode)); }
void ScriptedEngine::Play() { call(QStringLiteral("Play")); }
void ScriptedEngine::Pause() { call(QStringLiteral("Pause")); }
void ScriptedEngine::Stop() { call(QStringLiteral("Stop")); }
void ScriptedEngine::PlayAtTime(const QString &tc) { call(QStringLiteral("PlayAtTime"), tc); }
void ScriptedEngine::PlayBackwards(double s) { call(QStringLiteral("PlayBackwards"), num(s)); }
void ScriptedEngine::PlayForwards(double s) { call(QStringLiteral("PlayForwards"), num(s)); }
void ScriptedEngine::PlayNextChapter() { call(QStringLiteral("PlayNextChapter")); }
void ScriptedEngine::PlayPrevChapter() { call(QStringLiteral("PlayPrevChapter")); }
void ScriptedEngine::ShowMenu(int m) { call(QStringLiteral("ShowMenu"), num(m)); }
void ScriptedEngine::PlayTitleAtTime(int title, const QString &tc)
{
    call(QStringLiteral("PlayTitleAtTime"), num(title) + QStringLiteral(", ") + tc);
}
void ScriptedEngine::Eject() { call(QStringLiteral("Eject")); }

int ScriptedEngine::CurrentTitle() { call(QStringLiteral("CurrentTitle")); return currentTitle; }
int ScriptedEngine::CurrentChapter() { call(QStringLiteral("CurrentChapter")); return currentChapter; }
int ScriptedEngine::TitlesAvailable() { call(QStringLiteral("TitlesAvailable")); return titlesAvailable; }
int ScriptedEngine::ChaptersInTitle(int title)
{
    call(QStringLiteral("ChaptersInTitle"), num(title));
    return chaptersInTitle.value(title, 0);
}
QString ScriptedEngine::TotalTitleTime() { call(QStringLiteral("TotalTitleTime")); return totalTitleTime; }
QString ScriptedEngine::TimeCodeToText(std::int32_t tc)
{
    call(QStringLiteral("TimeCodeToText"), num(tc));
    return TimeCode::fromPacked(tc).toText();
}

int ScriptedEngine::AudioStreamCount() { call(QStringLiteral("AudioStreamCount")); return int(audioLanguages.size()); }
bool ScriptedEngine::AudioStreamEnabled(int n)
{
    call(QStringLiteral("AudioStreamEnabled"), num(n));
    if (n < 0 || n >= audioEnabled.size())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("no such audio stream"));
    return audioEnabled.at(n);
}
QString ScriptedEngine::GetAudioLanguage(int n)
{
    call(QStringLiteral("GetAudioLanguage"), num(n));
    if (n < 0 || n >= audioLanguages.size())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("no such audio stream"));
    return audioLanguages.at(n);
}
int ScriptedEngine::SubpictureStreamCount() { call(QStringLiteral("SubpictureStreamCount")); return int(subpictureLanguages.size()); }
bool ScriptedEngine::SubpictureStreamEnabled(int n)
{
    call(QStringLiteral("SubpictureStreamEnabled"), num(n));
    if (n < 0 || n >= subpictureEnabled.size())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("no such subpicture stream"));
    return subpictureEnabled.at(n);
}
QString ScriptedEngine::GetSubpictureLanguage(int n)
{
    call(QStringLiteral("GetSubpictureLanguage"), num(n));
    if (n < 0 || n >= subpictureLanguages.size())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("no such subpicture stream"));
    return subpictureLanguages.at(n);
}
void ScriptedEngine::SelectAudioStream(int n) { call(QStringLiteral("SelectAudioStream"), num(n)); }
void ScriptedEngine::SelectSubpictureStream(int n) { call(QStringLiteral("SelectSubpictureStream"), num(n)); }

void ScriptedEngine::setDVDDirectory(const QString &path)
{
    call(QStringLiteral("setDVDDirectory"), path);
    m_directory = path;
}
void ScriptedEngine::setShowSubtitles(bool show)
{
    call(QStringLiteral("setShowSubtitles"), show ? QStringLiteral("true") : QStringLiteral("false"));
    m_subtitles = show;
}
bool ScriptedEngine::Mute() const
{
    call(QStringLiteral("Mute"));
    return m_mute;
}
void ScriptedEngine::setMute(bool mute)
{
    call(QStringLiteral("setMute"), mute ? QStringLiteral("true") : QStringLiteral("false"));
    m_mute = mute;
}
void ScriptedEngine::Move(int l, int t, int w, int h)
{
    calls.append(QStringLiteral("Move(%1,%2,%3,%4)").arg(l).arg(t).arg(w).arg(h));
    m_surface->setGeometry(l, t, w, h);
}
void ScriptedEngine::SetFocus() { call(QStringLiteral("SetFocus")); }

} // namespace velmora::testing
