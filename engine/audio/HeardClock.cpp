#include "engine/audio/HeardClock.h"

#include <algorithm>
#include <cstdlib>

namespace velmora {

namespace {
constexpr std::int64_t Ms90k = TicksPerSecond / 1000;
// Readings further than this from the running clock are taken as they are
// (a start, a stall that ended, a device that skipped).
constexpr std::int64_t ClockResyncMs = 60;
// Each reading moves the running clock by 1/ClockSmoothing of its error.
constexpr std::int64_t ClockSmoothing = 8;
// Readings that stay the same this long mean the device stopped taking sound
// (a sound server holding a new stream back, an underrun): the clock stops.
constexpr int StallMs = 60;
} // namespace

void HeardClock::reset()
{
    m_valid = false;
    m_lastReported = NoPts;
    m_writtenEndPts = NoPts;
}

std::int64_t HeardClock::extrapolated(SteadyClock::time_point now, bool running) const
{
    std::int64_t pts = m_pts;
    // Between two readings the device plays on at real time, but only if it
    // was seen moving: a sound server that holds a new stream back, or a
    // device that stalls, must not drag the picture ahead. Even then no
    // further than a reading or two could be late.
    if (running && m_advancing) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - m_measuredAt);
        const std::int64_t us = std::clamp<std::int64_t>(elapsed.count(), 0, MaxExtrapolationMs * 1000);
        pts += us * TicksPerSecond / 1'000'000;
    }
    // The device cannot play what it was never given.
    return std::min(pts, m_writtenEndPts);
}

void HeardClock::measured(std::int64_t heard, bool exact, SteadyClock::time_point now)
{
    if (!m_valid) {
        m_advancing = false;
        m_pts = heard;
        m_lastProgressAt = now;
    } else {
        // Delays come in steps (a sound server takes the buffer in blocks of
        // 10-25 ms), so a single reading jitters by that much. Follow the
        // readings smoothly, and jump only when they disagree by more than
        // jitter can.
        const std::int64_t predicted = extrapolated(now, true);
        const std::int64_t error = heard - predicted;
        if (heard > m_lastHeard)
            m_lastProgressAt = now;
        // Readings repeat while a block is playing; only a long run of them
        // means the device stopped taking sound.
        const bool wasAdvancing = m_advancing;
        m_advancing = m_lastHeard != NoPts && now - m_lastProgressAt < std::chrono::milliseconds(StallMs);
        // An empty device has played everything: that reading is exact.
        if (exact || !wasAdvancing || !m_advancing || std::llabs(error) > ClockResyncMs * Ms90k)
            m_pts = heard;
        else
            m_pts = predicted + error / ClockSmoothing;
    }
    m_lastHeard = heard;
    m_measuredAt = now;
    m_valid = true;
}

void HeardClock::setPaused(bool paused, SteadyClock::time_point now)
{
    if (m_valid && paused)
        m_pts = std::max(extrapolated(now, true), m_lastReported == NoPts ? m_pts : m_lastReported);
    m_measuredAt = now;
}

std::int64_t HeardClock::report(SteadyClock::time_point now, bool running) const
{
    std::int64_t pts = extrapolated(now, running);
    // Device delays jitter by a millisecond or two between readings; the
    // picture must never see time run backwards.
    if (m_lastReported != NoPts)
        pts = std::max(pts, m_lastReported);
    m_lastReported = pts;
    return pts;
}

} // namespace velmora
