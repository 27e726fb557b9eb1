#include "SharedMemoryCanvas.h"

#include "engine/video/BandPainter.h"
#include "engine/video/SharedBands.h"

#include <QEvent>
#include <QPainter>
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
    m_painter = std::make_unique<BandPainter>([this] { return latest(); },
                                              [this](const QString &why) {
                                                  // Posted: the painter is gone before this object is.
                                                  QMetaObject::invokeMethod(
                                                      this, [this, why] { paintingFailed(why); }, Qt::QueuedConnection);
                                              });
}

SharedMemoryCanvas::~SharedMemoryCanvas()
{
    // Before anything it reads goes.
    m_painter.reset();
}

int SharedMemoryCanvas::bandsPut() const
{
    return m_painter->bandsPut();
}

void SharedMemoryCanvas::setMessage(const QString &text)
{
    m_message = text;
    // The surface dropped its picture first: black all over.
    m_painter->redraw(onDevice(rect()));
    scheduleLayers();
    if (!m_hasBands)
        update();
}

void SharedMemoryCanvas::pictureChanged()
{
    if (!m_hasBands)
        update();
}

void SharedMemoryCanvas::paintingFailed(const QString &why)
{
    QWidget *top = window();
    if (!m_hasBands || (top && top->winId() != m_bandsParent)) {
        // Our window went with a window Qt made anew: a new one for the new.
        if (ensureBands())
            placeWindow();
        return;
    }
    qWarning("velmora: the picture cannot be drawn through X shared memory any more (%s): drawn through Qt",
             qPrintable(why));
    m_failure = why;
    m_hasBands = false;
    m_bandsWindow = 0;
    m_painter->setBands(nullptr);
    update();
}

void SharedMemoryCanvas::pictureTaken()
{
    m_painter->pictureTaken();
}

bool SharedMemoryCanvas::ensureBands()
{
    QWidget *top = window();
    const WId parent = top ? top->winId() : 0;
    // Tried once per window: a failure is not tried again and again.
    if (m_bandsParent == parent && (m_hasBands || !m_failure.isEmpty()))
        return m_hasBands;
    m_bandsParent = parent;
    QString why;
    std::unique_ptr<SharedBands> bands;
    if (parent)
        bands = SharedBands::open(parent, onDevice(QRect(mapTo(top, QPoint(0, 0)), size())), &why);
    m_hasBands = bands != nullptr;
    m_bandsWindow = bands ? bands->window() : 0;
    // From here on the bands belong to the painter's thread.
    m_painter->setBands(std::move(bands));
    if (!m_hasBands) {
        if (why.isEmpty())
            why = QStringLiteral("the widget has no window");
        if (m_failure != why)
            qWarning("velmora: the picture cannot be drawn through X shared memory (%s): drawn through Qt",
                     qPrintable(why));
        m_failure = why;
        update();
        return false;
    }
    m_failure.clear();
    // Moves of an ancestor inside the window move us without a move event.
    for (QWidget *w = parentWidget(); w && w != top; w = w->parentWidget()) {
        if (std::find(m_ancestors.begin(), m_ancestors.end(), w) == m_ancestors.end()) {
            w->installEventFilter(this);
            m_ancestors.emplace_back(w);
        }
    }
    placeWindow();
    scheduleLayers();
    return true;
}

QRect SharedMemoryCanvas::onDevice(const QRect &area) const
{
    // X knows only the screen's pixels; on a scaled screen (a device pixel
    // ratio of 2 on many 4K desktops) our widget coordinates are not those.
    const qreal ratio = devicePixelRatioF();
    if (ratio == 1.0)
        return area;
    const QPoint topLeft(qRound(area.left() * ratio), qRound(area.top() * ratio));
    const QPoint end(qRound((area.right() + 1) * ratio), qRound((area.bottom() + 1) * ratio));
    return QRect(topLeft, end - QPoint(1, 1));
}

void SharedMemoryCanvas::placeWindow()
{
    m_painter->place(onDevice(QRect(mapTo(window(), QPoint(0, 0)), size())), isVisible() && !size().isEmpty());
}

bool SharedMemoryCanvas::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
        if (ensureBands())
            placeWindow();
        scheduleLayers();
        break;
    case QEvent::Hide:
    case QEvent::Move:
        placeWindow();
        break;
    case QEvent::Resize:
        placeWindow();
        scheduleLayers(); // the message is centred
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
        // A cover drew itself anew (into Qt's store, under our window).
        // Not its paint events while we render it ourselves: that would
        // render again, for ever.
        if (!m_rendering)
            scheduleLayers();
        break;
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::ZOrderChange:
        scheduleLayers();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void SharedMemoryCanvas::paintEvent(QPaintEvent *)
{
    // Nothing through Qt's painter while the bands work: the backing store
    // under us stays untouched, and our X window has its own exposures. A
    // window Qt made anew (new flags, say) needs a new X window of ours.
    if (ensureBands())
        placeWindow();
    else
        paintThroughQt();
}

void SharedMemoryCanvas::paintThroughQt()
{
    const Shown shown = latest();
    QPainter painter(this);
    const QRect target = shown.frame.frame ? letterbox(shown.frame.displaySize, size()) : QRect();
    for (const QRect &r : QRegion(rect()).subtracted(QRegion(target)))
        painter.fillRect(r, Qt::black);
    if (target.isEmpty()) {
        m_buffer = QImage();
        if (!m_message.isEmpty()) {
            painter.setPen(Qt::white);
            painter.drawText(rect().adjusted(MessageMargin, MessageMargin, -MessageMargin, -MessageMargin),
                             MessageFlags, m_message);
        }
        return;
    }
    drawScaled(painter, m_scaler, m_buffer, shown.frame.frame.get(), target);
    drawOverlay(painter, shown.overlay, shown.overlayBand, target);
}

void SharedMemoryCanvas::scheduleLayers()
{
    if (m_layersPending)
        return;
    m_layersPending = true;
    QTimer::singleShot(0, this, &SharedMemoryCanvas::renderLayers);
}

void SharedMemoryCanvas::renderLayers()
{
    m_layersPending = false;
    if (!ensureBands())
        return;
    std::vector<BandPainter::Layer> layers;
    m_rendering = true;
    for (const Cover &c : coversAbove()) {
        const QRect r = c.rect & rect();
        QImage image(onDevice(r).size(), QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            continue;
        image.setDevicePixelRatio(devicePixelRatioF());
        image.fill(Qt::transparent);
        // As Qt draws it over us: the widget and its children, without a
        // background unless the widget fills its own. (render() puts the
        // region's top left at the offset given.)
        c.widget->render(&image, QPoint(0, 0), QRegion(r.translated(-c.rect.topLeft())), QWidget::DrawChildren);
        image.setDevicePixelRatio(1.0); // the painter measures in the screen's pixels
        layers.push_back({onDevice(r), std::move(image), false});
    }
    m_rendering = false;
    if (!m_message.isEmpty()) {
        const QRect textArea = rect().adjusted(MessageMargin, MessageMargin, -MessageMargin, -MessageMargin);
        const QRect box = fontMetrics().boundingRect(textArea, MessageFlags, m_message) & rect();
        QImage image(onDevice(box).size(), QImage::Format_ARGB32_Premultiplied);
        if (!image.isNull()) {
            image.setDevicePixelRatio(devicePixelRatioF());
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.translate(-box.topLeft());
            painter.setPen(Qt::white);
            painter.setFont(font());
            painter.drawText(textArea, MessageFlags, m_message);
            painter.end();
            image.setDevicePixelRatio(1.0);
            layers.push_back({onDevice(box), std::move(image), true});
        }
    }
    m_painter->setLayers(std::move(layers));
}

QImage SharedMemoryCanvas::shownImage()
{
    return scaledShown(m_scaler, size());
}

} // namespace velmora::video
