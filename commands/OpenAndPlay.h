#pragma once
// Opening a path from outside the player: the command line, a later start of
// the program, a drop on either window, a desktop's "open with" request.
//
// Each of them names a path (or a dvd:// or file:// address) and expects it
// to play at once, the way a folder confirmed in the folder chooser plays:
// recorded as registry value "DVD", video window rebuilt, the new engine's
// DVDDirectory set, Play. A path that holds no DVD shows
// "Not a DVD folder or image: PATH" in the video window and changes nothing.
//
// UI thread only, except the two pure functions at the top, which touch no
// window and may run before the application object exists.

#include <QString>
#include <optional>

class QWidget;

namespace velmora {

// What the command line or a file manager hands over, as a local path:
//  - "dvd:///dev/sr0" -> "/dev/sr0"; "dvd://" and "dvd:" -> "" (the drive);
//  - "file:///a/b%20c" -> "/a/b c" (a host other than localhost is refused);
//  - a plain path -> that path made absolute against the current folder.
// Any other address (http://..., smb://...) and a malformed one return
// nothing, with a one-line reason in *error when error is given.
std::optional<QString> localPathFromArgument(const QString &argument, QString *error = nullptr);

// The source the engine should open for path, or nothing when path holds no
// DVD. Accepted, case-insensitively as libdvdread reads them:
//  - "" (the disc in the drive) and a block device;
//  - a disc folder (one holding VIDEO_TS/VIDEO_TS.IFO) -> itself;
//  - a VIDEO_TS folder holding VIDEO_TS.IFO -> itself;
//  - a .IFO, .BUP or .VOB file inside such a VIDEO_TS folder -> that folder;
//  - a file with an ISO 9660 or UDF volume descriptor at sector 16 (an image,
//    whatever its name ends with) -> itself.
// Reads at most one 2048-byte sector; never blocks on anything but the file
// system.
std::optional<QString> dvdSourceFor(const QString &path);

// The message shown for a path that holds no DVD.
QString notADvdMessage(const QString &path);

// Plays path (already local, see localPathFromArgument) as a confirmed
// folder. When path holds no DVD, shows notADvdMessage(path) in the video
// window, changes nothing and returns false. Also false when the engine
// refuses the source (it says why on its own picture). Never throws.
bool openAndPlay(const QString &path);

// Brings the player to the front: restores the minimised panel, shows both
// windows and asks the window manager to activate them.
void bringPlayerToFront();

// Lets window take drops of disc folders, VIDEO_TS folders, images and
// .IFO/.VOB files; a drop runs openAndPlay on the first dropped path.
void acceptDiscDrops(QWidget *window);

} // namespace velmora
