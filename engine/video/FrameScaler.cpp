#include "FrameScaler.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>

namespace velmora::video {

void FrameScaler::Closer::operator()(SwsContext *c) const
{
    sws_freeContext(c);
}

void FrameScaler::FrameCloser::operator()(AVFrame *f) const
{
    av_frame_free(&f);
}

FrameScaler::FrameScaler() = default;
FrameScaler::FrameScaler(Options options) : m_options(options) {}
FrameScaler::~FrameScaler() = default;

int FrameScaler::flagsFor(Quality quality)
{
    switch (quality) {
    case Quality::Fast: return SWS_FAST_BILINEAR;
    case Quality::Bilinear: return SWS_BILINEAR;
    case Quality::Bicubic: return SWS_BICUBIC;
    }
    return SWS_FAST_BILINEAR;
}

SwsContext *FrameScaler::contextFor(const AVFrame *frame, const QSize &size)
{
    if (m_context && m_srcW == frame->width && m_srcH == frame->height && m_srcFormat == frame->format
        && m_dstW == size.width() && m_dstH == size.height())
        return m_context.get();
    m_context.reset();
    SwsContext *c = sws_alloc_context();
    if (!c)
        return nullptr;
    std::unique_ptr<SwsContext, Closer> owned(c);
    if (av_opt_set_int(c, "srcw", frame->width, 0) < 0 || av_opt_set_int(c, "srch", frame->height, 0) < 0
        || av_opt_set_int(c, "src_format", frame->format, 0) < 0 || av_opt_set_int(c, "dstw", size.width(), 0) < 0
        || av_opt_set_int(c, "dsth", size.height(), 0) < 0 || av_opt_set_int(c, "dst_format", AV_PIX_FMT_RGB32, 0) < 0
        || av_opt_set_int(c, "sws_flags", flagsFor(m_options.quality), 0) < 0
        || av_opt_set_int(c, "threads", m_options.threads, 0) < 0)
        return nullptr;
    if (sws_init_context(c, nullptr, nullptr) < 0)
        return nullptr;
    m_context = std::move(owned);
    m_srcW = frame->width;
    m_srcH = frame->height;
    m_srcFormat = frame->format;
    m_dstW = size.width();
    m_dstH = size.height();
    return m_context.get();
}

bool FrameScaler::scaleInto(const AVFrame *frame, const QSize &size, unsigned char *pixels, int bytesPerLine)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || size.isEmpty() || !pixels
        || bytesPerLine < size.width() * 4)
        return false;
    SwsContext *context = contextFor(frame, size);
    if (!context)
        return false;
    if (m_options.threads == 1) {
        std::uint8_t *planes[4] = {pixels, nullptr, nullptr, nullptr};
        int strides[4] = {bytesPerLine, 0, 0, 0};
        return sws_scale(context, frame->data, frame->linesize, 0, frame->height, planes, strides) > 0;
    }
    // The threaded path works on frames with counted buffers: the caller's
    // pixels are lent for the call through a buffer that frees nothing.
    AVFrame *dst = av_frame_alloc();
    if (!dst)
        return false;
    dst->buf[0] = av_buffer_create(pixels, std::size_t(bytesPerLine) * std::size_t(size.height()),
                                   [](void *, std::uint8_t *) {}, nullptr, 0);
    bool ok = dst->buf[0] != nullptr;
    if (ok) {
        dst->data[0] = pixels;
        dst->linesize[0] = bytesPerLine;
        dst->width = size.width();
        dst->height = size.height();
        dst->format = AV_PIX_FMT_RGB32;
        ok = sws_scale_frame(context, dst, frame) >= 0;
    }
    av_frame_free(&dst);
    return ok;
}

bool FrameScaler::scaleRows(const AVFrame *frame, const QSize &size, int firstRow, int rows, unsigned char *pixels,
                            int bytesPerLine)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || size.isEmpty() || !pixels
        || bytesPerLine < size.width() * 4 || firstRow < 0 || rows <= 0 || firstRow + rows > size.height())
        return false;
    SwsContext *context = contextFor(frame, size);
    if (!context)
        return false;
    if (!m_band)
        m_band.reset(av_frame_alloc());
    AVFrame *dst = m_band.get();
    if (!dst)
        return false;
    // libswscale writes output row r at data[0] + r * linesize: the frame's
    // origin is placed firstRow lines before the band so that the band's
    // rows land in it. Only the requested rows are ever addressed. The
    // arithmetic goes through integers: the origin lies outside the buffer.
    const auto origin = reinterpret_cast<std::uintptr_t>(pixels)
        - std::uintptr_t(firstRow) * std::uintptr_t(bytesPerLine);
    dst->buf[0] = av_buffer_create(pixels, std::size_t(bytesPerLine) * std::size_t(rows),
                                   [](void *, std::uint8_t *) {}, nullptr, 0);
    if (!dst->buf[0])
        return false;
    dst->data[0] = reinterpret_cast<std::uint8_t *>(origin);
    dst->linesize[0] = bytesPerLine;
    dst->width = size.width();
    dst->height = size.height();
    dst->format = AV_PIX_FMT_RGB32;
    bool ok = sws_frame_start(context, dst, frame) >= 0;
    if (ok) {
        ok = sws_send_slice(context, 0, unsigned(frame->height)) >= 0
            && sws_receive_slice(context, unsigned(firstRow), unsigned(rows)) >= 0;
        sws_frame_end(context);
    }
    av_frame_unref(dst);
    return ok;
}

QImage FrameScaler::scale(const AVFrame *frame, const QSize &size)
{
    if (!frame || size.isEmpty())
        return {};
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    if (!scaleInto(frame, size, image.bits(), int(image.bytesPerLine())))
        return {};
    return image;
}

} // namespace velmora::video
