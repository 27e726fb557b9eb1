#pragma once
// A disc's identity: libdvdread's DVDDiscID (an MD5 over the disc's
// information files) as 32 lower-case hex digits. The same disc gives the
// same id from the drive, from a copied folder and from an image.
//
// readDiscId() reads the files and blocks; it may run on any thread.
// DiscIdentity runs it on Qt's global thread pool and reports on the thread
// the object lives in, so the UI thread never waits on the disc.

#include <QObject>
#include <QString>

namespace velmora::nav {

// The id of the disc at path (a disc folder, its VIDEO_TS folder, an image or
// a device); empty when it cannot be read.
QString readDiscId(const QString &path);

class DiscIdentity : public QObject
{
    Q_OBJECT
public:
    explicit DiscIdentity(QObject *parent = nullptr) : QObject(parent) {}

    // Starts reading the id of path. A lookup still running is forgotten:
    // only the latest one reports. An empty path just forgets.
    void start(const QString &path);
    // Forgets the id and any lookup in flight.
    void clear();
    // The id of the last finished lookup, empty before one finished.
    const QString &id() const { return m_id; }

signals:
    // On this object's thread; not emitted when the id cannot be read.
    void identified(const QString &id);

private:
    void finished(int generation, const QString &id);

    QString m_id;
    int m_generation = 0; // bumped per start()/clear(); older answers are dropped
};

} // namespace velmora::nav
