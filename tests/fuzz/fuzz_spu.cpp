// Fuzz target: subpicture units and menu button tables.
//
// Every input goes three ways: as a unit exactly as given; with its size
// field patched to the input's length (so inserting and deleting mutations
// reach the control sequences instead of stopping at the size check); and
// cut into packets for the assembler at places the input itself picks.
// Whatever decodes is rendered, plain and with a button highlight. Inputs
// as long as a NAV packet's PCI also go through the button functions.

#include "engine/spu/ButtonHighlight.h"
#include "engine/spu/SubpictureAssembler.h"
#include "engine/spu/SubpictureDecoder.h"
#include "engine/spu/SubpictureImage.h"
#include "tests/fuzz/FuzzTarget.h"

#include <cstring>
#include <vector>

using namespace velmora;

namespace {

ColourTable tableFrom(const std::uint8_t *data, std::size_t size)
{
    ColourTable table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = size ? (std::uint32_t(data[i % size]) * 0x010203u) & 0xFFFFFF : 0;
    return table;
}

void decodeAndRender(std::span<const std::uint8_t> unit, const ColourTable &table)
{
    const auto sp = decodeSubpicture(unit);
    if (!sp)
        return;
    const QImage plain = renderSubpicture(*sp, table);
    ButtonArea button;
    button.button = 1;
    button.hasColours = true;
    button.rect = QRect(QPoint(sp->x - 3 + int(unit.size() % 7), sp->y + 1), QPoint(sp->x + sp->width / 2, sp->y + sp->height + 2));
    button.colour = {1, 2, 3, 4};
    button.contrast = {0, 5, 10, 15};
    const QImage highlighted = renderHighlighted(*sp, table, button);
    // Same geometry, always.
    if (plain.size() != highlighted.size())
        __builtin_trap();
}

} // namespace

int fuzzOne(const std::uint8_t *data, std::size_t size)
{
    const ColourTable table = tableFrom(data, size);
    decodeAndRender(std::span<const std::uint8_t>(data, size), table);

    if (size >= 2 && size <= 0xFFFF) {
        std::vector<std::uint8_t> patched(data, data + size);
        patched[0] = static_cast<std::uint8_t>(size >> 8);
        patched[1] = static_cast<std::uint8_t>(size);
        decodeAndRender(patched, table);
    }

    SubpictureAssembler assembler;
    std::size_t at = 0;
    std::int64_t pts = 0;
    while (at < size) {
        const std::size_t chunk = 1 + (data[at] * 7u) % 2048u;
        const std::size_t n = std::min(chunk, size - at);
        const bool withPts = (data[at] & 0x81) == 0x80 || at == 0;
        if (auto unit = assembler.push(std::span<const std::uint8_t>(data + at, n),
                                       withPts ? std::optional<std::int64_t>(pts += 3600) : std::nullopt))
            decodeAndRender(unit->bytes, table);
        at += n;
    }

    if (size >= sizeof(pci_t)) {
        pci_t pci;
        std::memcpy(&pci, data, sizeof(pci_t));
        const int count = buttonCount(pci);
        for (int b = 0; b <= count + 1; ++b) {
            (void)buttonArea(pci, b, ButtonMode::Select);
            (void)buttonArea(pci, b, ButtonMode::Activate);
        }
        (void)repairButton(pci, data[0]);
        (void)buttonAt(pci, data[1] * 3, data[2] * 3);
    }
    return 0;
}
