#include "engine/audio/LostDevice.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioLog.h"

namespace velmora {

namespace {
std::optional<QString> tryOpen(AudioOutput &device)
{
    try {
        device.open();
        return std::nullopt;
    } catch (const EngineError &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    }
}
} // namespace

LostDevice::~LostDevice()
{
    settle();
}

void LostDevice::hold(std::unique_ptr<AudioOutput> device)
{
    settle();
    m_device = std::move(device);
    m_nextTryAt = SteadyClock::now() + m_interval;
}

void LostDevice::tryWhenDue()
{
    if (!m_device || m_try.valid() || SteadyClock::now() < m_nextTryAt)
        return;
    AudioOutput *device = m_device.get();
    m_try = std::async(std::launch::async, [device] { return tryOpen(*device); });
}

bool LostDevice::tryFinished() const
{
    return m_try.valid() && m_try.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::unique_ptr<AudioOutput> LostDevice::reclaim()
{
    if (!m_device)
        return nullptr;
    m_nextTryAt = SteadyClock::now() + m_interval;
    const std::optional<QString> failure = m_try.valid() ? m_try.get() : tryOpen(*m_device);
    if (failure) {
        qCDebug(lcAudio).noquote() << "still no sound:" << *failure;
        return nullptr;
    }
    return std::move(m_device);
}

void LostDevice::settle()
{
    if (m_try.valid() && !m_try.get())
        m_device->close();
}

} // namespace velmora
