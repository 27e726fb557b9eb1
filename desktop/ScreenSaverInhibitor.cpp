#include "ScreenSaverInhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcScreenSaver, "velmora.screensaver")

namespace velmora {

ScreenSaverInhibitor::ScreenSaverInhibitor(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
}

ScreenSaverInhibitor::~ScreenSaverInhibitor()
{
    m_wanted = false;
    release();
}

void ScreenSaverInhibitor::setWanted(bool wanted)
{
    if (wanted == m_wanted)
        return;
    m_wanted = wanted;
    if (wanted)
        acquire();
    else
        release();
}

void ScreenSaverInhibitor::acquire()
{
    if (m_held != Method::None || m_pending)
        return;
    if (!m_bus.isConnected() || m_dbusFailed) {
        useX11();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Inhibit"));
    call << QStringLiteral("Velmora") << QStringLiteral("Playing a DVD");
    m_pending = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_pending = false;
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            qCInfo(lcScreenSaver, "no screensaver service on the session bus (%s); using the X extension",
                   qPrintable(reply.error().name()));
            m_dbusFailed = true;
            if (m_wanted)
                useX11();
            return;
        }
        m_cookie = reply.value();
        m_held = Method::DBus;
        if (!m_wanted)
            release(); // the wish went while the call was on its way
    });
}

void ScreenSaverInhibitor::useX11()
{
    if (suspendX11ScreenSaver(true))
        m_held = Method::X11;
}

void ScreenSaverInhibitor::release()
{
    switch (m_held) {
    case Method::None:
        return; // a pending Inhibit hands its cookie back when it arrives
    case Method::DBus: {
        QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("UnInhibit"));
        call << m_cookie;
        m_bus.call(call, QDBus::NoBlock);
        break;
    }
    case Method::X11:
        suspendX11ScreenSaver(false);
        break;
    }
    m_held = Method::None;
    m_cookie = 0;
}

} // namespace velmora
