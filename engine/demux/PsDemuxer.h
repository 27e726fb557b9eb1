#pragma once
// MPEG-2 program-stream demultiplexer for DVD-Video sectors.
//
// A DVD sector is one 2048-byte pack: a pack header followed by one or more
// PES packets, none of which continues into the next sector. The demuxer is
// therefore stateless between calls: each call parses whole packs from the
// buffer it is given and hands every elementary-stream packet it recognises
// to the sink, in order.
//
// Safety contract: any byte sequence is acceptable input. The demuxer never
// reads outside [data, data + size); damaged or unknown structures are
// skipped and resynchronised on the next start code; they are counted in the
// returned statistics, never thrown.
//
// Threads: a PsDemuxer has no shared state; use one per thread or share a
// const one freely. The sink runs synchronously on the caller's thread, and
// the packet's bytes are only valid during that call.
//
// Plain C++ on purpose (no Qt, no FFmpeg) so the fuzz targets build alone.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace velmora::demux {

enum class StreamType : std::uint8_t {
    Video,       // 0xE0: MPEG-1/2 video elementary stream bytes
    MpegAudio,   // 0xC0-0xC7: MPEG-1 layer I/II audio (id 0-7)
    Ac3,         // private 1, 0x80-0x87 (id 0-7): AC-3 frames, the 4-byte DVD header removed
    Dts,         // private 1, 0x88-0x8F (id 0-7): DTS frames, the 4-byte DVD header removed
    Lpcm,        // private 1, 0xA0-0xA7 (id 0-7): the 3-byte LPCM info header
                 // (as libavcodec's pcm_dvd expects) followed by the samples
    Subpicture,  // private 1, 0x20-0x3F (id 0-31): subpicture unit bytes, substream byte removed
    NavPci,      // private 2, substream 0x00: presentation control information (id 0)
    NavDsi,      // private 2, substream 0x01: data search information (id 0)
};

const char *streamTypeName(StreamType type);

inline constexpr std::int64_t NoTimestamp = -1;
inline constexpr std::int64_t NoFrameOffset = -1;

struct EsPacket
{
    StreamType type = StreamType::Video;
    std::uint8_t id = 0;                  // stream number within its type
    std::int64_t pts = NoTimestamp;       // 33-bit 90 kHz value, or NoTimestamp
    std::int64_t dts = NoTimestamp;
    const std::uint8_t *data = nullptr;   // payload, valid during the sink call only
    std::size_t size = 0;
    // AC-3, DTS: where in `data` the first audio frame starting in this
    // packet begins, from the DVD audio header's first-access-unit pointer;
    // `size` when no frame starts here. NoFrameOffset for every other stream
    // and when the pointer makes no sense.
    std::int64_t frameOffset = NoFrameOffset;
};

struct DemuxStats
{
    int packs = 0;
    int packets = 0;      // packets handed to the sink
    int skipped = 0;      // packets of streams we do not carry (padding, unknown substreams)
    int damaged = 0;      // structures that did not parse; bytes resynchronised past
    // Packets whose PES header says the payload is scrambled (CSS on a disc
    // read without decryption). They are counted, never handed to the sink:
    // their bytes would only decode into noise.
    int scrambled = 0;
};

class PsDemuxer
{
public:
    using Sink = std::function<void(const EsPacket &)>;

    // Parses every pack and packet found in [data, data + size).
    DemuxStats demux(const std::uint8_t *data, std::size_t size, const Sink &sink) const;
};

} // namespace velmora::demux
