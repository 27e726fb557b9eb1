#include "SharedBands.h"

#include <QGuiApplication>
#include <QtEndian>
#include <mutex>

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

// Xlib last: its macros (None, Bool, Status...) would break Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

namespace velmora::video {

namespace {

// How long a band waits for the server to say it is done with a buffer
// before it asks with a round trip instead. The round trip always answers,
// even when an X error swallowed the completion event.
constexpr int CompletionWaitMs = 100;

// X errors on our own connections are counted here and otherwise ignored;
// errors on any other connection go on to the handler that was there before.
// Xlib has one handler per process; it runs on the thread that made the
// failing request (for our connections the UI thread while opening, the
// painter's thread after that), hence the mutex.
// g_errorMutex guards the fields below.
std::mutex g_errorMutex;
int (*g_previousHandler)(Display *, XErrorEvent *) = nullptr;
bool g_handlerInstalled = false;
struct Ours
{
    Display *display = nullptr;
    int errors = 0;
};
Ours g_ours[8];
int g_errors = 0;

int onXError(Display *display, XErrorEvent *event)
{
    {
        std::lock_guard lock(g_errorMutex);
        for (Ours &o : g_ours) {
            if (o.display == display) {
                ++o.errors;
                ++g_errors;
                return 0;
            }
        }
    }
    return g_previousHandler ? g_previousHandler(display, event) : 0;
}

void adopt(Display *display)
{
    std::lock_guard lock(g_errorMutex);
    if (!g_handlerInstalled) {
        g_previousHandler = XSetErrorHandler(onXError);
        g_handlerInstalled = true;
    }
    for (Ours &o : g_ours) {
        if (!o.display) {
            o = Ours{display, 0};
            return;
        }
    }
}

void disown(Display *display)
{
    std::lock_guard lock(g_errorMutex);
    for (Ours &o : g_ours) {
        if (o.display == display)
            o = Ours{};
    }
}

int errorCount()
{
    std::lock_guard lock(g_errorMutex);
    return g_errors;
}

int errorsOf(Display *display)
{
    std::lock_guard lock(g_errorMutex);
    for (const Ours &o : g_ours) {
        if (o.display == display)
            return o.errors;
    }
    return 0;
}

// The display Qt shows its windows on; empty when Qt is not on X11.
QByteArray qtDisplayName()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display())
        return {};
    return QByteArray(DisplayString(x11->display()));
}

bool rgb32Visual(const Visual *visual, int depth)
{
    return visual && (depth == 24 || depth == 32) && visual->red_mask == 0xff0000 && visual->green_mask == 0xff00
        && visual->blue_mask == 0xff;
}

} // namespace

struct SharedBands::Connection
{
    Display *display = nullptr;
    Window window = 0;
    GC gc = nullptr;
    Visual *visual = nullptr;
    int depth = 0;
    int completionType = 0;
    bool ownWindow = false;
    bool exposed = false;
    QRect area;
    bool visible = false;
    long sent = 0;       // puts sent (each asks for a completion event)
    long completed = 0;  // completion events seen (they come in order)
    int errorsAtOpen = 0; // the connection's X errors before it was ready

    ~Connection()
    {
        if (!display)
            return;
        if (gc)
            XFreeGC(display, gc);
        if (ownWindow)
            XDestroyWindow(display, window);
        disown(display);
        XCloseDisplay(display);
    }

    // Reads what has come in; true when something did.
    bool drain()
    {
        bool any = false;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == completionType)
                ++completed;
            else if (event.type == Expose)
                exposed = true;
            any = true;
        }
        return any;
    }

    // Until the server has finished the put numbered `put` (from 1).
    void waitFor(long put)
    {
        if (completed >= put)
            return;
        drain(); // also sends what is queued
        while (completed < put) {
            pollfd p{ConnectionNumber(display), POLLIN, 0};
            if (poll(&p, 1, CompletionWaitMs) <= 0) {
                // A completion lost to an error, or a server that is very
                // slow: the round trip settles it either way.
                XSync(display, False);
                drain();
                completed = sent;
                return;
            }
            drain();
        }
    }

    void sync()
    {
        XSync(display, False);
        drain();
        completed = sent;
    }
};

struct SharedBands::Buffer
{
    XShmSegmentInfo segment{};
    XImage *image = nullptr;
    int width = 0;
    long lastPut = 0; // the put that last read it (0: none)
};

std::unique_ptr<SharedBands> SharedBands::open(unsigned long parent, const QRect &area, QString *why)
{
    const auto fail = [why](const QString &text) -> std::unique_ptr<SharedBands> {
        if (why)
            *why = text;
        return nullptr;
    };
    const QByteArray name = qtDisplayName();
    if (name.isEmpty())
        return fail(QStringLiteral("not on an X11 display"));
    if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
        return fail(QStringLiteral("pixel layout of a big-endian host not handled"));
    auto x = std::make_unique<Connection>();
    x->display = XOpenDisplay(name.constData());
    if (!x->display)
        return fail(QStringLiteral("cannot connect to display %1").arg(QString::fromLocal8Bit(name)));
    adopt(x->display);
    if (!XShmQueryExtension(x->display))
        return fail(QStringLiteral("the display has no MIT-SHM"));
    x->completionType = XShmGetEventBase(x->display) + ShmCompletion;
    if (parent) {
        XWindowAttributes attributes;
        const int before = errorCount();
        if (!XGetWindowAttributes(x->display, Window(parent), &attributes) || errorCount() != before)
            return fail(QStringLiteral("the window cannot be read"));
        if (!rgb32Visual(attributes.visual, attributes.depth))
            return fail(QStringLiteral("the window's pixels are not 32-bit RGB (depth %1)").arg(attributes.depth));
        x->visual = attributes.visual;
        x->depth = attributes.depth;
        // Black until drawn; exposures reported to us; no input selected,
        // so the pointer's events go on to the parent (Qt's window).
        XSetWindowAttributes set{};
        set.background_pixel = 0;
        set.event_mask = ExposureMask;
        set.bit_gravity = NorthWestGravity;
        x->area = area.isEmpty() ? QRect(0, 0, 1, 1) : area;
        x->window = XCreateWindow(x->display, Window(parent), x->area.x(), x->area.y(), unsigned(x->area.width()),
                                  unsigned(x->area.height()), 0, CopyFromParent, InputOutput, CopyFromParent,
                                  CWBackPixel | CWEventMask | CWBitGravity, &set);
        XSync(x->display, False);
        if (!x->window || errorCount() != before)
            return fail(QStringLiteral("no window could be made"));
        x->ownWindow = true;
        x->gc = XCreateGC(x->display, x->window, 0, nullptr);
        if (!x->gc)
            return fail(QStringLiteral("no graphics context"));
        XSetForeground(x->display, x->gc, 0);
    } else {
        const int screen = DefaultScreen(x->display);
        x->visual = DefaultVisual(x->display, screen);
        x->depth = DefaultDepth(x->display, screen);
        if (!rgb32Visual(x->visual, x->depth))
            return fail(QStringLiteral("the screen's pixels are not 32-bit RGB (depth %1)").arg(x->depth));
    }
    x->errorsAtOpen = errorsOf(x->display);
    std::unique_ptr<SharedBands> bands(new SharedBands(std::move(x)));
    // A first buffer proves that the server can attach our memory (it
    // cannot across a network, or from another machine's namespace).
    if (!bands->allocate(*bands->m_buffers[0], 64))
        return fail(QStringLiteral("the X server cannot attach shared memory"));
    return bands;
}

bool SharedBands::available(QString *why)
{
    static QString reason;
    static const bool ok = [] { return SharedBands::open(0, QRect(), &reason) != nullptr; }();
    if (why)
        *why = reason;
    return ok;
}

SharedBands::SharedBands(std::unique_ptr<Connection> connection) : m_x(std::move(connection))
{
    m_buffers[0] = std::make_unique<Buffer>();
    m_buffers[1] = std::make_unique<Buffer>();
}

SharedBands::~SharedBands()
{
    if (m_x && m_x->display) {
        m_x->sync();
        for (auto &buffer : m_buffers)
            release(*buffer);
    }
}

bool SharedBands::allocate(Buffer &buffer, int width)
{
    release(buffer);
    Display *d = m_x->display;
    XImage *image = XShmCreateImage(d, m_x->visual, unsigned(m_x->depth), ZPixmap, nullptr, &buffer.segment,
                                    unsigned(width), BandRows);
    if (!image)
        return false;
    if (image->bits_per_pixel != 32 || image->byte_order != LSBFirst) {
        XDestroyImage(image);
        return false;
    }
    const std::size_t bytes = std::size_t(image->bytes_per_line) * BandRows;
    buffer.segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (buffer.segment.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    void *address = shmat(buffer.segment.shmid, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(buffer.segment.shmid, IPC_RMID, nullptr);
        XDestroyImage(image);
        return false;
    }
    buffer.segment.shmaddr = image->data = static_cast<char *>(address);
    buffer.segment.readOnly = False;
    // Errors of earlier requests (a window gone, say) arrive first, so that
    // only the attach's own can tell it failed.
    XSync(d, False);
    const int before = errorCount();
    const bool attached = XShmAttach(d, &buffer.segment) && (XSync(d, False), errorCount() == before);
    // Marked for removal now: it goes away with its last user, even if we crash.
    shmctl(buffer.segment.shmid, IPC_RMID, nullptr);
    if (!attached) {
        shmdt(address);
        image->data = nullptr;
        XDestroyImage(image);
        buffer.segment = XShmSegmentInfo{};
        return false;
    }
    buffer.image = image;
    buffer.width = width;
    buffer.lastPut = 0;
    return true;
}

void SharedBands::release(Buffer &buffer)
{
    if (!buffer.image)
        return;
    m_x->waitFor(buffer.lastPut);
    XShmDetach(m_x->display, &buffer.segment);
    XSync(m_x->display, False);
    shmdt(buffer.segment.shmaddr);
    buffer.image->data = nullptr;
    XDestroyImage(buffer.image);
    buffer.image = nullptr;
    buffer.segment = XShmSegmentInfo{};
    buffer.width = 0;
}

QImage SharedBands::band(int width, int rows)
{
    if (width <= 0 || rows <= 0 || rows > BandRows || !m_x->window)
        return {};
    Buffer &buffer = *m_buffers[m_next];
    if (buffer.width < width) {
        if (!allocate(buffer, width))
            return {};
    } else {
        m_x->waitFor(buffer.lastPut);
    }
    m_current = m_next;
    m_next = 1 - m_next;
    return QImage(reinterpret_cast<uchar *>(buffer.image->data), width, rows, buffer.image->bytes_per_line,
                  QImage::Format_RGB32);
}

void SharedBands::put(const QRect &from, const QPoint &to)
{
    if (m_current < 0 || from.isEmpty())
        return;
    Buffer &buffer = *m_buffers[m_current];
    m_current = -1;
    XShmPutImage(m_x->display, m_x->window, m_x->gc, buffer.image, from.x(), from.y(), to.x(), to.y(),
                 unsigned(from.width()), unsigned(from.height()), True);
    buffer.lastPut = ++m_x->sent;
    ++m_puts;
}

void SharedBands::fillBlack(const QRect &area)
{
    if (area.isEmpty() || !m_x->window)
        return;
    XFillRectangle(m_x->display, m_x->window, m_x->gc, area.x(), area.y(), unsigned(area.width()),
                   unsigned(area.height()));
}

void SharedBands::flush()
{
    XFlush(m_x->display);
}

void SharedBands::setGeometry(const QRect &area)
{
    if (!m_x->ownWindow || area.isEmpty() || area == m_x->area)
        return;
    m_x->area = area;
    XMoveResizeWindow(m_x->display, m_x->window, area.x(), area.y(), unsigned(area.width()), unsigned(area.height()));
}

void SharedBands::setVisible(bool visible)
{
    if (!m_x->ownWindow || visible == m_x->visible)
        return;
    m_x->visible = visible;
    if (visible)
        XMapRaised(m_x->display, m_x->window);
    else
        XUnmapWindow(m_x->display, m_x->window);
    XFlush(m_x->display);
}

int SharedBands::socket() const
{
    return ConnectionNumber(m_x->display);
}

int SharedBands::errors() const
{
    return errorsOf(m_x->display) - m_x->errorsAtOpen;
}

unsigned long SharedBands::window() const
{
    return m_x->window;
}

bool SharedBands::takeExposed()
{
    m_x->drain();
    const bool exposed = m_x->exposed;
    m_x->exposed = false;
    return exposed;
}

} // namespace velmora::video
