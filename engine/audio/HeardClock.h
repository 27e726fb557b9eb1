#pragma once
// The stream time of the sound being heard, from the readings the audio
// thread takes after each write (end of what was written minus the device's
// delay). Between readings it runs on by the system clock, but only while
// the readings were seen moving and never further than MaxExtrapolationMs;
// readings are followed smoothly, against the steps in which a sound server
// takes its buffer, and it never runs past the end of what was written.
// What it reports never goes backwards until the next reset().
//
// Threads: none of its own and no lock; the owner's lock guards every call
// (AudioPlayer's m_mutex).

#include "engine/audio/AudioTypes.h"

#include <chrono>
#include <cstdint>

namespace velmora {

class HeardClock
{
public:
    using SteadyClock = std::chrono::steady_clock;

    // Longest it runs on the system clock between two readings.
    static constexpr int MaxExtrapolationMs = 40;

    // Nothing heard yet: after a start, a stop and every flush.
    void reset();
    // True once a reading was taken since the last reset().
    bool valid() const { return m_valid; }
    // Sound up to endPts has been written to the device (also while paused).
    void written(std::int64_t endPts) { m_writtenEndPts = endPts; }
    // A reading while playing: `heard` is heard now; `exact` when the device
    // is empty (everything written has been played).
    void measured(std::int64_t heard, bool exact, SteadyClock::time_point now);
    // Pausing freezes it where it stands at `now`; resuming runs on from there.
    void setPaused(bool paused, SteadyClock::time_point now);
    // The time heard at `now` (running: not paused), never earlier than an
    // earlier report since the last reset(). Only when valid().
    std::int64_t report(SteadyClock::time_point now, bool running) const;

private:
    // The last reading run on to `now`, without the monotonic guard.
    std::int64_t extrapolated(SteadyClock::time_point now, bool running) const;

    bool m_valid = false;
    std::int64_t m_pts = NoPts;           // heard at m_measuredAt
    std::int64_t m_writtenEndPts = NoPts; // end of the last frame written
    SteadyClock::time_point m_measuredAt;
    bool m_advancing = false;                   // the last reading moved
    std::int64_t m_lastHeard = NoPts;           // the last reading itself
    SteadyClock::time_point m_lastProgressAt;   // when the readings last moved
    mutable std::int64_t m_lastReported = NoPts; // keeps report() monotonic
};

} // namespace velmora
