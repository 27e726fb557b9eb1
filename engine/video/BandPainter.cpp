#include "BandPainter.h"

#include "engine/video/SharedBands.h"

#include <QPainter>
#include <cerrno>
#include <cstdint>
#include <utility>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace velmora::video {

BandPainter::BandPainter(Source source, Failure failed) : m_source(std::move(source)), m_failed(std::move(failed))
{
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0)
        qWarning("velmora: no eventfd for the picture painter (%s): it looks for work every few milliseconds",
                 strerror(errno));
    m_thread = std::thread([this] { run(); });
}

BandPainter::~BandPainter()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_stopping = true;
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

void BandPainter::wake()
{
    if (m_wakeFd < 0)
        return;
    const std::uint64_t one = 1;
    // A counter at its limit (EAGAIN) is already a wake-up.
    [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
}

void BandPainter::setBands(std::unique_ptr<SharedBands> bands)
{
    std::unique_ptr<SharedBands> unused;
    {
        std::lock_guard lock(m_mutex);
        // Bands handed over before and not yet taken are dropped here, on
        // the thread that made them: the painter never touched them.
        unused = std::move(m_newBands);
        m_newBands = std::move(bands);
        m_bandsChanged = true;
    }
    wake();
}

void BandPainter::place(const QRect &area, bool visible)
{
    {
        std::lock_guard lock(m_mutex);
        if (area == m_area && visible == m_visible)
            return;
        m_area = area;
        m_visible = visible;
    }
    wake();
}

void BandPainter::setLayers(std::vector<Layer> layers)
{
    {
        std::lock_guard lock(m_mutex);
        for (const Layer &l : m_layers)
            m_dirty += l.rect;
        for (const Layer &l : layers)
            m_dirty += l.rect;
        m_layers = std::move(layers);
    }
    wake();
}

void BandPainter::redraw(const QRegion &region)
{
    if (region.isEmpty())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_dirty += region;
    }
    wake();
}

void BandPainter::pictureTaken()
{
    {
        std::lock_guard lock(m_mutex);
        m_newPicture = true;
    }
    wake();
}

void BandPainter::run()
{
    pthread_setname_np(pthread_self(), "velmora-paint");
    bool pollFailed = false;
    for (;;) {
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_bands ? m_bands->socket() : -1, POLLIN, 0}};
        if (poll(fds, 2, m_wakeFd < 0 ? 5 : -1) < 0 && errno != EINTR) {
            // Never seen; waiting a little keeps a broken poll from spinning.
            if (!pollFailed)
                qWarning("velmora: the picture painter cannot wait for work: %s", strerror(errno));
            pollFailed = true;
            usleep(5000);
        }
        if (m_wakeFd >= 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof count);
        }

        std::unique_ptr<SharedBands> old;
        QRegion dirty;
        bool picture = false;
        QRect area;
        bool visible = false;
        std::vector<Layer> layers;
        {
            std::lock_guard lock(m_mutex);
            if (m_quit)
                break;
            if (m_bandsChanged) {
                old = std::exchange(m_bands, std::move(m_newBands));
                m_bandsChanged = false;
                m_placed = QRect();
                m_shown = false;
            }
            dirty = std::exchange(m_dirty, QRegion());
            picture = std::exchange(m_newPicture, false);
            area = m_area;
            visible = m_visible && !area.isEmpty();
            layers = m_layers;
        }
        old.reset(); // closes the old window and connection here, where they were used
        if (!m_bands)
            continue;

        const QRect whole(QPoint(0, 0), area.size());
        if (!area.isEmpty() && area != m_placed) {
            m_bands->setGeometry(area);
            m_placed = area;
            dirty = whole;
        }
        if (visible != m_shown) {
            m_bands->setVisible(visible);
            m_shown = visible;
            dirty = whole;
        }
        if (m_bands->takeExposed())
            dirty = whole;
        if (!m_shown || (dirty.isEmpty() && !picture))
            continue;

        const PictureCanvas::Shown shown = m_source();
        if (picture) {
            const QRect target = shown.frame.frame ? letterbox(shown.frame.displaySize, whole.size()) : QRect();
            // The bars stay as they are, unless there is no picture any more.
            dirty += target.isEmpty() ? whole : target;
        }
        draw(dirty, shown, layers);
        // An exposure read while waiting for the server (the socket will not
        // say so again): drawn again at once. Reading also brings in the
        // errors of what was just sent.
        if (m_bands->takeExposed()) {
            std::lock_guard lock(m_mutex);
            m_dirty += whole;
            wake();
        }
        if (const QString why = broken(); !why.isEmpty()) {
            m_bands.reset();
            if (m_failed)
                m_failed(why);
        }
    }
    m_bands.reset();
}

QString BandPainter::broken() const
{
    if (m_noBand)
        return QStringLiteral("no shared memory for a band of the picture");
    if (const int errors = m_bands->errors(); errors > 0)
        return QStringLiteral("the X server refused %1 drawing request(s)").arg(errors);
    return {};
}

void BandPainter::draw(const QRegion &region, const PictureCanvas::Shown &shown, const std::vector<Layer> &layers)
{
    const QRect whole(QPoint(0, 0), m_placed.size());
    const QRect target = shown.frame.frame ? letterbox(shown.frame.displaySize, whole.size()) : QRect();
    const QRegion wanted = region & whole;

    // What needs pixels of ours: the picture and the layers over it.
    QRegion detailed;
    if (!target.isEmpty())
        detailed += target;
    std::vector<const Layer *> drawn;
    for (const Layer &l : layers) {
        if (l.image.isNull() || (l.withoutPicture && !target.isEmpty()))
            continue;
        detailed += l.rect;
        drawn.push_back(&l);
    }
    detailed &= wanted;
    // Black everywhere else, filled by the server.
    for (const QRect &r : wanted.subtracted(detailed))
        m_bands->fillBlack(r);

    const QRect bounds = detailed.boundingRect();
    m_noBand = false;
    for (int y = bounds.top(); !bounds.isEmpty() && y <= bounds.bottom(); y += SharedBands::BandRows) {
        if (m_stopping)
            break;
        const QRect rows(0, y, whole.width(), std::min(SharedBands::BandRows, bounds.bottom() + 1 - y));
        const QRegion inBand = detailed & rows;
        if (inBand.isEmpty())
            continue;
        QRect span = inBand.boundingRect();
        // The scaler writes whole rows of the picture.
        const QRect pictureRows = target & rows;
        if (inBand.intersects(pictureRows))
            span |= pictureRows;
        QImage band = m_bands->band(span.width(), span.height());
        if (band.isNull()) {
            m_noBand = true;
            break;
        }
        const QRect inPicture = pictureRows & span;
        bool scaled = false;
        if (!inPicture.isEmpty()) {
            uchar *at = band.scanLine(inPicture.top() - span.top()) + qsizetype(inPicture.left() - span.left()) * 4;
            scaled = m_scaler.scaleRows(shown.frame.frame.get(), target.size(), inPicture.top() - target.top(),
                                        inPicture.height(), at, int(band.bytesPerLine()));
        }
        QPainter painter(&band);
        painter.translate(-span.topLeft());
        // Black beside the picture (and instead of it, should it fail to scale).
        const QRegion black = QRegion(span).subtracted(scaled ? QRegion(inPicture) : QRegion());
        for (const QRect &r : black)
            painter.fillRect(r, Qt::black);
        painter.setClipRect(span);
        if (scaled)
            drawOverlay(painter, shown.overlay, shown.overlayBand, target);
        for (const Layer *l : drawn) {
            const QRect part = l->rect & span;
            if (!part.isEmpty())
                painter.drawImage(part.topLeft(), l->image, part.translated(-l->rect.topLeft()));
        }
        painter.end();
        m_bands->put(QRect(QPoint(0, 0), span.size()), span.topLeft());
        ++m_bandsPut;
    }
    m_bands->flush();
}

} // namespace velmora::video
