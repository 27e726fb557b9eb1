// The desktop-wide key source on X11.
//
// A private connection to the same display selects XInput2 raw key and button
// events on the root window for all master devices: they arrive whatever
// window has the focus, also while a popup menu of ours holds the grab, so a
// tap between two ticks is never lost. What is held across ticks is read from
// the server's key map and pointer state at each sample.
//
// Xlib's macros (KeyPress, None, Bool, ...) clash with Qt's names, so every
// Qt header comes first and nothing of Xlib leaves this file.

#include "KeySource.h"

#include <QGuiApplication>
#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XInput2.h>

#include <memory>
#include <vector>

namespace velmora {

namespace {

struct KeyBinding
{
    VirtualKey key;
    KeySym sym;
};

// Keypad + and - are the keypad keys only; Enter is either Return key.
constexpr KeyBinding KeyBindings[] = {
    {VirtualKey::PageDown, XK_Next},
    {VirtualKey::PageUp, XK_Prior},
    {VirtualKey::Home, XK_Home},
    {VirtualKey::Left, XK_Left},
    {VirtualKey::Right, XK_Right},
    {VirtualKey::Enter, XK_Return},
    {VirtualKey::Enter, XK_KP_Enter},
    {VirtualKey::O, XK_o},
    {VirtualKey::F1, XK_F1},
    {VirtualKey::P, XK_p},
    {VirtualKey::F4, XK_F4},
    {VirtualKey::Space, XK_space},
    {VirtualKey::KeypadPlus, XK_KP_Add},
    {VirtualKey::KeypadMinus, XK_KP_Subtract},
    {VirtualKey::M, XK_m},
};

constexpr KeySym AltSyms[] = {XK_Alt_L, XK_Alt_R, XK_Meta_L, XK_Meta_R};

struct DisplayCloser
{
    void operator()(Display *d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

bool keyDown(const char keys[32], KeyCode kc)
{
    return (static_cast<unsigned char>(keys[kc / 8]) >> (kc % 8)) & 1;
}

class X11KeySource final : public KeySource
{
public:
    X11KeySource(DisplayPtr display, int xiOpcode)
        : m_display(std::move(display)), m_xiOpcode(xiOpcode)
    {
        Display *d = m_display.get();
        for (const KeyBinding &b : KeyBindings) {
            if (const KeyCode kc = XKeysymToKeycode(d, b.sym))
                m_codeOfKeycode.insert(kc, static_cast<int>(b.key));
        }
        for (KeySym sym : AltSyms) {
            if (const KeyCode kc = XKeysymToKeycode(d, sym))
                m_altKeycodes.push_back(kc);
        }
        m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(d), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { drain(); });
        char keys[32];
        XQueryKeymap(d, keys);
        m_altHeld = altIn(keys);
    }

    KeySample sample(VirtualKey key) override
    {
        drain();
        Display *d = m_display.get();
        const int c = static_cast<int>(key);
        bool downNow = false;
        char keys[32];
        XQueryKeymap(d, keys);
        const bool altNow = altIn(keys);
        // Resynchronise, should a release have gone unreported.
        if (!altNow)
            m_altHeld = false;
        if (key == VirtualKey::LeftButton || key == VirtualKey::RightButton) {
            Window root = 0;
            Window child = 0;
            int rx = 0, ry = 0, wx = 0, wy = 0;
            unsigned int mask = 0;
            XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
            downNow = mask & (key == VirtualKey::LeftButton ? Button1Mask : Button3Mask);
        } else {
            for (auto it = m_codeOfKeycode.cbegin(); it != m_codeOfKeycode.cend(); ++it) {
                if (it.value() == c && keyDown(keys, static_cast<KeyCode>(it.key())))
                    downNow = true;
            }
        }
        // The replies above may have carried raw events into Xlib's queue,
        // where the socket notifier never sees them: latch them now, not a
        // tick later.
        drain();
        KeySample s;
        s.pressed = downNow || m_pressed.contains(c);
        s.down = downNow;
        s.withoutAlt = (downNow && !altNow) || m_pressedPlain.contains(c);
        m_pressed.remove(c);
        m_pressedPlain.remove(c);
        return s;
    }

    const char *name() const override { return "x11"; }

private:
    bool altIn(const char keys[32]) const
    {
        for (KeyCode kc : m_altKeycodes) {
            if (keyDown(keys, kc))
                return true;
        }
        return false;
    }

    void latch(int c)
    {
        m_pressed.insert(c);
        if (!m_altHeld)
            m_pressedPlain.insert(c);
    }

    // Reads every event the server has sent; only raw key and button events matter.
    void drain()
    {
        Display *d = m_display.get();
        while (XPending(d) > 0) {
            XEvent ev;
            XNextEvent(d, &ev);
            XGenericEventCookie *cookie = &ev.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != m_xiOpcode
                || !XGetEventData(d, cookie))
                continue;
            const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
            const int detail = raw->detail;
            switch (cookie->evtype) {
            case XI_RawKeyPress:
                if (isAlt(detail))
                    m_altHeld = true;
                else if (m_codeOfKeycode.contains(detail))
                    latch(m_codeOfKeycode.value(detail));
                break;
            case XI_RawKeyRelease:
                if (isAlt(detail))
                    m_altHeld = false;
                break;
            case XI_RawButtonPress:
                if (detail == 1)
                    latch(static_cast<int>(VirtualKey::LeftButton));
                else if (detail == 3)
                    latch(static_cast<int>(VirtualKey::RightButton));
                break;
            default:
                break;
            }
            XFreeEventData(d, cookie);
        }
    }

    bool isAlt(int keycode) const
    {
        for (KeyCode kc : m_altKeycodes) {
            if (kc == keycode)
                return true;
        }
        return false;
    }

    DisplayPtr m_display;
    int m_xiOpcode;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<int, int> m_codeOfKeycode;   // X keycode -> poll code
    std::vector<KeyCode> m_altKeycodes;
    bool m_altHeld = false;            // as last reported by raw events
    QSet<int> m_pressed;
    QSet<int> m_pressedPlain;
};

} // namespace

std::unique_ptr<KeySource> createX11KeySource()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display())
        return nullptr;
    // Our own connection, so the raw events never reach Qt's event handling.
    DisplayPtr display(XOpenDisplay(DisplayString(x11->display())));
    if (!display)
        return nullptr;
    Display *d = display.get();
    int opcode = 0;
    int firstEvent = 0;
    int firstError = 0;
    if (!XQueryExtension(d, "XInputExtension", &opcode, &firstEvent, &firstError))
        return nullptr;
    // 2.1 or later: raw events then reach the root window also while another
    // client (the window manager's Alt+F4, a popup menu) holds a grab.
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(d, &major, &minor) != Success || (major == 2 && minor < 1))
        return nullptr;

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
    XSync(d, False);
    return std::make_unique<X11KeySource>(std::move(display), opcode);
}

} // namespace velmora
