#pragma once
// Draws the picture with libswscale straight into an X window of its own
// (made by SharedBands as a plain child of the Qt window, over this
// widget's place), through two small shared-memory bands: the picture is
// scaled a band of rows at a time and each band goes to the X server as
// soon as it is ready. Nothing of the window's size exists in this
// process: Qt's backing store is never painted under the picture (this
// widget paints nothing through Qt), and there is no picture buffer. Black
// bars are filled by the server.
//
// Pictures are drawn by a BandPainter on a thread of its own, as soon as
// the video thread hands them over: not through Qt's repaint, and not
// waiting for the UI thread at all. Exposures of the X window are redrawn
// there too.
//
// Widgets that Qt stacks above the picture (the information box, notes,
// notices) would be hidden under the X window: this widget renders them
// into small transparent layers that the painter draws over the picture,
// again whenever they change, move, show or hide.
//
// With no picture the canvas shows black and the surface's message (so the
// surface beneath never paints anything of the window's size either).
//
// Only for X11 displays with MIT-SHM (SharedBands::available()); the
// SoftwareCanvas serves everywhere else. Should the X window fail here all
// the same (no window can be made, or the server refuses our drawing later
// on), the canvas says why once and draws through Qt from then on, into a
// picture-sized buffer as the SoftwareCanvas does.
//
// Threads: a PictureCanvas; the widget side (placing the window, rendering
// the layers) on the UI thread; scaling and drawing on the painter's thread.

#include "engine/video/FrameScaler.h"
#include "engine/video/PictureCanvas.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

namespace velmora::video {

class BandPainter;

class SharedMemoryCanvas : public QWidget, public PictureCanvas
{
    Q_OBJECT
public:
    explicit SharedMemoryCanvas(QWidget *parent = nullptr);
    ~SharedMemoryCanvas() override;

    QWidget *widget() override { return this; }
    QString kind() const override { return QStringLiteral("software-shm"); }
    QImage shownImage() override;
    bool showsMessages() const override { return true; }
    void setMessage(const QString &text) override;
    // Drawn by the painter already, when it was taken (through Qt when it cannot).
    void pictureChanged() override;

    // Bands sent to the server so far; why drawing is impossible (empty while it works). For tests.
    int bandsPut() const;
    QString failure() const { return m_failure; }
    // Our X window's id, 0 without one (for tests).
    unsigned long bandsWindow() const { return m_bandsWindow; }

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void pictureTaken() override;

private:
    struct Cover
    {
        QWidget *widget = nullptr;
        QRect rect; // in this widget's coordinates
    };
    // Visible widgets stacked above this one that overlap it, bottom first;
    // watches every widget stacked above for changes.
    std::vector<Cover> coversAbove();
    bool ensureBands();
    // The X window to this widget's place and visibility.
    void placeWindow();
    // area (in this widget's or its window's coordinates) in the screen's pixels,
    // in which the window and everything drawn into it are measured.
    QRect onDevice(const QRect &area) const;
    // Renders the covers and the message for the painter, soon (once for
    // any number of changes before the event loop comes round).
    void scheduleLayers();
    void renderLayers();
    // UI thread: the painter gave up on the bands (why).
    void paintingFailed(const QString &why);
    // Without bands: the picture, or black and the message, through Qt.
    void paintThroughQt();

    FrameScaler m_scaler;                       // shownImage() only
    std::unique_ptr<BandPainter> m_painter;     // for the widget's whole life
    bool m_hasBands = false;
    unsigned long m_bandsWindow = 0;
    QImage m_buffer;                            // the picture when drawn through Qt
    WId m_bandsParent = 0;                      // the Qt window our X window is a child of
    std::vector<QPointer<QWidget>> m_ancestors; // watched for moves
    QString m_failure;
    QString m_message;
    std::vector<QPointer<QWidget>> m_watched;
    bool m_rendering = false;       // while covers render into layers (their paint events are ours)
    bool m_layersPending = false;
};

} // namespace velmora::video
