#pragma once
// A sound device that failed or could not be opened, kept closed while a
// silent stand-in plays, and tried again every interval. Each try runs on a
// thread of its own: opening a device can take a while (reading ALSA's
// configuration, reaching a sound server) and the caller, the audio thread
// keeping the clock, must not wait on it.
//
// Threads: used by one thread at a time (the audio thread while the player
// runs, its control thread otherwise). While a try runs, its thread alone
// touches the device; the result is taken with reclaim() or settle().

#include "engine/audio/AudioOutput.h"

#include <QString>
#include <chrono>
#include <future>
#include <memory>
#include <optional>

namespace velmora {

class LostDevice
{
public:
    explicit LostDevice(std::chrono::milliseconds interval) : m_interval(interval) {}
    // Waits for a try under way and closes the device if it opened.
    ~LostDevice();
    LostDevice(const LostDevice &) = delete;
    LostDevice &operator=(const LostDevice &) = delete;

    bool holds() const { return m_device != nullptr; }
    // Keeps `device` (closed) and schedules its first try an interval from now.
    void hold(std::unique_ptr<AudioOutput> device);
    // Starts a try on its own thread when one is due and none runs.
    void tryWhenDue();
    // A try has run to its end and waits to be taken with reclaim().
    bool tryFinished() const;
    // The device, opened, if the try under way (waited for) or, when none
    // runs, a try made right here opens it; otherwise null, and the next
    // try is an interval from now.
    std::unique_ptr<AudioOutput> reclaim();
    // Ends a try under way: waits for it and closes the device if it opened,
    // so the device stays held, closed.
    void settle();

private:
    using SteadyClock = std::chrono::steady_clock;

    const std::chrono::milliseconds m_interval;
    std::unique_ptr<AudioOutput> m_device; // closed while held (but during a try)
    // The try under way: nothing, or why the device did not open.
    std::future<std::optional<QString>> m_try;
    SteadyClock::time_point m_nextTryAt;
};

} // namespace velmora
