// The optional subsystems are compiled in when the build provides them
// (VELMORA_HAVE_* come from shell/CMakeLists.txt).
#include "ShellLinks.h"

#include "Form4.h"
#include "Form6.h"
#include "Forms.h"
#include "engine/ErrorTrap.h"
#include "widgets/ImageButton.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#ifdef VELMORA_HAVE_COMMANDS
#include "commands/Commands.h"
#include "commands/OpenAndPlay.h"
#include "commands/Res.h"
#endif
#ifdef VELMORA_HAVE_POLL
#include "shell/poll/StatusPoll.h"
#endif
#ifdef VELMORA_HAVE_SERVICES
#include "services/DragWindow.h"
#include "services/FolderChooser.h"
#include "services/Mixer.h"
#include "services/Settings.h"
#include "services/StreamDescriptions.h"
#include "services/VirtualDrive.h"
#endif

namespace velmora {

void connectPanelCommands([[maybe_unused]] Form6 &panel)
{
#ifdef VELMORA_HAVE_COMMANDS
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
#endif
}

void connectVideoCommands([[maybe_unused]] Form4 &video)
{
#ifdef VELMORA_HAVE_COMMANDS
    QObject::connect(video.Picture1, &ImageButton::clicked, &video, &Form4_Picture1_Click);
    QObject::connect(video.Picture2, &ImageButton::clicked, &video, &Form4_Picture2_Click);
    QObject::connect(video.Picture3, &ImageButton::clicked, &video, &Form4_Picture3_Click);
    QObject::connect(video.Play, &QPushButton::clicked, &video, [] { Form4_Play_Click(); });
    QObject::connect(video.Pause, &QPushButton::clicked, &video, [] { Form4_Pause_Click(); });
#endif
}

void connectPanelTimers([[maybe_unused]] Form6 &panel)
{
#ifdef VELMORA_HAVE_POLL
    QObject::connect(panel.Timer1, &QTimer::timeout, &panel, &Timer1_Timer);
    QObject::connect(panel.Timer2, &QTimer::timeout, &panel, &Timer2_Timer);
#endif
}

void popupContextMenu([[maybe_unused]] QWidget *owner)
{
#ifdef VELMORA_HAVE_COMMANDS
    res().PopupMenu(owner);
#endif
}

void exitProgram()
{
#ifdef VELMORA_HAVE_COMMANDS
    res().clso();
#else
    QCoreApplication::quit();
#endif
}

bool subtitlesWanted()
{
#ifdef VELMORA_HAVE_COMMANDS
    return res().mnuDS->isChecked();
#else
    // The menu's default: subtitles shown.
    return true;
#endif
}

void linkDiscDrops([[maybe_unused]] QWidget *window)
{
#ifdef VELMORA_HAVE_COMMANDS
    velmora::acceptDiscDrops(window);
#endif
}

void installVideoWindowRebuilder()
{
#ifdef VELMORA_HAVE_SERVICES
    setVideoWindowRebuilder([]() -> DvdEngine * {
        unloadForm4();
        Form4 &video = form4();
        video.show();
        return video.DVD;
    });
#endif
}

void dragWindow(QWidget *window)
{
#ifdef VELMORA_HAVE_SERVICES
    DragWindow(window);
#else
    // Without the services only a window manager can move the window.
    if (window && window->windowHandle())
        window->windowHandle()->startSystemMove();
#endif
}

bool mixerInit([[maybe_unused]] int device)
{
#ifdef VELMORA_HAVE_SERVICES
    try {
        return MixerInit(device);
    } catch (const std::exception &) {
        return false;
    }
#else
    return false;
#endif
}

bool mixerSetVolume([[maybe_unused]] int slot, [[maybe_unused]] int percent)
{
#ifdef VELMORA_HAVE_SERVICES
    try {
        return MixerSetVolume(slot, percent);
    } catch (const std::exception &) {
        return false;
    }
#else
    return false;
#endif
}

int mixerGetVolume([[maybe_unused]] int slot)
{
#ifdef VELMORA_HAVE_SERVICES
    try {
        return MixerGetVolume(slot);
    } catch (const std::exception &) {
        return 0;
    }
#else
    return 0;
#endif
}

void setEngineMute(bool mute)
{
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    trap.run([mute] { form4().DVD->setMute(mute); });
}

QString savedDvdDirectory()
{
#ifdef VELMORA_HAVE_SERVICES
    return GetSetting(QStringLiteral("DEV Udovezo"), QStringLiteral("Settings"), QStringLiteral("DVDDirectory"),
                      QString());
#else
    return {};
#endif
}

void createVirtualDrive()
{
#ifdef VELMORA_HAVE_SERVICES
    CreateVirtualDrive();
#endif
}

void describeSubtitle([[maybe_unused]] DvdEngine &engine, [[maybe_unused]] QLabel &label)
{
#ifdef VELMORA_HAVE_SERVICES
    DescribeSubtitle(engine, label);
#endif
}

void describeAudio([[maybe_unused]] DvdEngine &engine, [[maybe_unused]] QLabel &label)
{
#ifdef VELMORA_HAVE_SERVICES
    DescribeAudio(engine, label);
#endif
}

} // namespace velmora
