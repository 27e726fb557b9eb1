#pragma once
// Turning decoded subpictures into pictures Qt can paint.
//
// The colour table is the program chain's 16-entry palette as the navigator
// hands it over (libdvdnav's SPU_CLUT_CHANGE event): each entry 0x00YYCrCb,
// ITU-R BT.601 studio range. Contrast 0..15 becomes alpha 0..255.
//
// Pure functions; any thread (QImage is safe off the UI thread).

#include "engine/spu/SubpictureDecoder.h"

#include <QImage>
#include <QRgb>
#include <array>
#include <cstdint>

namespace velmora {

using ColourTable = std::array<std::uint32_t, 16>;

// One colour-table entry (0x00YYCrCb) as opaque RGB.
QRgb rgbFromYCrCb(std::uint32_t yCrCb);
// Alpha 0..255 of a 4-bit contrast.
inline int alphaFromContrast(int contrast) { return (contrast & 0xF) * 17; }

// The subpicture as a width x height ARGB32 (not premultiplied) image, to be
// painted at (sp.x, sp.y) of the picture. Null image when it shows nothing.
QImage renderSubpicture(const Subpicture &sp, const ColourTable &table);

} // namespace velmora
