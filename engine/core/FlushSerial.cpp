#include "FlushSerial.h"

#include "engine/audio/AudioPlayer.h"
#include "engine/core/PipelineItems.h"

namespace velmora::core {

int FlushSerial::advance()
{
    ++m_serial;
    m_video.flush(m_serial);
    if (m_audio)
        m_audio->flush(m_serial);
    return m_serial;
}

void FlushSerial::rejoin()
{
    m_video.flush(m_serial);
    if (m_audio)
        m_audio->flush(m_serial);
}

void FlushSerial::retire()
{
    advance();
}

} // namespace velmora::core
