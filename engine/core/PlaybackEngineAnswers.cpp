// The engine's answers: position, disc structure and the streams of what is
// on screen, all from the pipeline's published state and the disc
// information read at open (never from the navigator).
#include "PlaybackEngine.h"

#include "engine/EngineError.h"
#include "engine/TimeCode.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/nav/DvdNavigator.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)

namespace velmora {

// ---------------------------------------------------------------------------
// Position and structure

int PlaybackEngine::currentTitleNumber() const
{
    if (!m_pipeline)
        return 0;
    const core::ShownPosition shown = m_pipeline->shown();
    if (shown.valid)
        return shown.title;
    int title = 0;
    m_pipeline->navigatorPosition(&title, nullptr, nullptr);
    return title;
}

int PlaybackEngine::CurrentTitle()
{
    return currentTitleNumber();
}

int PlaybackEngine::CurrentChapter()
{
    if (!m_pipeline)
        return 0;
    const core::ShownPosition shown = m_pipeline->shown();
    if (shown.valid)
        return shown.chapter;
    int chapter = 0;
    m_pipeline->navigatorPosition(nullptr, &chapter, nullptr);
    return chapter;
}

int PlaybackEngine::TitlesAvailable()
{
    return m_navigator ? int(m_navigator->info().titles.size()) : 0;
}

int PlaybackEngine::ChaptersInTitle(int title)
{
    if (!m_navigator)
        throw EngineError(ErrorCode::NoDisc, QStringLiteral("No disc is open"));
    const nav::TitleInfo *info = m_navigator->info().title(title);
    if (!info)
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("No title %1").arg(title));
    return int(info->chapterStarts90k.size());
}

QString PlaybackEngine::TotalTitleTime()
{
    const int title = currentTitleNumber();
    const nav::TitleInfo *info = m_navigator ? m_navigator->info().title(title) : nullptr;
    if (!info)
        return TimeCode{}.toText(); // menus and stopped: no title, no length
    return TimeCode::fromTicks90k(info->duration90k, info->video.framesPerSecond).toText();
}

QString PlaybackEngine::TimeCodeToText(std::int32_t timeCode)
{
    return TimeCode::fromPacked(timeCode).toText();
}

// ---------------------------------------------------------------------------
// Streams (of the title on screen)

StreamSummary PlaybackEngine::streams() const
{
    if (!m_pipeline || m_state == State::Ended)
        return {};
    return m_pipeline->streams();
}

int PlaybackEngine::AudioStreamCount()
{
    return streams().audioStreamCount();
}

bool PlaybackEngine::AudioStreamEnabled(int stream)
{
    return streams().audioStreamEnabled(stream);
}

QString PlaybackEngine::GetAudioLanguage(int stream)
{
    return streams().audioLanguage(stream);
}

int PlaybackEngine::SubpictureStreamCount()
{
    return streams().subpictureStreamCount();
}

bool PlaybackEngine::SubpictureStreamEnabled(int stream)
{
    return streams().subpictureStreamEnabled(stream);
}

QString PlaybackEngine::GetSubpictureLanguage(int stream)
{
    return streams().subpictureLanguage(stream);
}

void PlaybackEngine::SelectAudioStream(int stream)
{
    if (stream < -1 || stream > 7)
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("No audio stream %1").arg(stream));
    m_audioChoice = stream;
    if (!m_pipeline)
        return;
    m_pipeline->selectAudioStream(stream);
    // Sound already queued is the old stream's: start again from the picture
    // on screen, so the new one is heard at once (a seek costs a few ms).
    const core::ShownPosition shown = m_pipeline->shown();
    if (shown.valid && shown.title > 0 && m_state != State::Ended) {
        try {
            m_pipeline->playAtTime(shown.titleTime90k);
            m_minSerial = m_pipeline->currentSerial();
        } catch (const EngineError &e) {
            qCInfo(lcEngine, "audio stream %d from the next cell: %s", stream, qPrintable(e.message()));
        }
    }
}

void PlaybackEngine::SelectSubpictureStream(int stream)
{
    const int count = streams().subpictureStreamCount();
    if (stream < -1 || stream > 31 || (count > 0 && stream >= count))
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("No subpicture stream %1").arg(stream));
    m_subpictureChoice = stream;
    if (m_pipeline)
        m_pipeline->selectSubpictureStream(stream);
}

} // namespace velmora
