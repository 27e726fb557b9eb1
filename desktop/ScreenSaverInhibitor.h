#pragma once
// Keeps the screensaver away while wanted (a title playing at normal speed).
//
// setWanted(true) asks org.freedesktop.ScreenSaver.Inhibit on the session bus
// for a cookie; when no such service answers (or there is no session bus) it
// falls back to the X screensaver extension's suspend on Qt's own X
// connection. setWanted(false) releases whichever is held (UnInhibit with the
// cookie, or ending the suspend). Calls on the bus are asynchronous: the UI
// thread never waits for the service; a cookie that arrives after the wish
// has gone is handed back at once.
//
// UI thread only.

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace velmora {

class ScreenSaverInhibitor : public QObject
{
    Q_OBJECT
public:
    enum class Method { None, DBus, X11 };

    // bus: where to look for the service (a disconnected one means none).
    explicit ScreenSaverInhibitor(const QDBusConnection &bus, QObject *parent = nullptr);
    ~ScreenSaverInhibitor() override; // releases

    void setWanted(bool wanted);
    bool wanted() const { return m_wanted; }
    // How the screensaver is held back now (None also while a request is on its way).
    Method held() const { return m_held; }

    static inline const QString Service = QStringLiteral("org.freedesktop.ScreenSaver");
    static inline const QString Path = QStringLiteral("/org/freedesktop/ScreenSaver");

private:
    void acquire();
    void release();
    void useX11();

    QDBusConnection m_bus;
    bool m_wanted = false;
    bool m_pending = false;   // an Inhibit call is on its way
    Method m_held = Method::None;
    uint m_cookie = 0;
    bool m_dbusFailed = false; // the service did not answer once: use X from then on
};

// The X screensaver extension's suspend on Qt's X connection (XScreenSaver.cpp).
// False when there is no X display or no extension.
bool suspendX11ScreenSaver(bool suspend);

} // namespace velmora
