#pragma once
// Just enough of a VOB for the tests: the subpicture packets (private stream
// 1, substreams 0x20-0x3F) of each 2048-byte pack, with PTS.

#include <QFile>
#include <cstdint>
#include <optional>
#include <vector>

namespace spu_test {

struct SubpicturePacket
{
    int substream = 0;
    std::optional<std::int64_t> pts;
    std::vector<std::uint8_t> payload; // after the substream id
};

inline std::vector<SubpicturePacket> readSubpicturePackets(const QString &vobPath)
{
    std::vector<SubpicturePacket> packets;
    QFile file(vobPath);
    if (!file.open(QIODevice::ReadOnly))
        return packets;
    const QByteArray all = file.readAll();
    for (qsizetype sector = 0; sector + 2048 <= all.size(); sector += 2048) {
        const auto *s = reinterpret_cast<const std::uint8_t *>(all.constData() + sector);
        if (s[0] != 0 || s[1] != 0 || s[2] != 1 || s[3] != 0xBA)
            continue;
        for (std::size_t at = 14 + (s[13] & 7); at + 9 <= 2048 && s[at] == 0 && s[at + 1] == 0 && s[at + 2] == 1;) {
            const std::size_t end = at + 6 + ((std::size_t(s[at + 4]) << 8) | s[at + 5]);
            const std::size_t payload = at + 9 + s[at + 8];
            if (end > 2048)
                break;
            if (s[at + 3] == 0xBD && payload < end && (s[payload] & 0xE0) == 0x20) {
                SubpicturePacket p{s[payload], std::nullopt, {s + payload + 1, s + end}};
                if (s[at + 7] & 0x80) {
                    const std::uint8_t *q = s + at + 9;
                    p.pts = (std::int64_t(q[0] & 0x0E) << 29) | (std::int64_t(q[1]) << 22)
                        | (std::int64_t(q[2] & 0xFE) << 14) | (std::int64_t(q[3]) << 7) | (q[4] >> 1);
                }
                packets.push_back(std::move(p));
            }
            at = end;
        }
    }
    return packets;
}

} // namespace spu_test
