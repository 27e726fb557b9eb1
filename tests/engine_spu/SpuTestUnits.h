#pragma once
// Building subpicture units by hand for the tests: a run-length encoder and
// a unit writer that lays out header, two fields and control sequences the
// way discs do, with knobs to break each part.

#include <cstdint>
#include <vector>

namespace spu_test {

using Bytes = std::vector<std::uint8_t>;
using Bitmap = std::vector<std::vector<std::uint8_t>>; // rows of values 0..3

class NibbleWriter
{
public:
    void put(unsigned nibble)
    {
        if (m_half)
            m_bytes.back() |= static_cast<std::uint8_t>(nibble & 0xF);
        else
            m_bytes.push_back(static_cast<std::uint8_t>((nibble & 0xF) << 4));
        m_half = !m_half;
    }
    void putCode(unsigned code, int nibbles)
    {
        for (int i = nibbles - 1; i >= 0; --i)
            put((code >> (4 * i)) & 0xF);
    }
    void align() { m_half = false; }
    const Bytes &bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
    bool m_half = false;
};

// Encodes one row in the shortest codes; with fillToEnd the last run of the
// row uses the "rest of the line" code.
inline void encodeRow(NibbleWriter &w, const std::vector<std::uint8_t> &row, bool fillToEnd)
{
    std::size_t i = 0;
    while (i < row.size()) {
        std::size_t j = i;
        while (j < row.size() && row[j] == row[i])
            ++j;
        unsigned value = row[i] & 3;
        std::size_t run = j - i;
        if (fillToEnd && j == row.size()) {
            w.putCode(value, 4); // count 0
            break;
        }
        while (run > 0) {
            const unsigned n = static_cast<unsigned>(run > 255 ? 255 : run);
            const unsigned code = (n << 2) | value;
            w.putCode(code, n < 4 ? 1 : n < 16 ? 2 : n < 64 ? 3 : 4);
            run -= n;
        }
        i = j;
    }
    w.align();
}

inline Bytes encodeField(const Bitmap &bitmap, int firstLine, bool fillToEnd = false)
{
    NibbleWriter w;
    for (std::size_t line = std::size_t(firstLine); line < bitmap.size(); line += 2)
        encodeRow(w, bitmap[line], fillToEnd);
    return w.bytes();
}

inline void put16(Bytes &b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}

// A unit: [size][ctrl][top field][bottom field][sequence 1][sequence 2].
// Sequence 1 (delay startDelay) sets colour, contrast, area, field offsets
// and starts the display; sequence 2 (delay stopDelay) stops it.
struct UnitSpec
{
    Bitmap bitmap;
    int x = 100;
    int y = 400;
    unsigned colourWord = 0x3210;   // e2 e1 p b
    unsigned contrastWord = 0xFFF0;
    unsigned startDelay = 0;        // in 1024-tick units
    int stopDelay = 100;            // < 0: no stop sequence
    bool forced = false;
    bool fillToEnd = false;
    Bytes extraCommands;            // put into sequence 1 before STA_DSP
};

inline Bytes buildUnit(const UnitSpec &s)
{
    const Bytes top = encodeField(s.bitmap, 0, s.fillToEnd);
    const Bytes bottom = encodeField(s.bitmap, 1, s.fillToEnd);
    const int width = s.bitmap.empty() ? 0 : int(s.bitmap[0].size());
    const int height = int(s.bitmap.size());

    Bytes u(4, 0);
    const unsigned topOffset = unsigned(u.size());
    u.insert(u.end(), top.begin(), top.end());
    const unsigned bottomOffset = unsigned(u.size());
    u.insert(u.end(), bottom.begin(), bottom.end());

    const unsigned seq1 = unsigned(u.size());
    Bytes cmds;
    cmds.push_back(0x03);
    put16(cmds, s.colourWord);
    cmds.push_back(0x04);
    put16(cmds, s.contrastWord);
    const unsigned x2 = unsigned(s.x + width - 1);
    const unsigned y2 = unsigned(s.y + height - 1);
    cmds.push_back(0x05);
    cmds.push_back(static_cast<std::uint8_t>(s.x >> 4));
    cmds.push_back(static_cast<std::uint8_t>(((s.x & 0xF) << 4) | (x2 >> 8)));
    cmds.push_back(static_cast<std::uint8_t>(x2));
    cmds.push_back(static_cast<std::uint8_t>(s.y >> 4));
    cmds.push_back(static_cast<std::uint8_t>(((s.y & 0xF) << 4) | (y2 >> 8)));
    cmds.push_back(static_cast<std::uint8_t>(y2));
    cmds.push_back(0x06);
    put16(cmds, topOffset);
    put16(cmds, bottomOffset);
    cmds.insert(cmds.end(), s.extraCommands.begin(), s.extraCommands.end());
    cmds.push_back(s.forced ? 0x00 : 0x01);
    cmds.push_back(0xFF);

    const unsigned seq2 = seq1 + 4 + unsigned(cmds.size());
    put16(u, s.startDelay);
    put16(u, s.stopDelay >= 0 ? seq2 : seq1);
    u.insert(u.end(), cmds.begin(), cmds.end());
    if (s.stopDelay >= 0) {
        put16(u, unsigned(s.stopDelay));
        put16(u, seq2);
        u.push_back(0x02);
        u.push_back(0xFF);
    }
    u[0] = static_cast<std::uint8_t>(u.size() >> 8);
    u[1] = static_cast<std::uint8_t>(u.size());
    u[2] = static_cast<std::uint8_t>(seq1 >> 8);
    u[3] = static_cast<std::uint8_t>(seq1);
    return u;
}

// Offsets into a unit built by buildUnit (for breaking it on purpose).
inline unsigned controlOffset(const Bytes &u) { return (unsigned(u[2]) << 8) | u[3]; }
inline void setSize(Bytes &u) { u[0] = static_cast<std::uint8_t>(u.size() >> 8); u[1] = static_cast<std::uint8_t>(u.size()); }

inline Bitmap patternBitmap(int width, int height)
{
    Bitmap b(std::size_t(height), std::vector<std::uint8_t>(std::size_t(width), 0));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b[std::size_t(y)][std::size_t(x)] = static_cast<std::uint8_t>(((x / 3) + (y * 5) + (x * y % 7 == 0 ? 1 : 0)) & 3);
    return b;
}

} // namespace spu_test
