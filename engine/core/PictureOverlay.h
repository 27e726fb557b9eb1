#pragma once
// The hook through which subpictures and menu highlights reach the picture.
//
// The pipeline carries everything an overlay needs through its video queue,
// in stream order, so an overlay sees exactly what belongs to the picture
// being shown: the subpicture packets of every stream (substreams
// 0x20-0x3F, substream byte removed) and the colour table changes. For each
// picture, just before it goes to the output, paint() gets what is to be
// drawn over it: the subpicture stream to show, whether subtitles are on,
// and the NAV packet of the unit on screen with its highlighted button. The
// pipeline calls paint() again for the picture on screen when only the
// highlight changed (a still menu worked with the mouse).
//
// Threads: every call comes from the engine's video thread; reset() also from
// the video thread, after every flush (seek, jump, menu call).

#include <QImage>
#include <QSize>
#include <cstddef>
#include <cstdint>

#include <dvdread/nav_types.h>

namespace velmora::core {

// What goes over one picture.
struct OverlayFrame
{
    QSize codedSize;              // the picture's own coordinates (720x576, 720x480)
    bool wide = false;            // 16:9 (the picture is shown anamorphic)
    std::int64_t pts90k = 0;      // on the engine's timeline (as subpicturePacket's)
    int subpictureStream = -1;    // physical stream to show (0-31), -1 none
    bool showSubtitles = true;    // false: forced subpictures only
    bool subpicturesOn = true;    // false: nothing at all (scanning)
    const pci_t *pci = nullptr;   // NAV packet of the unit on screen (null: none)
    int button = 0;               // highlighted button (1-based), 0 none
    bool activated = false;       // the button was pressed: its activate colours
};

class PictureOverlay
{
public:
    virtual ~PictureOverlay() = default;

    // A subpicture packet of stream id (0-31); pts90k on the engine's
    // timeline (the same one paint() gets), or -1 when the packet has none.
    virtual void subpicturePacket(int id, const std::uint8_t *data, std::size_t size, std::int64_t pts90k) = 0;
    // The disc's colour table (16 entries 0x00YYCrCb).
    virtual void colourTable(const std::uint32_t clut[16]) = 0;
    // Draws onto the picture (already at its output size, square pixels).
    virtual void paint(QImage &picture, const OverlayFrame &frame) = 0;
    // Forgets every pending subpicture (flush).
    virtual void reset() = 0;
};

} // namespace velmora::core
