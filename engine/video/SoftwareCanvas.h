#pragma once
// Draws the picture with libswscale: each picture is converted and scaled
// once, when it is painted. In full screen it goes straight into the
// window's backing store (the pixels Qt hands to the X server), so nothing
// of the screen's size is allocated besides the window itself. Elsewhere (a
// window with margins, the picture partly covered by another widget, a
// scaled display, painting into a pixmap) it scales into one buffer reused
// from picture to picture and draws that. The overlay layer is drawn scaled over the picture, and only
// its rows that hold anything.
//
// Threads: a PictureCanvas; the scaling runs on the UI thread, in paintEvent.

#include "engine/video/FrameScaler.h"
#include "engine/video/PictureCanvas.h"

#include <QWidget>

namespace velmora::video {

class SoftwareCanvas : public QWidget, public PictureCanvas
{
    Q_OBJECT
public:
    explicit SoftwareCanvas(QWidget *parent = nullptr);

    QWidget *widget() override { return this; }
    QString kind() const override { return QStringLiteral("software"); }
    QImage shownImage() override;

    // Pictures written straight into the backing store / through the buffer (for tests).
    int directPaints() const { return m_direct; }
    int bufferedPaints() const { return m_buffered; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Scales frame to target's size at target's place in the painter's
    // backing store when the painter paints into one and nothing covers target.
    bool paintDirect(QPainter &painter, const Shown &shown, const QRect &target);

    FrameScaler m_scaler;
    QImage m_buffer; // the fallback's picture, reused while the size holds
    int m_direct = 0;
    int m_buffered = 0;
};

} // namespace velmora::video
