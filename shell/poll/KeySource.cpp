#include "KeySource.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMouseEvent>

namespace velmora {

namespace {

int code(VirtualKey key) { return static_cast<int>(key); }

// The poll's code for a key event of our own windows, or 0.
int codeOfKeyEvent(const QKeyEvent &event)
{
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    switch (event.key()) {
    case Qt::Key_PageDown: return code(VirtualKey::PageDown);
    case Qt::Key_PageUp: return code(VirtualKey::PageUp);
    case Qt::Key_Home: return code(VirtualKey::Home);
    case Qt::Key_Left: return code(VirtualKey::Left);
    case Qt::Key_Right: return code(VirtualKey::Right);
    case Qt::Key_Return:
    case Qt::Key_Enter: return code(VirtualKey::Enter);
    case Qt::Key_O: return code(VirtualKey::O);
    case Qt::Key_F1: return code(VirtualKey::F1);
    case Qt::Key_P: return code(VirtualKey::P);
    case Qt::Key_F4: return code(VirtualKey::F4);
    case Qt::Key_Space: return code(VirtualKey::Space);
    case Qt::Key_M: return code(VirtualKey::M);
    // Only the keypad's + and - change the volume.
    case Qt::Key_Plus: return keypad ? code(VirtualKey::KeypadPlus) : 0;
    case Qt::Key_Minus: return keypad ? code(VirtualKey::KeypadMinus) : 0;
    default: return 0;
    }
}

int codeOfButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return code(VirtualKey::LeftButton);
    case Qt::RightButton: return code(VirtualKey::RightButton);
    default: return 0;
    }
}

} // namespace

// ---- WindowKeySource ----

WindowKeySource::WindowKeySource()
{
    qApp->installEventFilter(this);
}

WindowKeySource::~WindowKeySource()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

void WindowKeySource::press(int c, bool alt)
{
    m_down.insert(c);
    m_pressed.insert(c);
    if (!alt)
        m_pressedPlain.insert(c);
}

void WindowKeySource::release(int c)
{
    m_down.remove(c);
}

bool WindowKeySource::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Alt || key->key() == Qt::Key_Meta)
            m_altDown = event->type() == QEvent::KeyPress;
        if (key->isAutoRepeat())
            break;
        if (const int c = codeOfKeyEvent(*key)) {
            if (event->type() == QEvent::KeyPress)
                press(c, m_altDown || key->modifiers().testFlag(Qt::AltModifier));
            else
                release(c);
        }
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (const int c = codeOfButton(static_cast<QMouseEvent *>(event)->button()))
            press(c, m_altDown);
        break;
    case QEvent::MouseButtonRelease:
        if (const int c = codeOfButton(static_cast<QMouseEvent *>(event)->button()))
            release(c);
        break;
    case QEvent::ApplicationDeactivate:
        // Releases go to whoever has the focus now; forget what we think is held.
        m_down.clear();
        m_altDown = false;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

KeySample WindowKeySource::sample(VirtualKey key)
{
    const int c = code(key);
    KeySample s;
    const bool downNow = m_down.contains(c);
    s.pressed = downNow || m_pressed.contains(c);
    s.down = downNow;
    s.withoutAlt = (downNow && !m_altDown) || m_pressedPlain.contains(c);
    m_pressed.remove(c);
    m_pressedPlain.remove(c);
    return s;
}

// ---- ScriptedKeySource ----

void ScriptedKeySource::tap(VirtualKey key, bool withAlt)
{
    m_tapped.insert(code(key));
    if (!withAlt)
        m_tappedPlain.insert(code(key));
}

void ScriptedKeySource::hold(VirtualKey key, bool withAlt)
{
    m_held.insert(code(key));
    if (withAlt)
        m_heldPlain.remove(code(key));
    else
        m_heldPlain.insert(code(key));
}

void ScriptedKeySource::release(VirtualKey key)
{
    m_held.remove(code(key));
    m_heldPlain.remove(code(key));
}

void ScriptedKeySource::releaseAll()
{
    m_held.clear();
    m_heldPlain.clear();
}

KeySample ScriptedKeySource::sample(VirtualKey key)
{
    const int c = code(key);
    sampled.append(key);
    KeySample s;
    s.pressed = m_held.contains(c) || m_tapped.contains(c);
    s.down = m_held.contains(c);
    s.withoutAlt = m_heldPlain.contains(c) || m_tappedPlain.contains(c);
    m_tapped.remove(c);
    m_tappedPlain.remove(c);
    return s;
}

// ---- Choice of source ----

std::unique_ptr<KeySource> createKeySource()
{
    if (auto x11 = createX11KeySource())
        return x11;
    qInfo("velmora: no X11 input here (platform \"%s\"): keyboard shortcuts and "
          "full-screen clicks work only while a Velmora window has them",
          qPrintable(QGuiApplication::platformName()));
    return std::make_unique<WindowKeySource>();
}

} // namespace velmora
