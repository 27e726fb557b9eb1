#include "VideoSurface.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMouseEvent>
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

VideoSurface::~VideoSurface()
{
    emit destroying();
}

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
        m_codedSize = picture.codedSize;
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
        m_codedSize = QSize();
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

std::optional<QPoint> VideoSurface::toPicture(const QPoint &widgetPos) const
{
    QSize imageSize;
    QSize coded;
    {
        std::lock_guard lock(m_mutex);
        imageSize = m_image.size();
        coded = m_codedSize;
    }
    if (imageSize.isEmpty() || coded.isEmpty())
        return std::nullopt;
    const QRect shown = letterbox(imageSize, size());
    if (!shown.contains(widgetPos))
        return std::nullopt;
    const int x = int(qint64(widgetPos.x() - shown.left()) * coded.width() / shown.width());
    const int y = int(qint64(widgetPos.y() - shown.top()) * coded.height() / shown.height());
    return QPoint(std::clamp(x, 0, coded.width() - 1), std::clamp(y, 0, coded.height() - 1));
}

void VideoSurface::mouseMoveEvent(QMouseEvent *event)
{
    if (const auto pos = toPicture(event->position().toPoint()))
        emit pointerMoved(*pos);
    QWidget::mouseMoveEvent(event);
}

void VideoSurface::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (const auto pos = toPicture(event->position().toPoint()))
            emit pointerClicked(*pos);
    }
    // Other buttons go on to the host (the video window's context menu).
    QWidget::mousePressEvent(event);
}

void VideoSurface::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit navigationKey(event->key());
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
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
