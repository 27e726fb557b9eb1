#include "Res.h"

#include "Commands.h"
#include "StreamMenus.h"
#include "engine/DvdEngine.h"
#include "services/AboutHelp.h"
#include "services/RegStore.h"
#include "services/VirtualDrive.h"
#include "shell/Form4.h"
#include "shell/Form6.h"
#include "shell/Forms.h"
#include "widgets/ProgressBar.h"

#include <QCursor>
#include <QPalette>
#include <QPointer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace velmora {

namespace {

ProcessEnd &processEnd()
{
    static ProcessEnd end;
    return end;
}

// Dark menus that sit well next to the panel's skin.
QPalette menuPalette(QPalette palette)
{
    const QColor background(0x2b, 0x2b, 0x2b);
    const QColor text(0xe6, 0xe6, 0xe6);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::Button, background);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::Highlight, QColor(0x3a, 0x6e, 0xa5));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Light, QColor(0x55, 0x55, 0x55));
        palette.setColor(group, QPalette::Mid, QColor(0x45, 0x45, 0x45));
        palette.setColor(group, QPalette::Dark, QColor(0x1a, 0x1a, 0x1a));
    }
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    return palette;
}

} // namespace

Res::Res()
{
    setWindowTitle(QStringLiteral("Velmora"));
    build();
}

Res::~Res() = default;

void Res::build()
{
    mnuFile = new QMenu(QStringLiteral("文件"), this);
    mnuFile->setObjectName(QStringLiteral("mnuFile"));

    auto item = [](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    auto separator = [](QMenu *menu, const char *name) {
        QAction *action = menu->addSeparator();
        action->setObjectName(QLatin1String(name));
        return action;
    };
    auto submenu = [this](QMenu *menu, const char *name, const QString &caption) {
        auto *sub = new QMenu(caption, this);
        sub->setObjectName(QLatin1String(name));
        sub->menuAction()->setObjectName(QLatin1String(name));
        menu->addMenu(sub);
        return sub;
    };

    mnuResume = item(mnuFile, "mnuResume", QStringLiteral("继续上次播放"));
    mnuResume->setEnabled(false);
    mnuOpen = item(mnuFile, "mnuOpen", QStringLiteral("打开"));
    s1 = separator(mnuFile, "s1");
    PlayDVD = item(mnuFile, "PlayDVD", QStringLiteral("播放"));
    mnuPause = item(mnuFile, "mnuPause", QStringLiteral("暂停"));
    mnuNext = item(mnuFile, "mnuNext", QStringLiteral("下一节"));
    mnuPrev = item(mnuFile, "mnuPrev", QStringLiteral("上一节"));

    mnuFF = submenu(mnuFile, "mnuFF", QStringLiteral("快速前进"));
    mnu5 = item(mnuFF, "mnu5", QStringLiteral("0.5X"));
    jgh = separator(mnuFF, "jgh");
    mnu1 = item(mnuFF, "mnu1", QStringLiteral("1X"));
    po = separator(mnuFF, "po");
    mnu2 = item(mnuFF, "mnu2", QStringLiteral("2X"));
    mnu4 = item(mnuFF, "mnu4", QStringLiteral("4X"));
    mnu8 = item(mnuFF, "mnu8", QStringLiteral("8X"));
    mnu16 = item(mnuFF, "mnu16", QStringLiteral("16X"));
    mnu32 = item(mnuFF, "mnu32", QStringLiteral("32X"));

    mnuFB = submenu(mnuFile, "mnuFB", QStringLiteral("快速倒退"));
    mnu5b = item(mnuFB, "mnu5b", QStringLiteral("0.5X"));
    iuy = separator(mnuFB, "iuy");
    mnu1b = item(mnuFB, "mnu1b", QStringLiteral("1X"));
    jhg = separator(mnuFB, "jhg");
    mnu2b = item(mnuFB, "mnu2b", QStringLiteral("2X"));
    mnu4b = item(mnuFB, "mnu4b", QStringLiteral("4X"));
    mnu8b = item(mnuFB, "mnu8b", QStringLiteral("8X"));
    mnu16b = item(mnuFB, "mnu16b", QStringLiteral("16X"));
    mnu32b = item(mnuFB, "mnu32b", QStringLiteral("32X"));

    mnuStop = item(mnuFile, "mnuStop", QStringLiteral("停止"));
    mnuFullscreen = item(mnuFile, "mnuFullscreen", QStringLiteral("全屏播放"));
    s3 = separator(mnuFile, "s3");

    mnuDVD = submenu(mnuFile, "mnuDVD", QStringLiteral("DVD 菜单"));
    mnuTilte = item(mnuDVD, "mnuTilte", QStringLiteral("标题菜单"));
    mnuRoot = item(mnuDVD, "mnuRoot", QStringLiteral("根菜单"));
    mnuChapter = item(mnuDVD, "mnuChapter", QStringLiteral("章节菜单"));

    mnuSubtitle = submenu(mnuFile, "mnuSubtitle", QStringLiteral("副标题"));
    Mnusub = item(mnuSubtitle, "Mnusub", QStringLiteral("副标题菜单"));
    uyt = separator(mnuSubtitle, "uyt");
    mnuDS = item(mnuSubtitle, "mnuDS", QStringLiteral("显示副标题"));
    mnuAudio = submenu(mnuSubtitle, "mnuAudio", QStringLiteral("音轨"));
    mnuSubs = submenu(mnuSubtitle, "mnuSubs", QStringLiteral("字幕"));

    s7 = separator(mnuFile, "s7");
    mnuinfo = item(mnuFile, "mnuinfo", QStringLiteral("信息"));
    mnuHelp = item(mnuFile, "mnuHelp", QStringLiteral("帮助"));
    mnuAbout = item(mnuFile, "mnuAbout", QStringLiteral("关于"));
    s9 = separator(mnuFile, "s9");
    mnuExit = item(mnuFile, "mnuExit", QStringLiteral("退出"));

    // Check marks. A checkable action flips itself before its handler runs:
    // for mnuDS and mnuinfo that flip is the whole command; mnuFullscreen
    // undoes it and leaves the mark to fs.
    for (QAction *mark : {mnuDS, mnuinfo, mnuFullscreen})
        mark->setCheckable(true);
    mnuDS->setChecked(true);
    mnuinfo->setChecked(false);
    mnuFullscreen->setChecked(false);

    for (QMenu *menu : {mnuFile, mnuFF, mnuFB, mnuDVD, mnuSubtitle, mnuAudio, mnuSubs})
        menu->setPalette(menuPalette(menu->palette()));

    auto on = [this](QAction *action, auto handler) {
        connect(action, &QAction::triggered, this, handler);
    };
    on(mnuOpen, [] { OpenFolder(OpenPromptChinese); });
    on(PlayDVD, [] { PlayDisc(); });
    on(mnuPause, [] { PauseCommand(); });
    on(mnuNext, [] { NextChapter(); });
    on(mnuPrev, [] { PrevChapter(); });
    const std::pair<QAction *, double> forwards[] = {
        {mnu5, 0.5}, {mnu1, 1.0}, {mnu2, 2.0}, {mnu4, 4.0}, {mnu8, 8.0}, {mnu16, 16.0}, {mnu32, 32.0}};
    for (const auto &[action, speed] : forwards)
        on(action, [speed = speed] { FastForward(speed); });
    const std::pair<QAction *, double> backwards[] = {
        {mnu5b, 0.5}, {mnu1b, 1.0}, {mnu2b, 2.0}, {mnu4b, 4.0}, {mnu8b, 8.0}, {mnu16b, 16.0}, {mnu32b, 32.0}};
    for (const auto &[action, speed] : backwards)
        on(action, [speed = speed] { FastRewind(speed); });
    on(mnuStop, [] { StopCommand(MenuStopSettingsApp); });
    on(mnuFullscreen, [this](bool checked) {
        mnuFullscreen->setChecked(!checked);
        fs();
    });
    on(mnuTilte, [] { ShowDiscMenu(DvdEngine::TitleMenu); });
    on(mnuRoot, [] { ShowDiscMenu(DvdEngine::RootMenu); });
    on(mnuChapter, [] { ShowDiscMenu(DvdEngine::ChapterMenu); });
    on(Mnusub, [] { ShowDiscMenu(DvdEngine::SubpictureMenu); });
    connect(mnuAudio, &QMenu::aboutToShow, this, [this] { fillAudioMenu(*mnuAudio, *form4().DVD); });
    connect(mnuSubs, &QMenu::aboutToShow, this,
            [this] { fillSubtitleMenu(*mnuSubs, *form4().DVD, mnuDS->isChecked()); });
    on(mnuHelp, [] { showHelp(&form6()); });
    on(mnuAbout, [] { showAbout(&form6()); });
    on(mnuExit, [this] { clso(); });
}

void Res::fs()
{
    mnuFullscreen->setChecked(!mnuFullscreen->isChecked());
    if (mnuFullscreen->isChecked()) {
        form4().Fullscreen();
        mnuFullscreen->setChecked(true);
    }
    if (!mnuFullscreen->isChecked())
        form4().orgSkin();
}

void Res::clso()
{
    // Each release ignores its own failure: exit always ends the program.
    auto quietly = [](auto step) {
        try {
            step();
        } catch (...) {
        }
    };
    for (const auto &hook : m_exitHooks)
        quietly(hook);
    quietly([] { releaseRegStore(); });
    // Deleting the video window deletes its engine: playback threads are
    // joined and the sound device is closed before the process ends.
    quietly([] {
        QPointer<Form4> video = form4Loaded() ? &form4() : nullptr;
        unloadForm4();
        delete video.data(); // now, not when the event loop would have run
    });
    quietly([] {
        if (form6Loaded())
            form6().Seek->setValue(1);
    });
    quietly([] { RemoveVirtualDrive(); });

    if (processEnd())
        processEnd()(0);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}

void Res::addExitHook(std::function<void()> hook)
{
    m_exitHooks.push_back(std::move(hook));
}

void Res::PopupMenu(QWidget *owner)
{
    // A popup is already open (a poll tick runs while the menu is up).
    if (mnuFile->isVisible())
        return;
    m_popupOwner = owner;
    QWidget *top = owner ? owner->window() : nullptr;
    mnuFile->winId();
    if (top && top->windowHandle() && mnuFile->windowHandle())
        mnuFile->windowHandle()->setTransientParent(top->windowHandle());
    mnuFile->exec(QCursor::pos());
}

Res &res()
{
    static Res *instance = nullptr;
    if (!instance)
        instance = new Res; // lives until the process ends
    return *instance;
}

void setProcessEnd(ProcessEnd end)
{
    processEnd() = std::move(end);
}

} // namespace velmora
