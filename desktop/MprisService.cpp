#include "MprisService.h"

#include "commands/Commands.h"
#include "commands/OpenAndPlay.h"
#include "commands/Res.h"
#include "engine/DvdEngine.h"
#include "engine/ErrorTrap.h"
#include "engine/TimeCode.h"
#include "shell/Form6.h"
#include "shell/Forms.h"

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSlider>
#include <QTimer>

#include <cmath>

namespace velmora {

namespace {

const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString RootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// Runs a command after the D-Bus reply has gone out.
template<typename F>
void later(F &&f)
{
    QTimer::singleShot(0, qApp, std::forward<F>(f));
}

qlonglong secondsOf(const QString &timeCode)
{
    const std::optional<TimeCode> tc = TimeCode::fromText(timeCode);
    return tc ? qlonglong(tc->hours) * 3600 + tc->minutes * 60 + tc->seconds : 0;
}

class RootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
public:
    explicit RootAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service) {}
    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Velmora"); }
    QString desktopEntry() const { return QStringLiteral("velmora"); }
    QStringList uriSchemes() const { return {QStringLiteral("file"), QStringLiteral("dvd")}; }
    QStringList mimeTypes() const
    {
        return {QStringLiteral("inode/directory"), QStringLiteral("application/x-iso9660-image"),
                QStringLiteral("application/x-cd-image")};
    }
public slots:
    void Raise() { m_service->raise(); }
    void Quit() { m_service->quit(); }
private:
    MprisService *m_service;
};

class PlayerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ inTitle)
    Q_PROPERTY(bool CanGoPrevious READ inTitle)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ inTitle)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit PlayerAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service)
    {
        connect(service, &MprisService::Seeked, this, &PlayerAdaptor::Seeked);
    }
    QString playbackStatus() const { return m_service->playbackStatus(); }
    double rate() const { return 1.0; }
    void setRate(double) {} // one rate: the disc's own
    QVariantMap metadata() const { return m_service->metadata(); }
    double volume() const { return m_service->volume(); }
    void setVolume(double v) { m_service->setVolume(v); }
    qlonglong position() const { return m_service->position(); }
    bool inTitle() const { return m_service->inTitle(); }
    bool yes() const { return true; }
public slots:
    void Play() { m_service->play(); }
    void Pause() { m_service->pause(); }
    void PlayPause() { m_service->playPause(); }
    void Stop() { m_service->stop(); }
    void Next() { m_service->next(); }
    void Previous() { m_service->previous(); }
    void Seek(qlonglong offset) { m_service->seek(offset); }
    void SetPosition(const QDBusObjectPath &track, qlonglong position) { m_service->setPosition(track, position); }
    void OpenUri(const QString &uri, const QDBusMessage &message)
    {
        QString why;
        if (!m_service->openUri(uri, &why))
            m_service->bus().send(
                message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), why));
    }
signals:
    void Seeked(qlonglong Position);
private:
    MprisService *m_service;
};

} // namespace

QDBusObjectPath mprisTrackId(int title)
{
    if (title <= 0)
        return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    return QDBusObjectPath(QStringLiteral("/org/velmora/title/%1").arg(title));
}

MprisService::MprisService(QObject *parent) : QObject(parent), m_bus(QString())
{
    new RootAdaptor(this);
    new PlayerAdaptor(this);
}

MprisService::~MprisService()
{
    if (m_registered) {
        m_bus.unregisterObject(ObjectPath);
        m_bus.unregisterService(ServiceName);
    }
}

bool MprisService::registerOn(QDBusConnection bus, QString *why)
{
    if (!bus.isConnected()) {
        *why = QStringLiteral("no session bus");
        return false;
    }
    if (!bus.registerObject(ObjectPath, this, QDBusConnection::ExportAdaptors)) {
        *why = bus.lastError().message();
        return false;
    }
    // A second player takes a name of its own, as the interface's rules say.
    QString name = ServiceName;
    if (!bus.registerService(name)) {
        name = ServiceName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus.registerService(name)) {
            *why = bus.lastError().message();
            bus.unregisterObject(ObjectPath);
            return false;
        }
    }
    m_bus = bus;
    m_registered = true;
    m_last = read();
    return true;
}

void MprisService::bind(DvdEngine *engine)
{
    if (m_engine == engine)
        return;
    if (m_engine)
        m_engine->disconnect(this);
    m_engine = engine;
    m_title = 0;
    m_positionUs = 0;
    if (engine) {
        connect(engine, &DvdEngine::DVDNotify, this, [this](int code, qint64 p1, qint64) {
            if (code == DvdEngine::CurrentTime)
                onTime(p1);
        });
        connect(engine, &DvdEngine::PlaybackReset, this, [this](int) {
            m_title = 0;
            m_positionUs = 0;
            refresh();
        });
        connect(engine, &DvdEngine::TitleInfoChanged, this, [this](int) { refresh(); });
    }
    refresh();
}

void MprisService::onTime(qint64 packed)
{
    if (!m_engine)
        return;
    ErrorTrap trap(ErrorTrap::Mode::EndOnFirstFailure);
    int title = 0;
    trap.run([&] { title = m_engine->CurrentTitle(); });
    const TimeCode tc = TimeCode::fromPacked(static_cast<std::int32_t>(packed));
    // Whole seconds: the frame rate is the title's, and a second is as fine
    // as a desktop's position display goes.
    const qlonglong us = (qlonglong(tc.hours) * 3600 + tc.minutes * 60 + tc.seconds) * 1000000LL;
    // A jump within the title that nobody asked through the bus for (the
    // seek bar, a key) is a seek to the desktop too. Notifications come
    // every half second or so while playing; a longer gap is a pause.
    const bool jumped = title > 0 && title == m_title && m_sinceTime.isValid() && m_sinceTime.elapsed() < 1500
                        && m_engine->playState() == DvdEngine::PlayState::Playing
                        && std::llabs(us - m_positionUs) > 2500000;
    m_sinceTime.start();
    m_title = title;
    m_positionUs = title > 0 ? us : 0;
    refresh();
    if (jumped)
        emit Seeked(m_positionUs);
}

MprisService::State MprisService::read() const
{
    return State{playbackStatus(), metadata(), volume(), inTitle()};
}

void MprisService::refresh()
{
    const State now = read();
    if (!m_registered || now == m_last) {
        m_last = now;
        return;
    }
    QVariantMap changed;
    if (now.status != m_last.status)
        changed.insert(QStringLiteral("PlaybackStatus"), now.status);
    if (now.metadata != m_last.metadata)
        changed.insert(QStringLiteral("Metadata"), now.metadata);
    if (now.volume != m_last.volume)
        changed.insert(QStringLiteral("Volume"), now.volume);
    if (now.inTitle != m_last.inTitle) {
        for (const char *name : {"CanGoNext", "CanGoPrevious", "CanSeek"})
            changed.insert(QLatin1String(name), now.inTitle);
    }
    m_last = now;
    QDBusMessage signal = QDBusMessage::createSignal(ObjectPath, PropertiesInterface, QStringLiteral("PropertiesChanged"));
    signal << PlayerInterface << changed << QStringList();
    m_bus.send(signal);
}

QString MprisService::playbackStatus() const
{
    if (!m_engine)
        return QStringLiteral("Stopped");
    switch (m_engine->playState()) {
    case DvdEngine::PlayState::Stopped: return QStringLiteral("Stopped");
    case DvdEngine::PlayState::Paused: return QStringLiteral("Paused");
    default: return QStringLiteral("Playing");
    }
}

QVariantMap MprisService::metadata() const
{
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(mprisTrackId(m_title)));
    if (!m_engine || m_title <= 0)
        return map;
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    trap.run([&] {
        map.insert(QStringLiteral("mpris:length"), secondsOf(m_engine->TotalTitleTime()) * 1000000LL);
    });
    map.insert(QStringLiteral("xesam:title"), QStringLiteral("标题 %1").arg(m_title));
    const QString album = m_engine->DiscName();
    if (!album.isEmpty())
        map.insert(QStringLiteral("xesam:album"), album);
    return map;
}

qlonglong MprisService::position() const
{
    return m_positionUs;
}

double MprisService::volume() const
{
    return form6Loaded() ? form6().Slider1->value() / 100.0 : 0.0;
}

void MprisService::setVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    const int value = int(std::lround(std::clamp(volume, 0.0, 1.0) * 100));
    // As a drag of the slider does: its change handler sets the master volume.
    form6().Slider1->setValue(value);
    refresh();
}

bool MprisService::inTitle() const
{
    return m_engine && m_title > 0 && m_engine->playState() != DvdEngine::PlayState::Stopped;
}

void MprisService::raise()
{
    later([] { bringPlayerToFront(); });
}

void MprisService::quit()
{
    later([] { res().clso(); });
}

void MprisService::play()
{
    later([] { Playi_Click(); });
}

void MprisService::pause()
{
    later([] { Pausei_Click(); });
}

void MprisService::playPause()
{
    if (playbackStatus() == QLatin1String("Playing"))
        pause();
    else
        play();
}

void MprisService::stop()
{
    later([] { Stopi_Click(); });
}

void MprisService::next()
{
    later([] { Nexti_Click(); });
}

void MprisService::previous()
{
    later([] { Previ_Click(); });
}

void MprisService::seek(qlonglong offsetUs)
{
    seekTo(std::max<qlonglong>(0, m_positionUs + offsetUs));
}

void MprisService::setPosition(const QDBusObjectPath &track, qlonglong positionUs)
{
    // Only for the title on screen, as the interface demands; stale ids are ignored.
    if (track != mprisTrackId(m_title) || positionUs < 0)
        return;
    seekTo(positionUs);
}

void MprisService::seekTo(qlonglong positionUs)
{
    if (!m_engine || m_title <= 0)
        return;
    const qlonglong length = metadata().value(QStringLiteral("mpris:length")).toLongLong();
    if (length > 0 && positionUs >= length) {
        next(); // past the end: the next chapter, as the interface says
        return;
    }
    TimeCode tc;
    const qlonglong seconds = positionUs / 1000000;
    tc.hours = int(std::min<qlonglong>(seconds / 3600, 99));
    tc.minutes = int(seconds / 60 % 60);
    tc.seconds = int(seconds % 60);
    const QString timeCode = tc.toText();
    // The seek bar's release: PlayAtTime with the time under the slider.
    ErrorTrap trap(ErrorTrap::Mode::EndOnFirstFailure);
    trap.run([&] { m_engine->PlayAtTime(timeCode); });
    if (trap.stopped())
        return;
    m_positionUs = seconds * 1000000LL;
    m_sinceTime.invalidate(); // the next notification is this seek's, already reported
    emit Seeked(m_positionUs);
}

bool MprisService::openUri(const QString &uri, QString *why)
{
    // The caller hears at once what cannot play; a DVD it named plays the
    // way a path on the command line or a drop does.
    const std::optional<QString> path = localPathFromArgument(uri, why);
    if (!path)
        return false;
    if (!dvdSourceFor(*path)) {
        *why = notADvdMessage(*path);
        return false;
    }
    later([path = *path] { openAndPlay(path); });
    return true;
}

} // namespace velmora

#include "MprisService.moc"
