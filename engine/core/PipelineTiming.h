#pragma once
// The pipeline's shared timing: limits the navigation and video threads
// agree on, and the clocks they count in (90 kHz ticks).

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace velmora::core::timing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A still or end holds the picture; the navigation thread waits at most this
// long for the video thread to show what is queued before it goes on anyway.
inline constexpr auto DrainTimeout = 3000ms;
// Events without a single data block before we give up on a disc that loops
// through empty program chains.
inline constexpr int NoDataEventLimit = 4000;
// A picture later than this on the master clock is dropped, not shown.
inline constexpr std::int64_t LateDropTicks = 90000 / 10; // 100 ms
// Waiting for a picture's time, the video thread looks up at least this often
// (pause, flush, stop).
inline constexpr std::int64_t WaitSliceTicks = 90000 / 100; // 10 ms
// Video queue: about 2 s of a DVD's top rate; enough to stay ahead of sound.
inline constexpr std::size_t VideoQueueItems = 4096;
inline constexpr std::size_t VideoQueueBytes = 3 * 1024 * 1024;
// ... and at most this many units (0.4-1 s each) ahead of the picture on
// screen: the navigator must not run far ahead of what the user sees (a
// chapter skip counts from the chapter on screen, and the title may end).
inline constexpr std::size_t VideoQueueUnits = 3;
// The first picture shows at once; the next ones wait this long at most for
// the sound to start (a sound server takes a few hundred milliseconds), so
// picture and sound start together instead of the picture running ahead.
inline constexpr auto AudioStartWait = 600ms;
// Seeks decode from the unit before the target: the unit at the target may
// open with pictures that refer to the one before it.
inline constexpr std::int64_t SeekLeadTicks = 90000 / 2;
// Blocks in a row with scrambled packets that mean the disc is encrypted
// (not one damaged header that happens to say so).
inline constexpr int ScrambledBlocksToStop = 8;
// A key-frame scan that runs into the title's end plays this much of it
// normally, so the title ends (and its command after it runs) as on a disc played through.
inline constexpr std::int64_t ScanEndPlayTicks = 90000;

inline std::int64_t wallTicks()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count() * 9 / 100;
}

inline std::int64_t ticksSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t).count() * 9 / 100;
}

inline std::int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace velmora::core::timing
