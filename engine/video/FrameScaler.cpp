#include "FrameScaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace velmora::video {

void FrameScaler::Closer::operator()(SwsContext *c) const
{
    sws_freeContext(c);
}

FrameScaler::FrameScaler() = default;
FrameScaler::~FrameScaler() = default;

QImage FrameScaler::scale(const AVFrame *frame, const QSize &size)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || size.isEmpty())
        return {};
    // Bilinear: as sharp as bicubic to the eye at video sizes, at half the cost.
    SwsContext *context = sws_getCachedContext(m_context.release(), frame->width, frame->height,
                                               AVPixelFormat(frame->format), size.width(), size.height(),
                                               AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
    m_context.reset(context);
    if (!context)
        return {};
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    std::uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(context, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0)
        return {};
    return image;
}

} // namespace velmora::video
