#pragma once
// Collects the packets of one subpicture stream into complete units.
//
// A unit is spread over the payloads of private-stream-1 packets of its
// substream (0x20-0x3F); the first packet of a unit carries the PTS, and the
// unit's first two bytes give its total size. The demuxer hands each payload
// here (without the substream id byte) and gets back every unit that
// completes.
//
// One assembler per substream. Not thread-safe: it belongs to whichever
// thread demuxes. Call reset() on every flush (jump, seek, stream switch) so
// no half unit leaks across it.
//
// Robustness: payloads without a PTS while no unit is in progress are dropped
// (we joined a unit in its middle, after a seek); a PTS packet while a unit
// is in progress starts afresh (the earlier one lost packets); bytes beyond
// the unit's size are dropped (padding); sizes below 4 drop the unit.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

struct SubpictureUnit
{
    std::vector<std::uint8_t> bytes;   // exactly the size the unit declares
    std::optional<std::int64_t> pts;   // 90 kHz, from the unit's first packet
};

class SubpictureAssembler
{
public:
    // Adds one packet payload; returns the unit it completes, if any.
    std::optional<SubpictureUnit> push(std::span<const std::uint8_t> payload,
                                       std::optional<std::int64_t> pts);
    // Forgets any unit in progress.
    void reset();
    bool inProgress() const { return m_active; }

private:
    bool m_active = false;             // a unit has begun and is not complete
    std::vector<std::uint8_t> m_buffer;
    std::optional<std::int64_t> m_pts;
};

} // namespace velmora
