#pragma once
// Draws pictures into an X window through SharedBands on a thread of its
// own, so that a new picture reaches the screen as soon as the video thread
// hands it over, whatever the UI thread is busy with. At a high resolution
// scaling a picture takes several milliseconds; on a loaded machine the UI
// thread may also get the processor tens of milliseconds late, and a picture
// that waits for it may be replaced unseen.
//
// What the UI thread knows and the painter needs is handed over as state:
// the window's place and visibility, and the layers drawn over the picture
// (widgets that Qt stacks above it, rendered by the UI thread into small
// transparent images, and the message shown without a picture). Exposures of
// the window are read and redrawn here.
//
// Threads: constructed, destroyed and given state on the UI thread;
// pictureTaken() from any thread; all X traffic, scaling and drawing on the
// painter's thread. The destructor waits for the band being drawn (bounded:
// a band waits at most SharedBands' completion timeout) and no longer.

#include "engine/video/FrameScaler.h"
#include "engine/video/PictureCanvas.h"

#include <QImage>
#include <QRect>
#include <QRegion>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::video {

class SharedBands;

class BandPainter
{
public:
    struct Layer
    {
        QRect rect;                 // in the window's pixels (origin at its top left)
        QImage image;               // ARGB32 premultiplied, rect's size; never written once handed over
        bool withoutPicture = false; // drawn only while there is no picture (the message)
    };
    // The picture to draw now, counted as painted (called on the painter's thread).
    using Source = std::function<PictureCanvas::Shown()>;
    // Drawing through the bands stopped working: the server refused our
    // requests or gave no memory for a band. Called once per set of bands,
    // on the painter's thread, which then drops them and draws nothing
    // until it is given others.
    using Failure = std::function<void(const QString &why)>;

    BandPainter(Source source, Failure failed);
    ~BandPainter();
    BandPainter(const BandPainter &) = delete;
    BandPainter &operator=(const BandPainter &) = delete;

    // UI thread: draw through these bands from now on (null: draw nothing).
    // The painter owns them; the ones before are closed on its thread.
    void setBands(std::unique_ptr<SharedBands> bands);
    // UI thread: the window's place in its parent (in the screen's pixels), and whether it shows.
    void place(const QRect &area, bool visible);
    // UI thread: what is drawn over the picture, bottom first; what they
    // cover before and after is drawn again.
    void setLayers(std::vector<Layer> layers);
    // UI thread: draws region (window coordinates) again.
    void redraw(const QRegion &region);
    // Any thread: a new picture was taken; it is drawn next.
    void pictureTaken();

    // Any thread: bands sent to the server so far (for tests).
    int bandsPut() const { return m_bandsPut.load(); }

private:
    void run();
    // Painter's thread: region of the window, with the picture and layers given.
    void draw(const QRegion &region, const PictureCanvas::Shown &shown, const std::vector<Layer> &layers);
    void wake();
    // Painter's thread: why the bands cannot be drawn through any more (empty: they can).
    QString broken() const;

    Source m_source;
    Failure m_failed;

    // m_mutex guards the fields below (held only to copy them, never while
    // drawing, so the UI thread never waits on a picture being drawn).
    std::mutex m_mutex;
    std::unique_ptr<SharedBands> m_newBands;
    bool m_bandsChanged = false;
    QRect m_area;
    bool m_visible = false;
    std::vector<Layer> m_layers;
    QRegion m_dirty;
    bool m_newPicture = false;
    bool m_quit = false;

    // The painter's thread only.
    std::unique_ptr<SharedBands> m_bands;
    FrameScaler m_scaler;
    QRect m_placed;
    bool m_shown = false;
    bool m_noBand = false; // the last draw got no band buffer

    std::atomic<bool> m_stopping{false}; // read between bands
    std::atomic<int> m_bandsPut{0};
    int m_wakeFd = -1; // an eventfd: wakes the painter out of its wait for the X server's events
    std::thread m_thread;
};

} // namespace velmora::video
