#pragma once
// Where the picture sits on the video surface, and mapping points between
// surface pixels and the picture's own coordinates.
//
// The picture (720x576 or 720x480 coded pixels, or any other size) is shown
// at its display aspect (4:3, or 16:9 anamorphic), scaled to the largest
// rectangle of that aspect inside the surface and centred, with black bars
// on the remaining sides (letterbox or pillarbox).
//
// Menu buttons, highlight areas and subpicture placements are in picture
// coordinates; mouse positions are in surface pixels. A value type: copy
// it freely, any thread. Rebuild it when the surface size, the picture size
// or the aspect changes.

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <optional>

namespace velmora {

enum class DisplayAspect { Standard4x3, Wide16x9 };

class SurfaceMapping
{
public:
    SurfaceMapping() = default;
    SurfaceMapping(QSize picture, DisplayAspect aspect, QSize surface);

    // The surface rectangle the picture is drawn into (empty when the
    // surface or the picture is empty).
    QRect displayRect() const { return m_display; }
    QSize pictureSize() const { return m_picture; }

    // The picture pixel under a surface pixel; nullopt on the bars or off
    // the surface. The surface pixel's centre decides.
    std::optional<QPoint> toPicture(QPoint surfacePixel) const;
    // A picture point (picture pixel edges are whole numbers) in surface
    // coordinates; nullopt outside the picture.
    std::optional<QPointF> toSurface(QPointF picturePoint) const;
    // A rectangle of picture pixels (QRect, right/bottom inclusive) as the
    // surface area that shows them, for drawing overlays.
    QRectF toSurface(const QRect &pictureRect) const;

    // The display aspect as width over height.
    static double aspectRatio(DisplayAspect aspect);

private:
    QSize m_picture;
    QRect m_display;
};

} // namespace velmora
