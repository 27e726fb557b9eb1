#include "engine/audio/NullOutput.h"

#include "engine/audio/AudioTypes.h"

namespace velmora {

NullOutput::NullOutput(const QString &reason)
    : m_reason(reason), m_pacer(std::int64_t(OutputRate) * BufferMs / 1000)
{
}

QString NullOutput::description() const
{
    return m_reason.isEmpty() ? QStringLiteral("silent output")
                              : QStringLiteral("silent output (%1)").arg(m_reason);
}

void NullOutput::close()
{
    m_pacer.discard();
    m_open = false;
}

int NullOutput::write(const std::int16_t *, int frames)
{
    if (!m_open)
        return -1;
    const int taken = m_pacer.admit(frames, std::chrono::milliseconds(MaxWriteWaitMs));
    m_pacer.written(taken);
    return taken;
}

} // namespace velmora
