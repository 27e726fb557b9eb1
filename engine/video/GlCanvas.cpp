#include "GlCanvas.h"

#include <QOpenGLContext>
#include <QPainter>
#include <QVector2D>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif
#ifndef GL_LUMINANCE
#define GL_LUMINANCE 0x1909
#endif

namespace velmora::video {

namespace {

const char *const VertexShader = R"(
attribute vec2 position;
attribute vec2 texCoord;
varying highp vec2 v_tex;
void main()
{
    v_tex = texCoord;
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

// BT.601 in video range to RGB, the conversion libswscale applies to DVD
// pictures. MPEG-2 places each chroma sample level with the left one of its
// two luma columns (not between them, where texture sampling assumes it):
// chromaShift moves the chroma lookup half a luma column to the right.
const char *const PictureShader = R"(
varying highp vec2 v_tex;
uniform sampler2D texY;
uniform sampler2D texU;
uniform sampler2D texV;
uniform highp vec2 chromaShift;
void main()
{
    highp vec2 c = v_tex + chromaShift;
    highp float y = 1.1643835 * (texture2D(texY, v_tex).r - 0.0627451);
    highp float u = texture2D(texU, c).r - 0.5019608;
    highp float v = texture2D(texV, c).r - 0.5019608;
    gl_FragColor = vec4(y + 1.5960267 * v, y - 0.3917623 * u - 0.8129676 * v, y + 2.0172321 * u, 1.0);
}
)";

// The overlay layer is a QImage in B, G, R, A byte order, premultiplied.
const char *const OverlayShader = R"(
varying highp vec2 v_tex;
uniform sampler2D layer;
void main()
{
    gl_FragColor = texture2D(layer, v_tex).bgra;
}
)";

void freeConverter(SwsContext *c)
{
    sws_freeContext(c);
}

} // namespace

void GlCanvas::FrameFree::operator()(AVFrame *f) const
{
    av_frame_free(&f);
}

GlCanvas::GlCanvas(QWidget *parent) : QOpenGLWidget(parent), m_converter(nullptr, freeConverter)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

GlCanvas::~GlCanvas()
{
    if (context()) {
        makeCurrent();
        releaseGL();
        doneCurrent();
    }
}

void GlCanvas::releaseGL()
{
    if (m_textures[0])
        glDeleteTextures(4, m_textures);
    for (unsigned &t : m_textures)
        t = 0;
    for (QSize &s : m_textureSizes)
        s = QSize();
    m_program.reset();
    m_overlayProgram.reset();
    m_ready = false;
}

void GlCanvas::initializeGL()
{
    initializeOpenGLFunctions();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        releaseGL();
        doneCurrent();
    });
    m_renderer = QString::fromLatin1(reinterpret_cast<const char *>(glGetString(GL_RENDERER)));
    const auto build = [](const char *fragment) {
        auto program = std::make_unique<QOpenGLShaderProgram>();
        if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, VertexShader)
            || !program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment))
            return std::unique_ptr<QOpenGLShaderProgram>();
        program->bindAttributeLocation("position", 0);
        program->bindAttributeLocation("texCoord", 1);
        if (!program->link())
            return std::unique_ptr<QOpenGLShaderProgram>();
        return program;
    };
    m_program = build(PictureShader);
    m_overlayProgram = build(OverlayShader);
    if (!m_program || !m_overlayProgram) {
        qWarning("velmora: the OpenGL picture shader could not be built; the picture stays black");
        return;
    }
    glGenTextures(4, m_textures);
    for (unsigned t : m_textures) {
        glBindTexture(GL_TEXTURE_2D, t);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    m_program->bind();
    m_program->setUniformValue("texY", 0);
    m_program->setUniformValue("texU", 1);
    m_program->setUniformValue("texV", 2);
    m_overlayProgram->bind();
    m_overlayProgram->setUniformValue("layer", 3);
    m_ready = true;
}

void GlCanvas::uploadPlane(int index, const unsigned char *data, int stride, int width, int height)
{
    glActiveTexture(GLenum(GL_TEXTURE0 + index));
    glBindTexture(GL_TEXTURE_2D, m_textures[index]);
    const bool layer = index == 3;
    const GLenum format = layer ? GL_RGBA : GL_LUMINANCE;
    const int bytesPerPixel = layer ? 4 : 1;
    if (m_textureSizes[index] != QSize(width, height)) {
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), width, height, 0, format, GL_UNSIGNED_BYTE, nullptr);
        m_textureSizes[index] = QSize(width, height);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (!context()->isOpenGLES()) {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, stride / bytesPerPixel);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, data);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
        // OpenGL ES 2 has no row length: a line at a time.
        for (int y = 0; y < height; ++y)
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, y, width, 1, format, GL_UNSIGNED_BYTE, data + qsizetype(y) * stride);
    }
}

void GlCanvas::paintGL()
{
    const Shown shown = latest();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    const QRect target = shown.frame.frame ? letterbox(shown.frame.displaySize, size()) : QRect();
    if (!m_ready || target.isEmpty())
        return;

    const AVFrame *frame = shown.frame.frame.get();
    if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) {
        // Not what DVDs carry; converted to planar 4:2:0 at its own size.
        m_converter.reset(sws_getCachedContext(m_converter.release(), frame->width, frame->height,
                                               AVPixelFormat(frame->format), frame->width, frame->height,
                                               AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
        if (!m_converted)
            m_converted.reset(av_frame_alloc());
        if (!m_converter || !m_converted)
            return;
        if (m_converted->width != frame->width || m_converted->height != frame->height) {
            av_frame_unref(m_converted.get());
            m_converted->width = frame->width;
            m_converted->height = frame->height;
            m_converted->format = AV_PIX_FMT_YUV420P;
            if (av_frame_get_buffer(m_converted.get(), 0) < 0)
                return;
        }
        sws_scale(m_converter.get(), frame->data, frame->linesize, 0, frame->height, m_converted->data,
                  m_converted->linesize);
        frame = m_converted.get();
    }
    const int cw = (frame->width + 1) / 2;
    const int ch = (frame->height + 1) / 2;
    uploadPlane(0, frame->data[0], frame->linesize[0], frame->width, frame->height);
    uploadPlane(1, frame->data[1], frame->linesize[1], cw, ch);
    uploadPlane(2, frame->data[2], frame->linesize[2], cw, ch);
    // Shrinking (a small window): plain linear sampling would skip texels and
    // shimmer; mipmaps average them, as libswscale's filter does.
    const qreal dpr = devicePixelRatioF();
    const bool shrinking = target.width() * dpr < frame->width || target.height() * dpr < frame->height;
    for (int i = 0; i < 3; ++i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, m_textures[i]);
        if (shrinking)
            glGenerateMipmap(GL_TEXTURE_2D);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, shrinking ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    }

    glViewport(int(target.left() * dpr), int((height() - target.bottom() - 1) * dpr), int(target.width() * dpr),
               int(target.height() * dpr));
    static const GLfloat quad[] = {-1, 1, 1, 1, -1, -1, 1, -1};
    static const GLfloat coords[] = {0, 0, 1, 0, 0, 1, 1, 1};
    m_program->bind();
    m_program->setUniformValue("chromaShift", QVector2D(0.5f / float(frame->width), 0.0f));
    m_program->enableAttributeArray(0);
    m_program->enableAttributeArray(1);
    m_program->setAttributeArray(0, GL_FLOAT, quad, 2);
    m_program->setAttributeArray(1, GL_FLOAT, coords, 2);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

    const QImage &layer = shown.overlay;
    const QRect band = shown.overlayBand;
    if (!layer.isNull() && !band.isEmpty()) {
        // Only the rows that hold anything go up and are blended.
        uploadPlane(3, layer.constScanLine(band.top()), int(layer.bytesPerLine()), layer.width(), band.height());
        const GLfloat top = 1.0f - 2.0f * GLfloat(band.top()) / GLfloat(layer.height());
        const GLfloat bottom = 1.0f - 2.0f * GLfloat(band.bottom() + 1) / GLfloat(layer.height());
        const GLfloat bandQuad[] = {-1, top, 1, top, -1, bottom, 1, bottom};
        m_overlayProgram->bind();
        m_overlayProgram->enableAttributeArray(0);
        m_overlayProgram->enableAttributeArray(1);
        m_overlayProgram->setAttributeArray(0, GL_FLOAT, bandQuad, 2);
        m_overlayProgram->setAttributeArray(1, GL_FLOAT, coords, 2);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glDisable(GL_BLEND);
    }
    glActiveTexture(GL_TEXTURE0);
}

QImage GlCanvas::shownImage()
{
    const Shown shown = peek();
    if (!shown.frame.frame)
        return {};
    const QRect target = letterbox(shown.frame.displaySize, size());
    if (target.isEmpty())
        return {};
    const QImage all = grabFramebuffer();
    if (all.isNull())
        return {};
    return all.copy(target).convertToFormat(QImage::Format_RGB32);
}

} // namespace velmora::video
