#pragma once
// What a pipeline under test reported: its events, recorded from the
// pipeline's threads (recorder()), read and waited for from the test's.

#include "engine/core/PlaybackPipeline.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::testing {

class PipelineEventLog
{
public:
    using Kind = core::PipelineEvent::Kind;

    // The handler to give the pipeline; this log must outlive it.
    core::PlaybackPipeline::EventHandler recorder()
    {
        return [this](const core::PipelineEvent &e) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(e);
        };
    }
    std::vector<core::PipelineEvent> eventsCopy() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::size_t eventCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_events.size();
    }
    core::PipelineEvent event(int index) const
    {
        std::lock_guard lock(m_mutex);
        return m_events[std::size_t(index)];
    }
    // The index of the first event of kind after index from that satisfies
    // ok; -1 on timeout.
    template <class Ok>
    int waitEvent(Kind kind, std::size_t from, int timeoutMs, Ok ok) const
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                for (std::size_t i = from; i < m_events.size(); ++i)
                    if (m_events[i].kind == kind && ok(m_events[i]))
                        return int(i);
            }
            if (timer.elapsed() >= timeoutMs)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    int waitEvent(Kind kind, std::size_t from, int timeoutMs) const
    {
        return waitEvent(kind, from, timeoutMs, [](const core::PipelineEvent &) { return true; });
    }

private:
    mutable std::mutex m_mutex;
    std::vector<core::PipelineEvent> m_events; // guarded by m_mutex
};

// Left channel of a 48 kHz stereo 16-bit WAV written by WavFileOutput.
inline std::vector<std::int16_t> readWavLeft(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    std::vector<std::int16_t> left;
    for (qsizetype i = 44; i + 3 < bytes.size(); i += 4)
        left.push_back(std::int16_t(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8)));
    return left;
}

} // namespace velmora::testing
