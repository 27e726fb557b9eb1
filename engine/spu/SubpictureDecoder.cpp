#include "engine/spu/SubpictureDecoder.h"

#include <algorithm>

namespace velmora {

namespace {

// Command codes of a display-control sequence.
enum Command : std::uint8_t {
    ForcedStartDisplay = 0x00,
    StartDisplay = 0x01,
    StopDisplay = 0x02,
    SetColour = 0x03,
    SetContrast = 0x04,
    SetDisplayArea = 0x05,
    SetPixelDataAddress = 0x06,
    ChangeColourContrast = 0x07,
    EndOfSequence = 0xFF,
};

// Coordinates are 10-bit on every real disc (the fields hold 12 bits); larger
// areas are refused so a hostile unit cannot make us allocate megabytes.
constexpr int kMaxCoordinate = 1023;
// A sequence is at least 5 bytes (delay, next, CMD_END); a unit is at most
// 64 KiB, so this bounds the chain even before the visited check.
constexpr int kMaxSequences = 65536 / 5;
// CHG_COLCON allows at most 8 change points per line region.
constexpr int kMaxChangePoints = 8;
constexpr std::uint32_t kColourChangeEnd = 0x0FFFFFFFu;

std::uint16_t read16(std::span<const std::uint8_t> d, std::size_t at)
{
    return static_cast<std::uint16_t>((d[at] << 8) | d[at + 1]);
}

std::uint32_t read32(std::span<const std::uint8_t> d, std::size_t at)
{
    return (std::uint32_t(d[at]) << 24) | (std::uint32_t(d[at + 1]) << 16)
        | (std::uint32_t(d[at + 2]) << 8) | std::uint32_t(d[at + 3]);
}

// Colour and contrast words list pixel values from emphasis 2 down to
// background, one nibble each.
SubpictureNibbles nibblesOf(std::uint16_t word)
{
    return {static_cast<std::uint8_t>(word & 0xF), static_cast<std::uint8_t>((word >> 4) & 0xF),
            static_cast<std::uint8_t>((word >> 8) & 0xF), static_cast<std::uint8_t>((word >> 12) & 0xF)};
}

// Reads 4-bit nibbles from [begin, end) of the unit; past the end it reports
// exhaustion instead of reading.
class NibbleReader
{
public:
    NibbleReader(std::span<const std::uint8_t> data, std::size_t begin, std::size_t end)
        : m_data(data), m_pos(begin * 2), m_end(end * 2) {}

    bool next(unsigned &value)
    {
        if (m_pos >= m_end)
            return false;
        const std::uint8_t byte = m_data[m_pos / 2];
        value = (m_pos % 2 == 0) ? (byte >> 4) : (byte & 0xF);
        ++m_pos;
        return true;
    }
    // Lines start on a byte boundary.
    void alignToByte() { m_pos += m_pos % 2; }

private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_pos;
    std::size_t m_end;
};

// Decodes the lines of one field (every second line of the bitmap, from
// firstLine) from the run-length codes. The code's length shows in its
// leading zero nibbles: 4, 8, 12 or 16 bits, each ending in a 2-bit pixel
// value after a count of 2, 4, 6 or 8 bits. A count of 0 (16-bit form only)
// fills the rest of the line.
void decodeField(NibbleReader reader, Subpicture &sp, int firstLine)
{
    for (int line = firstLine; line < sp.height; line += 2) {
        std::uint8_t *row = sp.pixels.data() + std::size_t(line) * std::size_t(sp.width);
        int x = 0;
        while (x < sp.width) {
            unsigned code = 0;
            unsigned nibble = 0;
            if (!reader.next(nibble))
                return;
            code = nibble;
            // Each further nibble is needed while the code is below the
            // threshold its length allows: 0x4, 0x10, 0x40.
            for (unsigned threshold = 0x4; code < threshold && threshold <= 0x40; threshold <<= 2) {
                if (!reader.next(nibble))
                    return;
                code = (code << 4) | nibble;
            }
            int count = static_cast<int>(code >> 2);
            const std::uint8_t value = static_cast<std::uint8_t>(code & 3);
            if (count == 0)
                count = sp.width - x;
            count = std::min(count, sp.width - x); // runs past the line are clipped
            std::fill_n(row + x, count, value);
            x += count;
        }
        reader.alignToByte();
    }
}

// Parses a CHG_COLCON parameter block (after its size field) into regions.
// Damaged blocks keep the regions read so far; the block's size field alone
// decides where the next command starts, so nothing here can derail parsing.
std::vector<SubpictureColourChange> parseColourChanges(std::span<const std::uint8_t> block)
{
    std::vector<SubpictureColourChange> regions;
    std::size_t at = 0;
    while (at + 4 <= block.size()) {
        const std::uint32_t lineInfo = read32(block, at);
        at += 4;
        if (lineInfo == kColourChangeEnd)
            break;
        SubpictureColourChange region;
        region.firstLine = static_cast<int>((lineInfo >> 16) & 0xFFF);
        const int points = static_cast<int>((lineInfo >> 12) & 0xF);
        region.lastLine = static_cast<int>(lineInfo & 0xFFF);
        if (points == 0 || points > kMaxChangePoints || region.lastLine < region.firstLine)
            break;
        if (at + std::size_t(points) * 6 > block.size())
            break;
        int previousColumn = -1;
        for (int i = 0; i < points; ++i, at += 6) {
            SubpictureColourChange::Point p;
            p.column = read16(block, at) & 0xFFF;
            p.colour = nibblesOf(read16(block, at + 2));
            p.contrast = nibblesOf(read16(block, at + 4));
            if (p.column <= previousColumn)
                continue; // change points must ascend; a stray one is dropped
            previousColumn = p.column;
            region.points.push_back(p);
        }
        regions.push_back(std::move(region));
    }
    return regions;
}

struct DisplayState
{
    SubpictureNibbles colour{};
    SubpictureNibbles contrast{};
    bool haveArea = false;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool haveOffsets = false;
    std::size_t topField = 0;
    std::size_t bottomField = 0;
    std::vector<SubpictureColourChange> colourChanges;
};

bool fail(SubpictureError *error, SubpictureError reason)
{
    if (error)
        *error = reason;
    return false;
}

// Runs the commands of one sequence starting at `at`, updating the state.
// Returns false (with the reason) when a command does not fit in the unit.
bool runSequence(std::span<const std::uint8_t> unit, std::size_t at, DisplayState &state,
                 bool &start, bool &forced, bool &stop, SubpictureError *error)
{
    const std::size_t size = unit.size();
    while (true) {
        if (at >= size)
            return fail(error, SubpictureError::TruncatedCommand);
        const std::uint8_t command = unit[at++];
        auto need = [&](std::size_t n) { return at + n <= size; };
        switch (command) {
        case ForcedStartDisplay:
            start = true;
            forced = true;
            break;
        case StartDisplay:
            start = true;
            break;
        case StopDisplay:
            stop = true;
            break;
        case SetColour:
            if (!need(2))
                return fail(error, SubpictureError::TruncatedCommand);
            state.colour = nibblesOf(read16(unit, at));
            at += 2;
            break;
        case SetContrast:
            if (!need(2))
                return fail(error, SubpictureError::TruncatedCommand);
            state.contrast = nibblesOf(read16(unit, at));
            at += 2;
            break;
        case SetDisplayArea: {
            if (!need(6))
                return fail(error, SubpictureError::TruncatedCommand);
            const std::uint32_t xs = (std::uint32_t(unit[at]) << 16) | (std::uint32_t(unit[at + 1]) << 8) | unit[at + 2];
            const std::uint32_t ys = (std::uint32_t(unit[at + 3]) << 16) | (std::uint32_t(unit[at + 4]) << 8) | unit[at + 5];
            state.x1 = static_cast<int>(xs >> 12);
            state.x2 = static_cast<int>(xs & 0xFFF);
            state.y1 = static_cast<int>(ys >> 12);
            state.y2 = static_cast<int>(ys & 0xFFF);
            state.haveArea = true;
            at += 6;
            break;
        }
        case SetPixelDataAddress:
            if (!need(4))
                return fail(error, SubpictureError::TruncatedCommand);
            state.topField = read16(unit, at);
            state.bottomField = read16(unit, at + 2);
            state.haveOffsets = true;
            at += 4;
            break;
        case ChangeColourContrast: {
            // The size counts its own two bytes; it alone tells where the
            // next command starts.
            if (!need(2))
                return fail(error, SubpictureError::TruncatedCommand);
            const std::size_t blockSize = read16(unit, at);
            if (blockSize < 2 || !need(blockSize))
                return fail(error, SubpictureError::TruncatedCommand);
            state.colourChanges = parseColourChanges(unit.subspan(at + 2, blockSize - 2));
            at += blockSize;
            break;
        }
        case EndOfSequence:
            return true;
        default:
            // An unknown command has no known length: the rest of this
            // sequence cannot be read. Players end the sequence here.
            return true;
        }
    }
}

} // namespace

std::uint8_t Subpicture::pixelAt(int px, int py) const
{
    if (px < 0 || py < 0 || px >= width || py >= height)
        return 0;
    return pixels[std::size_t(py) * std::size_t(width) + std::size_t(px)];
}

void Subpicture::paletteAt(int px, int py, SubpictureNibbles &outColour, SubpictureNibbles &outContrast) const
{
    outColour = colour;
    outContrast = contrast;
    for (const SubpictureColourChange &region : colourChanges) {
        if (py < region.firstLine || py > region.lastLine)
            continue;
        for (const SubpictureColourChange::Point &p : region.points) {
            if (p.column > px)
                break;
            outColour = p.colour;
            outContrast = p.contrast;
        }
    }
}

const char *subpictureErrorText(SubpictureError error)
{
    switch (error) {
    case SubpictureError::None: return "no error";
    case SubpictureError::TooShort: return "unit shorter than its header";
    case SubpictureError::SizeMismatch: return "unit size field does not match its bytes";
    case SubpictureError::BadControlOffset: return "control sequence offset outside the unit";
    case SubpictureError::ControlLoop: return "control sequence chain loops";
    case SubpictureError::TruncatedCommand: return "control command cut off by the end of the unit";
    case SubpictureError::TooManySequences: return "too many control sequences";
    case SubpictureError::MissingDisplayArea: return "display started without a display area";
    case SubpictureError::BadDisplayArea: return "display area out of range";
    case SubpictureError::MissingPixelData: return "display started without pixel data offsets";
    case SubpictureError::BadPixelDataOffset: return "pixel data offset outside the unit";
    }
    return "unknown error";
}

std::optional<Subpicture> decodeSubpicture(std::span<const std::uint8_t> unit, SubpictureError *error)
{
    if (error)
        *error = SubpictureError::None;
    if (unit.size() < 4) {
        fail(error, SubpictureError::TooShort);
        return std::nullopt;
    }
    const std::size_t size = read16(unit, 0);
    if (size != unit.size()) {
        fail(error, SubpictureError::SizeMismatch);
        return std::nullopt;
    }
    const std::size_t firstSequence = read16(unit, 2);

    DisplayState state;
    Subpicture sp;
    bool started = false;
    DisplayState atStart;
    std::vector<bool> visited(size, false);
    std::size_t at = firstSequence;
    for (int count = 0;; ++count) {
        if (count >= kMaxSequences) {
            fail(error, SubpictureError::TooManySequences);
            return std::nullopt;
        }
        // A sequence header is 4 bytes and lies after the unit header.
        if (at < 4 || at + 4 > size) {
            fail(error, SubpictureError::BadControlOffset);
            return std::nullopt;
        }
        if (visited[at]) {
            fail(error, SubpictureError::ControlLoop);
            return std::nullopt;
        }
        visited[at] = true;
        const std::uint32_t delay = std::uint32_t(read16(unit, at)) * kSubpictureDelayTicks;
        const std::size_t next = read16(unit, at + 2);

        bool start = false;
        bool forced = false;
        bool stop = false;
        if (!runSequence(unit, at + 4, state, start, forced, stop, error))
            return std::nullopt;

        if (started && stop && !sp.stopDelay)
            sp.stopDelay = delay;
        if (!started && start) {
            // What is set by the end of the starting sequence is what shows;
            // later colour or area changes (fades) are not followed.
            started = true;
            sp.displayed = true;
            sp.forced = forced;
            sp.startDelay = delay;
            atStart = state;
        }
        if (next == at)
            break;
        at = next;
    }

    if (!started)
        return sp;

    if (!atStart.haveArea) {
        fail(error, SubpictureError::MissingDisplayArea);
        return std::nullopt;
    }
    if (atStart.x2 < atStart.x1 || atStart.y2 < atStart.y1 || atStart.x2 > kMaxCoordinate
        || atStart.y2 > kMaxCoordinate) {
        fail(error, SubpictureError::BadDisplayArea);
        return std::nullopt;
    }
    if (!atStart.haveOffsets) {
        fail(error, SubpictureError::MissingPixelData);
        return std::nullopt;
    }
    if (atStart.topField < 4 || atStart.topField >= size || atStart.bottomField < 4
        || atStart.bottomField >= size) {
        fail(error, SubpictureError::BadPixelDataOffset);
        return std::nullopt;
    }

    sp.x = atStart.x1;
    sp.y = atStart.y1;
    sp.width = atStart.x2 - atStart.x1 + 1;
    sp.height = atStart.y2 - atStart.y1 + 1;
    sp.colour = atStart.colour;
    sp.contrast = atStart.contrast;
    sp.colourChanges = std::move(atStart.colourChanges);
    sp.pixels.assign(std::size_t(sp.width) * std::size_t(sp.height), 0);

    // A field's codes end where the control sequences begin; a field placed
    // after them (never seen, but not forbidden) may run to the unit's end.
    auto fieldEnd = [&](std::size_t fieldStart) { return fieldStart < firstSequence ? firstSequence : size; };
    decodeField(NibbleReader(unit, atStart.topField, fieldEnd(atStart.topField)), sp, 0);
    decodeField(NibbleReader(unit, atStart.bottomField, fieldEnd(atStart.bottomField)), sp, 1);
    return sp;
}

} // namespace velmora
