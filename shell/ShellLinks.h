#pragma once
// The shell's links to the other subsystems: commands, menu form, status
// poll, services. The shell calls them through here so its windows need not
// include each subsystem's headers.

#include <QString>

class QWidget;
class QLabel;

namespace velmora {

class Form6;
class Form4;
class DvdEngine;

// Clicks of the panel's and the video window's buttons to their commands.
void connectPanelCommands(Form6 &panel);
void connectVideoCommands(Form4 &video);
// Timer1 / Timer2 ticks to the status poll.
void connectPanelTimers(Form6 &panel);

// The menu form's popup, as owner's context menu.
void popupContextMenu(QWidget *owner);
// The program's one way out (the menu form's exit routine).
void exitProgram();
// True when the menu's "show subtitles" item is checked.
bool subtitlesWanted();

// Lets window take dropped disc folders and images (they play at once).
void linkDiscDrops(QWidget *window);

// Lets the folder chooser rebuild the video window (unload, load, show).
void installVideoWindowRebuilder();

// Moves a borderless window with the mouse while the left button is held.
void dragWindow(QWidget *window);

// Mixer; false or 0 when the mixer refuses.
bool mixerInit(int device);
bool mixerSetVolume(int slot, int percent);
int mixerGetVolume(int slot);

// Engine Mute := mute on the video window's engine; refusals ignored.
void setEngineMute(bool mute);

// The saved DVD folder (empty when none).
QString savedDvdDirectory();
// Scratch folders and drive mapping.
void createVirtualDrive();
// Subtitle and audio captions.
void describeSubtitle(DvdEngine &engine, QLabel &label);
void describeAudio(DvdEngine &engine, QLabel &label);

} // namespace velmora
