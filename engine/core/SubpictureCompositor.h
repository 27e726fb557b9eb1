#pragma once
// The engine's picture overlay: subtitles and menu highlights drawn over
// each picture as it goes to the output.
//
// Subpicture packets of every stream are assembled and decoded as they come
// (units are small and few), each stream onto its own time line, so
// switching streams shows the new one's current subtitle at once rather
// than from its next unit. paint() picks the stream the frame asks for, lets
// the time line decide what is on screen at the picture's time (forced
// units show even with subtitles off), lights the highlighted button of the
// unit on screen over the menu's subpicture, and draws the result scaled
// with the picture. Rendering happens only when the subpicture, highlight or
// colour table changed.
//
// Threads: a PictureOverlay, so the video thread only; no locks.

#include "engine/core/PictureOverlay.h"
#include "engine/spu/SubpictureAssembler.h"
#include "engine/spu/SubpictureImage.h"
#include "engine/spu/SubpictureOverlay.h"
#include "engine/spu/SubpictureTimeline.h"

#include <array>

namespace velmora::core {

class SubpictureCompositor final : public PictureOverlay
{
public:
    void subpicturePacket(int id, const std::uint8_t *data, std::size_t size, std::int64_t pts90k) override;
    void colourTable(const std::uint32_t clut[16]) override;
    void paint(QImage &picture, const OverlayFrame &frame) override;
    void reset() override;

    // Units that failed to decode since construction (damaged discs).
    int damagedUnits() const { return m_damaged; }

private:
    static constexpr int StreamCount = 32;
    std::array<SubpictureAssembler, StreamCount> m_assemblers;
    std::array<SubpictureTimeline, StreamCount> m_timelines;
    ColourTable m_table{};
    SubpictureOverlay m_overlay;
    int m_damaged = 0;
};

} // namespace velmora::core
