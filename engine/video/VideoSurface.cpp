#include "VideoSurface.h"

#include "engine/video/GlCanvas.h"
#include "engine/video/SharedBands.h"
#include "engine/video/SharedMemoryCanvas.h"
#include "engine/video/SoftwareCanvas.h"

#include <algorithm>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

namespace velmora::video {

VideoSurface::VideoSurface(QWidget *parent, std::optional<VideoBackend> backend) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    m_bounds = size();

    BackendChoice choice;
    if (backend) {
        choice.backend = *backend;
        choice.reason = *backend == VideoBackend::OpenGL         ? QStringLiteral("opengl: asked for")
            : *backend == VideoBackend::SharedMemory             ? QStringLiteral("software: asked for, through X shared memory")
                                                                 : QStringLiteral("software: asked for");
    } else {
        choice = chooseBackend();
    }
    m_reason = choice.reason;
    if (choice.backend == VideoBackend::SharedMemory && !SharedBands::available()) {
        choice.backend = VideoBackend::Software;
        m_reason += QStringLiteral(" (not available here: drawn through Qt)");
    }
    if (choice.backend == VideoBackend::OpenGL) {
        auto *gl = new GlCanvas(this);
        m_canvas = gl;
        m_canvasWidget = gl;
    } else if (choice.backend == VideoBackend::SharedMemory) {
        auto *shm = new SharedMemoryCanvas(this);
        m_canvas = shm;
        m_canvasWidget = shm;
    } else {
        auto *software = new SoftwareCanvas(this);
        m_canvas = software;
        m_canvasWidget = software;
    }
    m_canvasWidget->setGeometry(rect());
    // Shown with the first picture; until then the surface paints black or
    // its message, unless the canvas does that itself.
    if (!m_canvas->showsMessages())
        m_canvasWidget->hide();
    m_noteTimer = new QTimer(this);
    m_noteTimer->setSingleShot(true);
    m_noteTimer->setInterval(NoteDurationMs);
    connect(m_noteTimer, &QTimer::timeout, this, &VideoSurface::clearNote);
    // Bottom left, on a dark band so it reads over any picture.
    m_noteLabel = new QLabel(this);
    m_noteLabel->setWordWrap(true);
    m_noteLabel->setStyleSheet(QStringLiteral("QLabel { color: white; background: rgba(0, 0, 0, 170); padding: 2px 4px; }"));
    m_noteLabel->hide();
}

VideoSurface::~VideoSurface()
{
    emit destroying();
}

void VideoSurface::presentFrame(const VideoFrame &frame, const OverlayPainter &overlay)
{
    QSize bounds;
    {
        std::lock_guard lock(m_mutex);
        bounds = m_bounds;
    }
    // A hidden or empty surface shows nothing: the picture is skipped.
    if (bounds.isEmpty() || !frame.frame)
        return;
    m_canvas->takeFrame(frame, overlay, bounds);
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        m_info = frame;
        m_hasPicture = true;
        m_message.clear();
        ++m_presented;
        post = !m_repaintPending;
        m_repaintPending = true;
    }
    // One queued repaint at a time: a slow UI thread skips pictures, it
    // never piles them up. Posted ahead of the UI thread's ordinary events:
    // a picture that waits behind them may be replaced unseen.
    if (post)
        QCoreApplication::postEvent(this, new QEvent(RepaintEvent), Qt::HighEventPriority);
}

bool VideoSurface::event(QEvent *event)
{
    if (event->type() == RepaintEvent) {
        requestRepaint();
        return true;
    }
    return QWidget::event(event);
}

void VideoSurface::requestRepaint()
{
    bool hasPicture = false;
    {
        std::lock_guard lock(m_mutex);
        m_repaintPending = false;
        hasPicture = m_hasPicture;
    }
    if (!hasPicture)
        return; // cleared meanwhile
    if (m_canvasWidget->isHidden())
        m_canvasWidget->show();
    m_canvas->pictureChanged();
    emit pictureShown();
}

void VideoSurface::clear()
{
    m_canvas->dropFrame();
    {
        std::lock_guard lock(m_mutex);
        m_hasPicture = false;
        m_info = PictureInfo();
    }
    if (m_canvas->showsMessages()) {
        m_canvas->setMessage(QString());
        return;
    }
    m_canvasWidget->hide();
    update();
}

void VideoSurface::showMessage(const QString &text)
{
    m_canvas->dropFrame();
    {
        std::lock_guard lock(m_mutex);
        m_hasPicture = false;
        m_info = PictureInfo();
        m_message = text;
    }
    if (m_canvas->showsMessages()) {
        m_canvas->setMessage(text);
        return;
    }
    m_canvasWidget->hide();
    update();
}

void VideoSurface::showNote(const QString &text)
{
    m_note = text;
    m_noteLabel->setText(text);
    placeNote();
    // Above the canvas, which is a child widget of its own.
    m_noteLabel->show();
    m_noteLabel->raise();
    m_noteTimer->start();
}

void VideoSurface::clearNote()
{
    m_note.clear();
    m_noteLabel->hide();
}

void VideoSurface::placeNote()
{
    const int margin = 8;
    m_noteLabel->setMaximumWidth(std::max(1, width() - 2 * margin));
    m_noteLabel->adjustSize();
    m_noteLabel->move(margin, std::max(0, height() - margin - m_noteLabel->height()));
}

QString VideoSurface::note() const
{
    return m_note;
}

QImage VideoSurface::currentImage() const
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_hasPicture)
            return {};
    }
    return m_canvas->shownImage();
}

QString VideoSurface::message() const
{
    std::lock_guard lock(m_mutex);
    return m_message;
}

QString VideoSurface::canvasKind() const
{
    return m_canvas->kind();
}

int VideoSurface::presentedFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_presented;
}

int VideoSurface::skippedFrames() const
{
    return m_canvas->skippedFrames();
}

std::optional<QPoint> VideoSurface::toPicture(const QPoint &widgetPos) const
{
    QSize display;
    QSize coded;
    {
        std::lock_guard lock(m_mutex);
        if (!m_hasPicture)
            return std::nullopt;
        display = m_info.displaySize;
        coded = m_info.codedSize;
    }
    if (display.isEmpty() || coded.isEmpty())
        return std::nullopt;
    const QRect shown = letterbox(display, size());
    if (!shown.contains(widgetPos))
        return std::nullopt;
    const int x = int(qint64(widgetPos.x() - shown.left()) * coded.width() / shown.width());
    const int y = int(qint64(widgetPos.y() - shown.top()) * coded.height() / shown.height());
    return QPoint(std::clamp(x, 0, coded.width() - 1), std::clamp(y, 0, coded.height() - 1));
}

void VideoSurface::mouseMoveEvent(QMouseEvent *event)
{
    if (const auto pos = toPicture(event->position().toPoint()))
        emit pointerMoved(*pos);
    QWidget::mouseMoveEvent(event);
}

void VideoSurface::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (const auto pos = toPicture(event->position().toPoint()))
            emit pointerClicked(*pos);
    }
    // Other buttons go on to the host (the video window's context menu).
    QWidget::mousePressEvent(event);
}

void VideoSurface::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit navigationKey(event->key());
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void VideoSurface::resizeEvent(QResizeEvent *event)
{
    m_canvasWidget->setGeometry(QRect(QPoint(0, 0), event->size()));
    if (m_noteLabel->isVisible())
        placeNote();
    std::lock_guard lock(m_mutex);
    m_bounds = event->size();
}

void VideoSurface::paintEvent(QPaintEvent *)
{
    // Only while no canvas shows a picture: black, or the message.
    QString message;
    {
        std::lock_guard lock(m_mutex);
        message = m_message;
    }
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!message.isEmpty()) {
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, message);
    }
}

} // namespace velmora::video
