#pragma once
// The popup menu's stream choices: "音轨" lists the audio streams and "字幕"
// the subtitle streams of what is on screen, one entry per stream the engine
// counts, as "1: English (AC-3 5.1)" (number from 1, language, coding and
// channel layout when the engine knows them). The current stream is checked;
// a stream the current program chain does not carry is greyed. "字幕" starts
// with "关闭" (subtitles off), checked while subtitle display is off or no
// subtitle is shown.
//
// The entries are rebuilt from the engine each time a submenu opens. UI
// thread only; engine refusals leave the menu empty (or with "关闭" only).

#include <QString>

class QMenu;

namespace velmora {

class DvdEngine;

// "1: English (AC-3 5.1)"; without a format "1: English".
QString audioEntryText(int stream, const QString &language, const QString &format);

// Rebuilds the entries of the two submenus from engine.
void fillAudioMenu(QMenu &menu, DvdEngine &engine);
void fillSubtitleMenu(QMenu &menu, DvdEngine &engine, bool displayOn);

// The commands behind the entries. SelectAudio picks the engine's audio
// stream; SelectSubtitle(n) turns subtitle display on and picks stream n,
// SelectSubtitle(-1) turns display off as unchecking "显示副标题" does. Both
// refresh the information box's stream captions; refusals are ignored.
void SelectAudio(int stream);
void SelectSubtitle(int stream);

} // namespace velmora
