#pragma once
// Just enough of the MPEG program stream to pull subpicture packets out of a
// VOB for the tests: 2048-byte packs, PES packets of private stream 1, the
// PTS and the substream id.

#include <QFile>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace spu_test {

struct SubpicturePacket
{
    int substream = 0;                 // 0x20..0x3F
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
    const auto *d = reinterpret_cast<const std::uint8_t *>(all.constData());
    const std::size_t total = std::size_t(all.size());
    for (std::size_t sector = 0; sector + 2048 <= total; sector += 2048) {
        const std::uint8_t *s = d + sector;
        if (s[0] != 0 || s[1] != 0 || s[2] != 1 || s[3] != 0xBA)
            continue;
        std::size_t at = 14 + (s[13] & 7);
        while (at + 6 <= 2048) {
            if (s[at] != 0 || s[at + 1] != 0 || s[at + 2] != 1)
                break;
            const int id = s[at + 3];
            const std::size_t length = (std::size_t(s[at + 4]) << 8) | s[at + 5];
            const std::size_t end = at + 6 + length;
            if (end > 2048)
                break;
            if (id == 0xBD && length >= 4) {
                const std::size_t headerLength = s[at + 8];
                const std::size_t payload = at + 9 + headerLength;
                if (payload < end && (s[payload] & 0xE0) == 0x20) {
                    SubpicturePacket p;
                    p.substream = s[payload];
                    if ((s[at + 7] & 0x80) && headerLength >= 5) {
                        const std::uint8_t *q = s + at + 9;
                        p.pts = (std::int64_t(q[0] & 0x0E) << 29) | (std::int64_t(q[1]) << 22)
                            | (std::int64_t(q[2] & 0xFE) << 14) | (std::int64_t(q[3]) << 7) | (q[4] >> 1);
                    }
                    p.payload.assign(s + payload + 1, s + end);
                    packets.push_back(std::move(p));
                }
            }
            at = end;
        }
    }
    return packets;
}

} // namespace spu_test
