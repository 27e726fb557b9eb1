#pragma once
// The player on the session bus as org.mpris.MediaPlayer2.velmora (MPRIS2):
// the root interface (identity, Raise, Quit) and the player interface
// (status, metadata, position, volume, transport). Every method runs the
// command the matching button or key runs, so the windows stay in step:
// Play the panel's play button, Pause its pause button, Stop its stop
// button, Next/Previous its chapter buttons, Seek/SetPosition what a seek
// bar release does, OpenUri what a path on the command line does,
// Quit the exit routine, Volume the volume slider.
//
// refresh() reads the engine and sends PropertiesChanged for what changed;
// the owner calls it on every tick and on engine signals. Methods are queued
// to run after the D-Bus reply, since a command may open a message box.
//
// Without a session bus (or when the name cannot be had) registration fails
// and the owner goes on without it. UI thread only.

#include "engine/DvdEngine.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

namespace velmora {

class MprisService : public QObject
{
    Q_OBJECT
public:
    static inline const QString ServiceName = QStringLiteral("org.mpris.MediaPlayer2.velmora");
    static inline const QString ObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");

    explicit MprisService(QObject *parent = nullptr);
    ~MprisService() override;

    // Registers the name and the object; false (and a reason) when it cannot.
    bool registerOn(QDBusConnection bus, QString *why);

    // The bus the service is registered on.
    const QDBusConnection &bus() const { return m_bus; }

    void bind(DvdEngine *engine);
    // Re-reads state; sends PropertiesChanged for every changed property.
    void refresh();

    // ---- the interfaces' values (the adaptors read these) ----
    QString playbackStatus() const;
    QVariantMap metadata() const;
    qlonglong position() const;   // microseconds into the title
    double volume() const;
    void setVolume(double volume);
    bool inTitle() const;

    // ---- methods ----
    void raise();
    void quit();
    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    void seek(qlonglong offsetUs);
    void setPosition(const QDBusObjectPath &track, qlonglong positionUs);
    // False when uri names nothing that could be opened.
    bool openUri(const QString &uri, QString *why);

signals:
    void Seeked(qlonglong position);

private:
    struct State
    {
        QString status;
        QVariantMap metadata;
        double volume = 0;
        bool inTitle = false;
        bool operator==(const State &) const = default;
    };
    State read() const;
    void seekTo(qlonglong positionUs);
    void onTime(qint64 packed);

    QDBusConnection m_bus;
    bool m_registered = false;
    QPointer<DvdEngine> m_engine;
    State m_last;
    int m_title = 0;          // the title of the last time notification
    qlonglong m_positionUs = 0;
    QElapsedTimer m_sinceTime; // since the last time notification
};

// "/org/velmora/title/N", the track id of title N.
QDBusObjectPath mprisTrackId(int title);

} // namespace velmora
