#pragma once
// Draws the picture on the graphics processor: the decoded Y, U and V planes
// go up as three one-channel textures as they are, and a small shader
// converts them to RGB (BT.601, video range, as libswscale does) while the
// texture units scale them to the letterbox. The overlay layer goes up as a
// fourth texture and is blended over the picture.
//
// Chosen only where the OpenGL renderer is a real graphics processor (see
// VideoBackend.h): on a software renderer (llvmpipe) the same work costs
// more processor time than the software canvas.
//
// Threads: a PictureCanvas; uploads and drawing run on the UI thread in
// paintGL() with the widget's context current.

#include "engine/video/PictureCanvas.h"

#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <memory>

struct AVFrame;
struct SwsContext;

namespace velmora::video {

class GlCanvas : public QOpenGLWidget, protected QOpenGLFunctions, public PictureCanvas
{
    Q_OBJECT
public:
    explicit GlCanvas(QWidget *parent = nullptr);
    ~GlCanvas() override;

    QWidget *widget() override { return this; }
    QString kind() const override { return QStringLiteral("opengl"); }
    QImage shownImage() override;

    // UI thread, after the first paint: the renderer's name (GL_RENDERER), and
    // false when the context or the shader could not be made (black then).
    QString renderer() const { return m_renderer; }
    bool ready() const { return m_ready; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void releaseGL();
    // Uploads one plane into texture unit `unit`, reallocating on a new size.
    void uploadPlane(int index, const unsigned char *data, int stride, int width, int height);

    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::unique_ptr<QOpenGLShaderProgram> m_overlayProgram;
    unsigned m_textures[4] = {0, 0, 0, 0};   // Y, U, V, overlay
    QSize m_textureSizes[4];
    bool m_ready = false;
    QString m_renderer;
    // Pictures not in planar 4:2:0 are converted to it first (on the UI thread).
    struct FrameFree { void operator()(AVFrame *f) const; };
    std::unique_ptr<AVFrame, FrameFree> m_converted;
    std::unique_ptr<SwsContext, void (*)(SwsContext *)> m_converter{nullptr, nullptr};
};

} // namespace velmora::video
