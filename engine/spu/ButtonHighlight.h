#pragma once
// Menu buttons: their areas and highlight colours from the NAV packet, the
// highlighted overlay, hit testing and repair of an invalid current button.
//
// Everything here reads the PCI of the NAV packet *on screen* (the one that
// travelled through the queues with the picture being shown), never the
// navigator's newest one, which runs ahead of the picture.
//
// A button's palette word holds four colour-table indices in its upper half
// and four contrasts in its lower half, one nibble per pixel value, pixel
// value 0 in the lowest nibble of each half. Inside the button's rectangle
// the menu subpicture's pixels take these instead of their own colours.
//
// Pure functions over the structures given; no libdvdnav state is touched.
// Any thread, as long as the caller keeps the pci_t unchanged meanwhile.

#include "engine/spu/SubpictureDecoder.h"
#include "engine/spu/SubpictureImage.h"

#include <QImage>
#include <QRect>
#include <dvdnav/dvdnav.h>
#include <cstdint>
#include <optional>

namespace velmora {

// Which of the button's two colour sets: while the pointer or the arrow keys
// rest on it, or in the moment it is pressed.
enum class ButtonMode { Select = 0, Activate = 1 };

struct ButtonArea
{
    int button = 0;              // 1-based, as libdvdnav numbers them
    QRect rect;                  // picture coordinates; right/bottom inclusive as on the disc
    // False when the disc gives the button no colour set (btn_coln 0): the
    // highlight then leaves the subpicture's own colours.
    bool hasColours = false;
    SubpictureNibbles colour{};  // colour-table index by pixel value
    SubpictureNibbles contrast{};
};

// Splits a palette word (as in btn_coli or dvdnav_highlight_area_t) into
// colour indices and contrasts by pixel value.
void splitButtonPalette(std::uint32_t word, SubpictureNibbles &colour, SubpictureNibbles &contrast);

// Number of buttons of this NAV packet, 0 when it has no highlight
// information; never more than the 36 the table holds.
int buttonCount(const pci_t &pci);

// The area and colours of a button in the given mode (through
// dvdnav_get_highlight_area); nullopt for a button this packet lacks.
std::optional<ButtonArea> buttonArea(const pci_t &pci, int button, ButtonMode mode);

// The button under a picture point: of the buttons whose rectangle holds it,
// the one whose centre is nearest (as libdvdnav's mouse selection chooses);
// 0 when the point hits none. Lets the caller skip dvdnav_mouse_select /
// dvdnav_mouse_activate outside every button, where they fail with a
// misleading message.
int buttonAt(const pci_t &pci, int x, int y);

// The button to use when `current` is not valid for this packet (0, beyond
// the count, or an empty rectangle): the first valid one, or 0 when there is
// none. A valid current button comes back unchanged. The engine then calls
// dvdnav_button_select() with the result when it differs.
int repairButton(const pci_t &pci, int current);

// The menu subpicture rendered as renderSubpicture() does (same size, to be
// painted at menu.x, menu.y), with the pixels inside the button's rectangle
// recoloured with the button's colours and contrasts. Null when the menu
// subpicture shows nothing.
QImage renderHighlighted(const Subpicture &menu, const ColourTable &table, const ButtonArea &button);

} // namespace velmora
