// The engine's answers for desktop integration: playing state, the disc's
// identity and name, stream details for the stream menus, and starting a
// title at a time (resume points).
#include "PlaybackEngine.h"

#include "engine/EngineError.h"
#include "engine/TimeCode.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/nav/DiscIdentity.h"
#include "engine/nav/DvdNavigator.h"

namespace velmora {

namespace {

QString channelLayout(int channels)
{
    switch (channels) {
    case 1: return QStringLiteral("mono");
    case 2: return QStringLiteral("stereo");
    case 6: return QStringLiteral("5.1");
    case 7: return QStringLiteral("6.1");
    case 8: return QStringLiteral("7.1");
    default: return channels > 0 ? QStringLiteral("%1 ch").arg(channels) : QString();
    }
}

bool usable(const StreamSummary &summary, int stream, bool audio)
{
    if (audio)
        return stream >= 0 && stream < summary.audioStreamCount() && summary.audioStreamEnabled(stream);
    return stream >= 0 && stream < summary.subpictureStreamCount() && summary.subpictureStreamEnabled(stream);
}

} // namespace

DvdEngine::PlayState PlaybackEngine::playState() const
{
    switch (m_state) {
    case State::Closed:
    case State::Stopped:
    case State::Ended:
        return PlayState::Stopped;
    case State::Paused:
        return m_pipeline ? PlayState::Paused : PlayState::Stopped;
    case State::Playing:
        break;
    }
    if (!m_pipeline)
        return PlayState::Stopped;
    if (!m_pipeline->speed().isNormal())
        return PlayState::Scanning;
    return currentTitleNumber() > 0 ? PlayState::Playing : PlayState::Menu;
}

QString PlaybackEngine::DiscId() const
{
    return m_identity->id();
}

QString PlaybackEngine::DiscName() const
{
    return m_navigator ? m_navigator->info().volume : QString();
}

QString PlaybackEngine::AudioStreamFormat(int stream)
{
    const nav::TitleInfo *info = m_navigator ? m_navigator->info().title(currentTitleNumber()) : nullptr;
    if (!info)
        return {};
    for (const nav::AudioStreamInfo &audio : info->audio) {
        if (audio.number == stream) {
            const QString layout = channelLayout(audio.channels);
            return layout.isEmpty() ? audio.format : audio.format + u' ' + layout;
        }
    }
    return {};
}

int PlaybackEngine::CurrentAudioStream()
{
    const StreamSummary summary = streams();
    if (usable(summary, m_audioChoice, true))
        return m_audioChoice;
    if (usable(summary, summary.navigatorAudio(), true))
        return summary.navigatorAudio();
    // What the pipeline falls back to: the first stream the program chain carries.
    for (int n = 0; n < summary.audioStreamCount(); ++n) {
        if (summary.audioStreamEnabled(n))
            return n;
    }
    return -1;
}

int PlaybackEngine::CurrentSubpictureStream()
{
    const StreamSummary summary = streams();
    if (!m_showSubtitles || summary.domain() != StreamSummary::Domain::Title)
        return -1;
    if (usable(summary, m_subpictureChoice, false))
        return m_subpictureChoice;
    return usable(summary, summary.navigatorSubpicture(), false) ? summary.navigatorSubpicture() : -1;
}

void PlaybackEngine::PlayTitleAtTime(int title, const QString &timeCode)
{
    const std::optional<TimeCode> tc = TimeCode::fromText(timeCode);
    if (!tc)
        throw EngineError(ErrorCode::TimeOutOfRange, QStringLiteral("Not a time code: \"%1\"").arg(timeCode));
    ensureOpen();
    const nav::TitleInfo *info = m_navigator->info().title(title);
    if (!info)
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("No title %1").arg(title));
    const std::int64_t at = tc->toTicks90k(info->video.framesPerSecond);
    if (at >= info->duration90k)
        throw EngineError(ErrorCode::TimeOutOfRange,
                          QStringLiteral("%1 is beyond the end of title %2").arg(timeCode).arg(title));
    if (!m_pipeline || m_state == State::Ended) {
        // Play starts a fresh pipeline at the resume place.
        m_resumeTitle = title;
        m_resumeTime90k = at;
        Play();
        return;
    }
    m_pipeline->playTitleAt(title, at);
    m_minSerial = m_pipeline->currentSerial();
    if (m_state == State::Paused) {
        m_pipeline->setPaused(false);
        m_state = State::Playing;
    }
}

} // namespace velmora
