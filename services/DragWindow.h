#pragma once
// Moving a borderless window by dragging anywhere on it.
//
// Call DragWindow from a mouse-move handler while the left button is held:
// the window of form then follows the mouse until the button is released.
// It asks the window manager for the move (QWindow::startSystemMove) and,
// where that is refused (no window manager, or one without the move
// protocol), moves the window by the mouse's own deltas until the release.
// Does nothing when the left button is not down, and calling it again while a
// drag of the same window runs changes nothing. Returns at once.

class QWidget;

namespace velmora {

void DragWindow(QWidget *form);

} // namespace velmora
