#pragma once
// The transport and open commands of the control panel (Form6) and the video
// window (Form4), one handler per control, named after the control. The
// windows connect their buttons' clicked signals to these; the menu form's
// items (Res.h) and the status poll reach the same commands.
//
// Every handler runs its steps through an ErrorTrap: engine refusals are
// skipped (or end the toggle); only the play commands report, and only the
// "no decoder" and "no interface" codes, each in a critical message box.

#include <QString>
#include <QStringList>

class QObject;

#include <functional>
#include <optional>

namespace velmora {

// ---- Control panel (Form6) ----
void Playi_Click();     // Play, reports under "Error"
void Pausei_Click();    // Pause
void Stopi_Click();     // Stop, folder setting read under "DEV Udovezo"
void Previ_Click();     // previous chapter through the video window's Previ
void Nexti_Click();     // next chapter through the video window's Nexti
void FBi_Click();       // fast rewind at 32X
void FFi_Click();       // fast forward at 32X
void Ejecti_Click();    // eject
void Op_Click();        // open folder, English prompt
void Picture1_Click();  // minimise: hide the video window, minimise the panel
void Picture2_Click();  // full screen on/off
void Picture3_Click();  // exit
void PlayT_Click();     // replay the recorded folder (hidden button)
void Pause_Click();     // play/pause toggle on the panel's own marker (hidden button)

// ---- Video window (Form4) ----
void Form4_Picture1_Click(); // minimise: minimise the panel, hide the video window
void Form4_Picture2_Click(); // full screen on/off
void Form4_Picture3_Click(); // exit
void Form4_Play_Click();     // Play, reports under "错误" (hidden button)
void Form4_Pause_Click();    // play/pause toggle on the video window's marker (hidden button)
// The video window's chapter routines, which the panel's Nexti and Previ call.
void Form4_Nexti();
void Form4_Previ();

// ---- Play/pause markers ----
// The Tag text of a hidden Pause button: "0" playing, "1" paused, "" before
// the first play. Kept as the button's "Tag" property.
QString Tag(const QObject *button);
void setTag(QObject *button, const QString &text);

// ---- Shared commands (also used by the menu form and the poll) ----
void PlayDisc();                                 // menu "播放"
void StopCommand(const QString &applicationName); // Stop, reading the folder setting under that name
void OpenFolder(const QString &prompt);          // browse, then hand the folder to the chooser
void FastForward(double speed);
void FastRewind(double speed);
void PauseCommand();                             // engine Pause, refusals ignored
void NextChapter();                              // engine PlayNextChapter, refusals ignored
void PrevChapter();                              // engine PlayPrevChapter, refusals ignored
void ShowDiscMenu(int menu);                     // engine ShowMenu(menu), refusals ignored

// The prompts of the folder browser.
inline const QString OpenPromptEnglish = QStringLiteral("Select a folder with DVD files (*.VOB, *.IFO)");
inline const QString OpenPromptChinese = QStringLiteral("请选择DVD的文件路径 (*.VOB, *.IFO)");
// The two application names the folder setting is read under.
inline const QString SettingsApp = QStringLiteral("DEV Udovezo");
inline const QString MenuStopSettingsApp = QStringLiteral("Devizazor IZO dariruz");

// ---- Error reports ----
// Shows a modal critical message box with one OK button; an empty title means
// the application's default title. Replaceable so tests can record the boxes.
using MessageBoxFunction = std::function<void(const QString &text, const QString &title)>;
void setMessageBoxFunction(MessageBoxFunction show); // nullptr restores the default
void showCriticalMessage(const QString &text, const QString &title);

// ---- Command line ----
// args: the arguments after the program's name. May be called before the
// QApplication exists, so that --help and --version need no display.
// --help and --version print their answer and return the exit status the
// program ends with; an unknown option prints the usage to stderr and returns
// 2, as does a PATH that is an address other than dvd:// or file://.
// Otherwise returns nothing and, when a PATH is given, plays it through
// openAndPlay (OpenAndPlay.h) once the event loop runs.
std::optional<int> handleCommandLine(const QStringList &args);
// The PATH of the last handleCommandLine as a local path ("" for the drive),
// or nothing when none was given.
std::optional<QString> commandLinePath();

} // namespace velmora
