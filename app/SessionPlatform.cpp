#include "SessionPlatform.h"

#include <QGuiApplication>

namespace velmora {

PlatformDecision decidePlatform(const SessionFacts &facts)
{
    PlatformDecision d;
    d.waylandSession = !facts.waylandDisplay.isEmpty();
    d.userChose = !facts.platformChoice.trimmed().isEmpty();
    if (d.waylandSession && !d.userChose && facts.xDisplay)
        d.setPlatform = QStringLiteral("xcb");
    return d;
}

QStringList platformReport(const PlatformDecision &decision, const QString &platformName)
{
    QStringList lines;
    if (!decision.waylandSession)
        return lines;
    const QString how = decision.userChose ? QStringLiteral(" as QT_QPA_PLATFORM asks") : QString();
    if (platformName == u"xcb") {
        lines << QStringLiteral("velmora: Wayland session: running on XWayland (Qt platform \"xcb\")%1").arg(how);
        lines << QStringLiteral("velmora: under XWayland the global keys see only what X programs receive; "
                                "media keys reach the player through MPRIS where the desktop offers it");
    } else if (platformName.startsWith(u"wayland")) {
        lines << QStringLiteral("velmora: Wayland session: running natively on Wayland (Qt platform \"%1\")%2")
                     .arg(platformName, how.isEmpty() ? QStringLiteral(", no X display") : how);
        lines << QStringLiteral("velmora: on Wayland the compositor places the windows, and the keyboard "
                                "shortcuts work only while a Velmora window has the focus");
    } else {
        lines << QStringLiteral("velmora: Wayland session: running on Qt platform \"%1\"%2").arg(platformName, how);
    }
    return lines;
}

PlatformDecision chooseSessionPlatform()
{
    SessionFacts facts;
    facts.waylandDisplay = qEnvironmentVariable("WAYLAND_DISPLAY");
    facts.platformChoice = qEnvironmentVariable("QT_QPA_PLATFORM");
    // Only worth a connection when the answer matters.
    if (!facts.waylandDisplay.isEmpty() && facts.platformChoice.trimmed().isEmpty())
        facts.xDisplay = xDisplayAnswers(qEnvironmentVariable("DISPLAY"));
    const PlatformDecision decision = decidePlatform(facts);
    if (!decision.setPlatform.isEmpty())
        qputenv("QT_QPA_PLATFORM", decision.setPlatform.toUtf8());
    return decision;
}

void reportSessionPlatform(const PlatformDecision &decision)
{
    for (const QString &line : platformReport(decision, QGuiApplication::platformName()))
        qInfo("%s", qPrintable(line));
}

} // namespace velmora
