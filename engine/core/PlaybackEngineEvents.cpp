// The engine's events from its own threads, handled on the UI thread: they
// become the engine's signals and, for refusals and errors, words in the
// video window.
#include "PlaybackEngine.h"

#include "engine/TimeCode.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/video/VideoSurface.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)

namespace velmora {

using core::PipelineEvent;

void PlaybackEngine::onPipelineEvent(int generation, const PipelineEvent &event)
{
    if (generation != m_generation)
        return; // from a pipeline since stopped
    if (event.serial < m_minSerial && event.kind != PipelineEvent::Kind::Ended && event.kind != PipelineEvent::Kind::Error
        && event.kind != PipelineEvent::Kind::Refused)
        return; // about pictures from before the last seek or jump
    switch (event.kind) {
    case PipelineEvent::Kind::Time:
        emit DVDNotify(CurrentTime, TimeCode::fromTicks90k(event.titleTime90k, event.framesPerSecond).packed(), 0);
        break;
    case PipelineEvent::Kind::TitleChange:
        emit DVDNotify(TitleChange, event.title, 0);
        break;
    case PipelineEvent::Kind::ChapterStart:
        emit DVDNotify(ChapterStart, event.chapter, 0);
        break;
    case PipelineEvent::Kind::TitleInfo:
        emit TitleInfoChanged(0);
        break;
    case PipelineEvent::Kind::Ended:
        m_state = State::Ended;
        emit DVDNotify(PlaybackStopped, 0, 0);
        emit PlaybackReset(0);
        break;
    case PipelineEvent::Kind::Error:
        qCWarning(lcEngine, "%s", qPrintable(event.message));
        if (m_pipeline && m_pipeline->ended()) {
            // Playback is over: the reason stays in the video window until
            // something else is shown there.
            if (m_surface)
                m_surface->showMessage(event.message);
            m_state = State::Ended;
            emit DVDNotify(PlaybackStopped, 0, 0);
            emit PlaybackReset(0);
        } else if (m_surface) {
            m_surface->showNote(event.message); // playback goes on (without sound, say)
        }
        break;
    case PipelineEvent::Kind::Note:
        // Passed over (a part of the disc that cannot be read); playback goes on.
        qCInfo(lcEngine, "%s", qPrintable(event.message));
        if (m_surface)
            m_surface->showNote(event.message);
        break;
    case PipelineEvent::Kind::Refused:
        // A command the disc turned down after the call had returned.
        qCInfo(lcEngine, "%s", qPrintable(event.message));
        if (m_surface)
            m_surface->showMessage(event.message);
        break;
    case PipelineEvent::Kind::FirstPicture:
    case PipelineEvent::Kind::Still:
        break;
    }
}

} // namespace velmora
