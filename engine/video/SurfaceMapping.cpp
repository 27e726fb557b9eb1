#include "engine/video/SurfaceMapping.h"

#include <algorithm>
#include <cmath>

namespace velmora {

double SurfaceMapping::aspectRatio(DisplayAspect aspect)
{
    return aspect == DisplayAspect::Wide16x9 ? 16.0 / 9.0 : 4.0 / 3.0;
}

SurfaceMapping::SurfaceMapping(QSize picture, DisplayAspect aspect, QSize surface)
    : m_picture(picture)
{
    if (picture.isEmpty() || surface.isEmpty())
        return;
    const double ratio = aspectRatio(aspect);
    int width = surface.width();
    int height = static_cast<int>(std::lround(width / ratio));
    if (height > surface.height()) {
        height = surface.height();
        width = static_cast<int>(std::lround(height * ratio));
    }
    width = std::max(1, std::min(width, surface.width()));
    height = std::max(1, std::min(height, surface.height()));
    m_display = QRect((surface.width() - width) / 2, (surface.height() - height) / 2, width, height);
}

std::optional<QPoint> SurfaceMapping::toPicture(QPoint surfacePixel) const
{
    if (m_display.isEmpty() || !m_display.contains(surfacePixel))
        return std::nullopt;
    const double fx = (surfacePixel.x() - m_display.x() + 0.5) * m_picture.width() / m_display.width();
    const double fy = (surfacePixel.y() - m_display.y() + 0.5) * m_picture.height() / m_display.height();
    // Inside the display rectangle the result is inside the picture; the
    // clamp only guards the last pixel against rounding.
    const int x = std::min(static_cast<int>(fx), m_picture.width() - 1);
    const int y = std::min(static_cast<int>(fy), m_picture.height() - 1);
    return QPoint(x, y);
}

std::optional<QPointF> SurfaceMapping::toSurface(QPointF picturePoint) const
{
    if (m_display.isEmpty() || picturePoint.x() < 0 || picturePoint.y() < 0
        || picturePoint.x() > m_picture.width() || picturePoint.y() > m_picture.height())
        return std::nullopt;
    return QPointF(m_display.x() + picturePoint.x() * m_display.width() / m_picture.width(),
                   m_display.y() + picturePoint.y() * m_display.height() / m_picture.height());
}

QRectF SurfaceMapping::toSurface(const QRect &pictureRect) const
{
    if (m_display.isEmpty())
        return {};
    const QRectF clipped = QRectF(pictureRect).intersected(QRectF(QPointF(0, 0), QSizeF(m_picture)));
    if (clipped.isEmpty())
        return {};
    const double sx = double(m_display.width()) / m_picture.width();
    const double sy = double(m_display.height()) / m_picture.height();
    return QRectF(m_display.x() + clipped.x() * sx, m_display.y() + clipped.y() * sy,
                  clipped.width() * sx, clipped.height() * sy);
}

} // namespace velmora
