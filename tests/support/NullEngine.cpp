#include "tests/support/NullEngine.h"

#include "engine/EngineError.h"
#include "engine/TimeCode.h"

#include <QLabel>

namespace velmora {

NullEngine::NullEngine(QWidget *host)
    : DvdEngine(host)
{
    auto *label = new QLabel(tr("No DVD"), host);
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    label->setStyleSheet(QStringLiteral("background: black; color: #808080;"));
    m_surface = label;
}

void NullEngine::noDisc() const
{
    throw EngineError(ErrorCode::NoDisc, tr("No DVD is loaded"));
}

void NullEngine::Render(int) { noDisc(); }
void NullEngine::Play() { noDisc(); }
void NullEngine::Pause() { noDisc(); }
void NullEngine::Stop() { noDisc(); }
void NullEngine::PlayAtTime(const QString &) { noDisc(); }
void NullEngine::PlayBackwards(double) { noDisc(); }
void NullEngine::PlayForwards(double) { noDisc(); }
void NullEngine::PlayNextChapter() { noDisc(); }
void NullEngine::PlayPrevChapter() { noDisc(); }
void NullEngine::ShowMenu(int) { noDisc(); }
void NullEngine::Eject() { noDisc(); }
int NullEngine::CurrentTitle() { noDisc(); }
int NullEngine::CurrentChapter() { noDisc(); }
int NullEngine::TitlesAvailable() { noDisc(); }
int NullEngine::ChaptersInTitle(int) { noDisc(); }
QString NullEngine::TotalTitleTime() { noDisc(); }
QString NullEngine::TimeCodeToText(std::int32_t timeCode) { return TimeCode::fromPacked(timeCode).toText(); }
int NullEngine::AudioStreamCount() { noDisc(); }
bool NullEngine::AudioStreamEnabled(int) { noDisc(); }
QString NullEngine::GetAudioLanguage(int) { noDisc(); }
int NullEngine::SubpictureStreamCount() { noDisc(); }
bool NullEngine::SubpictureStreamEnabled(int) { noDisc(); }
QString NullEngine::GetSubpictureLanguage(int) { noDisc(); }
void NullEngine::SelectAudioStream(int) { noDisc(); }
void NullEngine::SelectSubpictureStream(int) { noDisc(); }

void NullEngine::Move(int left, int top, int width, int height)
{
    m_surface->setGeometry(left, top, width, height);
}

void NullEngine::SetFocus()
{
    m_surface->setFocus(Qt::OtherFocusReason);
}

} // namespace velmora
