// Xlib stays in this file: its macros clash with Qt's names.
#include "ScreenSaverInhibitor.h"

#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace velmora {

bool suspendX11ScreenSaver(bool suspend)
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return false;
    int event = 0;
    int error = 0;
    if (!XScreenSaverQueryExtension(display, &event, &error))
        return false;
    XScreenSaverSuspend(display, suspend ? True : False);
    XFlush(display);
    return true;
}

} // namespace velmora
