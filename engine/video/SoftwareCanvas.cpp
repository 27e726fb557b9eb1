#include "SoftwareCanvas.h"

#include <QBackingStore>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>

extern "C" {
#include <libavutil/frame.h>
}

namespace velmora::video {

namespace {

// Black around the picture: the bars only, the picture covers the rest.
void fillBars(QPainter &painter, const QRect &all, const QRect &picture)
{
    const QRegion bars = QRegion(all).subtracted(QRegion(picture));
    for (const QRect &r : bars)
        painter.fillRect(r, Qt::black);
}

} // namespace

SoftwareCanvas::SoftwareCanvas(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Input belongs to the surface underneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

bool SoftwareCanvas::paintDirect(QPainter &painter, const Shown &shown, const QRect &target)
{
    // Only when this paint goes to the window's backing store itself (not
    // to a pixmap, as QWidget::grab() does) and that is plain 32-bit pixels.
    QPaintEngine *engine = painter.paintEngine();
    QBackingStore *backing = backingStore();
    if (!engine || !backing || !window() || engine->paintDevice() != backing->paintDevice())
        return false;
    auto *store = dynamic_cast<QImage *>(engine->paintDevice());
    if (!store || store->devicePixelRatio() != 1.0 || !painter.worldTransform().isIdentity())
        return false;
    const QImage::Format format = store->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32
        && format != QImage::Format_ARGB32_Premultiplied)
        return false;
    const QRect onStore = target.translated(mapTo(window(), QPoint(0, 0)));
    if (!store->rect().contains(onStore))
        return false;
    // Only where Qt lets us paint: a widget above the picture (the
    // information box) is taken out of the clip and must not be painted over.
    const QRegion clip = engine->systemClip();
    if (clip.isEmpty() || !QRegion(onStore).subtracted(clip).isEmpty())
        return false;
    // Only while the picture's widget fills its window (full screen, where
    // the size matters): in a window with margins, a shrinking resize left
    // our pixels in the margins Qt had already repainted.
    if (rect().translated(mapTo(window(), QPoint(0, 0))) != window()->rect())
        return false;
    uchar *origin = store->bits() + qsizetype(onStore.top()) * store->bytesPerLine() + qsizetype(onStore.left()) * 4;
    return m_scaler.scaleInto(shown.frame.frame.get(), onStore.size(), origin, int(store->bytesPerLine()));
}

void SoftwareCanvas::paintEvent(QPaintEvent *)
{
    const Shown shown = latest();
    QPainter painter(this);
    const QRect target = shown.frame.frame ? letterbox(shown.frame.displaySize, size()) : QRect();
    if (target.isEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    fillBars(painter, rect(), target);
    if (paintDirect(painter, shown, target)) {
        ++m_direct;
    } else {
        drawScaled(painter, m_scaler, m_buffer, shown.frame.frame.get(), target);
        ++m_buffered;
    }
    drawOverlay(painter, shown.overlay, shown.overlayBand, target);
}

QImage SoftwareCanvas::shownImage()
{
    return scaledShown(m_scaler, size());
}

} // namespace velmora::video
