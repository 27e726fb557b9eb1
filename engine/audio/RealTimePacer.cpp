#include "engine/audio/RealTimePacer.h"

#include "engine/audio/AudioTypes.h"

#include <algorithm>
#include <thread>

namespace velmora {

namespace {
// Frames a device plays in `d` at the output rate.
std::int64_t framesIn(RealTimePacer::Clock::duration d)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count() * OutputRate / 1'000'000'000;
}
// Waiting for fewer frames than this would spin: a device frees room in
// periods of this order too.
constexpr std::int64_t MinRoomFrames = OutputRate / 100;
} // namespace

RealTimePacer::RealTimePacer(std::int64_t bufferFrames)
    : m_bufferFrames(std::max<std::int64_t>(bufferFrames, MinRoomFrames)), m_startedAt(Clock::now())
{
}

std::int64_t RealTimePacer::playedFrames(Clock::time_point now) const
{
    const std::int64_t played = m_paused ? m_playedAtPause : m_playedBeforeStart + framesIn(now - m_startedAt);
    return std::min(played, m_writtenFrames);
}

int RealTimePacer::admit(int frames, std::chrono::milliseconds maxWait)
{
    if (frames <= 0)
        return 0;
    const std::int64_t wanted = std::min<std::int64_t>(frames, MinRoomFrames);
    const Clock::time_point deadline = Clock::now() + maxWait;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const std::int64_t room = m_bufferFrames - (m_writtenFrames - playedFrames(now));
        if (room >= wanted)
            return static_cast<int>(std::min<std::int64_t>(frames, room));
        if (now >= deadline || m_paused)
            return 0;
        // Sleep until the missing frames have played, but not past the deadline.
        const auto missing = std::chrono::nanoseconds((wanted - room) * 1'000'000'000 / OutputRate);
        std::this_thread::sleep_until(std::min<Clock::time_point>(now + missing, deadline));
    }
}

void RealTimePacer::written(int frames)
{
    const Clock::time_point now = Clock::now();
    // Caught up with everything written: an underrun. The pretend device
    // starts again from this write, as a real one does after recovery.
    if (!m_paused && playedFrames(now) >= m_writtenFrames) {
        m_playedBeforeStart = m_writtenFrames;
        m_startedAt = now;
    }
    m_writtenFrames += frames;
}

std::int64_t RealTimePacer::delayFrames() const
{
    return m_writtenFrames - playedFrames(Clock::now());
}

void RealTimePacer::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    const Clock::time_point now = Clock::now();
    if (paused) {
        m_playedAtPause = playedFrames(now);
    } else {
        m_playedBeforeStart = m_playedAtPause;
        m_startedAt = now;
    }
    m_paused = paused;
}

void RealTimePacer::discard()
{
    m_writtenFrames = 0;
    m_playedBeforeStart = 0;
    m_playedAtPause = 0;
    m_startedAt = Clock::now();
}

} // namespace velmora
