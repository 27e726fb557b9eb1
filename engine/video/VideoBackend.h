#pragma once
// Which canvas draws the picture.
//
// OpenGL when the desktop's OpenGL renderer is a graphics processor; the
// software canvas when it is a software renderer (llvmpipe, softpipe, swrast:
// they would spend more processor time than libswscale does) or when no
// OpenGL context can be made at all (offscreen platform, no driver).
// Without a render node (/dev/dri/renderD*) there is no graphics processor
// and no OpenGL context is even tried: the probe alone would map a software
// renderer's driver, some 50 MB, into the process.
// VELMORA_VIDEO_SHM=0 keeps a software choice drawing through Qt instead
// of X shared memory (to compare, or where the X window misbehaves).
// VELMORA_VIDEO_OUTPUT overrides the choice: "software" always takes the
// software canvas, "gl" takes OpenGL whenever a context can be made, even on
// a software renderer (that is how its pictures are checked on machines
// without a graphics processor). Any other value is reported and ignored.
//
// Threads: UI thread (a QGuiApplication must exist).

#include <QString>

namespace velmora::video {

class PictureCanvas;

// Software: libswscale, drawn through Qt (a QPainter on the window's backing store).
// SharedMemory: libswscale, drawn into an X window of its own through shared-memory
//   bands (X11 with MIT-SHM only); what a software choice becomes where it works.
// OpenGL: the graphics processor converts and scales.
enum class VideoBackend { Software, SharedMemory, OpenGL };

struct BackendChoice
{
    VideoBackend backend = VideoBackend::Software;
    QString renderer;   // GL_RENDERER of a probe context, empty when none could be made
    QString reason;     // one line: why this backend
};

// True for the names Mesa and others give their software renderers.
bool isSoftwareRenderer(const QString &renderer);
// The choice for this process (the renderer is probed once and remembered);
// a software choice is SharedMemory where X shared memory works.
BackendChoice chooseBackend();
// The choice for an explicit setting value ("", "auto", "software", "gl") and renderer
// (empty: no context could be made).
BackendChoice chooseBackend(const QString &setting, const QString &renderer);

} // namespace velmora::video
