#include "PictureCanvas.h"

#include "FrameScaler.h"

#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cstring>

namespace velmora::video {

QRect opaqueBand(const QImage &image)
{
    int first = -1;
    int last = -1;
    const qsizetype bytes = qsizetype(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        // Fully transparent premultiplied pixels are all-zero words.
        const bool empty = line[0] == 0 && std::memcmp(line, line + 1, std::size_t(bytes - 1)) == 0;
        if (!empty) {
            if (first < 0)
                first = y;
            last = y;
        }
    }
    if (first < 0)
        return {};
    return QRect(0, first, image.width(), last - first + 1);
}

void drawScaled(QPainter &painter, FrameScaler &scaler, QImage &buffer, const AVFrame *frame, const QRect &target)
{
    // At the screen's own pixels on a scaled screen, not enlarged from fewer.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize pixels = (QSizeF(target.size()) * ratio).toSize();
    if (buffer.size() != pixels)
        buffer = QImage(pixels, QImage::Format_RGB32);
    buffer.setDevicePixelRatio(ratio);
    if (!buffer.isNull() && scaler.scaleInto(frame, pixels, buffer.bits(), int(buffer.bytesPerLine())))
        painter.drawImage(QRectF(target), buffer);
    else
        painter.fillRect(target, Qt::black);
}

void drawOverlay(QPainter &painter, const QImage &overlay, const QRect &band, const QRect &target)
{
    if (overlay.isNull() || band.isEmpty())
        return;
    const double sx = double(target.width()) / overlay.width();
    const double sy = double(target.height()) / overlay.height();
    const QRectF to(target.left() + band.left() * sx, target.top() + band.top() * sy, band.width() * sx,
                    band.height() * sy);
    painter.save();
    if (to.size() != QSizeF(band.size()))
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(to, overlay, QRectF(band));
    painter.restore();
}

void PictureCanvas::pictureChanged()
{
    widget()->update();
}

void PictureCanvas::takeFrame(const VideoFrame &frame, const OverlayPainter &overlay, const QSize &bounds)
{
    QImage layer;
    QRect band;
    if (overlay) {
        // At the size the picture is shown, but never above its display size:
        // a full screen's layer would cost as much memory as the screen.
        QSize size = letterbox(frame.displaySize, bounds).size();
        if (size.width() > frame.displaySize.width())
            size = frame.displaySize;
        if (!size.isEmpty()) {
            if (m_work.size() != size)
                m_work = QImage(size, QImage::Format_ARGB32_Premultiplied);
            if (!m_work.isNull()) {
                m_work.fill(Qt::transparent); // detaches if the UI thread still holds it
                overlay(m_work);
                band = opaqueBand(m_work);
                if (!band.isEmpty())
                    layer = m_work;
            }
        }
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_unpainted)
            ++m_skipped;
        m_unpainted = true;
        m_shown.frame = frame;
        std::swap(m_shown.overlay, layer); // layer: the one shown before
        m_shown.overlayBand = band;
        // The next overlay is drawn on the layer shown before (double buffering);
        // should the painter still hold it, drawing on it makes a copy first.
        if (!m_shown.overlay.isNull() && !layer.isNull() && layer.size() == m_work.size())
            m_work = std::move(layer);
    }
    pictureTaken();
}

void PictureCanvas::dropFrame()
{
    std::lock_guard lock(m_mutex);
    m_shown = Shown();
    m_unpainted = false;
}

PictureCanvas::Shown PictureCanvas::latest()
{
    std::lock_guard lock(m_mutex);
    if (m_unpainted && m_shown.frame.frame)
        ++m_painted;
    m_unpainted = false;
    return m_shown;
}

PictureCanvas::Shown PictureCanvas::peek() const
{
    std::lock_guard lock(m_mutex);
    return m_shown;
}

int PictureCanvas::skippedFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_skipped;
}

int PictureCanvas::paintedFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_painted;
}

QImage PictureCanvas::scaledShown(FrameScaler &scaler, const QSize &area) const
{
    const Shown shown = peek();
    if (!shown.frame.frame)
        return {};
    const QRect target = letterbox(shown.frame.displaySize, area);
    if (target.isEmpty())
        return {};
    QImage image(target.size(), QImage::Format_RGB32);
    if (image.isNull()
        || !scaler.scaleInto(shown.frame.frame.get(), target.size(), image.bits(), int(image.bytesPerLine())))
        return {};
    QPainter painter(&image);
    drawOverlay(painter, shown.overlay, shown.overlayBand, image.rect());
    return image;
}

} // namespace velmora::video
