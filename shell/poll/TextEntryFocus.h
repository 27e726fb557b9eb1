#pragma once
// Whether the keyboard focus is in one of the player's own text entries.
//
// The shortcuts are global, but a key typed into a text field of ours (the
// folder browser's path field, the folder chooser's path box) is text, not a
// command. The status poll asks two things once per tick: is a text entry
// focused now, and did the focus enter or leave one since the previous tick
// (changes() moved) — a key typed there and a field closed between two ticks
// must not fire on the next one.
//
// UI thread only. Created on first use; it follows QApplication::focusChanged,
// which also reports the focus leaving the application.

#include <QObject>

#include <cstdint>

class QWidget;

namespace velmora {

class TextEntryFocus final : public QObject
{
    Q_OBJECT
public:
    static TextEntryFocus &instance();

    // A text entry of ours has the keyboard focus (the application is active).
    bool active() const { return m_active; }
    // Moves every time the focus enters or leaves a text entry.
    std::uint64_t changes() const { return m_changes; }

    // Widgets that take typed text: editable line, text and plain-text edits,
    // spin boxes and editable combo boxes.
    static bool isTextEntry(const QWidget *widget);

private:
    TextEntryFocus();
    void update(QWidget *now);

    bool m_active = false;
    std::uint64_t m_changes = 0;
};

} // namespace velmora
