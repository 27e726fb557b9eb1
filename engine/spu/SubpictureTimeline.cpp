#include "engine/spu/SubpictureTimeline.h"

#include <algorithm>

namespace velmora {

void SubpictureTimeline::add(Subpicture subpicture, std::int64_t pts)
{
    // A unit that never starts still ends what was showing, at its stop.
    const std::int64_t start = pts + (subpicture.displayed ? subpicture.startDelay : subpicture.stopDelay.value_or(0));
    const auto after = std::upper_bound(m_units.begin(), m_units.end(), start,
                                        [](std::int64_t t, const Entry &e) { return t < e.start; });
    m_units.insert(after, Entry{start, pts, std::move(subpicture)});
    while (m_units.size() > kMaxPending)
        m_units.pop_front();
}

const Subpicture *SubpictureTimeline::at(std::int64_t now, bool showSubtitles)
{
    // The current unit is the last that has started; those before it are
    // replaced and never show again.
    while (m_units.size() >= 2 && m_units[1].start <= now)
        m_units.pop_front();
    if (m_units.empty() || m_units.front().start > now)
        return nullptr;
    const Entry &current = m_units.front();
    const Subpicture &sp = current.subpicture;
    if (!sp.displayed)
        return nullptr;
    if (sp.stopDelay && now >= current.pts + *sp.stopDelay)
        return nullptr;
    if (!sp.forced && !showSubtitles)
        return nullptr;
    return &sp;
}

ActiveSubpicture activeSubpicture(int navigatorValue)
{
    if (navigatorValue == -1)
        return {};
    const unsigned bits = static_cast<unsigned>(navigatorValue) & 0xFF;
    return ActiveSubpicture{static_cast<int>(bits & 0x1F), (bits & 0x80) == 0};
}

} // namespace velmora
