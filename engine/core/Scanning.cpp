// Scanning: the speed of what plays, and the key-frame scan the navigation
// thread runs one step at a time.
#include "PlaybackPipeline.h"

#include "engine/EngineError.h"
#include "engine/core/NavigationState.h"
#include "engine/core/PipelineTiming.h"

#include <QLoggingCategory>

#include <dvdnav/dvdnav.h>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcPipeline)

namespace velmora::core {

using namespace timing;

void PlaybackPipeline::setSpeed(ScanSpeed speed)
{
    int title = 0;
    int chapter = 0;
    const bool inTitle = titleOnScreen(&title, &chapter);
    if (!inTitle && !speed.isNormal())
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Scanning needs a title"));
    const nav::TitleInfo *info = m_navigator.info().title(title);
    std::int64_t position = 0;
    {
        std::lock_guard state(m_stateMutex);
        if (m_shown.valid && m_shown.title == title)
            position = m_shown.titleTime90k;
        else // nothing shown since the last seek: go on from where it aims
            position = std::max<std::int64_t>(0, m_seekTarget);
    }
    if (info)
        position = std::clamp<std::int64_t>(position, 0, std::max<std::int64_t>(0, info->duration90k - 1));
    if (!inTitle || !info) {
        // Normal speed outside a title: nothing to restart.
        {
            std::lock_guard state(m_stateMutex);
            m_speed = speed;
        }
        post([this] { m_scanPlan.reset(); }, std::nullopt);
        return;
    }
    if (!speed.playsEveryFrame()) {
        // The navigation thread takes the first step at once. The plan's end
        // stops short of the title's last unit, which plays normally.
        const std::int64_t end = std::max<std::int64_t>(0, info->duration90k - ScanEndPlayTicks);
        post([this, speed, position, end, title] {
            m_scanPlan.emplace(speed, position, end, wallTicks());
            m_scanTitle = title;
        }, Flush{-1, speed});
        return;
    }
    // Every frame at the new rate from the picture on screen; sound queued
    // for the old one goes with the flush.
    post([this] { m_scanPlan.reset(); }, std::nullopt);
    postSeek(title, position, speed);
}

void PlaybackPipeline::scanStep(NavState &s)
{
    if (!m_scanPlan)
        return;
    s.nextStepAt = Clock::now() + std::chrono::microseconds(KeyFrameScan::kPictureInterval * 100 / 9);
    int title = 0;
    int chapter = 0;
    if (!navigatorTitle(&title, &chapter) || title != m_scanTitle) {
        endScan(-1); // the disc has moved on by itself
        return;
    }
    const KeyFrameScan::Target target = m_scanPlan->next(wallTicks());
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (target.edge == KeyFrameScan::Edge::Start) {
        endScan(0);
        return;
    }
    if (target.edge == KeyFrameScan::Edge::End) {
        endScan(info ? std::max<std::int64_t>(0, info->duration90k - ScanEndPlayTicks) : -1);
        return;
    }
    if (dvdnav_time_search(m_navigator.handle(), std::uint64_t(target.position)) != DVDNAV_STATUS_OK) {
        qCInfo(lcPipeline, "scan: time search failed: %s", qPrintable(m_navigator.lastError()));
        endScan(-1);
        return;
    }
    std::lock_guard lock(m_stateMutex);
    if (m_stopRequested)
        return;
    flushLocked(-1, s.speed);
}

void PlaybackPipeline::endScan(std::int64_t target90k)
{
    m_scanPlan.reset();
    std::lock_guard lock(m_stateMutex);
    // A search that came back after stop(): the sound player may already
    // follow another pipeline's serials (or be gone), so no flush reaches it.
    if (m_stopRequested)
        return;
    flushLocked(target90k >= 0 ? target90k : -1);
    if (target90k >= 0) {
        // Runs next, before anything is read under the new serial.
        const int title = m_scanTitle;
        m_commands.post([this, title, target90k] { seekNow(title, target90k); });
    }
}

} // namespace velmora::core
