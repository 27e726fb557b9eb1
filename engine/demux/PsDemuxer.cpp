#include "PsDemuxer.h"

namespace velmora::demux {

const char *streamTypeName(StreamType type)
{
    switch (type) {
    case StreamType::Video: return "video";
    case StreamType::MpegAudio: return "mpeg-audio";
    case StreamType::Ac3: return "ac3";
    case StreamType::Dts: return "dts";
    case StreamType::Lpcm: return "lpcm";
    case StreamType::Subpicture: return "subpicture";
    case StreamType::NavPci: return "pci";
    case StreamType::NavDsi: return "dsi";
    }
    return "?";
}

namespace {

// Start-code values of the program-stream layer.
constexpr std::uint8_t PackStart = 0xBA;
constexpr std::uint8_t SystemHeader = 0xBB;
constexpr std::uint8_t ProgramEnd = 0xB9;
constexpr std::uint8_t PrivateStream1 = 0xBD;
constexpr std::uint8_t PrivateStream2 = 0xBF;

// Reads a 33-bit time stamp from its 5-byte PES encoding. The marker bits are
// not checked: authoring tools get them wrong and the value is still right.
std::int64_t readTimestamp(const std::uint8_t *p)
{
    return (std::int64_t(p[0] & 0x0E) << 29) | (std::int64_t(p[1]) << 22) | (std::int64_t(p[2] & 0xFE) << 14)
           | (std::int64_t(p[3]) << 7) | (std::int64_t(p[4]) >> 1);
}

struct PesHeader
{
    std::size_t payloadOffset = 0; // from the packet start
    std::int64_t pts = NoTimestamp;
    std::int64_t dts = NoTimestamp;
    bool scrambled = false;
};

// Parses the header of a PES packet [p, p + len) (len includes the 6-byte
// prefix). Returns false when the header does not fit or makes no sense.
bool parsePesHeader(const std::uint8_t *p, std::size_t len, PesHeader &out)
{
    if (len < 9)
        return false;
    if ((p[6] & 0xC0) == 0x80) { // MPEG-2
        // PES_scrambling_control: 00 is clear; anything else was scrambled
        // by the disc's copy protection and was not decrypted on the way.
        out.scrambled = (p[6] & 0x30) != 0;
        const unsigned flags = p[7];
        const std::size_t headerEnd = 9 + std::size_t(p[8]);
        if (headerEnd > len)
            return false;
        if ((flags & 0x80) && headerEnd >= 14)
            out.pts = readTimestamp(p + 9);
        if ((flags & 0xC0) == 0xC0 && headerEnd >= 19)
            out.dts = readTimestamp(p + 14);
        out.payloadOffset = headerEnd;
        return true;
    }
    // MPEG-1: stuffing, optional buffer size, then the time stamps.
    std::size_t i = 6;
    while (i < len && p[i] == 0xFF && i < 6 + 16)
        ++i;
    if (i < len && (p[i] & 0xC0) == 0x40)
        i += 2;
    if (i >= len)
        return false;
    if ((p[i] & 0xF0) == 0x20) {
        if (i + 5 > len)
            return false;
        out.pts = readTimestamp(p + i);
        i += 5;
    } else if ((p[i] & 0xF0) == 0x30) {
        if (i + 10 > len)
            return false;
        out.pts = readTimestamp(p + i);
        out.dts = readTimestamp(p + i + 5);
        i += 10;
    } else if (p[i] == 0x0F) {
        i += 1;
    } else {
        return false;
    }
    out.payloadOffset = i;
    return true;
}

// The DVD audio header's first-access-unit pointer (2 bytes at `pointer`)
// counts from its own last byte: 1 is the first byte after the header, 0
// means no frame starts in this packet. Returns the offset into the payload
// of `payloadSize` bytes that follows, as EsPacket::frameOffset.
std::int64_t firstFrameOffset(const std::uint8_t *pointer, std::size_t payloadSize)
{
    const std::size_t value = (std::size_t(pointer[0]) << 8) | pointer[1];
    if (value == 0)
        return std::int64_t(payloadSize);
    if (value - 1 >= payloadSize)
        return NoFrameOffset;
    return std::int64_t(value - 1);
}

} // namespace

DemuxStats PsDemuxer::demux(const std::uint8_t *data, std::size_t size, const Sink &sink) const
{
    DemuxStats stats;
    if (!data)
        return stats;
    std::size_t pos = 0;
    bool synced = true;
    while (pos + 4 <= size) {
        const std::uint8_t *p = data + pos;
        if (p[0] != 0 || p[1] != 0 || p[2] != 1) {
            if (synced) {
                ++stats.damaged;
                synced = false;
            }
            ++pos;
            continue;
        }
        synced = true;
        const std::uint8_t code = p[3];
        const std::size_t left = size - pos;

        if (code == PackStart) {
            if (left >= 14 && (p[4] & 0xC0) == 0x40) {
                const std::size_t headerLen = 14 + (p[13] & 0x07);
                if (headerLen > left) {
                    ++stats.damaged;
                    break;
                }
                ++stats.packs;
                pos += headerLen;
            } else if (left >= 12 && (p[4] & 0xF0) == 0x20) {
                ++stats.packs;
                pos += 12;
            } else {
                ++stats.damaged;
                pos += 4;
            }
            continue;
        }
        if (code == ProgramEnd) {
            pos += 4;
            continue;
        }
        if (code < SystemHeader) {
            // An elementary-stream start code outside a PES packet: not ours to read.
            ++stats.damaged;
            pos += 4;
            continue;
        }
        if (left < 6) {
            ++stats.damaged;
            break;
        }
        const std::size_t packetLen = 6 + ((std::size_t(p[4]) << 8) | p[5]);
        if (packetLen > left) {
            // A packet cut short by the end of the buffer: its bytes cannot be trusted.
            ++stats.damaged;
            break;
        }
        pos += packetLen;

        const bool isVideo = (code & 0xF0) == 0xE0;
        const bool isMpegAudio = (code & 0xE0) == 0xC0;
        if (code == PrivateStream2) {
            if (packetLen < 7) {
                ++stats.damaged;
                continue;
            }
            EsPacket pkt;
            if (p[6] == 0x00)
                pkt.type = StreamType::NavPci;
            else if (p[6] == 0x01)
                pkt.type = StreamType::NavDsi;
            else {
                ++stats.skipped;
                continue;
            }
            pkt.data = p + 7;
            pkt.size = packetLen - 7;
            ++stats.packets;
            sink(pkt);
            continue;
        }
        if (code != PrivateStream1 && !isVideo && !isMpegAudio) {
            ++stats.skipped; // padding, system header, stream map, other streams
            continue;
        }

        PesHeader header;
        if (!parsePesHeader(p, packetLen, header)) {
            ++stats.damaged;
            continue;
        }
        if (header.scrambled) {
            ++stats.scrambled;
            continue;
        }
        const std::uint8_t *payload = p + header.payloadOffset;
        std::size_t payloadSize = packetLen - header.payloadOffset;

        EsPacket pkt;
        pkt.pts = header.pts;
        pkt.dts = header.dts;
        if (isVideo) {
            if (code != 0xE0) {
                ++stats.skipped;
                continue;
            }
            pkt.type = StreamType::Video;
        } else if (isMpegAudio) {
            if (code > 0xC7) {
                ++stats.skipped;
                continue;
            }
            pkt.type = StreamType::MpegAudio;
            pkt.id = code - 0xC0;
        } else {
            if (payloadSize < 1) {
                ++stats.damaged;
                continue;
            }
            const std::uint8_t sub = payload[0];
            std::size_t skip = 0;
            bool framed = false;
            if (sub >= 0x20 && sub <= 0x3F) {
                pkt.type = StreamType::Subpicture;
                pkt.id = sub - 0x20;
                skip = 1;
            } else if (sub >= 0x80 && sub <= 0x87) {
                pkt.type = StreamType::Ac3;
                pkt.id = sub - 0x80;
                skip = 4; // substream, frame count, first access unit pointer
                framed = true;
            } else if (sub >= 0x88 && sub <= 0x8F) {
                pkt.type = StreamType::Dts;
                pkt.id = sub - 0x88;
                skip = 4;
                framed = true;
            } else if (sub >= 0xA0 && sub <= 0xA7) {
                pkt.type = StreamType::Lpcm;
                pkt.id = sub - 0xA0;
                skip = 4; // the 3 info bytes after these stay: the decoder reads them
            } else {
                ++stats.skipped;
                continue;
            }
            if (payloadSize < skip) {
                ++stats.damaged;
                continue;
            }
            payload += skip;
            payloadSize -= skip;
            if (framed)
                pkt.frameOffset = firstFrameOffset(payload - 2, payloadSize);
        }
        pkt.data = payload;
        pkt.size = payloadSize;
        ++stats.packets;
        sink(pkt);
    }
    return stats;
}

} // namespace velmora::demux
