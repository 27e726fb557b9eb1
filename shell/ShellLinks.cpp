// The shell's links to the commands, the status poll and the services.
#include "ShellLinks.h"

#include "Form4.h"
#include "Form6.h"
#include "Forms.h"
#include "engine/ErrorTrap.h"
#include "widgets/ImageButton.h"

#include <QPushButton>
#include <QTimer>

#include "commands/Commands.h"
#include "commands/OpenAndPlay.h"
#include "commands/Res.h"
#include "shell/poll/StatusPoll.h"
#include "services/DragWindow.h"
#include "services/FolderChooser.h"
#include "services/Mixer.h"
#include "services/Settings.h"
#include "services/StreamDescriptions.h"
#include "services/VirtualDrive.h"

namespace velmora {

void connectPanelCommands(Form6 &panel)
{
    QObject::connect(panel.Playi, &ImageButton::clicked, &panel, &Playi_Click);
    QObject::connect(panel.Pausei, &ImageButton::clicked, &panel, &Pausei_Click);
    QObject::connect(panel.Stopi, &ImageButton::clicked, &panel, &Stopi_Click);
    QObject::connect(panel.Previ, &ImageButton::clicked, &panel, &Previ_Click);
    QObject::connect(panel.Nexti, &ImageButton::clicked, &panel, &Nexti_Click);
    QObject::connect(panel.FBi, &ImageButton::clicked, &panel, &FBi_Click);
    QObject::connect(panel.FFi, &ImageButton::clicked, &panel, &FFi_Click);
    QObject::connect(panel.Ejecti, &ImageButton::clicked, &panel, &Ejecti_Click);
    QObject::connect(panel.Op, &ImageButton::clicked, &panel, &Op_Click);
    QObject::connect(panel.Picture1, &ImageButton::clicked, &panel, &Picture1_Click);
    QObject::connect(panel.Picture2, &ImageButton::clicked, &panel, &Picture2_Click);
    QObject::connect(panel.Picture3, &ImageButton::clicked, &panel, &Picture3_Click);
    QObject::connect(panel.PlayT, &QPushButton::clicked, &panel, [] { PlayT_Click(); });
    QObject::connect(panel.Pause, &QPushButton::clicked, &panel, [] { Pause_Click(); });
}

void connectVideoCommands(Form4 &video)
{
    QObject::connect(video.Picture1, &ImageButton::clicked, &video, &Form4_Picture1_Click);
    QObject::connect(video.Picture2, &ImageButton::clicked, &video, &Form4_Picture2_Click);
    QObject::connect(video.Picture3, &ImageButton::clicked, &video, &Form4_Picture3_Click);
    QObject::connect(video.Play, &QPushButton::clicked, &video, [] { Form4_Play_Click(); });
    QObject::connect(video.Pause, &QPushButton::clicked, &video, [] { Form4_Pause_Click(); });
}

void connectPanelTimers(Form6 &panel)
{
    QObject::connect(panel.Timer1, &QTimer::timeout, &panel, &Timer1_Timer);
    // The key source latches every press from the moment it exists. Opened
    // here rather than at the poll's first tick, a key pressed as soon as the
    // windows show (up to half a second before that tick) still counts.
    keySource();
    QObject::connect(panel.Timer2, &QTimer::timeout, &panel, &Timer2_Timer);
}

void popupContextMenu(QWidget *owner)
{
    res().PopupMenu(owner);
}

void exitProgram()
{
    res().clso();
}

bool subtitlesWanted()
{
    return res().mnuDS->isChecked();
}

void linkDiscDrops(QWidget *window)
{
    velmora::acceptDiscDrops(window);
}

void installVideoWindowRebuilder()
{
    setVideoWindowRebuilder([]() -> DvdEngine * {
        unloadForm4();
        Form4 &video = form4();
        video.show();
        return video.DVD;
    });
}

void dragWindow(QWidget *window)
{
    DragWindow(window);
}

bool mixerInit(int device)
{
    try {
        return MixerInit(device);
    } catch (const std::exception &) {
        return false;
    }
}

bool mixerSetVolume(int slot, int percent)
{
    try {
        return MixerSetVolume(slot, percent);
    } catch (const std::exception &) {
        return false;
    }
}

int mixerGetVolume(int slot)
{
    try {
        return MixerGetVolume(slot);
    } catch (const std::exception &) {
        return 0;
    }
}

void setEngineMute(bool mute)
{
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    trap.run([mute] { form4().DVD->setMute(mute); });
}

QString savedDvdDirectory()
{
    return GetSetting(QStringLiteral("DEV Udovezo"), QStringLiteral("Settings"), QStringLiteral("DVDDirectory"),
                      QString());
}

void createVirtualDrive()
{
    CreateVirtualDrive();
}

void describeSubtitle(DvdEngine &engine, QLabel &label)
{
    DescribeSubtitle(engine, label);
}

void describeAudio(DvdEngine &engine, QLabel &label)
{
    DescribeAudio(engine, label);
}

} // namespace velmora
