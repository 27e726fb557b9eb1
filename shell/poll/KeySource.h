#pragma once
// Where the status poll reads the keyboard and mouse from.
//
// The poll asks, once per tick and per code, whether a key or mouse button
// "is down now or was pressed since the previous question about it". Answers
// come from the whole desktop where the platform lets us (X11), so the
// shortcuts work while another program has the focus; elsewhere they come
// from our own windows only.
//
// Three sources:
//   X11KeySource       XInput2 raw events on the root window plus the current
//                      key map and pointer state (shell/poll/X11KeySource.cpp);
//   WindowKeySource    key and mouse events of this application's windows;
//   ScriptedKeySource  driven by tests.
// createKeySource() picks the first that works and logs once when it has to
// fall back.
//
// All sources live on the UI thread.

#include <QObject>
#include <QSet>

#include <array>
#include <memory>

namespace velmora {

// The codes the poll reads, with the numbers the rest of the player knows them by.
enum class VirtualKey : int {
    LeftButton = 0x01,
    RightButton = 0x02,
    Enter = 0x0D,
    Space = 0x20,
    PageUp = 0x21,
    PageDown = 0x22,
    Home = 0x24,
    Left = 0x25,
    Right = 0x27,
    M = 0x4D,
    O = 0x4F,
    P = 0x50,
    KeypadPlus = 0x6B,
    KeypadMinus = 0x6D,
    F1 = 0x70,
    F4 = 0x73,
};

// The sixteen codes in the order the poll samples them.
inline constexpr std::array<VirtualKey, 16> PolledKeys{
    VirtualKey::PageDown, VirtualKey::PageUp, VirtualKey::Home, VirtualKey::Left,
    VirtualKey::Right, VirtualKey::Enter, VirtualKey::O, VirtualKey::F1,
    VirtualKey::P, VirtualKey::F4, VirtualKey::Space, VirtualKey::KeypadPlus,
    VirtualKey::KeypadMinus, VirtualKey::M, VirtualKey::LeftButton, VirtualKey::RightButton,
};

struct KeySample
{
    // Down now, or pressed at least once since the previous sample of this code.
    bool pressed = false;
    // Down at the moment of the sample (a key held since earlier presses).
    bool down = false;
    // Of those presses (and the current down state), at least one happened
    // with no Alt key held. Alt+F4 belongs to the window manager.
    bool withoutAlt = false;
};

class KeySource
{
public:
    virtual ~KeySource() = default;
    // Answers for one code and forgets the presses it reported.
    virtual KeySample sample(VirtualKey key) = 0;
    // A short name for the log ("x11", "windows", "scripted").
    virtual const char *name() const = 0;
};

// Reads events of this application's own windows: works everywhere, but only
// while one of our windows has the focus (keys) or is under the mouse (buttons).
class WindowKeySource final : public QObject, public KeySource
{
    Q_OBJECT
public:
    WindowKeySource();
    ~WindowKeySource() override;
    KeySample sample(VirtualKey key) override;
    const char *name() const override { return "windows"; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void press(int code, bool alt);
    void release(int code);

    QSet<int> m_down;            // codes held now
    QSet<int> m_pressed;         // codes pressed since their last sample
    QSet<int> m_pressedPlain;    // ... of which at least once without Alt
    bool m_altDown = false;
};

// For tests: the test says what is held and what was tapped.
class ScriptedKeySource final : public KeySource
{
public:
    // A short press: seen by the next sample of this code, then forgotten.
    void tap(VirtualKey key, bool withAlt = false);
    // Held keys stay pressed at every sample until released.
    void hold(VirtualKey key, bool withAlt = false);
    void release(VirtualKey key);
    void releaseAll();

    KeySample sample(VirtualKey key) override;
    const char *name() const override { return "scripted"; }

    // Every code sampled, in order, since the last clear.
    QList<VirtualKey> sampled;

private:
    QSet<int> m_held;
    QSet<int> m_heldPlain;
    QSet<int> m_tapped;
    QSet<int> m_tappedPlain;
};

// The X11 source when the application runs on X11 and XInput2 is there,
// else nullptr (defined in X11KeySource.cpp).
std::unique_ptr<KeySource> createX11KeySource();

// The best source for this session: X11 if possible, else WindowKeySource
// (logged once).
std::unique_ptr<KeySource> createKeySource();

} // namespace velmora
