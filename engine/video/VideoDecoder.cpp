#include "VideoDecoder.h"

#include "FilterLibrary.h"
#include "engine/EngineError.h"

#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

#include <cstdio>
#include <mutex>
#include <vector>

namespace velmora::video {

namespace {
struct CodecCloser { void operator()(AVCodecContext *c) const { avcodec_free_context(&c); } };
struct ParserCloser { void operator()(AVCodecParserContext *p) const { av_parser_close(p); } };
struct FrameFree { void operator()(AVFrame *f) const { av_frame_free(&f); } };
struct PacketFree { void operator()(AVPacket *p) const { av_packet_free(&p); } };
// A graph exists only once the library is loaded.
struct GraphFree { void operator()(AVFilterGraph *g) const { FilterLibrary::get()->graphFree(&g); } };
} // namespace

struct VideoDecoder::Impl
{
    const AVCodec *codec = nullptr;
    std::unique_ptr<AVCodecContext, CodecCloser> context;
    std::unique_ptr<AVCodecParserContext, ParserCloser> parser;
    std::unique_ptr<AVFrame, FrameFree> frame{av_frame_alloc()};
    std::unique_ptr<AVFrame, FrameFree> filtered{av_frame_alloc()};
    std::unique_ptr<AVPacket, PacketFree> packet{av_packet_alloc()};
    std::vector<std::uint8_t> padded; // input copy with the padding libavcodec reads into

    // The deinterlacer, built for the picture shape it was first fed.
    std::unique_ptr<AVFilterGraph, GraphFree> graph;
    AVFilterContext *source = nullptr;
    AVFilterContext *sink = nullptr;
    AVRational sinkBase{1, 90000}; // the deinterlacer's output counts in half ticks
    int graphWidth = 0;
    int graphHeight = 0;
    int graphFormat = -1;
    bool graphHoldsFrames = false;

    // Hands every picture the deinterlacer has ready to sink, its time back
    // in 90 kHz ticks: bwdif and yadif count time in fields, twice as fine.
    void takeFiltered(const FilterLibrary &lib, const VideoDecoder::FrameSink &to)
    {
        AVFrame *out = filtered.get();
        while (lib.getFrame(sink, out) >= 0) {
            if (out->pts != AV_NOPTS_VALUE)
                out->pts = av_rescale_q(out->pts, sinkBase, AVRational{1, 90000});
            to(out);
            av_frame_unref(out);
        }
    }

    void openCodec(int threads)
    {
        context.reset(avcodec_alloc_context3(codec));
        if (!context)
            throw EngineError(ErrorCode::Unexpected, QStringLiteral("Out of memory for the video decoder"));
        context->thread_count = threads;
        context->pkt_timebase = AVRational{1, 90000};
        if (avcodec_open2(context.get(), codec, nullptr) < 0)
            throw EngineError(ErrorCode::NoDecoder, QStringLiteral("The MPEG-2 video decoder cannot be opened"));
        parser.reset(av_parser_init(AV_CODEC_ID_MPEG2VIDEO));
        if (!parser)
            throw EngineError(ErrorCode::NoDecoder, QStringLiteral("libavcodec has no MPEG-2 video parser"));
    }

    bool buildGraph(const AVFrame *f)
    {
        const FilterLibrary *lib = FilterLibrary::get();
        if (!lib) {
            static std::once_flag said;
            std::call_once(said, [] {
                qWarning("velmora: interlaced pictures are shown without deinterlacing: %s",
                         qUtf8Printable(FilterLibrary::loadError()));
            });
            return false;
        }
        graph.reset(lib->graphAlloc());
        source = sink = nullptr;
        if (!graph)
            return false;
        char args[256];
        std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/90000:pixel_aspect=%d/%d", f->width,
                      f->height, f->format, f->sample_aspect_ratio.num ? f->sample_aspect_ratio.num : 1,
                      f->sample_aspect_ratio.den ? f->sample_aspect_ratio.den : 1);
        const AVFilter *bwdif = lib->getByName("bwdif");
        const AVFilter *yadif = lib->getByName("yadif");
        const AVFilter *deint = bwdif ? bwdif : yadif;
        AVFilterContext *deintContext = nullptr;
        // mode 0: one frame out per frame in; parity -1: from the stream; deint 1: interlaced frames only.
        if (!deint
            || lib->createFilter(&source, lib->getByName("buffer"), "in", args, nullptr, graph.get()) < 0
            || lib->createFilter(&deintContext, deint, "deint", "mode=0:parity=-1:deint=1", nullptr, graph.get()) < 0
            || lib->createFilter(&sink, lib->getByName("buffersink"), "out", nullptr, nullptr, graph.get()) < 0
            || lib->link(source, 0, deintContext, 0) < 0 || lib->link(deintContext, 0, sink, 0) < 0
            || lib->config(graph.get(), nullptr) < 0) {
            graph.reset();
            source = sink = nullptr;
            return false;
        }
        sinkBase = lib->sinkTimeBase(sink);
        graphWidth = f->width;
        graphHeight = f->height;
        graphFormat = f->format;
        graphHoldsFrames = false;
        return true;
    }
};

VideoDecoder::VideoDecoder(Options options) : m_options(options), m_impl(std::make_unique<Impl>())
{
    m_impl->codec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
    if (!m_impl->codec)
        throw EngineError(ErrorCode::NoDecoder, QStringLiteral("libavcodec has no MPEG-2 video decoder"));
    if (!m_impl->frame || !m_impl->filtered || !m_impl->packet)
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("Out of memory for the video decoder"));
    m_impl->openCodec(m_options.threads);
}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::decode(const std::uint8_t *data, std::size_t size, std::int64_t pts, std::int64_t dts,
                          const FrameSink &sink)
{
    if (!m_impl->parser)
        m_impl->parser.reset(av_parser_init(AV_CODEC_ID_MPEG2VIDEO));
    if (!m_impl->parser || !data)
        return;
    // The parser reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end
    // of its input: give it a copy with zeroed padding, never the caller's
    // buffer as it is.
    std::vector<std::uint8_t> &padded = m_impl->padded;
    padded.assign(data, data + size);
    padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    data = padded.data();
    while (size > 0) {
        std::uint8_t *out = nullptr;
        int outSize = 0;
        const int chunk = size > std::size_t(1 << 30) ? (1 << 30) : int(size);
        const int used = av_parser_parse2(m_impl->parser.get(), m_impl->context.get(), &out, &outSize, data, chunk,
                                          pts, dts, 0);
        if (used < 0) {
            ++m_errors;
            return;
        }
        data += used;
        size -= std::size_t(used);
        // A time stamp belongs to the first picture starting in its packet only.
        pts = dts = AV_NOPTS_VALUE;
        if (outSize > 0)
            decodePicture(out, outSize, m_impl->parser->pts, m_impl->parser->dts, sink);
        if (used == 0 && outSize == 0)
            break;
    }
}

void VideoDecoder::decodePicture(const std::uint8_t *data, int size, std::int64_t pts, std::int64_t dts,
                                 const FrameSink &sink)
{
    AVPacket *packet = m_impl->packet.get();
    packet->data = const_cast<std::uint8_t *>(data);
    packet->size = size;
    packet->pts = pts;
    packet->dts = dts;
    const int rc = avcodec_send_packet(m_impl->context.get(), packet);
    packet->data = nullptr;
    packet->size = 0;
    if (rc < 0 && rc != AVERROR(EAGAIN)) {
        ++m_errors;
        return;
    }
    receiveFrames(sink);
}

void VideoDecoder::receiveFrames(const FrameSink &sink)
{
    AVFrame *frame = m_impl->frame.get();
    for (;;) {
        const int rc = avcodec_receive_frame(m_impl->context.get(), frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return;
        if (rc < 0) {
            ++m_errors;
            return;
        }
        ++m_decodedFrames;
        frame->pts = frame->best_effort_timestamp;
        if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
            ++m_errors;
        deliver(frame, sink);
        av_frame_unref(frame);
    }
}

void VideoDecoder::deliver(AVFrame *frame, const FrameSink &sink)
{
    Impl &d = *m_impl;
    if (!m_options.deinterlace || !frame->interlaced_frame) {
        // Keep order: whatever the deinterlacer still holds came first.
        if (d.graphHoldsFrames)
            drainFilter(sink);
        sink(frame);
        return;
    }
    if (d.graph && (d.graphWidth != frame->width || d.graphHeight != frame->height || d.graphFormat != frame->format))
        drainFilter(sink);
    if (!d.graph && !d.buildGraph(frame)) {
        sink(frame); // no deinterlacer: the picture is still better shown than lost
        return;
    }
    const FilterLibrary *lib = FilterLibrary::get(); // loaded: the graph is built
    if (lib->addFrame(d.source, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
        ++m_errors;
        return;
    }
    d.graphHoldsFrames = true;
    d.takeFiltered(*lib, sink);
}

void VideoDecoder::drainFilter(const FrameSink &sink)
{
    Impl &d = *m_impl;
    if (!d.graph)
        return;
    const FilterLibrary *lib = FilterLibrary::get(); // loaded: the graph is built
    if (d.graphHoldsFrames && lib->addFrame(d.source, nullptr, 0) >= 0)
        d.takeFiltered(*lib, sink);
    // A graph that has seen its end takes no more frames: the next one builds anew.
    d.graph.reset();
    d.source = d.sink = nullptr;
    d.graphHoldsFrames = false;
}

void VideoDecoder::drain(const FrameSink &sink)
{
    Impl &d = *m_impl;
    // The parser holds the last picture until the next one starts.
    std::uint8_t *out = nullptr;
    int outSize = 0;
    if (d.parser)
        av_parser_parse2(d.parser.get(), d.context.get(), &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (outSize > 0)
        decodePicture(out, outSize, d.parser->pts, d.parser->dts, sink);
    if (avcodec_send_packet(d.context.get(), nullptr) >= 0)
        receiveFrames(sink);
    drainFilter(sink);
    avcodec_flush_buffers(d.context.get());
    d.parser.reset(av_parser_init(AV_CODEC_ID_MPEG2VIDEO));
}

void VideoDecoder::setKeyFramesOnly(bool only)
{
    m_impl->context->skip_frame = only ? AVDISCARD_NONKEY : AVDISCARD_DEFAULT;
}

void VideoDecoder::reset()
{
    Impl &d = *m_impl;
    avcodec_flush_buffers(d.context.get());
    d.parser.reset(av_parser_init(AV_CODEC_ID_MPEG2VIDEO));
    d.graph.reset();
    d.source = d.sink = nullptr;
    d.graphHoldsFrames = false;
}

} // namespace velmora::video
