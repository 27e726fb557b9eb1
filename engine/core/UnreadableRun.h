#pragma once
// A run of sectors the disc would not give up (a scratch, a damaged or dirty
// disc), as the navigation thread passes it by: where in the title it began,
// how far it reaches, and when to stop trying.
//
// The navigation thread moves the navigator to the next unit after every
// failed read. A hole of up to LongestTicks of the title is skipped and
// playback goes on with a note; a longer one, or MostFailures reads in a row
// without a single block of data (a menu that loops over its bad sectors, a
// drive that answers nothing), ends playback.
//
// Pure value; navigation thread only. Times are 90 kHz ticks of the title
// (or menu) time line, as dvdnav_get_current_time counts.

#include <QString>
#include <algorithm>
#include <cstdint>
#include <optional>

namespace velmora::core {

class UnreadableRun
{
public:
    static constexpr std::int64_t LongestTicks = 5 * 90000;
    static constexpr int MostFailures = 64;

    enum class Verdict { SkipOn, GiveUp };

    bool active() const { return m_failures > 0; }
    // Where the run began (valid while active()).
    std::int64_t startTicks() const { return m_start; }

    // A read failed where the title stands at at90k (estimated from the
    // sector when the navigator has no time for it).
    Verdict failed(std::int64_t at90k)
    {
        if (m_failures++ == 0)
            m_start = m_reach = at90k;
        else
            m_reach = std::max(m_reach, at90k);
        return verdict();
    }
    // The navigator read a unit's NAV packet at title time at90k while the
    // run lasts: the hole reaches at least there.
    Verdict reached(std::int64_t at90k)
    {
        if (!active())
            return Verdict::SkipOn;
        m_reach = std::max(m_reach, at90k);
        return verdict();
    }
    // Data came through again: the run is over. Its start, when there was one.
    std::optional<std::int64_t> recovered()
    {
        if (!active())
            return std::nullopt;
        const std::int64_t start = m_start;
        reset();
        return start;
    }
    void reset() { *this = UnreadableRun(); }

private:
    Verdict verdict() const
    {
        return m_reach - m_start > LongestTicks || m_failures >= MostFailures ? Verdict::GiveUp : Verdict::SkipOn;
    }

    int m_failures = 0;
    std::int64_t m_start = 0;
    std::int64_t m_reach = 0;
};

// "hh:mm:ss" of a title time (whole seconds, rounded down).
QString clockText(std::int64_t ticks90k);
// What the user reads when playback ends in a hole that is too long.
QString unreadableMessage(std::int64_t at90k);
// ... when a menu cannot be read.
QString unreadableMenuMessage();
// The note shown when a hole was skipped and playback goes on.
QString skippedNote(std::int64_t at90k);

} // namespace velmora::core
