// What the picture conversion costs at full-screen sizes, per quality and
// thread count: PAL 720x576 4:2:0 (a synthetic picture with detail) to the
// letterboxed 4:3 picture of a 1920x1080 and a 3840x2160 screen, RGB32 into
// one reused buffer, as the on-screen output does. Prints one JSON line per
// case: wall and processor milliseconds per frame, and the processor time as
// a ratio to one-thread fast bilinear at the same size.
#include "engine/video/FrameScaler.h"

#include <QImage>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

using velmora::video::FrameScaler;

namespace {

double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

AVFrame *testFrame()
{
    AVFrame *f = av_frame_alloc();
    f->width = 720;
    f->height = 576;
    f->format = AV_PIX_FMT_YUV420P;
    if (av_frame_get_buffer(f, 0) < 0)
        return nullptr;
    for (int p = 0; p < 3; ++p) {
        const int w = p ? 360 : 720, h = p ? 288 : 576;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                f->data[p][y * f->linesize[p] + x] = std::uint8_t(p ? 128 + ((x * 7 + y * 3) % 64) - 32 : 16 + (x ^ y) % 220);
    }
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 50;
    AVFrame *frame = testFrame();
    if (!frame)
        return 1;
    struct Case { const char *name; FrameScaler::Quality quality; int threads; };
    const Case cases[] = {{"fast_bilinear", FrameScaler::Quality::Fast, 1},
                          {"bilinear", FrameScaler::Quality::Bilinear, 1},
                          {"bicubic", FrameScaler::Quality::Bicubic, 1},
                          {"fast_bilinear_2_threads", FrameScaler::Quality::Fast, 2}};
    for (const QSize size : {QSize(1440, 1080), QSize(2880, 2160)}) {
        QImage buffer(size, QImage::Format_RGB32);
        double reference = 0;
        for (const Case &c : cases) {
            FrameScaler scaler(FrameScaler::Options{c.quality, c.threads});
            scaler.scaleInto(frame, size, buffer.bits(), int(buffer.bytesPerLine())); // warm up
            const auto t0 = std::chrono::steady_clock::now();
            const double c0 = cpuMs();
            for (int i = 0; i < frames; ++i)
                scaler.scaleInto(frame, size, buffer.bits(), int(buffer.bytesPerLine()));
            const double cpu = (cpuMs() - c0) / frames;
            const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / frames;
            if (reference == 0)
                reference = cpu;
            std::printf("{\"measure\": \"frame_scale\", \"case\": \"%s\", \"size\": \"%dx%d\", \"wall_ms\": %.2f, "
                        "\"cpu_ms\": %.2f, \"cpu_ratio_to_fast_bilinear\": %.2f, \"cpu_percent_at_25fps\": %.1f}\n",
                        c.name, size.width(), size.height(), wall, cpu, cpu / reference, cpu * 25 / 10);
        }
    }
    av_frame_free(&frame);
    return 0;
}
