#include "engine/spu/SubpictureImage.h"

#include <algorithm>

namespace velmora {

namespace {
int clampByte(int v) { return std::clamp(v, 0, 255); }
} // namespace

QRgb rgbFromYCrCb(std::uint32_t yCrCb)
{
    // BT.601, studio range, coefficients scaled by 2^16.
    const int y = static_cast<int>((yCrCb >> 16) & 0xFF) - 16;
    const int cr = static_cast<int>((yCrCb >> 8) & 0xFF) - 128;
    const int cb = static_cast<int>(yCrCb & 0xFF) - 128;
    const int luma = 76309 * y;
    const int r = (luma + 104597 * cr + 32768) >> 16;
    const int g = (luma - 53279 * cr - 25675 * cb + 32768) >> 16;
    const int b = (luma + 132201 * cb + 32768) >> 16;
    return qRgb(clampByte(r), clampByte(g), clampByte(b));
}

QImage renderSubpicture(const Subpicture &sp, const ColourTable &table)
{
    if (!sp.displayed || sp.width <= 0 || sp.height <= 0)
        return {};
    QImage image(sp.width, sp.height, QImage::Format_ARGB32);
    if (image.isNull())
        return {};

    auto toArgb = [&](const SubpictureNibbles &colour, const SubpictureNibbles &contrast) {
        std::array<QRgb, 4> argb{};
        for (int v = 0; v < 4; ++v) {
            const QRgb rgb = rgbFromYCrCb(table[colour[v] & 0xF]);
            argb[v] = qRgba(qRed(rgb), qGreen(rgb), qBlue(rgb), alphaFromContrast(contrast[v]));
        }
        return argb;
    };
    const std::array<QRgb, 4> base = toArgb(sp.colour, sp.contrast);

    for (int row = 0; row < sp.height; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        const std::uint8_t *pixels = sp.pixels.data() + std::size_t(row) * std::size_t(sp.width);
        if (sp.colourChanges.empty()) {
            for (int col = 0; col < sp.width; ++col)
                line[col] = base[pixels[col] & 3];
            continue;
        }
        // Colour-change regions are rare (karaoke, some menus): the slow,
        // per-pixel lookup is fine for them.
        for (int col = 0; col < sp.width; ++col) {
            SubpictureNibbles colour;
            SubpictureNibbles contrast;
            sp.paletteAt(sp.x + col, sp.y + row, colour, contrast);
            line[col] = toArgb(colour, contrast)[pixels[col] & 3];
        }
    }
    return image;
}

} // namespace velmora
