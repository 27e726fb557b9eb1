#pragma once
// The hook through which subpictures and menu highlights reach the picture.
//
// The pipeline carries everything an overlay needs through its video queue,
// in stream order, so an overlay sees exactly what belongs to the picture
// being shown: the subpicture packets (substreams 0x20-0x3F, substream byte
// removed), the colour table changes, and the NAV packet (PCI) of each unit
// as its first picture is shown. paint() is called for every picture just
// before it goes to the output.
//
// Threads: every call comes from the engine's video thread; reset() also from
// the video thread, after every flush (seek, jump, menu call).

#include <QImage>
#include <cstddef>
#include <cstdint>

#include <dvdread/nav_types.h>

namespace velmora::core {

class PictureOverlay
{
public:
    virtual ~PictureOverlay() = default;

    // A subpicture packet of stream id (0-31); pts90k on the engine's
    // timeline (the same one paint() gets), or -1 when the packet has none.
    virtual void subpicturePacket(int id, const std::uint8_t *data, std::size_t size, std::int64_t pts90k) = 0;
    // The disc's colour table (16 entries 0x00YYCrCb).
    virtual void colourTable(const std::uint32_t clut[16]) = 0;
    // The NAV packet of the unit whose first picture is about to be shown.
    virtual void unitShown(const pci_t &pci, std::int64_t unitStart90k) = 0;
    // Draws onto the picture (already at its output size; the picture's own
    // coordinates are codedSize) for the picture at pts90k.
    virtual void paint(QImage &picture, const QSize &codedSize, std::int64_t pts90k) = 0;
    // Forgets every pending subpicture (flush).
    virtual void reset() = 0;
};

} // namespace velmora::core
