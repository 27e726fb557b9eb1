#pragma once
// Subpicture units built by hand: a run-length encoder and a writer laying
// out header, both fields, a starting and a stopping control sequence.

#include <cstdint>
#include <vector>

namespace spu_test {

using Bytes = std::vector<std::uint8_t>;
using Bitmap = std::vector<std::vector<std::uint8_t>>; // rows of values 0..3

// Codes of one field (every second row from firstRow), shortest form for each
// run; with fillToEnd a row's last run uses the "to the end of the line" code.
inline Bytes encodeField(const Bitmap &bitmap, std::size_t firstRow, bool fillToEnd)
{
    Bytes out;
    bool half = false;
    auto nibble = [&](unsigned v) {
        if (half)
            out.back() |= static_cast<std::uint8_t>(v & 0xF);
        else
            out.push_back(static_cast<std::uint8_t>((v & 0xF) << 4));
        half = !half;
    };
    for (std::size_t r = firstRow; r < bitmap.size(); r += 2) {
        const auto &row = bitmap[r];
        for (std::size_t i = 0, j = 0; i < row.size(); i = j) {
            while (j < row.size() && row[j] == row[i])
                ++j;
            if (fillToEnd && j == row.size()) {
                for (int k = 3; k >= 0; --k)
                    nibble(k == 0 ? row[i] : 0); // count 0
                break;
            }
            for (std::size_t run = j - i; run > 0;) {
                const unsigned n = run > 255 ? 255 : unsigned(run);
                const unsigned code = (n << 2) | row[i];
                const int nibbles = n < 4 ? 1 : n < 16 ? 2 : n < 64 ? 3 : 4;
                for (int k = nibbles - 1; k >= 0; --k)
                    nibble(code >> (4 * k));
                run -= n;
            }
        }
        half = false; // rows start on a byte
    }
    return out;
}

struct UnitLayout
{
    Bitmap bitmap;
    int x = 100;
    int y = 400;
    unsigned colour = 0x3210;   // e2 e1 p b
    unsigned contrast = 0xFFF0;
    unsigned startDelay = 0;    // 1024-tick units
    int stopDelay = 100;        // < 0: no stopping sequence
    bool forced = false;
    bool fillToEnd = false;
    Bytes extraCommands;        // in the starting sequence, before the start
};

inline Bytes buildUnit(const UnitLayout &s)
{
    auto put16 = [](Bytes &b, unsigned v) { b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)}); };
    Bytes u(4, 0);
    const unsigned top = unsigned(u.size());
    const Bytes topField = encodeField(s.bitmap, 0, s.fillToEnd);
    u.insert(u.end(), topField.begin(), topField.end());
    const unsigned bottom = unsigned(u.size());
    const Bytes bottomField = encodeField(s.bitmap, 1, s.fillToEnd);
    u.insert(u.end(), bottomField.begin(), bottomField.end());

    const unsigned x2 = unsigned(s.x) + unsigned(s.bitmap.empty() ? 1 : s.bitmap[0].size()) - 1;
    const unsigned y2 = unsigned(s.y) + unsigned(s.bitmap.size()) - 1;
    Bytes cmds = {0x03};
    put16(cmds, s.colour);
    cmds.push_back(0x04);
    put16(cmds, s.contrast);
    cmds.insert(cmds.end(), {0x05, std::uint8_t(s.x >> 4), std::uint8_t(((s.x & 0xF) << 4) | (x2 >> 8)), std::uint8_t(x2),
                             std::uint8_t(s.y >> 4), std::uint8_t(((s.y & 0xF) << 4) | (y2 >> 8)), std::uint8_t(y2), 0x06});
    put16(cmds, top);
    put16(cmds, bottom);
    cmds.insert(cmds.end(), s.extraCommands.begin(), s.extraCommands.end());
    cmds.insert(cmds.end(), {std::uint8_t(s.forced ? 0x00 : 0x01), 0xFF});

    const unsigned first = unsigned(u.size());
    const unsigned second = first + 4 + unsigned(cmds.size());
    put16(u, s.startDelay);
    put16(u, s.stopDelay >= 0 ? second : first);
    u.insert(u.end(), cmds.begin(), cmds.end());
    if (s.stopDelay >= 0) {
        put16(u, unsigned(s.stopDelay));
        put16(u, second);
        u.insert(u.end(), {0x02, 0xFF});
    }
    u[0] = std::uint8_t(u.size() >> 8);
    u[1] = std::uint8_t(u.size());
    u[2] = std::uint8_t(first >> 8);
    u[3] = std::uint8_t(first);
    return u;
}

// A w x h bitmap of all four values in an irregular pattern.
inline Bitmap patternBitmap(int w, int h)
{
    Bitmap b(static_cast<std::size_t>(h), std::vector<std::uint8_t>(static_cast<std::size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b[y][x] = std::uint8_t((x / 3 + y * 5 + (x * y % 7 == 0)) & 3);
    return b;
}

} // namespace spu_test
