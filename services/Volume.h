#pragma once
// The volume slider and the mute buttons' actions, for the control panel.
//
// Volume is the system's master volume (mixer slot 0) in percent on a slider
// with maximum 100; mute is the engine's own Mute property.
//
// UI thread only.

class QSlider;

namespace velmora {

class DvdEngine;

// Panel start-up: opens mixer device 0, sets the wave output to its top,
// sets the slider's maximum to 100 and its value to the master volume.
void startVolume(QSlider &slider);
// Sends every change of the slider's value to the master volume.
void connectVolumeSlider(QSlider &slider);
// Volup (+10) and VolDown (-10): changes the slider by delta (the slider
// keeps it within 0..100) and sends the value read back from it.
void stepVolume(QSlider &slider, int delta);
// Mute / MuteOff clicks: engine Mute := mute; a refusal is ignored.
void setEngineMute(DvdEngine *engine, bool mute);

} // namespace velmora
