#pragma once
// Puts pixels into an X window of our own through MIT shared memory, a band
// of rows at a time, so that a picture of any size goes to the screen
// through a buffer of only a few rows: the screen's pixels stay in the X
// server.
//
// The window is a plain X child of a Qt window, made and owned here: Qt
// knows nothing of it, so its widgets stay as they are (a native Qt child
// would turn every widget of the window into a native window of its own).
// It selects no input: pointer and keys go on to the Qt window beneath.
//
// Two band buffers take turns: while the server copies one to the window,
// the caller fills the other. band() hands out the next buffer, waiting
// first until the server is done with what was put from it before; put()
// sends it; nothing else blocks.
//
// The bands travel on a connection of their own to the display Qt uses, so
// X errors and round trips never mix with Qt's. Only local displays with
// MIT-SHM and 32-bit true-colour pixels laid out as QImage::Format_RGB32
// are served: open() says no for anything else.
//
// Threads: one thread at a time (opened on the UI thread, then handed to
// the thread that draws); available() on the UI thread.

#include <QImage>
#include <QRect>
#include <QString>
#include <memory>

namespace velmora::video {

class SharedBands
{
public:
    // Rows in a band. A multiple of 16, as libswscale's slices want.
    static constexpr int BandRows = 96;

    // A connection with a window of its own, a child of parent (an X window
    // id on the display Qt uses), at area of it and not yet shown; null,
    // with why filled in, when that cannot work here.
    static std::unique_ptr<SharedBands> open(unsigned long parent, const QRect &area, QString *why);
    // True when this process shows its windows on an X display that has
    // MIT-SHM (probed once, on the UI thread).
    static bool available(QString *why = nullptr);

    ~SharedBands();
    SharedBands(const SharedBands &) = delete;
    SharedBands &operator=(const SharedBands &) = delete;

    // The next band buffer as an RGB32 image of width x rows (rows <=
    // BandRows) over shared memory. Valid until the put() that follows; a
    // null image when memory for it could not be had.
    QImage band(int width, int rows);
    // Sends the band last handed out, its part `from` (in band coordinates),
    // to the window at `to`.
    void put(const QRect &from, const QPoint &to);
    // Fills area of the window with black on the server.
    void fillBlack(const QRect &area);
    // Sends what is queued without waiting for it.
    void flush();

    // The window: its place in the parent, shown or not.
    void setGeometry(const QRect &area);
    void setVisible(bool visible);
    // The connection's socket (readable when events came in), and whether
    // the window was exposed (its pixels lost) since last asked.
    int socket() const;
    bool takeExposed();

    // X errors on this connection since it was opened (a request the server
    // refused: our window destroyed under us, say). They arrive with the
    // server's next answer, so a little after the request.
    int errors() const;
    // Our window's X id (for tests).
    unsigned long window() const;

    // Bands put so far (for tests).
    int bandsPut() const { return m_puts; }

private:
    struct Connection;
    struct Buffer;
    explicit SharedBands(std::unique_ptr<Connection> connection);
    bool allocate(Buffer &buffer, int width);
    void release(Buffer &buffer);

    std::unique_ptr<Connection> m_x;
    std::unique_ptr<Buffer> m_buffers[2];
    int m_next = 0;       // the buffer band() hands out next
    int m_current = -1;   // the buffer handed out, until put()
    int m_puts = 0;
};

} // namespace velmora::video
