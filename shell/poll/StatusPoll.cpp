#include "StatusPoll.h"

#include "commands/Commands.h"
#include "commands/Res.h"
#include "engine/DvdEngine.h"
#include "engine/ErrorTrap.h"
#include "services/AboutHelp.h"
#include "services/FolderChooser.h"
#include "shell/Form4.h"
#include "shell/Form6.h"
#include "shell/Forms.h"
#include "widgets/ImageButton.h"
#include "widgets/ProgressBar.h"
#include "TextEntryFocus.h"

#include <QApplication>
#include <QSet>
#include <QTimer>

#include <array>

namespace velmora {

namespace {

std::unique_ptr<KeySource> &source()
{
    static std::unique_ptr<KeySource> instance;
    return instance;
}

DvdEngine &engine()
{
    DvdEngine *dvd = form4().DVD;
    if (!dvd)
        throw EngineError(ErrorCode::NoInterface, QStringLiteral("the video window has no engine"));
    return *dvd;
}

// Window state 2: full screen counts as maximized.
bool videoMaximized()
{
    return form4().WindowState() == 2;
}

// One tick's inputs, indexed in the order of PolledKeys.
struct Inputs
{
    std::array<KeySample, PolledKeys.size()> samples;

    const KeySample &operator[](VirtualKey key) const
    {
        for (std::size_t i = 0; i < PolledKeys.size(); ++i) {
            if (PolledKeys[i] == key)
                return samples[i];
        }
        static const KeySample none;
        return none;
    }
    bool pressed(VirtualKey key) const { return (*this)[key].pressed; }
};

// The keys that edit text. While a text entry of ours has the focus they are
// typing, not shortcuts; F1, F4 and the keypad's + and - still act.
bool editsText(VirtualKey key)
{
    switch (key) {
    case VirtualKey::PageDown:
    case VirtualKey::PageUp:
    case VirtualKey::Home:
    case VirtualKey::Left:
    case VirtualKey::Right:
    case VirtualKey::Enter:
    case VirtualKey::O:
    case VirtualKey::P:
    case VirtualKey::Space:
    case VirtualKey::M:
        return true;
    default:
        return false;
    }
}

// Drops the presses that belong to our own text entries and folder browser.
//
// A tick sees what was pressed since the previous one, so the question is
// whether a text entry had the focus at any moment in between, not only now:
// "o" typed and the field closed between two ticks is still typing. The same
// for O and a folder browser. A key dropped this way stays dropped while it
// is held, so a key held across a dialog's closing does not fire afterwards.
class TypingFilter
{
public:
    void apply(Inputs &in)
    {
        const TextEntryFocus &focus = TextEntryFocus::instance();
        const bool typing = focus.active() || focus.changes() != m_focusSeen;
        const bool browsing = folderBrowserOpen() || folderBrowserChanges() != m_browserSeen;
        m_focusSeen = focus.changes();
        m_browserSeen = folderBrowserChanges();
        for (std::size_t i = 0; i < PolledKeys.size(); ++i) {
            const VirtualKey key = PolledKeys[i];
            const int code = static_cast<int>(key);
            KeySample &s = in.samples[i];
            if ((typing && editsText(key)) || (browsing && key == VirtualKey::O)) {
                if (s.pressed)
                    m_held.insert(code);
                s = KeySample{};
            } else if (m_held.contains(code)) {
                // Still held since it was dropped: still dropped. Released:
                // what the sample reports is a new press.
                if (s.down)
                    s = KeySample{};
                else
                    m_held.remove(code);
            }
        }
    }

private:
    std::uint64_t m_focusSeen = 0;
    std::uint64_t m_browserSeen = 0;
    QSet<int> m_held; // dropped codes not yet seen released
};

} // namespace

KeySource &keySource()
{
    if (!source())
        source() = createKeySource();
    TextEntryFocus::instance(); // follows the focus from now on
    return *source();
}

void setKeySource(std::unique_ptr<KeySource> s)
{
    source() = std::move(s);
    TextEntryFocus::instance();
}

void Timer1_Timer()
{
    using Mode = ErrorTrap::Mode;
    ErrorTrap trap(Mode::SkipAndContinue);

    // 1. Sample every input, in table order.
    Inputs in;
    KeySource &keys = keySource();
    for (std::size_t i = 0; i < PolledKeys.size(); ++i)
        in.samples[i] = keys.sample(PolledKeys[i]);
    static TypingFilter typing;
    typing.apply(in);

    // 2. Full screen: the menu for a right click anywhere.
    trap.run([&] {
        if (videoMaximized() && in.pressed(VirtualKey::RightButton))
            res().PopupMenu(&form6());
    });
    // 3. Full screen: a left click anywhere brings the panel forward; Timer2
    //    hands the focus back to the video later.
    trap.run([&] {
        if (videoMaximized() && in.pressed(VirtualKey::LeftButton)) {
            Form6 &panel = form6();
            panel.raise();
            panel.activateWindow();
            panel.setFocus();
            if (!panel.Timer2->isActive())
                panel.Timer2->start();
        }
    });
    // 4. The information box follows its menu mark.
    trap.run([] { form4().ds->setVisible(res().mnuinfo->isChecked()); });
    // 5. Subtitles follow their menu mark (also after a disc menu turned them on).
    trap.run([] { engine().setShowSubtitles(res().mnuDS->isChecked()); });
    // 6. Page Down.
    if (in.pressed(VirtualKey::PageDown))
        trap.run([] { engine().PlayForwards(32.0); });
    // 7. P.
    if (in.pressed(VirtualKey::P))
        trap.run([] { engine().Pause(); });
    // 8. The mute buttons mirror the engine.
    trap.run([] {
        const bool muted = engine().Mute();
        Form6 &panel = form6();
        panel.Mute->setVisible(!muted);
        panel.MuteOff->setVisible(muted);
    });
    // 9. F4 ends the program, and with it this tick. Alt+F4 is the window
    //    manager's "close window" for whatever window has the focus: it must
    //    not end the player when it closes another program's window.
    const KeySample &f4 = in[VirtualKey::F4];
    if (f4.pressed && f4.withoutAlt)
        res().clso();
    // 10. Home: full screen on/off.
    if (in.pressed(VirtualKey::Home))
        trap.run([] { res().fs(); });
    // 11. Page Up.
    if (in.pressed(VirtualKey::PageUp))
        trap.run([] { engine().PlayBackwards(32.0); });
    // 12. F1.
    if (in.pressed(VirtualKey::F1))
        trap.run([] { showHelp(&form6()); });
    // 13, 14. Left and Right arrows.
    if (in.pressed(VirtualKey::Left))
        trap.run([] { engine().PlayPrevChapter(); });
    if (in.pressed(VirtualKey::Right))
        trap.run([] { engine().PlayNextChapter(); });
    // 15. M.
    if (in.pressed(VirtualKey::M))
        trap.run([] { engine().setMute(!engine().Mute()); });
    // 16. Enter.
    if (in.pressed(VirtualKey::Enter))
        trap.run([] { engine().Play(); });
    // 17, 18. Keypad + and -.
    if (in.pressed(VirtualKey::KeypadPlus))
        trap.run([] { form6().Volup(); });
    if (in.pressed(VirtualKey::KeypadMinus))
        trap.run([] { form6().VolDown(); });
    // 19. Space: stop, and the seek bar back to its start.
    if (in.pressed(VirtualKey::Space)) {
        trap.run([] { engine().Stop(); });
        trap.run([] { form6().Seek->setValue(1); });
    }
    // 20. O: open a folder as the panel's Op button does. Not over another
    //    modal dialog; an open folder browser already dropped O above.
    if (in.pressed(VirtualKey::O) && !QApplication::activeModalWidget())
        OpenFolder(OpenPromptEnglish);
}

void Timer2_Timer()
{
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    trap.run([] {
        if (!videoMaximized())
            return;
        engine().SetFocus();
        // The focus only counts in the active window: bring the video window
        // back in front of the panel that a click raised.
        Form4 &video = form4();
        video.raise();
        video.activateWindow();
    });
}

} // namespace velmora
