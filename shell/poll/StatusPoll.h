#pragma once
// The control panel's periodic poll.
//
// Timer1 (every 500 ms) runs Timer1_Timer: it samples the sixteen keys and
// mouse buttons of KeySource.h, runs the keyboard shortcuts, pops up the menu
// and brings the control panel forward in full screen, mirrors the menu's
// check marks onto the engine and the information box and the engine's mute
// state onto the mute buttons. Every step runs on every tick, in a fixed
// order, each under its own error trap, so several actions can fire in one
// tick and a refused engine call never stops the rest. F4 (without Alt) ends
// the program and with it the tick.
//
// Keys typed into the player's own text entries are text, not shortcuts:
// while one has the focus, and for what was pressed before it lost the focus,
// the text-editing keys are dropped (F1, F4 and the keypad's + and - still
// act); so is O while a folder browser is open. A dropped key stays dropped
// until it is released (TextEntryFocus.h).
//
// Timer2 (every 3000 ms) runs Timer2_Timer: in full screen it hands the
// keyboard focus back to the video.
//
// Both run on the UI thread; the control panel connects its timers to them.

#include "KeySource.h"

#include <memory>

namespace velmora {

void Timer1_Timer();
void Timer2_Timer();

// The key source the poll reads. Created on first use by createKeySource();
// tests install a ScriptedKeySource before the first tick.
KeySource &keySource();
void setKeySource(std::unique_ptr<KeySource> source);

} // namespace velmora
