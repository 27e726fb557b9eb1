// Xlib stays in this file: its macros clash with Qt's names.
#include "SessionPlatform.h"

#include <X11/Xlib.h>

namespace velmora {

bool xDisplayAnswers(const QString &display)
{
    if (display.isEmpty())
        return false;
    Display *d = XOpenDisplay(display.toLocal8Bit().constData());
    if (!d)
        return false;
    XCloseDisplay(d);
    return true;
}

} // namespace velmora
