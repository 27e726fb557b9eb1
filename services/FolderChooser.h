#pragma once
// Choosing a DVD folder: the folder browser and the confirmation form.
//
// BrowseForFolder shows a modal folder dialog; the open commands put its
// result into SelectedFolder and, when it is not empty, show frmDVDdirectory
// with the path in dir. Confirming there records the folder (registry value
// "DVD"), rebuilds the video window and plays the folder.
//
// UI thread only.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

class QLineEdit;
class QPushButton;

namespace velmora {

class DvdEngine;

// The folder last returned by BrowseForFolder; "" after a cancel. The callers
// write it.
extern QString SelectedFolder;

// Prompts in the English and Chinese forms used by the open commands.
inline const QString BrowsePromptEnglish = QStringLiteral("Select a folder with DVD files (*.VOB, *.IFO)");
inline const QString BrowsePromptChinese = QStringLiteral("请选择DVD的文件路径 (*.VOB, *.IFO)");

// Shows a modal folder dialog owned by owner (the video window), prompt as its
// instruction line, folders only, start preselected ("\" or "" means "/").
// The selected folder's full path is shown while the selection changes.
// Returns the chosen folder's absolute path, or "" when cancelled.
QString BrowseForFolder(QWidget *owner, const QString &prompt, const QString &start);

// A folder browser of BrowseForFolder is open now. The status poll reads this
// so the open shortcut never stacks a second browser on the first.
bool folderBrowserOpen();
// Moves every time a folder browser opens or closes: tells a caller that
// samples now and then whether one was open in between.
std::uint64_t folderBrowserChanges();

// Rebuilds the video window (unload, load, show) and returns its new engine.
// Installed once by whoever owns the video window; without it, confirm only
// records the folder.
using VideoWindowRebuilder = std::function<DvdEngine *()>;
void setVideoWindowRebuilder(VideoWindowRebuilder rebuilder);

// What confirming a folder does: records path as registry value "DVD",
// rebuilds the video window, sets the new engine's DVDDirectory to path and
// calls Play. False when the engine refused the folder (or no rebuilder is
// installed); the path is recorded and the window rebuilt either way. Never
// throws. Everything that plays a chosen path (the chooser's confirm, the
// command line, drops, a path handed over by a later start) goes through it.
bool playConfirmedFolder(const QString &path);

// The confirmation form: the chosen path, editable, with "确认 && 播放" and "取消".
class frmDVDdirectory : public QWidget
{
    Q_OBJECT
public:
    explicit frmDVDdirectory(QWidget *parent = nullptr);
    ~frmDVDdirectory() override;

    QLineEdit *dir;          // the folder path; its tooltip follows its text
    QPushButton *Command1;   // confirm and play
    QPushButton *Command2;   // cancel

    // Confirm: stores dir's text as registry value "DVD", rebuilds the video
    // window, sets the new engine's DVDDirectory and calls Play, then unloads
    // the form. When the engine refuses the folder the form stays open.
    void Command1_Click();
    // Cancel: unloads the form; nothing is stored.
    void Command2_Click();
    void dir_Change();
};

// The single instance, created (not shown) on first reference.
frmDVDdirectory &dvdDirectoryForm();
bool dvdDirectoryFormLoaded();
// Destroys the instance (it is also destroyed when either button unloads it).
void unloadDvdDirectoryForm();

// What the open commands do with a browse result: shows the form modeless
// with path in dir, all of it selected.
void showDvdDirectoryForm(const QString &path);

} // namespace velmora
