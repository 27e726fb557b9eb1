#include "engine/spu/SubpictureAssembler.h"

#include <algorithm>

namespace velmora {

std::optional<SubpictureUnit> SubpictureAssembler::push(std::span<const std::uint8_t> payload,
                                                        std::optional<std::int64_t> pts)
{
    if (pts) {
        // Every unit begins in a packet with a PTS; one arriving mid-unit
        // means packets of the earlier unit were lost.
        m_buffer.clear();
        m_active = true;
        m_pts = pts;
    } else if (!m_active) {
        return std::nullopt;
    }
    m_buffer.insert(m_buffer.end(), payload.begin(), payload.end());
    if (m_buffer.size() < 2)
        return std::nullopt; // the size field itself is split (legal, rare)

    const std::size_t expected = (std::size_t(m_buffer[0]) << 8) | m_buffer[1];
    if (expected < 4) {
        reset();
        return std::nullopt;
    }
    if (m_buffer.size() < expected)
        return std::nullopt;

    SubpictureUnit unit;
    m_buffer.resize(expected); // what follows is padding
    unit.bytes = std::move(m_buffer);
    unit.pts = m_pts;
    reset();
    return unit;
}

void SubpictureAssembler::reset()
{
    m_active = false;
    m_buffer.clear();
    m_pts.reset();
}

} // namespace velmora
