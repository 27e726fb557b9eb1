#pragma once
// Plain data shared by the sound pipeline: which DVD audio stream, the
// packets the demuxer hands over and the decoded chunks that reach a device.
//
// Everything that leaves the decoder has one fixed shape, the only one the
// outputs ever see: 48 kHz, signed 16-bit, two interleaved channels (left,
// right). Time stamps are in the stream's 90 kHz ticks.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace velmora {

// "No time stamp" for pts90k; the same value libavutil uses.
inline constexpr std::int64_t NoPts = std::numeric_limits<std::int64_t>::min();

inline constexpr int OutputRate = 48000;    // frames per second at every output
inline constexpr int OutputChannels = 2;    // interleaved left, right
inline constexpr int TicksPerSecond = 90000; // MPEG system clock ticks

// Frames at OutputRate <-> 90 kHz ticks (exact: 90000 / 48000 = 15 / 8).
constexpr std::int64_t framesToTicks(std::int64_t frames) { return frames * 15 / 8; }
constexpr std::int64_t ticksToFrames(std::int64_t ticks) { return ticks * 8 / 15; }

enum class AudioCodec {
    Ac3,       // private stream 1, substreams 0x80-0x87
    Dts,       // private stream 1, substreams 0x88-0x8F
    Lpcm,      // private stream 1, substreams 0xA0-0xA7
    MpegAudio, // PES stream ids 0xC0-0xC7 (MPEG-1 layer II in practice)
};

// One audio stream of a DVD title.
struct AudioFormat
{
    AudioCodec codec = AudioCodec::Ac3;
    // The id the demuxer sorts by: the substream id for private stream 1
    // (0x80-0xA7), the PES stream id for MPEG audio (0xC0-0xC7).
    int streamId = 0x80;

    // The format of the audio stream with that id, or nothing when the id is
    // no audio stream (video, subpicture, padding...).
    static std::optional<AudioFormat> fromStreamId(int id)
    {
        if (id >= 0x80 && id <= 0x87)
            return AudioFormat{AudioCodec::Ac3, id};
        if (id >= 0x88 && id <= 0x8F)
            return AudioFormat{AudioCodec::Dts, id};
        if (id >= 0xA0 && id <= 0xA7)
            return AudioFormat{AudioCodec::Lpcm, id};
        if (id >= 0xC0 && id <= 0xC7)
            return AudioFormat{AudioCodec::MpegAudio, id};
        return std::nullopt;
    }

    friend bool operator==(const AudioFormat &, const AudioFormat &) = default;
};

// One elementary-stream packet as the demuxer hands it over. The bytes are
// only borrowed for the duration of the call that receives the packet.
//
// What `data` holds, per codec (all PES and pack headers already removed):
//  - MPEG audio: the PES payload as it is.
//  - AC-3, DTS:  the private stream 1 payload after its 4-byte audio header
//                (substream id, number of frames, 2-byte first access unit
//                pointer). Frames may straddle packets; the decoder
//                reassembles them.
//  - LPCM:       the private stream 1 payload after the same 4 bytes, so it
//                STARTS WITH the 3-byte LPCM header (emphasis/mute/frame
//                number; quantisation, sample rate and channel count;
//                dynamic range) followed by the big-endian samples. The
//                decoder reads the format from those 3 bytes in every
//                packet.
// pts90k is the PES time stamp (NoPts when the packet carries none). As on
// the disc, it belongs to the first audio frame that STARTS in this packet.
// serial is the playback serial the packet was read under (see AudioPlayer).
// frameOffset (AC-3, DTS) is where in `data` that first frame begins, as the
// disc's audio header says: `size` when no frame starts in the packet,
// UnknownFrameOffset when not known. A decoder starting afresh (a jump)
// begins there instead of guessing a frame start from the middle of one.
inline constexpr std::int64_t UnknownFrameOffset = -1;

struct AudioPacket
{
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    std::int64_t pts90k = NoPts;
    int serial = 0;
    std::int64_t frameOffset = UnknownFrameOffset;
};

// Decoded sound ready for an output: 48 kHz S16 interleaved stereo.
struct AudioChunk
{
    std::vector<std::int16_t> samples; // frames() * OutputChannels values
    std::int64_t pts90k = NoPts;       // time of the first frame
    int serial = 0;

    std::int64_t frames() const { return static_cast<std::int64_t>(samples.size()) / OutputChannels; }
    std::int64_t endPts() const { return pts90k == NoPts ? NoPts : pts90k + framesToTicks(frames()); }
};

} // namespace velmora
