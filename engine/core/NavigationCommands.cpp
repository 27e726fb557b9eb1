// The navigation commands: checked on the control thread against what is on
// screen, the navigator's published position and the disc information, then
// run by the navigation thread.
#include "PlaybackPipeline.h"

#include "engine/DvdEngine.h"
#include "engine/EngineError.h"
#include "engine/core/PipelineTiming.h"

#include <QLoggingCategory>

#include <dvdnav/dvdnav.h>

#include <algorithm>
#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcPipeline)

namespace velmora::core {

using namespace timing;

namespace {
// Chapter starts: hide any picture an open group of pictures shows before the chapter's first.
std::int64_t chapterTarget(const nav::TitleInfo &info, int chapter)
{
    return std::max<std::int64_t>(0, info.chapterStarts90k[chapter - 1] - 90000 / 50);
}
} // namespace

// ---------------------------------------------------------------------------
// Control thread

void PlaybackPipeline::rewindNavigator()
{
    post([this] {
        if (!m_navigator.rewind())
            refuse(QStringLiteral("Back to the start"));
        m_lastTitleSet = 0;
    }, std::nullopt, NavPosition{});
}

void PlaybackPipeline::playTitle(int title)
{
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (!info)
        throw EngineError(ErrorCode::NotAllowed, QStringLiteral("Title play: no title %1 on this disc").arg(title));
    post([this, title] { jumpNow("Title play", [title](dvdnav_t *nav) { return dvdnav_title_play(nav, title); }); },
         Flush{}, NavPosition{-1, title, 1, true, false, info->titleSet});
}

void PlaybackPipeline::playChapter(int title, int chapter)
{
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (!info || chapter < 1 || chapter > info->chapterStarts90k.size())
        throw EngineError(ErrorCode::ChapterOutOfRange, QStringLiteral("No chapter %1 in title %2").arg(chapter).arg(title));
    post([this, title, chapter] {
        jumpNow("Chapter play", [&](dvdnav_t *nav) { return dvdnav_part_play(nav, title, chapter); });
    }, Flush{chapterTarget(*info, chapter)}, NavPosition{-1, title, chapter, true, false, info->titleSet});
}

void PlaybackPipeline::playAtTime(std::int64_t target90k)
{
    int title = 0;
    int chapter = 0;
    if (!titleOnScreen(&title, &chapter))
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Not playing a title"));
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (!info || target90k < 0 || target90k >= info->duration90k)
        throw EngineError(ErrorCode::TimeOutOfRange, QStringLiteral("The time is past the end of the title"));
    postSeek(title, target90k, ScanSpeed::normal());
}

void PlaybackPipeline::playTitleAt(int title, std::int64_t target90k)
{
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (!info)
        throw EngineError(ErrorCode::NotAllowed, QStringLiteral("Title play: no title %1 on this disc").arg(title));
    if (target90k < 0 || target90k >= info->duration90k)
        throw EngineError(ErrorCode::TimeOutOfRange, QStringLiteral("The time is past the end of the title"));
    int chapter = 1;
    while (chapter < info->chapterStarts90k.size() && info->chapterStarts90k[chapter] <= target90k)
        ++chapter;
    post([this, title, target90k] {
        dvdnav_t *nav = m_navigator.handle();
        // Out of a menu's still: leave it, or libdvdnav keeps it for the new place.
        dvdnav_still_skip(nav);
        bool jumped = false;
        jumpNow("Title play", [&](dvdnav_t *n) {
            const dvdnav_status_t status = dvdnav_title_play(n, title);
            jumped = status == DVDNAV_STATUS_OK;
            return status;
        });
        if (!jumped || target90k == 0)
            return;
        const std::uint64_t searchAt = std::uint64_t(std::max<std::int64_t>(0, target90k - SeekLeadTicks));
        if (dvdnav_time_search(nav, searchAt) != DVDNAV_STATUS_OK)
            m_pendingSeek = PendingSeek{title, target90k};
    }, Flush{target90k}, NavPosition{-1, title, chapter, true, false, info->titleSet});
}

void PlaybackPipeline::postSeek(int title, std::int64_t target90k, ScanSpeed speed)
{
    const nav::TitleInfo *info = m_navigator.info().title(title);
    int chapter = 1;
    if (info) {
        while (chapter < info->chapterStarts90k.size() && info->chapterStarts90k[chapter] <= target90k)
            ++chapter;
    }
    post([this, title, target90k] { seekNow(title, target90k); }, Flush{target90k, speed},
         NavPosition{-1, title, chapter, true, false, info ? info->titleSet : 0});
}

void PlaybackPipeline::nextChapter()
{
    int title = 0;
    int chapter = 0;
    if (!titleOnScreen(&title, &chapter))
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Not playing a title"));
    const nav::TitleInfo *info = m_navigator.info().title(title);
    if (!info || chapter >= info->chapterStarts90k.size())
        throw EngineError(ErrorCode::ChapterOutOfRange, QStringLiteral("This is the last chapter"));
    const int target = chapter + 1;
    post([this, title, target] {
        jumpNow("Next chapter", [&](dvdnav_t *nav) { return dvdnav_part_play(nav, title, target); });
    }, Flush{chapterTarget(*info, target)}, NavPosition{-1, title, target, true, false, info->titleSet});
}

void PlaybackPipeline::prevChapter()
{
    int title = 0;
    int chapter = 0;
    if (!titleOnScreen(&title, &chapter))
        throw EngineError(ErrorCode::NotInTitle, QStringLiteral("Not playing a title"));
    const nav::TitleInfo *info = m_navigator.info().title(title);
    const int target = std::max(1, chapter - 1);
    if (!info || target > info->chapterStarts90k.size())
        throw EngineError(ErrorCode::ChapterOutOfRange, QStringLiteral("No previous chapter"));
    post([this, title, target] {
        jumpNow("Previous chapter", [&](dvdnav_t *nav) { return dvdnav_part_play(nav, title, target); });
    }, Flush{chapterTarget(*info, target)}, NavPosition{-1, title, target, true, false, info->titleSet});
}

void PlaybackPipeline::menuCall(int menu)
{
    // libdvdnav finds the title menu in the video manager and every other
    // menu among the menus of the title set it last entered; at the disc's
    // first-play program it has none yet.
    const nav::DiscInfo &disc = m_navigator.info();
    NavPosition now;
    {
        std::lock_guard lock(m_stateMutex);
        now = positionLocked();
    }
    const bool reachable = !now.firstPlay
                           && (menu == DvdEngine::TitleMenu ? disc.hasTitleMenu
                                                            : disc.titleSetHasMenu(now.titleSet, menu));
    if (!reachable)
        throw EngineError(ErrorCode::NotAllowed, QStringLiteral("Menu: no such menu or menu not reachable"));
    post([this, menu] { jumpNow("Menu", [menu](dvdnav_t *nav) { return dvdnav_menu_call(nav, DVDMenuID_t(menu)); }); },
         Flush{}, NavPosition{-1, 0, 0, false, false, now.titleSet});
}

// ---------------------------------------------------------------------------
// Navigation thread

void PlaybackPipeline::runPendingSeek(int unitTitle)
{
    const std::optional<PendingSeek> pending = std::exchange(m_pendingSeek, std::nullopt);
    if (!pending || unitTitle != pending->title)
        return; // the jump led elsewhere (a pre-command of the disc's own)
    const std::uint64_t searchAt = std::uint64_t(std::max<std::int64_t>(0, pending->target90k - SeekLeadTicks));
    if (dvdnav_time_search(m_navigator.handle(), searchAt) != DVDNAV_STATUS_OK)
        refuse(QStringLiteral("Time search"));
}

void PlaybackPipeline::refuse(const QString &what)
{
    const QString why = m_navigator.lastError();
    qCInfo(lcPipeline, "%s refused: %s", qPrintable(what), qPrintable(why));
    report(PipelineEvent{PipelineEvent::Kind::Refused, 0, 0, 0, 25, ErrorCode::NotAllowed,
                         QStringLiteral("%1: %2").arg(what, why)});
}

template <class F>
void PlaybackPipeline::jumpNow(const char *what, F &&call)
{
    if (call(m_navigator.handle()) != DVDNAV_STATUS_OK) {
        refuse(QLatin1String(what));
        return;
    }
    // libdvdnav keeps a pending still across a jump (also one it has not
    // reported yet, at a cell's end): the new place opens with the old
    // still, which the navigation loop then passes by.
    m_staleStill = true;
    std::lock_guard lock(m_stateMutex);
    m_ownJump = true;
}

void PlaybackPipeline::seekNow(int title, std::int64_t target90k)
{
    dvdnav_t *nav = m_navigator.handle();
    const std::uint64_t searchAt = std::uint64_t(std::max<std::int64_t>(0, target90k - SeekLeadTicks));
    int navTitle = 0;
    int navChapter = 0;
    if (!navigatorTitle(&navTitle, &navChapter) || navTitle != title) {
        // The navigator has read past the title on screen (into the menu the
        // title ends in, perhaps a still): back into the title first.
        dvdnav_still_skip(nav);
        if (dvdnav_title_play(nav, title) != DVDNAV_STATUS_OK) {
            refuse(QStringLiteral("Title play"));
            return;
        }
        m_staleStill = true;
    }
    if (dvdnav_time_search(nav, searchAt) == DVDNAV_STATUS_OK)
        return;
    // libdvdnav refuses to search while a still is pending (the still on
    // screen, or one at the end of a cell read ahead): leave it and search
    // again; the still must not come back at the new place.
    dvdnav_still_skip(nav);
    if (dvdnav_time_search(nav, searchAt) != DVDNAV_STATUS_OK) {
        refuse(QStringLiteral("Time search"));
        return;
    }
    m_staleStill = true;
}

bool PlaybackPipeline::navigatorTitle(int *title, int *chapter) const
{
    dvdnav_t *nav = m_navigator.handle();
    int32_t t = 0;
    int32_t c = 0;
    const bool vts = dvdnav_is_domain_vts(nav);
    const dvdnav_status_t status = dvdnav_current_title_info(nav, &t, &c);
    if (!vts || status != DVDNAV_STATUS_OK || t <= 0)
        return false;
    *title = t;
    *chapter = c;
    return true;
}

void PlaybackPipeline::publishPosition(int serial)
{
    NavPosition now;
    now.serial = serial;
    now.inTitle = navigatorTitle(&now.title, &now.chapter);
    now.firstPlay = dvdnav_is_domain_fp(m_navigator.handle()) != 0;
    now.titleSet = m_lastTitleSet;
    std::lock_guard lock(m_stateMutex);
    if (serial == m_serial.current())
        m_navPosition = now;
}

} // namespace velmora::core
