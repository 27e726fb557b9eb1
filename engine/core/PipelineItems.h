#pragma once
// What travels from the navigation thread to the video thread: the units the
// navigator reads (one NAV packet's context each) and the items of the video
// queue. Plain values; a unit is shared read-only once queued.

#include "engine/nav/StreamSummary.h"

#include <dvdread/nav_types.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora::core {

// One NAV packet's worth of context for the pictures of its unit.
struct NavUnit
{
    std::int64_t timelineStart = 0;   // vobu_s_ptm on our timeline
    std::int64_t timelineEnd = 0;
    std::int64_t titleTime90k = 0;    // title (or menu) time at the unit's start
    int title = 0;                    // 0 in menus
    int chapter = 0;
    int framesPerSecond = 25;
    bool wide = false;
    int codedHeight = 576;
    int titleSet = 0;
    int domain = 0;
    pci_t pci{};
    std::shared_ptr<const StreamSummary> streams; // the program chain's streams
    int navigatorSubpicture = -1;     // physical stream the navigator shows, -1 none
};

struct VideoItem
{
    // Repaint: draw the picture on screen again (the highlight changed).
    enum class Kind { Data, Unit, Subpicture, Clut, Drain, Repaint } kind = Kind::Data;
    int serial = 0;                   // the flush generation it was read under
    std::vector<std::uint8_t> bytes;
    std::int64_t pts = -1;            // timeline, -1 for none
    std::int64_t dts = -1;
    int id = 0;                       // subpicture stream; drain marker id
    std::shared_ptr<const NavUnit> unit;
};

} // namespace velmora::core
