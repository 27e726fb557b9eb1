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
// A new picture is drawn at once, not through Qt's repaint (which would
// also send the untouched backing store under it to the server); Qt's own
// paint events (exposure, resizing) and the window's exposures draw again.
//
// Widgets that Qt stacks above the picture (the information box, notes,
// notices) would be hidden under the X window: they are drawn into the
// bands over the picture, as Qt would have drawn them, and the canvas
// draws again when they change, move, show or hide.
//
// With no picture the canvas shows black and the surface's message (so the
// surface beneath never paints anything of the window's size either).
//
// Only for X11 displays with MIT-SHM (SharedBands::available()); the
// SoftwareCanvas serves everywhere else.
//
// Threads: a PictureCanvas; scaling and drawing run on the UI thread.

#include "engine/video/FrameScaler.h"
#include "engine/video/PictureCanvas.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace velmora::video {

class SharedBands;

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
    void pictureChanged() override;

    // Bands sent to the server so far; why drawing is impossible (empty while it works). For tests.
    int bandsPut() const;
    QString failure() const { return m_failure; }

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

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
    // Draws region (this widget's coordinates) into the X window now.
    void draw(const QRegion &region);
    // The X window to this widget's place and visibility.
    void placeWindow();
    void readEvents();

    FrameScaler m_scaler;
    std::unique_ptr<SharedBands> m_bands;
    WId m_bandsParent = 0;                     // the Qt window our X window is a child of
    QSocketNotifier *m_events = nullptr;       // our connection's events (exposures)
    std::vector<QPointer<QWidget>> m_ancestors; // watched for moves
    QString m_failure;
    QString m_message;
    std::vector<QPointer<QWidget>> m_watched;
    bool m_rendering = false;   // while covers paint into a band (their paint events are ours)
    bool m_paintedByQt = false; // within a pass of Qt's painting that painted us
};

} // namespace velmora::video
