#pragma once
// Converts decoded pictures to RGB32 at any size with libswscale, reusing its
// context while the shapes stay the same.
//
// Cost, measured by bench/bench_frame_scaler (PAL 720x576 to the 4:3
// picture of a 3840x2160 screen, 2880x2160): about 10 ms of processor time a
// picture, a quarter of a core at 25 pictures a second; the work grows with
// the output's pixels, since the colour conversion runs after the scaling.
// Exact bilinear (the default) costs about 6 % more than fast bilinear, whose
// chroma edges land a pixel off when shrinking; bicubic costs 1.6 times as
// much for nothing visible at DVD resolution. Extra threads split the
// picture into bands: each picture is ready sooner, but the processor time
// stays the same, so one thread is the default where cores are shared.
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
        Quality quality = Quality::Bilinear;
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
    // Scales frame to size but writes only its rows [firstRow, firstRow +
    // rows), at pixels (the first of them) with lines bytesPerLine apart:
    // a picture drawn band by band through a small buffer. Each band is
    // exactly the rows the whole picture would have there (no seams).
    // Unlike scaleInto, a band stays in the processor's cache, so banding
    // a large picture costs less than scaling it whole (2880x2160 in bands
    // of 96 rows: 6.8 ms against 14.7 ms here).
    bool scaleRows(const AVFrame *frame, const QSize &size, int firstRow, int rows, unsigned char *pixels,
                   int bytesPerLine);

    // The libswscale flags for a quality.
    static int flagsFor(Quality quality);

private:
    struct Closer { void operator()(SwsContext *c) const; };
    SwsContext *contextFor(const AVFrame *frame, const QSize &size);

    Options m_options;
    std::unique_ptr<SwsContext, Closer> m_context;
    struct FrameCloser { void operator()(AVFrame *f) const; };
    std::unique_ptr<AVFrame, FrameCloser> m_band; // scaleRows' destination, reused
    // The shape m_context was made for (the threaded context cannot be
    // looked up by sws_getCachedContext).
    int m_srcW = 0, m_srcH = 0, m_srcFormat = -1, m_dstW = 0, m_dstH = 0;
};

} // namespace velmora::video
