#include "engine/spu/ButtonHighlight.h"

#include <algorithm>
#include <limits>

namespace velmora {

namespace {

constexpr int kMaxButtons = 36; // entries of hli_t::btnit

bool rectangleValid(const btni_t &b)
{
    return b.x_start <= b.x_end && b.y_start <= b.y_end;
}

} // namespace

void splitButtonPalette(std::uint32_t word, SubpictureNibbles &colour, SubpictureNibbles &contrast)
{
    for (int v = 0; v < 4; ++v) {
        colour[v] = static_cast<std::uint8_t>((word >> (16 + 4 * v)) & 0xF);
        contrast[v] = static_cast<std::uint8_t>((word >> (4 * v)) & 0xF);
    }
}

int buttonCount(const pci_t &pci)
{
    if ((pci.hli.hl_gi.hli_ss & 3) == 0)
        return 0;
    // libdvdnav trusts btn_ns up to 255 and would index past the table;
    // the table has room for 36.
    return std::min<int>(pci.hli.hl_gi.btn_ns, kMaxButtons);
}

std::optional<ButtonArea> buttonArea(const pci_t &pci, int button, ButtonMode mode)
{
    if (button < 1 || button > buttonCount(pci))
        return std::nullopt;
    dvdnav_highlight_area_t area{};
    // The library only reads the packet; its signature lacks the const.
    if (dvdnav_get_highlight_area(const_cast<pci_t *>(&pci), button, static_cast<int32_t>(mode), &area)
        != DVDNAV_STATUS_OK)
        return std::nullopt;
    ButtonArea result;
    result.button = button;
    result.rect = QRect(QPoint(area.sx, area.sy), QPoint(area.ex, area.ey));
    // btn_coln 0 reads as palette 0 (everything transparent), which would
    // blank the button when selected: keep its own colours instead.
    result.hasColours = pci.hli.btnit[button - 1].btn_coln != 0;
    splitButtonPalette(area.palette, result.colour, result.contrast);
    return result;
}

int buttonAt(const pci_t &pci, int x, int y)
{
    const int count = buttonCount(pci);
    int best = 0;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (int i = 0; i < count; ++i) {
        const btni_t &b = pci.hli.btnit[i];
        if (!rectangleValid(b) || x < int(b.x_start) || x > int(b.x_end) || y < int(b.y_start)
            || y > int(b.y_end))
            continue;
        const long long dx = 2LL * x - (int(b.x_start) + int(b.x_end));
        const long long dy = 2LL * y - (int(b.y_start) + int(b.y_end));
        const long long distance = dx * dx + dy * dy;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i + 1;
        }
    }
    return best;
}

int repairButton(const pci_t &pci, int current)
{
    const int count = buttonCount(pci);
    if (current >= 1 && current <= count && rectangleValid(pci.hli.btnit[current - 1]))
        return current;
    for (int i = 0; i < count; ++i)
        if (rectangleValid(pci.hli.btnit[i]))
            return i + 1;
    return 0;
}

QImage renderHighlighted(const Subpicture &menu, const ColourTable &table, const ButtonArea &button)
{
    QImage image = renderSubpicture(menu, table);
    if (image.isNull() || !button.hasColours)
        return image;
    // The button's rectangle, in the subpicture's own coordinates and
    // clipped to it: buttons may reach beyond the drawn area.
    const QRect inside = button.rect.translated(-menu.x, -menu.y).intersected(image.rect());
    if (inside.isEmpty())
        return image;

    std::array<QRgb, 4> argb{};
    for (int v = 0; v < 4; ++v) {
        const QRgb rgb = rgbFromYCrCb(table[button.colour[v] & 0xF]);
        argb[v] = qRgba(qRed(rgb), qGreen(rgb), qBlue(rgb), alphaFromContrast(button.contrast[v]));
    }
    for (int row = inside.top(); row <= inside.bottom(); ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int col = inside.left(); col <= inside.right(); ++col)
            line[col] = argb[menu.pixelAt(col, row) & 3];
    }
    return image;
}

} // namespace velmora
