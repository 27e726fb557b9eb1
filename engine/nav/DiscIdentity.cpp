#include "engine/nav/DiscIdentity.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QThreadPool>

#include <dvdread/dvd_reader.h>

#include <cstdarg>
#include <memory>

namespace velmora::nav {

namespace {

// libdvdread's chatter about CSS and the like stays out of standard output.
void quietLog(void *, dvd_logger_level_t, const char *, va_list) {}
const dvd_logger_cb QuietLogger{quietLog};

struct ReaderCloser
{
    void operator()(dvd_reader_t *reader) const { DVDClose(reader); }
};

// Lives on the UI thread; the pool thread emits through it. Qt drops the
// queued answer when the receiver is gone, so a lookup may outlive its
// DiscIdentity safely.
class Relay : public QObject
{
    Q_OBJECT
signals:
    void done(const QString &id);
};

} // namespace

QString readDiscId(const QString &path)
{
    if (path.isEmpty())
        return {};
    std::unique_ptr<dvd_reader_t, ReaderCloser> reader(
        DVDOpen2(nullptr, &QuietLogger, QFile::encodeName(path).constData()));
    if (!reader)
        return {};
    unsigned char digest[16] = {};
    if (DVDDiscID(reader.get(), digest) != 0)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), sizeof digest).toHex());
}

void DiscIdentity::start(const QString &path)
{
    clear();
    if (path.isEmpty())
        return;
    const int generation = m_generation;
    auto *relay = new Relay;
    connect(relay, &Relay::done, this, [this, generation](const QString &id) { finished(generation, id); });
    QThreadPool::globalInstance()->start([relay, path] {
        const QString id = readDiscId(path);
        // Handed to the UI thread as a posted call, as every other result
        // of a worker is: the relay signals there, and goes there.
        QMetaObject::invokeMethod(
            relay,
            [relay, id] {
                emit relay->done(id);
                relay->deleteLater();
            },
            Qt::QueuedConnection);
    });
}

void DiscIdentity::clear()
{
    ++m_generation;
    m_id.clear();
}

void DiscIdentity::finished(int generation, const QString &id)
{
    if (generation != m_generation || id.isEmpty())
        return;
    m_id = id;
    emit identified(id);
}

} // namespace velmora::nav

#include "DiscIdentity.moc"
