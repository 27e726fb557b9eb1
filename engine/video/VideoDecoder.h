#pragma once
// MPEG-2 video: elementary-stream bytes in, decoded (and, where the picture
// is interlaced, deinterlaced) frames out, in presentation order.
//
// libavcodec's parser cuts the byte stream into pictures however the PES
// packets split it and carries each packet's time stamp to the picture that
// starts in it. Interlaced pictures go through libavfilter's bwdif (the
// library is loaded by the first of them: FilterLibrary); progressive ones
// bypass it, so a still menu shows without the filter's one-picture delay.
//
// Time stamps are 90 kHz ticks in whatever timeline the caller uses;
// AV_NOPTS_VALUE where the stream carries none.
//
// Threads: one thread at a time; no locks. Frames handed to the sink are
// owned by the decoder and valid only during the call.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct AVFrame;

namespace velmora::video {

class VideoDecoder
{
public:
    struct Options
    {
        int threads = 1;          // libavcodec decoding threads (0: automatic)
        bool deinterlace = true;
    };
    using FrameSink = std::function<void(const AVFrame *frame)>;

    // Throws EngineError(ErrorCode::NoDecoder) when libavcodec has no MPEG-2 decoder.
    explicit VideoDecoder(Options options);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // Feeds elementary-stream bytes (any buffer: the decoder pads its own
    // copy); every picture they complete goes to sink.
    // Damaged input never throws: undecodable pictures are counted and skipped.
    void decode(const std::uint8_t *data, std::size_t size, std::int64_t pts, std::int64_t dts, const FrameSink &sink);
    // Outputs every picture held back (by the parser, the decoder's reordering
    // or the deinterlacer), e.g. before a still; decoding then goes on afresh.
    void drain(const FrameSink &sink);
    // Drops everything held back (after a jump).
    void reset();
    // Decodes intra-coded pictures only and skips the rest (key-frame scans).
    void setKeyFramesOnly(bool only);

    int decodedFrames() const { return m_decodedFrames; }
    int errorCount() const { return m_errors; }

private:
    struct Impl;
    void decodePicture(const std::uint8_t *data, int size, std::int64_t pts, std::int64_t dts, const FrameSink &sink);
    void receiveFrames(const FrameSink &sink);
    void deliver(struct AVFrame *frame, const FrameSink &sink);
    void drainFilter(const FrameSink &sink);

    Options m_options;
    std::unique_ptr<Impl> m_impl;
    int m_decodedFrames = 0;
    int m_errors = 0;
};

} // namespace velmora::video
