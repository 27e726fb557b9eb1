#pragma once
// The menu form: a window that is never shown. It owns the popup menu that a
// right click on the control panel or the video window brings up, the menu's
// handlers, and two routines the other windows call: fs (full screen on/off)
// and clso (exit).
//
// The popup shows the children of mnuFile. Three items carry check marks:
// mnuDS (show subtitles, set at start), mnuinfo (information box, clear at
// start) and mnuFullscreen (set exactly while the video window is in full
// screen). Only their own handlers change them; the status poll reads them.

#include <QAction>
#include <QMenu>
#include <QWidget>

#include <functional>
#include <vector>

namespace velmora {

class Res : public QWidget
{
    Q_OBJECT
public:
    Res();
    ~Res() override;

    // Full-screen toggle: flips mnuFullscreen and enters or leaves full screen.
    void fs();
    // Exit: stops the engine (the video window and its engine are deleted:
    // threads joined, sound closed), resets the seek bar, removes the scratch
    // drive mapping and ends the process at once, without any window's close
    // handling. Every stored value is already on disk: the stores write through.
    [[noreturn]] void clso();

    // Pops up mnuFile at the mouse position, owned by owner's window; returns
    // when the menu has closed and the chosen item's handler has run.
    void PopupMenu(QWidget *owner);
    // The window the last popup belonged to (for tests).
    QWidget *popupOwner() const { return m_popupOwner; }

    QMenu *mnuFile = nullptr;          // "文件": the popup itself
    QAction *mnuResume = nullptr;      // "继续上次播放": disabled until a resume point is offered
    QAction *mnuOpen = nullptr;        // "打开"
    QAction *s1 = nullptr;
    QAction *PlayDVD = nullptr;        // "播放"
    QAction *mnuPause = nullptr;       // "暂停"
    QAction *mnuNext = nullptr;        // "下一节"
    QAction *mnuPrev = nullptr;        // "上一节"
    QMenu *mnuFF = nullptr;            // "快速前进"
    QAction *mnu5 = nullptr;
    QAction *jgh = nullptr;
    QAction *mnu1 = nullptr;
    QAction *po = nullptr;
    QAction *mnu2 = nullptr;
    QAction *mnu4 = nullptr;
    QAction *mnu8 = nullptr;
    QAction *mnu16 = nullptr;
    QAction *mnu32 = nullptr;
    QMenu *mnuFB = nullptr;            // "快速倒退"
    QAction *mnu5b = nullptr;
    QAction *iuy = nullptr;
    QAction *mnu1b = nullptr;
    QAction *jhg = nullptr;
    QAction *mnu2b = nullptr;
    QAction *mnu4b = nullptr;
    QAction *mnu8b = nullptr;
    QAction *mnu16b = nullptr;
    QAction *mnu32b = nullptr;
    QAction *mnuStop = nullptr;        // "停止"
    QAction *mnuFullscreen = nullptr;  // "全屏播放", checkable
    QAction *s3 = nullptr;
    QMenu *mnuDVD = nullptr;           // "DVD 菜单"
    QAction *mnuTilte = nullptr;       // "标题菜单"
    QAction *mnuRoot = nullptr;        // "根菜单"
    QAction *mnuChapter = nullptr;     // "章节菜单"
    QMenu *mnuSubtitle = nullptr;      // "副标题"
    QAction *Mnusub = nullptr;         // "副标题菜单"
    QAction *uyt = nullptr;
    QAction *mnuDS = nullptr;          // "显示副标题", checkable, checked at start
    QMenu *mnuAudio = nullptr;         // "音轨": audio streams, filled when it opens (StreamMenus.h)
    QMenu *mnuSubs = nullptr;          // "字幕": "关闭" and the subtitle streams, filled when it opens
    QAction *s7 = nullptr;
    QAction *mnuinfo = nullptr;        // "信息", checkable
    QAction *mnuHelp = nullptr;        // "帮助"
    QAction *mnuAbout = nullptr;       // "关于"
    QAction *s9 = nullptr;
    QAction *mnuExit = nullptr;        // "退出"

    // Runs hook at the start of every clso, before anything is released
    // (saving a resume point, letting go of the screensaver). A hook that
    // throws is skipped.
    void addExitHook(std::function<void()> hook);

private:
    void build();

    std::vector<std::function<void()>> m_exitHooks;

    QWidget *m_popupOwner = nullptr;
};

// The one menu form, created hidden on first reference.
Res &res();

// How clso finally ends the process. The default flushes the standard streams
// and calls std::_Exit(status). Tests install a function that throws (a type
// not derived from std::exception) to observe the exit; it must not return.
using ProcessEnd = std::function<void(int status)>;
void setProcessEnd(ProcessEnd end);

} // namespace velmora
