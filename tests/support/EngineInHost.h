#pragma once
// The real engine in a host window of the test's, its video window filling
// the host. Both are children of `host`, which deletes them.
//
// VideoWindow::Shown: the engine is made first, so its video window shows
// with the host, as in the player. VideoWindow::Hidden: the host is shown
// first and the video window, made after it, stays hidden (Qt shows no child
// made after its parent was shown); for tests that read what the engine
// says (messages, notes, counters) rather than what is painted.

#include "engine/core/PlaybackEngine.h"
#include "engine/video/VideoSurface.h"

#include <QSize>
#include <QWidget>

namespace velmora::testing {

struct EngineInHost
{
    enum class VideoWindow { Shown, Hidden };

    QWidget host;
    PlaybackEngine *engine = nullptr;
    video::VideoSurface *surface = nullptr;

    explicit EngineInHost(QSize size = {720, 576}, VideoWindow video = VideoWindow::Hidden)
    {
        host.resize(size);
        if (video == VideoWindow::Hidden)
            host.show();
        engine = new PlaybackEngine(&host);
        engine->Move(0, 0, size.width(), size.height());
        surface = static_cast<video::VideoSurface *>(engine->surface());
        if (video == VideoWindow::Shown)
            host.show();
    }
};

} // namespace velmora::testing
