#pragma once
// Converts decoded pictures to RGB32 at any size with libswscale, reusing its
// context while the shapes stay the same.
//
// Cost, measured by bench/bench_frame_scaler (PAL 720x576 to a 4:3 picture
// on a 3840x2160 screen, 2880x2160): the work grows with the output's pixels,
// since the colour conversion runs after the scaling. Fast bilinear (the
// default) takes about two thirds of exact bilinear's time and looks the same
// on moving video; bicubic costs more again for nothing visible at DVD
// resolution. Extra threads split the picture into bands: each frame is
// ready sooner, the processor time spent stays the same or grows a little,
// so one thread is the default where cores are shared.
//
// Threads: one thread at a time.

#include <QImage>
#include <QSize>
#include <memory>

struct AVFrame;
struct SwsContext;

namespace velmora::video {

class FrameScaler
{
public:
    enum class Quality { Fast, Bilinear, Bicubic };
    struct Options
    {
        Quality quality = Quality::Fast;
        int threads = 1;     // libswscale slice threads; 0: one per core
    };

    FrameScaler();
    explicit FrameScaler(Options options);
    ~FrameScaler();
    FrameScaler(const FrameScaler &) = delete;
    FrameScaler &operator=(const FrameScaler &) = delete;

    // Scales frame to size (RGB32). A null image when the frame cannot be converted.
    QImage scale(const AVFrame *frame, const QSize &size);
    // Scales frame into size pixels of RGB32 at pixels (lines bytesPerLine
    // apart), which the caller owns: a window's backing store, a reused
    // buffer. False when the frame cannot be converted (nothing written then,
    // or a partial picture).
    bool scaleInto(const AVFrame *frame, const QSize &size, unsigned char *pixels, int bytesPerLine);

    // The libswscale flags for a quality.
    static int flagsFor(Quality quality);

private:
    struct Closer { void operator()(SwsContext *c) const; };
    SwsContext *contextFor(const AVFrame *frame, const QSize &size);

    Options m_options;
    std::unique_ptr<SwsContext, Closer> m_context;
    // The shape m_context was made for (the threaded context cannot be
    // looked up by sws_getCachedContext).
    int m_srcW = 0, m_srcH = 0, m_srcFormat = -1, m_dstW = 0, m_dstH = 0;
};

} // namespace velmora::video
