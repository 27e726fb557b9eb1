#include "VideoOutput.h"

#include <QRect>

namespace velmora::video {

QSize displaySizeFor(int codedHeight, bool wide)
{
    const int height = codedHeight >= 540 ? 576 : 480;
    const int width = wide ? (height * 16 + 8) / 9 : height * 4 / 3;
    return QSize(width, height);
}

QRect letterbox(const QSize &picture, const QSize &bounds)
{
    if (picture.isEmpty() || bounds.isEmpty())
        return {};
    const QSize fitted = picture.scaled(bounds, Qt::KeepAspectRatio);
    return QRect(QPoint((bounds.width() - fitted.width()) / 2, (bounds.height() - fitted.height()) / 2), fitted);
}

} // namespace velmora::video
