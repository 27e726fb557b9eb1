#include "ResumeTracker.h"

#include "commands/Commands.h"
#include "engine/DvdEngine.h"
#include "engine/ErrorTrap.h"
#include "engine/TimeCode.h"
#include "shell/Form4.h"
#include "shell/Forms.h"

#include <QPushButton>

namespace velmora {

namespace {

int wholeSeconds(const TimeCode &tc)
{
    return tc.hours * 3600 + tc.minutes * 60 + tc.seconds;
}

} // namespace

ResumeTracker::ResumeTracker(std::unique_ptr<ResumeStore> store, QObject *parent)
    : QObject(parent), m_store(std::move(store))
{
}

ResumeTracker::~ResumeTracker() = default;

QString ResumeTracker::offerCaption(const ResumePoint &point)
{
    return QStringLiteral("继续上次播放: 标题 %1 %2 (右键菜单)").arg(point.title).arg(point.time.left(8));
}

void ResumeTracker::bind(DvdEngine *engine)
{
    if (engine == m_engine && engine)
        return;
    // The old engine may be gone already; what it last showed is kept here.
    leaveTitle();
    if (m_engine)
        m_engine->disconnect(this);
    m_engine = engine;
    m_discId.clear();
    setOffer(std::nullopt);
    if (!engine)
        return;
    connect(engine, &DvdEngine::DVDNotify, this, [this](int code, qint64 p1, qint64) { onNotify(code, p1); });
    connect(engine, &DvdEngine::PlaybackReset, this, [this](int) { leaveTitle(); });
    connect(engine, &DvdEngine::DiscIdentified, this, &ResumeTracker::onIdentified);
    const QString known = engine->DiscId();
    if (!known.isEmpty())
        onIdentified(known);
}

void ResumeTracker::onIdentified(const QString &discId)
{
    if (discId != m_discId) {
        // Another disc: the old one's point is written under its own id.
        if (!m_discId.isEmpty())
            leaveTitle();
        m_discId = discId;
    }
    setOffer(m_store->find(discId));
}

void ResumeTracker::onNotify(int code, qint64 param1)
{
    if (!m_engine)
        return;
    if (code == DvdEngine::TitleChange) {
        if (param1 != m_title)
            leaveTitle();
        return;
    }
    if (code != DvdEngine::CurrentTime)
        return;
    int title = 0;
    QString length;
    ErrorTrap trap(ErrorTrap::Mode::EndOnFirstFailure);
    trap.run([&] { title = m_engine->CurrentTitle(); });
    trap.run([&] { length = m_engine->TotalTitleTime(); });
    if (trap.stopped())
        return;
    if (title != m_title)
        leaveTitle();
    if (title <= 0)
        return;
    const TimeCode now = TimeCode::fromPacked(static_cast<std::int32_t>(param1));
    if (m_title != title)
        m_sinceWrite.start();
    m_title = title;
    m_time = now.toText();
    m_seconds = wholeSeconds(now);
    const std::optional<TimeCode> total = TimeCode::fromText(length);
    m_length = total ? wholeSeconds(*total) : 0;
    if (m_sinceWrite.isValid() && m_sinceWrite.elapsed() >= m_writeIntervalMs
        && m_engine->playState() == DvdEngine::PlayState::Playing) {
        write();
        m_sinceWrite.start();
    }
}

void ResumeTracker::leaveTitle()
{
    if (m_title <= 0)
        return;
    if (m_length > 0 && m_seconds >= m_length - EndMarginSeconds)
        m_store->clear(m_discId);
    else
        write();
    m_title = 0;
    m_time.clear();
}

void ResumeTracker::saveNow()
{
    if (m_title > 0)
        write();
}

void ResumeTracker::write()
{
    if (m_discId.isEmpty() || m_title <= 0)
        return;
    m_store->save(m_discId, ResumePoint{m_title, m_time});
}

bool ResumeTracker::resume()
{
    if (!m_offered || !m_engine)
        return false;
    const ResumePoint point = *m_offered;
    setOffer(std::nullopt);
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    // As the play commands do: the video window's play/pause marker says "playing".
    trap.run([] { setTag(form4().Pause, QStringLiteral("0")); });
    trap.run([&] { m_engine->PlayTitleAtTime(point.title, point.time); });
    return true;
}

void ResumeTracker::setOffer(std::optional<ResumePoint> point)
{
    const bool was = m_offered.has_value();
    m_offered = std::move(point);
    if (was || m_offered)
        emit offerChanged(m_offered.has_value());
}

} // namespace velmora
