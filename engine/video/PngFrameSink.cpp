#include "PngFrameSink.h"

#include <QDir>
#include <QFile>

namespace velmora::video {

PngFrameSink::PngFrameSink(const QString &dir, int everyMs) : m_dir(dir), m_everyMs(everyMs < 0 ? 0 : everyMs)
{
    if (!m_dir.isEmpty())
        QDir().mkpath(m_dir);
}

std::uint64_t PngFrameSink::hashImage(const QImage &image)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        // Only the bytes of the pixels: the padding at a line's end is undefined.
        const qsizetype bytes = qsizetype(image.width()) * image.depth() / 8;
        for (qsizetype i = 0; i < bytes; ++i) {
            hash ^= line[i];
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

void PngFrameSink::present(const VideoPicture &picture)
{
    const std::int64_t titleMs = picture.titleTime90k / 90;
    bool write = false;
    {
        std::lock_guard lock(m_mutex);
        ++m_presented;
        m_last = picture.image;
        if (m_titleFilter > 0 && picture.title != m_titleFilter)
            return;
        // Time going back (a new title, a looping menu) starts the marks afresh.
        if (titleMs < m_lastTitleMs)
            m_nextMark = m_everyMs > 0 ? titleMs - titleMs % m_everyMs : 0;
        m_lastTitleMs = titleMs;
        if (titleMs >= m_nextMark) {
            write = true;
            m_nextMark = m_everyMs > 0 ? (titleMs / m_everyMs + 1) * m_everyMs : titleMs + 1;
        }
    }
    if (!write)
        return;
    Written entry{titleMs, hashImage(picture.image), QString()};
    bool failed = false;
    if (!m_dir.isEmpty()) {
        entry.path = QDir(m_dir).filePath(QStringLiteral("frame-%1.png").arg(titleMs, 8, 10, QLatin1Char('0')));
        failed = !picture.image.save(entry.path, "PNG", 90);
        QFile list(QDir(m_dir).filePath(QStringLiteral("frames.txt")));
        if (list.open(QIODevice::Append | QIODevice::Text))
            list.write(QStringLiteral("%1 %2\n").arg(titleMs).arg(entry.hash, 16, 16, QLatin1Char('0')).toLatin1());
        else
            failed = true;
    }
    std::lock_guard lock(m_mutex);
    if (failed)
        ++m_failures;
    m_written.push_back(entry);
}

std::vector<PngFrameSink::Written> PngFrameSink::written() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

int PngFrameSink::presentedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_presented;
}

QImage PngFrameSink::lastImage() const
{
    std::lock_guard lock(m_mutex);
    return m_last;
}

int PngFrameSink::failures() const
{
    std::lock_guard lock(m_mutex);
    return m_failures;
}

} // namespace velmora::video
