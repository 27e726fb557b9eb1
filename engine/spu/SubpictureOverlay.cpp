#include "engine/spu/SubpictureOverlay.h"

namespace velmora {

namespace {

bool sameSubpicture(const Subpicture &a, const Subpicture &b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height && a.colour == b.colour
        && a.contrast == b.contrast && a.displayed == b.displayed && a.colourChanges.size() == b.colourChanges.size()
        && a.pixels == b.pixels;
}

bool sameHighlight(const std::optional<ButtonArea> &a, const std::optional<ButtonArea> &b)
{
    if (!a || !b)
        return !a && !b;
    return a->rect == b->rect && a->hasColours == b->hasColours && a->colour == b->colour && a->contrast == b->contrast;
}

} // namespace

bool SubpictureOverlay::set(const Subpicture *subpicture, const std::optional<ButtonArea> &highlight,
                            const ColourTable &table)
{
    if (!subpicture) {
        const bool changed = !m_image.isNull();
        m_subpicture.reset();
        m_highlight.reset();
        m_image = QImage();
        m_rect = QRect();
        return changed;
    }
    // Colour-change regions are compared by count only; a unit differing in
    // nothing else is, in practice, the same unit.
    if (m_subpicture && sameSubpicture(*m_subpicture, *subpicture) && sameHighlight(m_highlight, highlight)
        && m_table == table)
        return false;
    m_subpicture = *subpicture;
    m_highlight = highlight;
    m_table = table;
    m_image = highlight ? renderHighlighted(*subpicture, table, *highlight) : renderSubpicture(*subpicture, table);
    m_rect = QRect(subpicture->x, subpicture->y, subpicture->width, subpicture->height);
    return true;
}

void SubpictureOverlay::paint(QPainter &painter, const SurfaceMapping &mapping) const
{
    if (m_image.isNull())
        return;
    const QRectF target = mapping.toSurface(m_rect);
    if (target.isEmpty())
        return;
    // The part of the subpicture inside the picture (areas may overhang it).
    const QRect inside = m_rect.intersected(QRect(QPoint(0, 0), mapping.pictureSize()));
    const QRectF source(inside.translated(-m_rect.topLeft()));
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image, source);
    painter.restore();
}

} // namespace velmora
