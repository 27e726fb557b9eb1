#pragma once
// Where pictures go: one interface, one class per backend.
//
//   VideoSurface    the on-screen widget, the "DVD" control (VideoSurface.h)
//   PngFrameSink    PNG files and frame hashes, for tests and tools (PngFrameSink.h)
//
// Threads: pictureSize() and present() are called by the engine's video
// thread only; clear() and showMessage() by the engine's control thread (the
// UI thread). Backends guard what the two share.

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>

namespace velmora::video {

struct VideoPicture
{
    // The picture scaled to the size pictureSize() asked for, RGB32. Its
    // display aspect is already right: square pixels.
    QImage image;
    QSize displaySize;             // the picture's own display size (768x576 for PAL 4:3, 1024x576 for 16:9...)
    QSize codedSize;               // the stored picture's size (720x576, 720x480...): menu button coordinates
    std::int64_t titleTime90k = 0; // time in the title (or menu) of this picture
    std::int64_t timeline90k = 0;  // presentation time on the engine's timeline
    int title = 0;                 // 0 in menus
    bool wide = false;             // 16:9
};

class VideoOutput
{
public:
    virtual ~VideoOutput() = default;

    // Video thread: the size to scale a picture of this display size to.
    // An empty size means "not now" (hidden surface): the picture is skipped.
    virtual QSize pictureSize(const QSize &displaySize) = 0;
    // Video thread: shows the picture (the surface keeps it until the next).
    virtual void present(const VideoPicture &picture) = 0;
    // Control thread: forget the picture (stop); shows black.
    virtual void clear() = 0;
    // Control thread: a short line of text instead of a picture (opening failed).
    virtual void showMessage(const QString &text) = 0;
};

// The display size of a DVD picture: PAL 768x576 / 1024x576, NTSC 640x480 / 854x480.
QSize displaySizeFor(int codedHeight, bool wide);
// The largest size of the given aspect that fits inside bounds, centred.
QRect letterbox(const QSize &picture, const QSize &bounds);

} // namespace velmora::video
