#include "Commands.h"

#include "Res.h"
#include "engine/DvdEngine.h"
#include "engine/EngineError.h"
#include "engine/ErrorTrap.h"
#include "services/FolderChooser.h"
#include "services/RegStore.h"
#include "services/Settings.h"
#include "shell/Form4.h"
#include "shell/Form6.h"
#include "shell/Forms.h"
#include "widgets/ProgressBar.h"
#include "widgets/VDrive.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVariant>

namespace velmora {

namespace {

using Mode = ErrorTrap::Mode;

const QString NoDecoderText = QStringLiteral("请安装解码器程序!");
const QString NoInterfaceText = QStringLiteral("无法创建界面!");
const char *const TagProperty = "Tag";

MessageBoxFunction &messageBoxFunction()
{
    static MessageBoxFunction function;
    return function;
}

// The engine of the video window, which is created on first reference.
DvdEngine &engine()
{
    DvdEngine *dvd = form4().DVD;
    if (!dvd)
        throw EngineError(ErrorCode::NoInterface, QStringLiteral("the video window has no engine"));
    return *dvd;
}

// The report step of the play commands: the two codes they know, each tested
// on its own, everything else dropped.
void report(const ErrorTrap &trap, const QString &title)
{
    if (trap.code() == ErrorCode::NoDecoder)
        showCriticalMessage(NoDecoderText, title);
    if (trap.code() == ErrorCode::NoInterface)
        showCriticalMessage(NoInterfaceText, title);
}

QString readDvdDirectory(ErrorTrap &trap, const QString &application)
{
    QString value;
    trap.run([&] { value = GetSetting(application, DvdSettingsSection, DvdDirectoryKey, QString()); });
    return value;
}

// Play: resumes or starts playback, with the saved folder when there is one.
void play(const QString &title)
{
    ErrorTrap trap(Mode::SkipAndContinue);
    trap.run([] { setTag(form4().Pause, QStringLiteral("0")); });
    const QString folder = readDvdDirectory(trap, DvdSettingsApp);
    if (!folder.isEmpty())
        trap.run([&] { engine().setDVDDirectory(folder); });
    trap.run([] { engine().Play(); });
    report(trap, title);
}

// The play/pause toggle of one hidden Pause button, on that button's marker.
void togglePlayPause(QPushButton *button)
{
    ErrorTrap trap(Mode::EndOnFirstFailure);
    double marker = 0;
    trap.run([&] {
        bool ok = false;
        marker = Tag(button).trimmed().toDouble(&ok);
        if (!ok)
            throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("the marker is not a number"));
    });
    if (marker != 1) {
        trap.run([] { engine().Pause(); });
        trap.run([&] { setTag(button, QStringLiteral("1")); });
    } else {
        trap.run([] { engine().Play(); });
        trap.run([&] { setTag(button, QStringLiteral("0")); });
    }
}

void skipAndContinue(void (DvdEngine::*operation)())
{
    ErrorTrap trap(Mode::SkipAndContinue);
    trap.run([&] { (engine().*operation)(); });
}

} // namespace

// ---- Markers ----

QString Tag(const QObject *button)
{
    return button ? button->property(TagProperty).toString() : QString();
}

void setTag(QObject *button, const QString &text)
{
    if (button)
        button->setProperty(TagProperty, text);
}

// ---- Messages ----

void setMessageBoxFunction(MessageBoxFunction show)
{
    messageBoxFunction() = std::move(show);
}

void showCriticalMessage(const QString &text, const QString &title)
{
    if (messageBoxFunction()) {
        messageBoxFunction()(text, title);
        return;
    }
    const QString caption = title.isEmpty() ? QGuiApplication::applicationDisplayName() : title;
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

// ---- Shared commands ----

void PlayDisc()
{
    // Forgetting the saved folder comes first; if that fails nothing else runs.
    ErrorTrap trap(Mode::JumpToReport);
    trap.run([] { SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QString()); });
    if (!trap.stopped()) {
        trap = ErrorTrap(Mode::SkipAndContinue);
        trap.run([] { engine().Stop(); });
        TitleSeconds = 1;
        trap.run([] { engine().Render(1); });
        trap.run([] { form6().Seek->setValue(1); });
        trap.run([] { engine().Render(0); });
        // Only the final Play's failure is reported.
        trap = ErrorTrap(Mode::SkipAndContinue);
        trap.run([] { setTag(form4().Pause, QStringLiteral("0")); });
        trap.run([] { engine().Play(); });
    }
    report(trap, QStringLiteral("Halvex 2007"));
}

void StopCommand(const QString &applicationName)
{
    ErrorTrap trap(Mode::SkipAndContinue);
    trap.run([] { engine().Stop(); });
    TitleSeconds = 1;
    trap.run([] { engine().Render(1); });
    trap.run([] { form6().Seek->setValue(1); });
    const QString folder = readDvdDirectory(trap, applicationName);
    if (!folder.isEmpty())
        trap.run([&] { engine().setDVDDirectory(folder); });
}

void OpenFolder(const QString &prompt)
{
    ErrorTrap trap(Mode::SkipAndContinue);
    QString start = readDvdDirectory(trap, DvdSettingsApp);
    if (start.isEmpty())
        start = QStringLiteral("\\");
    trap.run([&] { SelectedFolder = BrowseForFolder(&form4(), prompt, start); });
    if (SelectedFolder.isEmpty())
        return;
    // Playing is up to the chooser's buttons.
    trap.run([] { showDvdDirectoryForm(SelectedFolder); });
}

void FastForward(double speed)
{
    ErrorTrap trap(Mode::SkipAndContinue);
    trap.run([&] { engine().PlayForwards(speed); });
}

void FastRewind(double speed)
{
    ErrorTrap trap(Mode::SkipAndContinue);
    trap.run([&] { engine().PlayBackwards(speed); });
}

void PauseCommand() { skipAndContinue(&DvdEngine::Pause); }
void NextChapter() { skipAndContinue(&DvdEngine::PlayNextChapter); }
void PrevChapter() { skipAndContinue(&DvdEngine::PlayPrevChapter); }

void ShowDiscMenu(int menu)
{
    ErrorTrap trap(Mode::SkipAndContinue);
    trap.run([&] { engine().ShowMenu(menu); });
}

// ---- Control panel ----

void Playi_Click() { play(QStringLiteral("Error")); }
void Pausei_Click() { PauseCommand(); }
void Stopi_Click() { StopCommand(SettingsApp); }
void Previ_Click() { Form4_Previ(); }
void Nexti_Click() { Form4_Nexti(); }
void FBi_Click() { FastRewind(32.0); }
void FFi_Click() { FastForward(32.0); }
void Ejecti_Click() { skipAndContinue(&DvdEngine::Eject); }
void Op_Click() { OpenFolder(OpenPromptEnglish); }

void Picture1_Click()
{
    form4().hide();
    form6().showMinimized();
}

void Picture2_Click() { res().fs(); }
void Picture3_Click() { res().clso(); }

void PlayT_Click()
{
    ErrorTrap trap(Mode::SkipAndContinue);
    // Reading dir loads the chooser without showing it.
    trap.run([] {
        QLineEdit *dir = dvdDirectoryForm().dir;
        dir->setText(RegStore().LoadKey(QStringLiteral("DVD"), dir->text()));
    });
    trap.run([] { engine().setDVDDirectory(dvdDirectoryForm().dir->text()); });
    trap.run([] { engine().Play(); });
    trap.run([] { engine().Play(); });
    report(trap, QString());
}

void Pause_Click() { togglePlayPause(form6().Pause); }

// ---- Video window ----

void Form4_Picture1_Click()
{
    form6().showMinimized();
    form4().hide();
}

void Form4_Picture2_Click() { res().fs(); }
void Form4_Picture3_Click() { res().clso(); }
void Form4_Play_Click() { play(QStringLiteral("错误")); }
void Form4_Pause_Click() { togglePlayPause(form4().Pause); }
void Form4_Nexti() { NextChapter(); }
void Form4_Previ() { PrevChapter(); }

} // namespace velmora
