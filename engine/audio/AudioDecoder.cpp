#include "engine/audio/AudioDecoder.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <deque>

namespace velmora {

namespace {

struct CodecContextDeleter
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct ParserDeleter
{
    void operator()(AVCodecParserContext *p) const { av_parser_close(p); }
};
struct SwrDeleter
{
    void operator()(SwrContext *s) const { swr_free(&s); }
};
struct FrameDeleter
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

AVCodecID codecId(AudioCodec codec)
{
    switch (codec) {
    case AudioCodec::Ac3:
        return AV_CODEC_ID_AC3;
    case AudioCodec::Dts:
        return AV_CODEC_ID_DTS;
    case AudioCodec::Lpcm:
        return AV_CODEC_ID_PCM_DVD;
    case AudioCodec::MpegAudio:
        return AV_CODEC_ID_MP2;
    }
    return AV_CODEC_ID_NONE;
}

const char *codecName(AudioCodec codec)
{
    switch (codec) {
    case AudioCodec::Ac3:
        return "AC-3";
    case AudioCodec::Dts:
        return "DTS";
    case AudioCodec::Lpcm:
        return "LPCM";
    case AudioCodec::MpegAudio:
        return "MPEG audio";
    }
    return "unknown";
}

// More stamped packets than this without a frame starting in them is no
// stream we can follow anyway.
constexpr std::size_t MaxPendingStamps = 32;

// What the resampler was set up for; a stream may change any of it between
// frames (an LPCM header, an AC-3 stream going from 2.0 to 5.1).
struct InputShape
{
    int format = -1;
    int rate = 0;
    AVChannelLayout layout{};

    bool matches(const AVFrame *f) const
    {
        return f->format == format && f->sample_rate == rate && av_channel_layout_compare(&layout, &f->ch_layout) == 0;
    }
};

// The length of the MPEG audio frame whose header starts at p (4 bytes
// readable), 0 when p holds no header.
int mpegAudioFrameLength(const std::uint8_t *p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (p[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = 4 - ((p[1] >> 1) & 3); // 1, 2, 3; 4: reserved
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    static constexpr int Kbps[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static constexpr int Rates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int rate = Rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int bitrate = Kbps[mpeg1 ? 0 : 1][layer - 1][bitrateIndex] * 1000;
    const int padding = (p[2] >> 1) & 1;
    if (layer == 1)
        return (12 * bitrate / rate + padding) * 4;
    return (layer == 3 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
}

// Where the first whole MPEG audio frame begins in data: a header followed,
// one frame later, by another (or by the end of the data). -1 when none.
std::int64_t firstMpegAudioFrame(const std::uint8_t *data, std::size_t size)
{
    for (std::size_t at = 0; at + 4 <= size; ++at) {
        const int length = mpegAudioFrameLength(data + at);
        if (length <= 0)
            continue;
        const std::size_t next = at + std::size_t(length);
        if (next + 4 > size || mpegAudioFrameLength(data + next) > 0)
            return std::int64_t(at);
    }
    return -1;
}

} // namespace

struct AudioDecoder::Impl
{
    const AVCodec *codec = nullptr;
    CodecContextPtr context;
    ParserPtr parser; // none for LPCM: every packet is whole samples
    SwrPtr resampler;
    InputShape shape;
    FramePtr frame{av_frame_alloc()};
    PacketPtr packet{av_packet_alloc()};
    std::int64_t nextPts = NoPts;
    std::vector<std::uint8_t> padded; // the packet being parsed, with padding
    // The parser has been given a frame start (or the stream gave no way to
    // find one). Until then, bytes before a known frame start are skipped.
    bool synced = false;

    // Where each stamped packet lies in the bytes given to the parser. On a
    // disc a packet's time stamp belongs to the first frame that STARTS in
    // it. libavcodec's parser instead gives it to the first frame it
    // completes after the packet arrived, which is one frame early whenever
    // a frame starts in the last few bytes of the packet before (its header
    // ends in the stamped packet). So we match stamps to frames ourselves.
    struct Stamp
    {
        std::int64_t begin = 0; // parser byte offsets
        std::int64_t end = 0;
        std::int64_t pts = NoPts;
    };
    std::deque<Stamp> stamps;
    std::int64_t parsedBytes = 0; // bytes handed to the parser since it was created

    // The stamp of the packet a frame starting at `offset` began in, if the
    // frame is the first to start there; earlier stamps are forgotten.
    std::int64_t stampFor(std::int64_t offset)
    {
        while (!stamps.empty() && stamps.front().end <= offset)
            stamps.pop_front();
        if (!stamps.empty() && stamps.front().begin <= offset) {
            const std::int64_t pts = stamps.front().pts;
            stamps.pop_front();
            return pts;
        }
        return NoPts;
    }

    ~Impl() { av_channel_layout_uninit(&shape.layout); }

    void openContext(AudioCodec which)
    {
        context.reset(avcodec_alloc_context3(codec));
        if (!context)
            throw EngineError(ErrorCode::Unexpected, QStringLiteral("Out of memory for the audio decoder"));
        context->pkt_timebase = AVRational{1, TicksPerSecond};
        // Surround decoders mix down to stereo themselves when asked, using
        // the mix levels the stream carries; the resampler's generic matrix
        // covers whatever they leave.
        av_opt_set(context.get(), "downmix", "stereo", AV_OPT_SEARCH_CHILDREN);
        const int err = avcodec_open2(context.get(), codec, nullptr);
        if (err < 0)
            throw EngineError(ErrorCode::NoDecoder, QStringLiteral("The %1 decoder cannot be opened (error %2)")
                                                         .arg(QLatin1String(codecName(which)))
                                                         .arg(err));
        if (which != AudioCodec::Lpcm) {
            parser.reset(av_parser_init(codec->id));
            if (!parser)
                throw EngineError(ErrorCode::NoDecoder, QStringLiteral("libavcodec has no %1 parser")
                                                             .arg(QLatin1String(codecName(which))));
        }
    }

    bool configureResampler(const AVFrame *f)
    {
        resampler.reset();
        av_channel_layout_uninit(&shape.layout);
        shape.format = f->format;
        shape.rate = f->sample_rate;
        if (av_channel_layout_copy(&shape.layout, &f->ch_layout) < 0)
            return false;
        // A count without positions (LPCM says only "6 channels") gets the
        // usual layout for that count so that downmixing knows what is what.
        AVChannelLayout in{};
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&in, f->ch_layout.nb_channels);
        else if (av_channel_layout_copy(&in, &f->ch_layout) < 0)
            return false;
        AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
        SwrContext *raw = nullptr;
        int err = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_S16, OutputRate, &in,
                                      static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        resampler.reset(raw);
        if (err >= 0)
            err = swr_init(raw);
        if (err < 0) {
            qCWarning(lcAudio) << "cannot convert audio of" << f->ch_layout.nb_channels << "channels at"
                               << f->sample_rate << "Hz:" << err;
            resampler.reset();
            return false;
        }
        return true;
    }

    // Converts one decoded frame; false when it could not be.
    bool convert(const AVFrame *f, int serial, std::vector<AudioChunk> &out)
    {
        if (!resampler || !shape.matches(f)) {
            if (!configureResampler(f))
                return false;
        }
        std::int64_t pts = nextPts;
        if (f->pts != AV_NOPTS_VALUE) {
            // The resampler may still hold a few samples of the previous
            // frame; they come out first and are that much earlier.
            pts = f->pts - swr_get_delay(resampler.get(), TicksPerSecond);
        }
        const int capacity = swr_get_out_samples(resampler.get(), f->nb_samples);
        if (capacity <= 0)
            return capacity == 0;
        AudioChunk chunk;
        chunk.samples.resize(std::size_t(capacity) * OutputChannels);
        chunk.serial = serial;
        auto *dst = reinterpret_cast<std::uint8_t *>(chunk.samples.data());
        const int produced = swr_convert(resampler.get(), &dst, capacity,
                                         const_cast<const std::uint8_t **>(f->extended_data), f->nb_samples);
        if (produced < 0)
            return false;
        if (produced == 0)
            return true;
        chunk.samples.resize(std::size_t(produced) * OutputChannels);
        chunk.pts90k = pts;
        nextPts = chunk.endPts();
        out.push_back(std::move(chunk));
        return true;
    }
};

AudioDecoder::AudioDecoder(const AudioFormat &format) : m_format(format), m_impl(std::make_unique<Impl>())
{
    m_impl->codec = avcodec_find_decoder(codecId(format.codec));
    if (!m_impl->codec)
        throw EngineError(ErrorCode::NoDecoder,
                          QStringLiteral("No %1 decoder in libavcodec").arg(QLatin1String(codecName(format.codec))));
    if (!m_impl->frame || !m_impl->packet)
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("Out of memory for the audio decoder"));
    m_impl->openContext(format.codec);
}

AudioDecoder::~AudioDecoder() = default;

void AudioDecoder::reset()
{
    avcodec_flush_buffers(m_impl->context.get());
    if (m_impl->parser) {
        // A parser has no flush of its own; a fresh one forgets the partial
        // frame it was assembling.
        m_impl->parser.reset(av_parser_init(m_impl->codec->id));
        m_impl->stamps.clear();
        m_impl->parsedBytes = 0;
    }
    m_impl->synced = false;
    m_impl->resampler.reset();
    av_channel_layout_uninit(&m_impl->shape.layout);
    m_impl->shape = InputShape{};
    m_impl->nextPts = NoPts;
}

void AudioDecoder::decodeFrames(const AVPacket *pkt, int serial, std::vector<AudioChunk> &out)
{
    Impl &d = *m_impl;
    int err = avcodec_send_packet(d.context.get(), pkt);
    if (err < 0 && err != AVERROR_EOF) {
        ++m_errorCount;
        return;
    }
    for (;;) {
        err = avcodec_receive_frame(d.context.get(), d.frame.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            break;
        if (err < 0) {
            ++m_errorCount;
            break;
        }
        if (!d.convert(d.frame.get(), serial, out))
            ++m_errorCount;
        av_frame_unref(d.frame.get());
    }
}

void AudioDecoder::decode(const AudioPacket &packet, std::vector<AudioChunk> &out)
{
    Impl &d = *m_impl;
    if (!packet.data || packet.size == 0)
        return;
    if (packet.size > std::size_t(INT32_MAX / 2))
        return;
    const std::int64_t pts = packet.pts90k == NoPts ? AV_NOPTS_VALUE : packet.pts90k;

    if (!d.parser) {
        if (av_new_packet(d.packet.get(), int(packet.size)) < 0) {
            ++m_errorCount;
            return;
        }
        std::memcpy(d.packet->data, packet.data, packet.size);
        d.packet->pts = pts;
        decodeFrames(d.packet.get(), packet.serial, out);
        av_packet_unref(d.packet.get());
        return;
    }

    const std::uint8_t *begin = packet.data;
    std::size_t size = packet.size;
    std::int64_t frameOffset = packet.frameOffset;
    // MPEG audio packets carry no pointer to their first frame: find it.
    if (!d.synced && frameOffset == UnknownFrameOffset && d.codec->id == AV_CODEC_ID_MP2) {
        frameOffset = firstMpegAudioFrame(begin, size);
        if (frameOffset < 0)
            return; // no frame starts in this packet
    }
    if (!d.synced && frameOffset != UnknownFrameOffset) {
        // After a jump the first packet mostly begins inside a frame. The
        // parser would take a sync word in that frame's data for a header
        // and hand the decoder garbage (AC-3: "invalid coupling range", MPEG
        // audio: "Header missing"): start where the first whole frame begins.
        const std::size_t skip = std::min<std::size_t>(std::size_t(std::max<std::int64_t>(frameOffset, 0)), size);
        begin += skip;
        size -= skip;
        if (size == 0)
            return; // no frame starts in this packet
    }
    d.synced = true;

    // Parsers read a little past the end of their input (they are allowed
    // AV_INPUT_BUFFER_PADDING_SIZE bytes); the demuxer's buffer has none.
    d.padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(d.padded.data(), begin, size);
    std::memset(d.padded.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    const std::uint8_t *data = d.padded.data();
    int left = int(size);
    if (packet.pts90k != NoPts) {
        d.stamps.push_back({d.parsedBytes, d.parsedBytes + left, packet.pts90k});
        // Stamps of packets in which no frame ever starts would pile up.
        while (d.stamps.size() > MaxPendingStamps)
            d.stamps.pop_front();
    }
    while (left > 0) {
        std::uint8_t *frameData = nullptr;
        int frameSize = 0;
        const int used = av_parser_parse2(d.parser.get(), d.context.get(), &frameData, &frameSize, data, left,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0)
            break;
        data += used;
        left -= used;
        d.parsedBytes += used;
        if (frameSize > 0)
            decodeParsed(frameData, frameSize, packet.serial, out);
        else if (used == 0)
            break;
    }
}

void AudioDecoder::finish(std::vector<AudioChunk> &out, int serial)
{
    Impl &d = *m_impl;
    if (d.parser) {
        std::uint8_t *frameData = nullptr;
        int frameSize = 0;
        av_parser_parse2(d.parser.get(), d.context.get(), &frameData, &frameSize, nullptr, 0, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        if (frameSize > 0)
            decodeParsed(frameData, frameSize, serial, out);
    }
    decodeFrames(nullptr, serial, out);
    // Draining leaves the decoder finished; make it usable again.
    const std::int64_t next = d.nextPts;
    reset();
    d.nextPts = next;
}

void AudioDecoder::decodeParsed(const std::uint8_t *frameData, int frameSize, int serial,
                                std::vector<AudioChunk> &out)
{
    Impl &d = *m_impl;
    if (av_new_packet(d.packet.get(), frameSize) < 0) {
        ++m_errorCount;
        return;
    }
    std::memcpy(d.packet->data, frameData, std::size_t(frameSize));
    const std::int64_t pts = d.stampFor(d.parser->frame_offset);
    d.packet->pts = pts == NoPts ? AV_NOPTS_VALUE : pts;
    decodeFrames(d.packet.get(), serial, out);
    av_packet_unref(d.packet.get());
}

} // namespace velmora
