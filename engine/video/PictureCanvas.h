#pragma once
// What draws the picture inside the video surface: one class per way of
// drawing (SoftwareCanvas: libswscale into the window's own pixels;
// GlCanvas: textures and a shader on the graphics processor).
//
// The video thread hands each picture over as decoded (a reference to the
// decoder's planes, nothing scaled) together with its overlay, which is
// drawn at once, on the video thread, into a transparent layer no larger
// than the picture's display size (768x576 at most): the layer is drawn
// scaled over the picture, so neither the queue nor the hand-over ever holds
// anything of the screen's size. The canvas converts and scales when it
// paints, once per picture shown.
//
// Threads: takeFrame() on the video thread; everything else on the UI
// thread, unless a canvas says otherwise. m_mutex is held only to swap
// references, never while converting, so the UI thread never waits on the
// video thread's work.

#include "engine/video/VideoOutput.h"

#include <QImage>
#include <QRect>
#include <mutex>

class QPainter;
class QWidget;

struct AVFrame;

namespace velmora::video {
class FrameScaler;
}

namespace velmora::video {

class PictureCanvas
{
public:
    virtual ~PictureCanvas() = default;

    virtual QWidget *widget() = 0;
    // "software" or "opengl": which way the picture is drawn.
    virtual QString kind() const = 0;
    // UI thread: the picture as it is drawn on screen now, at its letterbox
    // size within the widget (null when there is none).
    virtual QImage shownImage() = 0;
    // True when the canvas stays shown without a picture and draws black
    // and the surface's message itself (setMessage(); empty: none).
    virtual bool showsMessages() const { return false; }
    virtual void setMessage(const QString &) {}
    // UI thread: a new picture was taken; repaints what it changes.
    virtual void pictureChanged();

    // Video thread: takes the picture that is to be shown within bounds (the
    // widget's size) and draws its overlay. The caller then asks for a repaint.
    void takeFrame(const VideoFrame &frame, const OverlayPainter &overlay, const QSize &bounds);
    // Any thread: forgets the picture.
    void dropFrame();
    // Pictures handed over that were replaced before they were ever painted.
    int skippedFrames() const;
    int paintedFrames() const;

    // A picture as handed over.
    struct Shown
    {
        VideoFrame frame;    // null frame: nothing to show
        QImage overlay;      // ARGB32 premultiplied, the whole picture; null when nothing is drawn over it
        QRect overlayBand;   // the rows of overlay that hold anything (the rest is transparent)
    };

protected:
    // Video thread: a picture was just taken (takeFrame() is done with it).
    virtual void pictureTaken() {}
    // While painting (the UI thread, or a canvas's own painting thread): the
    // latest picture; counts it as painted.
    Shown latest();
    // UI thread: the latest picture, without counting it.
    Shown peek() const;
    // UI thread: the latest picture scaled by scaler to its letterbox within
    // area, its overlay drawn over it (shownImage() of the software canvases).
    QImage scaledShown(FrameScaler &scaler, const QSize &area) const;

private:
    // Video thread only: the layer being drawn (swapped into m_shown).
    QImage m_work;

    // m_mutex guards the fields below.
    mutable std::mutex m_mutex;
    Shown m_shown;
    bool m_unpainted = false;
    int m_skipped = 0;
    int m_painted = 0;
};

// Scales frame into buffer (made anew when target's size changes) and draws
// it at target, at the painter's device pixels; black there when it cannot.
void drawScaled(QPainter &painter, FrameScaler &scaler, QImage &buffer, const AVFrame *frame, const QRect &target);

// Draws the rows band of an overlay layer scaled over the picture at target.
void drawOverlay(QPainter &painter, const QImage &overlay, const QRect &band, const QRect &target);

// The rows of an ARGB32 image that hold a pixel that is not fully transparent.
QRect opaqueBand(const QImage &image);

} // namespace velmora::video
