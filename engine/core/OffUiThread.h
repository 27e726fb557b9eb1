#pragma once
// Slow blocking work the UI thread cannot do itself: opening a disc reads
// every information file on it, and a sound server takes its time to open a
// device (seconds on a drive that spins up). run() does the work on a worker
// thread while the UI thread waits in a local event loop that paints the
// windows and runs timers but takes no user input, so no command can start
// meanwhile; the cursor shows busy. What the work throws is rethrown.
//
// Threads: run() on the UI thread only. The work runs on the worker and
// must not touch widgets; the caller's locals it captures are safe, since
// run() returns only after the worker has been joined.

#include <functional>

namespace velmora::core {

class OffUiThread
{
public:
    // Throws EngineError(DeviceError) when called again from inside the
    // local loop of a run still under way (a timer, a queued event).
    void run(const std::function<void()> &work);

private:
    bool m_busy = false;
};

} // namespace velmora::core
