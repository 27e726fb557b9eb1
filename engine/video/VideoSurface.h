#pragma once
// The on-screen video output: the "DVD" control of the video window.
//
// A plain QWidget that shows the latest picture letterboxed in black, or a
// short line of text when there is nothing to play ("No DVD found in PATH").
// The picture itself is drawn by a canvas child filling the widget: the
// software canvas (libswscale) or the OpenGL one, as chooseBackend() decides
// (VideoBackend.h). Everything else is the surface's and the same on both:
// the letterbox, the pointer mapping for menus, keys, the message.
//
// Threads: the widget lives on the UI thread. presentFrame() is called from
// the video thread; it touches only the canvas's hand-over and the fields
// guarded by m_mutex, and posts the repaint to the UI thread.

#include "engine/video/VideoBackend.h"
#include "engine/video/VideoOutput.h"

#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <mutex>
#include <optional>

namespace velmora::video {

class PictureCanvas;

class VideoSurface : public QWidget, public VideoOutput
{
    Q_OBJECT
public:
    // backend: which canvas draws; by default chooseBackend()'s.
    explicit VideoSurface(QWidget *parent = nullptr, std::optional<VideoBackend> backend = std::nullopt);
    ~VideoSurface() override;

    void presentFrame(const VideoFrame &frame, const OverlayPainter &overlay) override;
    void clear() override;
    void showMessage(const QString &text) override;
    // UI thread: a short note drawn over the picture (or alone) for
    // NoteDuration, then gone; pictures presented meanwhile keep it. A
    // newer note replaces it. showMessage() and clear() leave it alone.
    void showNote(const QString &text);
    QString note() const;
    static constexpr int NoteDurationMs = 3000;

    // UI thread: the picture on screen at its letterbox size (null when none),
    // for tests and screenshots.
    QImage currentImage() const;
    QString message() const;
    // UI thread: a point of the widget in the stored picture's own
    // coordinates (720x576 or 720x480), through the letterbox and scaling;
    // nullopt outside the picture or when none is shown.
    std::optional<QPoint> toPicture(const QPoint &widgetPos) const;

    // UI thread: which canvas draws ("software", "opengl") and why.
    QString canvasKind() const;
    QString backendReason() const { return m_reason; }
    PictureCanvas *canvas() const { return m_canvas; }
    // Any thread: pictures presented, and those replaced before they were painted.
    int presentedFrames() const;
    int skippedFrames() const;

signals:
    // UI thread: a new picture reached the screen (after its repaint was queued).
    void pictureShown();
    // UI thread: the pointer moved over / left-clicked the picture, in picture coordinates.
    void pointerMoved(const QPoint &picturePos);
    void pointerClicked(const QPoint &picturePos);
    // UI thread: Up, Down, Left, Right or Return/Enter while the surface has the focus.
    void navigationKey(int key);
    // UI thread, from the destructor, before anything is torn down: whoever
    // feeds the surface from other threads must stop now (connect directly).
    void destroying();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Posted by presentFrame() to have the new picture drawn.
    static constexpr QEvent::Type RepaintEvent = QEvent::Type(QEvent::User + 16);
    void requestRepaint();
    void clearNote();
    void placeNote();

    PictureCanvas *m_canvas = nullptr;   // a child widget: Qt owns it
    QWidget *m_canvasWidget = nullptr;
    QString m_reason;

    // m_mutex guards the fields below; taken briefly by the UI and video threads.
    mutable std::mutex m_mutex;
    PictureInfo m_info;       // of the picture on screen
    bool m_hasPicture = false;
    QString m_message;
    QSize m_bounds;           // widget size, as the UI thread last saw it
    bool m_repaintPending = false;
    int m_presented = 0;
    // UI thread only.
    QString m_note;
    QTimer *m_noteTimer = nullptr;
    QLabel *m_noteLabel = nullptr;       // a child widget: Qt owns it
};

} // namespace velmora::video
