// Sectors the disc will not give up: the navigation thread moves the
// navigator past them to the next unit it can read, and ends playback when
// the hole is too long to pass over (see UnreadableRun).
#include "PlaybackPipeline.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/core/NavigationState.h"
#include "engine/nav/CssCheck.h"

#include <QLoggingCategory>

#include <dvdnav/dvdnav.h>

#include <cstdio>

Q_DECLARE_LOGGING_CATEGORY(lcPipeline)

namespace velmora::core {

using namespace timing;

QString clockText(std::int64_t ticks90k)
{
    const std::int64_t seconds = std::max<std::int64_t>(0, ticks90k) / 90000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString unreadableMessage(std::int64_t at90k)
{
    return QStringLiteral("The disc cannot be read after %1").arg(clockText(at90k));
}

QString unreadableMenuMessage()
{
    return QStringLiteral("The disc's menu cannot be read");
}

QString skippedNote(std::int64_t at90k)
{
    return QStringLiteral("Skipped an unreadable part of the disc at %1").arg(clockText(at90k));
}

std::int64_t PlaybackPipeline::navigatorTicks(const NavState &s, std::int64_t sector, std::int64_t sectors) const
{
    // The program chain's average rate when its length is known; a DVD's
    // usual rate (about 4.5 Mbit/s) before.
    constexpr double UsualTicksPerSector = 330.0;
    const double perSector = s.pgcTicks > 0 && sectors > 0 ? double(s.pgcTicks) / double(sectors) : UsualTicksPerSector;
    return std::max<std::int64_t>(0, s.anchorTicks + std::int64_t(double(sector - s.anchorSector) * perSector));
}

void PlaybackPipeline::passUnreadable(NavState &s, int serial)
{
    dvdnav_t *nav = m_navigator.handle();
    std::uint32_t sector = 0;
    std::uint32_t sectors = 0;
    const bool placed = dvdnav_get_position(nav, &sector, &sectors) == DVDNAV_STATUS_OK;
    // A failed data block is where the navigator stands; a failed NAV
    // packet is the unit after it (its first sector is one past here).
    const std::int64_t at = placed ? navigatorTicks(s, sector, sectors) : s.anchorTicks;
    qCInfo(lcPipeline, "unreadable at sector %u of %u (%s; last unit at sector %lld, %lld ms): %s", sector, sectors,
           qPrintable(clockText(at)), qlonglong(s.anchorSector), qlonglong(s.anchorTicks / 90),
           qPrintable(m_navigator.lastError()));
    if (!s.unreadable.active() && m_audio) {
        // The sound resumes after the hole: its decoder starts again at a
        // whole frame, not at the rest of one whose start it has been given.
        m_audio->endOfStream(50ms);
    }
    if (s.unreadable.failed(at) == UnreadableRun::Verdict::GiveUp) {
        endUnreadable(s, serial);
        return;
    }
    // On to the unit after the one holding this sector. For a failed NAV
    // packet that search lands on the unit that failed (the sector after
    // ours is its first); its NAV packet fails once more, this time with
    // the navigator standing on it, and the next search passes it.
    {
        std::lock_guard lock(m_stateMutex);
        m_ownJump = true; // no need to show what is queued first
    }
    // The search cannot go past the chain's last unit (it lands on that
    // unit again): a failure no further on than the last one means there
    // is nothing more to try in this chain.
    const bool onwards = placed && std::int64_t(sector) > s.failedSector && sector + 1 < sectors;
    s.failedSector = placed ? std::int64_t(sector) : s.failedSector;
    s.skipping = true;
    if (onwards && dvdnav_sector_search(nav, sector + 1, SEEK_SET) == DVDNAV_STATUS_OK)
        return;
    // No unit after it in the program chain: on as if its last cell had
    // ended (the next program chain, or the disc's command after this one).
    s.skipping = false;
    if (dvdnav_next_pg_search(nav) == DVDNAV_STATUS_OK)
        return;
    {
        std::lock_guard lock(m_stateMutex);
        m_ownJump = false;
    }
    endUnreadable(s, serial);
}

void PlaybackPipeline::endUnreadable(NavState &s, int serial)
{
    dvdnav_t *nav = m_navigator.handle();
    QString message;
    std::int32_t code = ErrorCode::Unreadable;
    if (!dvdnav_is_domain_vts(nav)) {
        message = unreadableMenuMessage();
    } else if (!nav::cssLibraryLoaded()
               && nav::checkFirstTitle(m_navigator.path()) == nav::TitleAccess::Unreadable) {
        // A drive that will not hand out a protected disc's sectors
        // before it is authenticated, which only libdvdcss does.
        message = nav::encryptedDiscMessage();
        code = ErrorCode::Encrypted;
    } else {
        message = unreadableMessage(s.unreadable.startTicks());
    }
    qCWarning(lcPipeline, "%s", qPrintable(message));
    s.unreadable.reset();
    s.skipping = false;
    drainVideo(serial);
    m_ended = true;
    report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, code, message});
    waitForCommand(serial, -1);
}

} // namespace velmora::core
