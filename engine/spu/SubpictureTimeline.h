#pragma once
// Which subpicture is on screen at a given presentation time, and which
// subpicture stream the navigator asks for.
//
// The engine adds each decoded unit of the stream it shows with the unit's
// PTS; the presenter asks at() with the clock of the picture it presents.
// A unit shows from PTS + startDelay until PTS + stopDelay, or until the
// next unit's start replaces it. Ordinary subtitles show only while
// subtitles are switched on; forced ones (menus, forced captions) show
// either way.
//
// Times are 90 kHz ticks on the demuxer's clock. Time stamps restart at
// loops and jump at cell changes: clear() at every flush and discontinuity,
// as for the other queues. Not thread-safe: one owner (the thread that
// presents pictures), fed by whoever it takes units from.

#include "engine/spu/SubpictureDecoder.h"

#include <cstdint>
#include <deque>

namespace velmora {

class SubpictureTimeline
{
public:
    // Pending units kept at most; the oldest go first (a stream that is
    // decoded far ahead of the picture cannot grow memory without bound).
    static constexpr std::size_t kMaxPending = 64;

    // Adds a decoded unit. Units may come in any order of PTS.
    void add(Subpicture subpicture, std::int64_t pts);
    // The subpicture on screen at `now`, or nullptr; drops units whose time
    // has passed. The pointer stays valid until the next add/at/clear.
    const Subpicture *at(std::int64_t now, bool showSubtitles);
    // Forgets every unit.
    void clear() { m_units.clear(); }
    bool empty() const { return m_units.empty(); }

private:
    struct Entry
    {
        std::int64_t start;  // PTS + start delay (PTS + stop delay for a unit that only stops)
        std::int64_t pts;
        Subpicture subpicture;
    };
    std::deque<Entry> m_units; // ascending start
};

// dvdnav_get_active_spu_stream() packs the physical stream (low 5 bits) and
// "display off, forced only" (bit 7) into one signed byte, and gives -1 when
// the program chain has no subpicture stream. Read the bit as a flag: the
// value -128 is stream 0 with display off, not an error.
struct ActiveSubpicture
{
    int physical = -1;      // 0..31; -1 none
    bool displayOn = false; // the disc asks for ordinary subtitles to show
};
ActiveSubpicture activeSubpicture(int navigatorValue);

} // namespace velmora
