#pragma once
// Where pictures go: one interface, one class per backend.
//
//   VideoSurface    the on-screen widget, the "DVD" control (VideoSurface.h),
//                   drawing through a SoftwareCanvas or a GlCanvas
//   PngFrameSink    PNG files and frame hashes, for tests and tools (PngFrameSink.h)
//
// The engine hands an output the decoded picture as it came from the decoder
// (planes at the stored size, 720x576 or 720x480) with a painter for what
// goes over it (subtitles, menu highlights). Each output converts and scales
// once, to whatever size it shows, so nothing of the screen's size is ever
// queued or kept per picture.
//
// Threads: presentFrame() is called by the engine's video thread only (and
// the overlay painter must be called, if at all, inside that call); clear()
// and showMessage() by the engine's control thread (the UI thread). Backends
// guard what the two share.

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

struct AVFrame;

namespace velmora::video {

// A decoded picture shared between the engine and an output: a reference to
// the decoder's buffers (no copy of the pixels), freed with its last owner.
using SharedFrame = std::shared_ptr<const AVFrame>;
// A new reference to frame's buffers (a copy when frame is not reference
// counted); null when frame is null or memory runs out.
SharedFrame shareFrame(const AVFrame *frame);

// Draws the subtitles and menu highlights of one picture onto an image of
// that picture at any size (square pixels, the whole picture). Empty when
// there is nothing that could be drawn.
using OverlayPainter = std::function<void(QImage &)>;

// What is known of a picture besides its pixels.
struct PictureInfo
{
    QSize displaySize;             // the picture's own display size (768x576 for PAL 4:3, 1024x576 for 16:9...)
    QSize codedSize;               // the stored picture's size (720x576, 720x480...): menu button coordinates
    std::int64_t titleTime90k = 0; // time in the title (or menu) of this picture
    std::int64_t timeline90k = 0;  // presentation time on the engine's timeline
    int title = 0;                 // 0 in menus
    bool wide = false;             // 16:9
};

struct VideoFrame : PictureInfo
{
    SharedFrame frame;             // the decoded planes at codedSize
};

struct VideoPicture : PictureInfo
{
    // The picture scaled to the size pictureSize() asked for, RGB32, with
    // its overlay drawn. Its display aspect is already right: square pixels.
    QImage image;
};

class VideoOutput
{
public:
    virtual ~VideoOutput() = default;

    // Video thread: shows the picture (the output keeps what it needs of it
    // until the next). overlay may be empty.
    virtual void presentFrame(const VideoFrame &frame, const OverlayPainter &overlay) = 0;
    // Control thread: forget the picture (stop); shows black.
    virtual void clear() = 0;
    // Control thread: a short line of text instead of a picture (opening failed).
    virtual void showMessage(const QString &text) = 0;
};

// An output that wants finished RGB images (files, hashes, tests): each
// picture is scaled to the size pictureSize() gives and its overlay drawn,
// on the video thread, before present() gets it.
class ImageOutput : public VideoOutput
{
public:
    ImageOutput();
    ~ImageOutput() override;

    // Video thread: the size to scale a picture of this display size to.
    // An empty size means "not now": the picture is skipped.
    virtual QSize pictureSize(const QSize &displaySize) = 0;
    // Video thread: the finished picture.
    virtual void present(const VideoPicture &picture) = 0;

    void presentFrame(const VideoFrame &frame, const OverlayPainter &overlay) final;

private:
    std::unique_ptr<class FrameScaler> m_scaler;
};

// The display size of a DVD picture: PAL 768x576 / 1024x576, NTSC 640x480 / 854x480.
QSize displaySizeFor(int codedHeight, bool wide);
// The largest size of the given aspect that fits inside bounds, centred; a
// side within one display pixel of the bounds fills them (no line of black
// from the display size's rounding).
QRect letterbox(const QSize &picture, const QSize &bounds);

} // namespace velmora::video
