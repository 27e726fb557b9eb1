#include "VideoBackend.h"

#include "engine/video/SharedBands.h"

#include <QDir>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QtGlobal>

namespace velmora::video {

namespace {

// GL_RENDERER of a context made on an offscreen surface; empty when none can be made.
QString probeRenderer()
{
    if (!qGuiApp || QGuiApplication::platformName() == QLatin1String("offscreen")
        || QGuiApplication::platformName() == QLatin1String("minimal"))
        return {};
    QOffscreenSurface surface;
    surface.create();
    if (!surface.isValid())
        return {};
    QOpenGLContext context;
    if (!context.create() || !context.makeCurrent(&surface))
        return {};
    const auto *name = reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
    QString renderer = name ? QString::fromLatin1(name) : QString();
    context.doneCurrent();
    return renderer;
}

bool hasRenderNode()
{
    return !QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty();
}

} // namespace

bool isSoftwareRenderer(const QString &renderer)
{
    const QString r = renderer.toLower();
    return r.contains(QLatin1String("llvmpipe")) || r.contains(QLatin1String("softpipe"))
        || r.contains(QLatin1String("swrast")) || r.contains(QLatin1String("software rasterizer"))
        || r.contains(QLatin1String("swiftshader")) || r.contains(QLatin1String("lavapipe"));
}

BackendChoice chooseBackend(const QString &setting, const QString &renderer)
{
    const QString value = setting.trimmed().toLower();
    BackendChoice choice;
    choice.renderer = renderer;
    if (value == QLatin1String("software")) {
        choice.reason = QStringLiteral("software: VELMORA_VIDEO_OUTPUT=software");
        return choice;
    }
    if (renderer.isEmpty()) {
        choice.reason = value == QLatin1String("gl") ? QStringLiteral("software: VELMORA_VIDEO_OUTPUT=gl, but no OpenGL context could be made")
                                                     : QStringLiteral("software: no OpenGL context could be made");
        return choice;
    }
    if (value == QLatin1String("gl")) {
        choice.backend = VideoBackend::OpenGL;
        choice.reason = QStringLiteral("opengl: VELMORA_VIDEO_OUTPUT=gl (renderer %1)").arg(renderer);
        return choice;
    }
    if (isSoftwareRenderer(renderer)) {
        choice.reason = QStringLiteral("software: the OpenGL renderer is a software one (%1)").arg(renderer);
        return choice;
    }
    choice.backend = VideoBackend::OpenGL;
    choice.reason = QStringLiteral("opengl: hardware renderer %1").arg(renderer);
    return choice;
}

namespace {

BackendChoice chooseForProcess()
{
    const QString setting = qEnvironmentVariable("VELMORA_VIDEO_OUTPUT");
    const QString value = setting.trimmed().toLower();
    if (!value.isEmpty() && value != QLatin1String("auto") && value != QLatin1String("software")
        && value != QLatin1String("gl")) {
        static bool warned = false;
        if (!warned)
            qWarning("velmora: VELMORA_VIDEO_OUTPUT=%s is not one of auto, software, gl: choosing as for auto",
                     qPrintable(setting));
        warned = true;
    }
    if (value == QLatin1String("software"))
        return chooseBackend(setting, QString());
    if (value != QLatin1String("gl") && !hasRenderNode()) {
        // No graphics processor at all: the renderer could only be a
        // software one, and probing it would map its driver (tens of
        // megabytes of code) into the process for nothing.
        BackendChoice choice;
        choice.reason = QStringLiteral("software: no graphics processor (no /dev/dri render node)");
        return choice;
    }
    static const QString renderer = probeRenderer();
    return chooseBackend(setting, renderer);
}

} // namespace

BackendChoice chooseBackend()
{
    BackendChoice choice = chooseForProcess();
    if (choice.backend == VideoBackend::Software) {
        QString why;
        if (qEnvironmentVariable("VELMORA_VIDEO_SHM") == QLatin1String("0")) {
            choice.reason += QStringLiteral(", drawn through Qt (VELMORA_VIDEO_SHM=0)");
        } else if (SharedBands::available(&why)) {
            choice.backend = VideoBackend::SharedMemory;
            choice.reason += QStringLiteral(", drawn through X shared memory");
        } else {
            choice.reason += QStringLiteral(", drawn through Qt (no X shared memory: %1)").arg(why);
        }
    }
    return choice;
}

} // namespace velmora::video
