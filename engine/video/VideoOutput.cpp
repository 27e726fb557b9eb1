#include "VideoOutput.h"

#include "engine/video/FrameScaler.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <QRect>

namespace velmora::video {

SharedFrame shareFrame(const AVFrame *frame)
{
    if (!frame)
        return {};
    AVFrame *copy = av_frame_clone(frame);
    if (!copy)
        return {};
    return SharedFrame(copy, [](const AVFrame *f) {
        AVFrame *owned = const_cast<AVFrame *>(f);
        av_frame_free(&owned);
    });
}

ImageOutput::ImageOutput() : m_scaler(std::make_unique<FrameScaler>()) {}
ImageOutput::~ImageOutput() = default;

void ImageOutput::presentFrame(const VideoFrame &frame, const OverlayPainter &overlay)
{
    const QSize size = pictureSize(frame.displaySize);
    if (size.isEmpty() || !frame.frame)
        return;
    VideoPicture picture;
    static_cast<PictureInfo &>(picture) = frame;
    picture.image = m_scaler->scale(frame.frame.get(), size);
    if (picture.image.isNull())
        return;
    if (overlay)
        overlay(picture.image);
    present(picture);
}

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
