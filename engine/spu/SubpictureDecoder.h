#pragma once
// Decoder of DVD subpicture units.
//
// A subpicture unit is one self-contained overlay picture: subtitles, the
// pictures of menu buttons, forced captions. Its layout:
//
//   bytes 0-1   size of the whole unit
//   bytes 2-3   offset of the first display-control sequence
//   bytes 4..   run-length coded pixels, top field and bottom field
//   then        display-control sequences, chained by offsets; each has a
//               delay (units of 1024 ticks of the 90 kHz clock after the
//               unit's PTS), the offset of the next sequence (its own offset
//               for the last one) and commands ending in CMD_END.
//
// decodeSubpicture() turns such a unit into a 2-bit indexed bitmap with its
// place on the picture, the four colour-table indices and contrasts of the
// pixel values, its start and stop delays and the forced flag. It is a pure
// function of its input bytes: any thread may call it, no state is kept, and
// every read is bounds-checked, so it survives arbitrary bytes (it is
// fuzzed). Malformed units come back as nullopt with a reason; nothing is
// thrown.
//
// Pixels not covered by the coded data (a line cut short, a field that runs
// out) stay at value 0, and an unknown command ends its sequence (its length
// is unknown), as players do with slightly damaged discs. Structural damage
// (sizes, offsets, a looping sequence chain, a command cut off by the end of
// the unit) rejects the whole unit.
//
// The pixel codes are 4, 8, 12 or 16 bits long: a 2-, 4-, 6- or 8-bit run
// length (told apart by leading zero bits) and a 2-bit pixel value; a run of
// 0 in the 16-bit form fills the rest of the line. Each line starts on a
// byte; the top field holds the even lines, the bottom field the odd ones.
//
// What is set by the end of the sequence that starts the display is what
// shows: colour and contrast changes in later sequences (fades) are not
// followed, and the first STP_DSP after the start gives the stop.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

// Ticks of the 90 kHz clock per unit of a display-control sequence's delay.
inline constexpr std::uint32_t kSubpictureDelayTicks = 1024;

// Four colour-table indices or four contrasts, by pixel value:
// [0] background, [1] pattern, [2] emphasis 1, [3] emphasis 2.
using SubpictureNibbles = std::array<std::uint8_t, 4>;

// A CHG_COLCON region: on lines firstLine..lastLine (picture coordinates,
// inclusive) the palette switches at each change point's column, from that
// column to the next change point or the end of the line.
struct SubpictureColourChange
{
    struct Point
    {
        int column = 0;               // picture x where this palette starts
        SubpictureNibbles colour{};   // colour-table indices by pixel value
        SubpictureNibbles contrast{}; // 0 transparent .. 15 opaque
    };
    int firstLine = 0;
    int lastLine = 0;
    std::vector<Point> points;        // ascending columns, at most 8
};

struct Subpicture
{
    // Place on the picture (720x576 or 720x480 coordinates), top-left corner.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // width * height pixel values 0..3, row after row.
    std::vector<std::uint8_t> pixels;

    SubpictureNibbles colour{};    // colour-table index of each pixel value
    SubpictureNibbles contrast{};  // 0 transparent .. 15 opaque
    std::vector<SubpictureColourChange> colourChanges;

    // False when the unit has no start command: it shows nothing and only
    // ends the previous one. The bitmap is then empty.
    bool displayed = false;
    // Started by FSTA_DSP: shown even when subtitles are switched off.
    bool forced = false;
    // 90 kHz ticks after the unit's PTS at which display starts and stops;
    // without a stop the picture stays until the next unit replaces it.
    std::uint32_t startDelay = 0;
    std::optional<std::uint32_t> stopDelay;

    // Pixel value at (px, py) relative to the bitmap's top-left; 0 outside.
    std::uint8_t pixelAt(int px, int py) const;
    // Colour indices and contrasts in force at picture position (px, py),
    // after any CHG_COLCON region covering it.
    void paletteAt(int px, int py, SubpictureNibbles &colour, SubpictureNibbles &contrast) const;
};

enum class SubpictureError {
    None,
    TooShort,              // fewer than 4 bytes
    SizeMismatch,          // the size field does not match the bytes given
    BadControlOffset,      // a sequence offset outside the unit or before the pixels
    ControlLoop,           // the sequence chain comes back to a visited sequence
    TruncatedCommand,      // a command or sequence runs past the end of the unit
    TooManySequences,      // more sequences than a unit can sensibly hold
    MissingDisplayArea,    // started, but no SET_DAREA before the start
    BadDisplayArea,        // end before start, or beyond 1023
    MissingPixelData,      // started, but no SET_DSPXA before the start
    BadPixelDataOffset,    // a field offset outside the unit
};

const char *subpictureErrorText(SubpictureError error);

// Decodes one complete unit (exactly the bytes the size field counts; extra
// trailing bytes are refused, as they mean the unit was assembled wrongly).
std::optional<Subpicture> decodeSubpicture(std::span<const std::uint8_t> unit,
                                           SubpictureError *error = nullptr);

} // namespace velmora
