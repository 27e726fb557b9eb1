#include "SharedMemoryCanvas.h"

#include "engine/video/SharedBands.h"

#include <QPaintEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
}

namespace velmora::video {

namespace {

constexpr int MessageMargin = 8;
constexpr int MessageFlags = Qt::AlignCenter | Qt::TextWordWrap;

} // namespace

SharedMemoryCanvas::SharedMemoryCanvas(QWidget *parent) : QWidget(parent)
{
    // Qt paints nothing here: every pixel comes from our X window.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    // Input belongs to the surface underneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

SharedMemoryCanvas::~SharedMemoryCanvas() = default;

int SharedMemoryCanvas::bandsPut() const
{
    return m_bands ? m_bands->bandsPut() : 0;
}

void SharedMemoryCanvas::setMessage(const QString &text)
{
    m_message = text;
    update();
}

void SharedMemoryCanvas::pictureChanged()
{
    // Drawn now rather than at Qt's next update pass (a timer and another
    // trip through the event loop later, and a flush of the backing store
    // under us). The bars stay as they are.
    if (!isVisible())
        return;
    const Shown shown = peek();
    const QRect target = shown.frame.frame ? letterbox(shown.frame.displaySize, size()) : QRect();
    draw(target.isEmpty() ? QRegion(rect()) : QRegion(target));
}

bool SharedMemoryCanvas::ensureBands()
{
    QWidget *top = window();
    const WId parent = top ? top->winId() : 0;
    // Tried once per window: a failure is not tried again picture after picture.
    if (m_bandsParent == parent && (m_bands || !m_failure.isEmpty()))
        return m_bands != nullptr;
    delete m_events;
    m_events = nullptr;
    m_bands.reset();
    m_bandsParent = parent;
    QString why;
    if (parent)
        m_bands = SharedBands::open(parent, QRect(mapTo(top, QPoint(0, 0)), size()), &why);
    if (!m_bands) {
        if (why.isEmpty())
            why = QStringLiteral("the widget has no window");
        if (m_failure != why)
            qWarning("velmora: the picture cannot be drawn through X shared memory: %s", qPrintable(why));
        m_failure = why;
        return false;
    }
    m_failure.clear();
    m_events = new QSocketNotifier(m_bands->socket(), QSocketNotifier::Read, this);
    connect(m_events, &QSocketNotifier::activated, this, &SharedMemoryCanvas::readEvents);
    // Moves of an ancestor inside the window move us without a move event.
    for (QWidget *w = parentWidget(); w && w != top; w = w->parentWidget()) {
        if (std::find(m_ancestors.begin(), m_ancestors.end(), w) == m_ancestors.end()) {
            w->installEventFilter(this);
            m_ancestors.emplace_back(w);
        }
    }
    placeWindow();
    return true;
}

void SharedMemoryCanvas::placeWindow()
{
    if (!m_bands)
        return;
    m_bands->setGeometry(QRect(mapTo(window(), QPoint(0, 0)), size()));
    m_bands->setVisible(isVisible() && !size().isEmpty());
}

void SharedMemoryCanvas::readEvents()
{
    if (m_bands && m_bands->takeExposed())
        update();
}

bool SharedMemoryCanvas::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
        if (ensureBands())
            placeWindow();
        break;
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
        placeWindow();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

std::vector<SharedMemoryCanvas::Cover> SharedMemoryCanvas::coversAbove()
{
    std::vector<Cover> covers;
    std::vector<QPointer<QWidget>> watched;
    QWidget *top = window();
    const QPoint origin = mapTo(top, QPoint(0, 0));
    // For this widget and each of its ancestors below the window: the
    // siblings stacked after it (children() is in stacking order).
    for (QWidget *w = this; w && w != top; w = w->parentWidget()) {
        QWidget *parent = w->parentWidget();
        if (!parent)
            break;
        std::vector<Cover> level;
        bool above = false;
        for (QObject *child : parent->children()) {
            if (child == w) {
                above = true;
                continue;
            }
            auto *sibling = qobject_cast<QWidget *>(child);
            if (!above || !sibling || sibling->isWindow())
                continue;
            watched.emplace_back(sibling);
            // A native sibling is a window of its own: the server stacks it.
            if (!sibling->isVisible() || sibling->testAttribute(Qt::WA_NativeWindow))
                continue;
            const QRect r(sibling->mapTo(top, QPoint(0, 0)) - origin, sibling->size());
            if (r.intersects(rect()))
                level.push_back({sibling, r});
        }
        // Siblings of an ancestor are above the siblings of its descendants.
        covers.insert(covers.end(), level.begin(), level.end());
    }
    for (const auto &w : watched) {
        if (std::find(m_watched.begin(), m_watched.end(), w) == m_watched.end()) {
            w->installEventFilter(this);
            m_watched.push_back(w);
        }
    }
    std::erase_if(m_watched, [](const QPointer<QWidget> &w) { return w.isNull(); });
    return covers;
}

bool SharedMemoryCanvas::eventFilter(QObject *watched, QEvent *event)
{
    if (std::find(m_ancestors.begin(), m_ancestors.end(), watched) != m_ancestors.end()) {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            placeWindow();
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::Paint:
        // A cover drew itself anew (into Qt's store, under our window): draw
        // it here too. Not when Qt painted us in the same pass (it does for
        // covers that let what is beneath show through): we drew it then,
        // and drawing again would make Qt paint it again, for ever.
        if (!m_rendering && !m_paintedByQt) {
            if (auto *w = qobject_cast<QWidget *>(watched); w && w->isVisible())
                update(QRect(w->mapTo(window(), QPoint(0, 0)) - mapTo(window(), QPoint(0, 0)), w->size()));
        }
        break;
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::ZOrderChange:
        update();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void SharedMemoryCanvas::paintEvent(QPaintEvent *event)
{
    // Nothing through Qt's painter: the backing store under us stays untouched.
    draw(event->region());
    // Qt paints the covers over us next, in this same pass.
    if (!m_paintedByQt) {
        m_paintedByQt = true;
        QTimer::singleShot(0, this, [this] { m_paintedByQt = false; });
    }
}

void SharedMemoryCanvas::draw(const QRegion &region)
{
    const Shown shown = latest();
    if (!ensureBands())
        return;
    const QRect target = shown.frame.frame ? letterbox(shown.frame.displaySize, size()) : QRect();
    const std::vector<Cover> covers = coversAbove();
    const QRegion wanted = region & rect();

    // What needs pixels of ours: the picture, the covers, the message.
    QRegion detailed;
    if (!target.isEmpty())
        detailed += target;
    for (const Cover &c : covers)
        detailed += c.rect;
    const QRect textArea = rect().adjusted(MessageMargin, MessageMargin, -MessageMargin, -MessageMargin);
    QRect messageRect;
    if (target.isEmpty() && !m_message.isEmpty()) {
        messageRect = fontMetrics().boundingRect(textArea, MessageFlags, m_message) & rect();
        detailed += messageRect;
    }
    detailed &= wanted;
    // Black everywhere else, filled by the server.
    for (const QRect &r : wanted.subtracted(detailed))
        m_bands->fillBlack(r);

    const QRect bounds = detailed.boundingRect();
    for (int y = bounds.top(); !bounds.isEmpty() && y <= bounds.bottom(); y += SharedBands::BandRows) {
        const QRect rows(0, y, width(), std::min(SharedBands::BandRows, bounds.bottom() + 1 - y));
        const QRegion inBand = detailed & rows;
        if (inBand.isEmpty())
            continue;
        QRect span = inBand.boundingRect();
        // The scaler writes whole rows of the picture.
        const QRect pictureRows = target & rows;
        if (inBand.intersects(pictureRows))
            span |= pictureRows;
        QImage band = m_bands->band(span.width(), span.height());
        if (band.isNull())
            break;
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
        if (messageRect.intersects(span)) {
            painter.setPen(Qt::white);
            painter.setFont(font());
            painter.drawText(textArea, MessageFlags, m_message);
        }
        m_rendering = true;
        for (const Cover &c : covers) {
            const QRect part = c.rect & span;
            if (part.isEmpty())
                continue;
            // As Qt draws it over us: the widget and its children, without
            // a background unless the widget fills its own.
            // (render() puts the region's top left at the offset given.)
            c.widget->render(&painter, part.topLeft(), QRegion(part.translated(-c.rect.topLeft())),
                             QWidget::DrawChildren);
        }
        m_rendering = false;
        painter.end();
        m_bands->put(QRect(QPoint(0, 0), span.size()), span.topLeft());
    }
    m_bands->flush();
    // An exposure read while waiting for the server (the socket will not
    // say so again): what it lost is drawn at the next pass.
    if (m_bands->takeExposed())
        update();
}

QImage SharedMemoryCanvas::shownImage()
{
    return scaledShown(m_scaler, size());
}

} // namespace velmora::video
