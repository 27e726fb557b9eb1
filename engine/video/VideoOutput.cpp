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
    // A display size is whole pixels while its aspect is not (NTSC 16:9 is
    // 853 1/3 wide, kept as 854). The fitted side is rounded to the nearest
    // pixel, and a side that falls short of the bounds by less than one
    // display pixel's worth is that rounding, not a bar: a 16:9 picture fills
    // a 16:9 screen instead of leaving its last lines black.
    const qint64 pw = picture.width(), ph = picture.height(), bw = bounds.width(), bh = bounds.height();
    QSize fitted = bw * ph <= bh * pw ? QSize(int(bw), int((2 * bw * ph + pw) / (2 * pw)))
                                      : QSize(int((2 * bh * pw + ph) / (2 * ph)), int(bh));
    const auto within = [](int fit, int bound, int own) { return bound - fit <= (bound + own - 1) / own; };
    if (within(fitted.width(), bounds.width(), picture.width()))
        fitted.setWidth(bounds.width());
    if (within(fitted.height(), bounds.height(), picture.height()))
        fitted.setHeight(bounds.height());
    return QRect(QPoint((bounds.width() - fitted.width()) / 2, (bounds.height() - fitted.height()) / 2), fitted);
}

} // namespace velmora::video
