#include "engine/core/ScanPlan.h"

#include <algorithm>
#include <cmath>

namespace velmora {

std::optional<ScanSpeed> ScanSpeed::from(Direction direction, double speed)
{
    for (double allowed : {0.5, 1.0, 2.0, 4.0, 8.0, 16.0, 32.0})
        if (std::abs(speed - allowed) < 1e-9)
            return ScanSpeed(direction, allowed);
    return std::nullopt;
}

KeyFrameScan::KeyFrameScan(ScanSpeed speed, std::int64_t position, std::int64_t titleLength, std::int64_t wallNow)
    : m_speed(speed), m_origin(position), m_length(std::max<std::int64_t>(titleLength, 0)),
      m_wallOrigin(wallNow), m_last(position)
{
}

KeyFrameScan::Target KeyFrameScan::next(std::int64_t wallNow, std::int64_t minStep)
{
    const bool forward = m_speed.direction() == ScanSpeed::Direction::Forward;
    const double travelled = double(std::max<std::int64_t>(wallNow - m_wallOrigin, 0)) * m_speed.speed();
    std::int64_t position = m_origin + (forward ? 1 : -1) * static_cast<std::int64_t>(std::llround(travelled));
    // A slow search or decode may have left the ideal time line behind the
    // previous target; never show a picture twice.
    position = forward ? std::max(position, m_last + minStep) : std::min(position, m_last - minStep);

    Target target;
    if (position <= 0) {
        target.edge = Edge::Start;
        position = 0;
    } else if (position >= m_length) {
        target.edge = Edge::End;
        position = m_length;
    }
    target.position = position;
    m_last = position;
    return target;
}

} // namespace velmora
