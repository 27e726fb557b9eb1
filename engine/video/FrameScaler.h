#pragma once
// Converts decoded pictures to RGB32 images of any size with libswscale,
// reusing its context while the shapes stay the same.
// Threads: one thread at a time.

#include <QImage>
#include <QSize>
#include <memory>

struct AVFrame;
struct SwsContext;

namespace velmora::video {

class FrameScaler
{
public:
    FrameScaler();
    ~FrameScaler();
    FrameScaler(const FrameScaler &) = delete;
    FrameScaler &operator=(const FrameScaler &) = delete;

    // Scales frame to size (RGB32). A null image when the frame cannot be converted.
    QImage scale(const AVFrame *frame, const QSize &size);

private:
    struct Closer { void operator()(SwsContext *c) const; };
    std::unique_ptr<SwsContext, Closer> m_context;
};

} // namespace velmora::video
