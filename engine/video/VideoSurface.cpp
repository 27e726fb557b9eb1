#include "VideoSurface.h"

#include <QPainter>
#include <QResizeEvent>

namespace velmora::video {

VideoSurface::VideoSurface(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    m_bounds = size();
}

VideoSurface::~VideoSurface() = default;

QSize VideoSurface::pictureSize(const QSize &displaySize)
{
    std::lock_guard lock(m_mutex);
    return letterbox(displaySize, m_bounds).size();
}

void VideoSurface::present(const VideoPicture &picture)
{
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        m_image = picture.image;
        m_message.clear();
        post = !m_repaintPending;
        m_repaintPending = true;
    }
    // One queued repaint at a time: a slow UI thread skips pictures, it never piles them up.
    if (post)
        QMetaObject::invokeMethod(this, [this] { requestRepaint(); }, Qt::QueuedConnection);
}

void VideoSurface::requestRepaint()
{
    {
        std::lock_guard lock(m_mutex);
        m_repaintPending = false;
    }
    update();
    emit pictureShown();
}

void VideoSurface::clear()
{
    {
        std::lock_guard lock(m_mutex);
        m_image = QImage();
    }
    update();
}

void VideoSurface::showMessage(const QString &text)
{
    {
        std::lock_guard lock(m_mutex);
        m_image = QImage();
        m_message = text;
    }
    update();
}

QImage VideoSurface::currentImage() const
{
    std::lock_guard lock(m_mutex);
    return m_image;
}

QString VideoSurface::message() const
{
    std::lock_guard lock(m_mutex);
    return m_message;
}

void VideoSurface::resizeEvent(QResizeEvent *event)
{
    std::lock_guard lock(m_mutex);
    m_bounds = event->size();
}

void VideoSurface::paintEvent(QPaintEvent *)
{
    QImage image;
    QString message;
    {
        std::lock_guard lock(m_mutex);
        image = m_image;
        message = m_message;
    }
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!image.isNull()) {
        // The picture was scaled for the letterbox of this size; after a resize
        // the next picture fits again, this one is stretched meanwhile.
        const QRect target = letterbox(image.size(), size());
        if (target.size() == image.size())
            painter.drawImage(target.topLeft(), image);
        else
            painter.drawImage(target, image);
    } else if (!message.isEmpty()) {
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, message);
    }
}

} // namespace velmora::video
