#pragma once
// Which Qt platform the player runs on, decided before the application object
// exists.
//
// The panel and the video window open at places the player chooses, are
// moved by dragging, and the shortcuts are read from the whole desktop. A
// native Wayland client can do none of that: the compositor places its
// windows and no program sees keys meant for another. So on a Wayland
// session with an X display (XWayland) the player runs on X (Qt's "xcb")
// unless the user chose a platform with QT_QPA_PLATFORM. Without an X
// display it runs natively and says what is limited there.
//
// Main thread, before and right after QApplication is created.

#include <QString>
#include <QStringList>

namespace velmora {

// What start-up knows of the session.
struct SessionFacts
{
    QString waylandDisplay;  // WAYLAND_DISPLAY
    QString platformChoice;  // QT_QPA_PLATFORM as the user set it
    bool xDisplay = false;   // an X server answers on DISPLAY
};

struct PlatformDecision
{
    bool waylandSession = false;
    bool userChose = false;
    // The value to put into QT_QPA_PLATFORM, or "" to leave it alone.
    QString setPlatform;
};

PlatformDecision decidePlatform(const SessionFacts &facts);

// The log lines for a decision once Qt runs on platformName ("xcb",
// "wayland", ...). Empty outside Wayland sessions: nothing to say there.
QStringList platformReport(const PlatformDecision &decision, const QString &platformName);

// Reads the environment, decides and sets QT_QPA_PLATFORM when called for.
PlatformDecision chooseSessionPlatform();
// Logs platformReport for the running application, once.
void reportSessionPlatform(const PlatformDecision &decision);

// True when an X server accepts a connection on display (XDisplayProbe.cpp).
bool xDisplayAnswers(const QString &display);

} // namespace velmora
