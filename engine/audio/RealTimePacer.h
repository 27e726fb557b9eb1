#pragma once
// A pretend device buffer drained by the system clock (std::chrono::steady_clock).
//
// The silent output and the real-time WAV file use it to take sound no
// faster than a device would, and to report a delay as a device does.
// Not thread-safe: owned by one output.

#include <chrono>
#include <cstdint>

namespace velmora {

class RealTimePacer
{
public:
    using Clock = std::chrono::steady_clock;

    // bufferFrames: how far ahead of the clock writing may run.
    explicit RealTimePacer(std::int64_t bufferFrames);

    // How many of `frames` may be taken now, waiting up to maxWait for room.
    int admit(int frames, std::chrono::milliseconds maxWait);
    // Records frames as written.
    void written(int frames);
    // Frames written and not yet "played".
    std::int64_t delayFrames() const;
    void setPaused(bool paused);
    // Forgets everything written.
    void discard();

private:
    std::int64_t playedFrames(Clock::time_point now) const;

    std::int64_t m_bufferFrames;
    std::int64_t m_writtenFrames = 0;
    // Frames played = m_playedBeforeStart + frames of time since
    // m_startedAt (restarted on resume and after an underrun), at most all
    // written; frozen at m_playedAtPause while paused.
    Clock::time_point m_startedAt;
    std::int64_t m_playedBeforeStart = 0;
    bool m_paused = false;
    std::int64_t m_playedAtPause = 0;
};

} // namespace velmora
