#pragma once
// The subpicture layer of the video surface: the subpicture on screen, with
// the menu highlight over it, rendered once and painted scaled with the
// picture.
//
// The presenter calls set() for every picture it shows (with what
// SubpictureTimeline::at() gives and the highlighted button's ButtonArea),
// then paint() onto the picture or the surface. Rendering happens only
// when the subpicture, the highlight or the colour table changed, so moving
// the pointer inside a button or playing on under a still subtitle costs a
// comparison, not a render.
//
// One owner (the engine's video thread); not thread-safe.

#include "engine/spu/ButtonHighlight.h"
#include "engine/spu/SubpictureDecoder.h"
#include "engine/spu/SubpictureImage.h"
#include "engine/video/SurfaceMapping.h"

#include <QImage>
#include <QPainter>
#include <optional>

namespace velmora {

class SubpictureOverlay
{
public:
    // What to show; nullptr shows nothing. Returns true when the picture
    // changed and the surface needs repainting.
    bool set(const Subpicture *subpicture, const std::optional<ButtonArea> &highlight, const ColourTable &table);
    // Paints the layer where the mapping puts the picture (smoothly scaled).
    void paint(QPainter &painter, const SurfaceMapping &mapping) const;

    bool isEmpty() const { return m_image.isNull(); }
    const QImage &image() const { return m_image; }
    // Where the image belongs, in picture coordinates.
    QRect pictureRect() const { return m_rect; }

private:
    std::optional<Subpicture> m_subpicture;
    std::optional<ButtonArea> m_highlight;
    ColourTable m_table{};
    QImage m_image;
    QRect m_rect;
};

} // namespace velmora
