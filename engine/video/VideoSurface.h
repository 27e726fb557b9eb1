#pragma once
// The on-screen video output: the "DVD" control of the video window.
//
// A plain QWidget that paints the latest picture letterboxed in black, or a
// short line of text when there is nothing to play ("No DVD found in PATH").
// The engine's video thread scales each picture straight to the letterbox
// size the widget last reported and hands it over; the widget only copies it
// to the screen.
//
// Threads: the widget lives on the UI thread. pictureSize() and present()
// are called from the video thread; they touch only the fields guarded by
// m_mutex and post the repaint to the UI thread.

#include "engine/video/VideoOutput.h"

#include <QWidget>
#include <mutex>
#include <optional>

namespace velmora::video {

class VideoSurface : public QWidget, public VideoOutput
{
    Q_OBJECT
public:
    explicit VideoSurface(QWidget *parent = nullptr);
    ~VideoSurface() override;

    QSize pictureSize(const QSize &displaySize) override;
    void present(const VideoPicture &picture) override;
    void clear() override;
    void showMessage(const QString &text) override;

    // UI thread: the picture on screen (null when none), for tests and screenshots.
    QImage currentImage() const;
    QString message() const;
    // UI thread: a point of the widget in the stored picture's own
    // coordinates (720x576 or 720x480), through the letterbox and scaling;
    // nullopt outside the picture or when none is shown.
    std::optional<QPoint> toPicture(const QPoint &widgetPos) const;

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
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void requestRepaint();

    // m_mutex guards the fields below; taken briefly by the UI and video threads.
    mutable std::mutex m_mutex;
    QImage m_image;
    QSize m_codedSize;        // of the picture in m_image
    QString m_message;
    QSize m_bounds;           // widget size, as the UI thread last saw it
    bool m_repaintPending = false;
};

} // namespace velmora::video
