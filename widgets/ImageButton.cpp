#include "ImageButton.h"

#include "Skn.h"

#include <QMouseEvent>

namespace velmora {

ImageButton::ImageButton(QWidget *parent) : QLabel(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setContentsMargins(0, 0, 0, 0);
    // Hover pictures need moves without a button held.
    setMouseTracking(true);
}

void ImageButton::showImage(const QString &name)
{
    const QPixmap &picture = skn().Picture(name);
    // Hover moves arrive in bursts: showing the same picture again is a no-op.
    if (name == m_imageName && pixmap().cacheKey() == picture.cacheKey())
        return;
    m_imageName = name;
    setPixmap(picture);
    if (!m_fixedSize && !picture.isNull())
        resize(picture.size());
}

void ImageButton::moveTo(int left, int top)
{
    move(left, top);
}

void ImageButton::setSpot(int left, int top, int width, int height)
{
    m_fixedSize = true;
    setGeometry(left, top, width, height);
}

void ImageButton::mousePressEvent(QMouseEvent *event)
{
    emit pressed(event->button());
    event->accept();
}

void ImageButton::mouseReleaseEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = event->button();
    const bool over = rect().contains(event->position().toPoint());
    emit released(button);
    if (button == Qt::LeftButton && over)
        emit clicked();
    event->accept();
}

void ImageButton::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved();
    event->accept();
}

} // namespace velmora
