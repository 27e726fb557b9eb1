#include "SubpictureCompositor.h"

#include "engine/spu/ButtonHighlight.h"
#include "engine/video/SurfaceMapping.h"

#include <QPainter>
#include <span>

namespace velmora::core {

void SubpictureCompositor::subpicturePacket(int id, const std::uint8_t *data, std::size_t size, std::int64_t pts90k)
{
    if (id < 0 || id >= StreamCount)
        return;
    std::optional<std::int64_t> pts;
    if (pts90k >= 0)
        pts = pts90k;
    std::optional<SubpictureUnit> unit = m_assemblers[std::size_t(id)].push(std::span(data, size), pts);
    if (!unit || !unit->pts)
        return;
    std::optional<Subpicture> decoded = decodeSubpicture(unit->bytes);
    if (!decoded) {
        ++m_damaged;
        return;
    }
    m_timelines[std::size_t(id)].add(std::move(*decoded), *unit->pts);
}

void SubpictureCompositor::colourTable(const std::uint32_t clut[16])
{
    std::copy_n(clut, 16, m_table.begin());
}

void SubpictureCompositor::paint(QImage &picture, const OverlayFrame &frame)
{
    const Subpicture *shown = nullptr;
    for (int id = 0; id < StreamCount; ++id) {
        SubpictureTimeline &timeline = m_timelines[std::size_t(id)];
        if (timeline.empty())
            continue;
        // Asked of every stream so units whose time has passed go, shown or not.
        const Subpicture *current = timeline.at(frame.pts90k, frame.showSubtitles);
        if (id == frame.subpictureStream && frame.subpicturesOn)
            shown = current;
    }
    std::optional<ButtonArea> highlight;
    if (shown && frame.pci && frame.button > 0)
        highlight = buttonArea(*frame.pci, frame.button, frame.activated ? ButtonMode::Activate : ButtonMode::Select);
    m_overlay.set(shown, highlight, m_table);
    if (m_overlay.isEmpty() || picture.isNull())
        return;
    QPainter painter(&picture);
    const SurfaceMapping mapping(frame.codedSize, frame.wide ? DisplayAspect::Wide16x9 : DisplayAspect::Standard4x3,
                                 picture.size());
    m_overlay.paint(painter, mapping);
}

void SubpictureCompositor::reset()
{
    for (auto &assembler : m_assemblers)
        assembler.reset();
    for (auto &timeline : m_timelines)
        timeline.clear();
}

} // namespace velmora::core
