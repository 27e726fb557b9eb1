// The menu form: its tree, check marks, full-screen toggle, popup and exit.

#include "Fixture.h"

#include "services/AboutHelp.h"
#include "widgets/ProgressBar.h"

#include <QMenu>

using namespace velmora;
using namespace velmora::testing;

class TestMenu : public QObject, private CommandFixture
{
    Q_OBJECT

private slots:
    void init() { reset(); }

    void treeAndStartMarks();
    void checkMarks();
    void aboutAndHelpModeless();
    void popupOwnedByTheWindow_data();
    void popupOwnedByTheWindow();
    void exitReleasesAndEnds();
};

namespace {

// "name:caption" per entry; separators are "name:-", submenus end in ">".
QStringList entries(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out << a->objectName() + u':' + (a->isSeparator() ? QStringLiteral("-") : a->text() + (a->menu() ? ">" : ""));
    return out;
}

} // namespace

void TestMenu::treeAndStartMarks()
{
    Res &r = res();
    QCOMPARE(r.mnuFile->title(), QStringLiteral("文件"));
    QVERIFY(!r.isVisible());
    QCOMPARE(entries(r.mnuFile),
             QStringList({"mnuResume:继续上次播放", "mnuOpen:打开", "s1:-", "PlayDVD:播放", "mnuPause:暂停", "mnuNext:下一节",
                          "mnuPrev:上一节", "mnuFF:快速前进>", "mnuFB:快速倒退>", "mnuStop:停止",
                          "mnuFullscreen:全屏播放", "s3:-", "mnuDVD:DVD 菜单>", "mnuSubtitle:副标题>", "s7:-",
                          "mnuinfo:信息", "mnuHelp:帮助", "mnuAbout:关于", "s9:-", "mnuExit:退出"}));
    QCOMPARE(entries(r.mnuFF), QStringList({"mnu5:0.5X", "jgh:-", "mnu1:1X", "po:-", "mnu2:2X", "mnu4:4X",
                                            "mnu8:8X", "mnu16:16X", "mnu32:32X"}));
    QCOMPARE(entries(r.mnuFB), QStringList({"mnu5b:0.5X", "iuy:-", "mnu1b:1X", "jhg:-", "mnu2b:2X", "mnu4b:4X",
                                            "mnu8b:8X", "mnu16b:16X", "mnu32b:32X"}));
    QCOMPARE(entries(r.mnuDVD), QStringList({"mnuTilte:标题菜单", "mnuRoot:根菜单", "mnuChapter:章节菜单"}));
    QCOMPARE(entries(r.mnuSubtitle), QStringList({"Mnusub:副标题菜单", "uyt:-", "mnuDS:显示副标题", "mnuAudio:音轨>",
                                                  "mnuSubs:字幕>"}));

    // All enabled but the resume item (until a resume point is offered);
    // three check marks, of which only mnuDS is set at start.
    QStringList checkable;
    for (QMenu *menu : {r.mnuFile, r.mnuFF, r.mnuFB, r.mnuDVD, r.mnuSubtitle}) {
        for (QAction *a : menu->actions()) {
            QVERIFY(a->isEnabled() == (a != r.mnuResume) && a->isVisible());
            if (a->isCheckable())
                checkable << a->objectName() + (a->isChecked() ? "+" : "-");
        }
    }
    QCOMPARE(checkable, QStringList({"mnuFullscreen-", "mnuinfo-", "mnuDS+"}));
}

void TestMenu::checkMarks()
{
    Res &r = res();
    form6().show();
    form4().show();
    // Each choice inverts its own mark once; the engine hears of it from the poll.
    for (QAction *mark : {r.mnuDS, r.mnuinfo}) {
        const bool before = mark->isChecked();
        mark->trigger();
        QCOMPARE(mark->isChecked(), !before);
        mark->trigger();
        QCOMPARE(mark->isChecked(), before);
    }
    QCOMPARE(calls(), QStringList());

    // Full screen: the menu item and both windows' buttons run the one toggle.
    r.mnuFullscreen->trigger();
    QVERIFY(r.mnuFullscreen->isChecked());
    QCOMPARE(form4().WindowState(), 2);
    r.mnuFullscreen->trigger();
    QVERIFY(!r.mnuFullscreen->isChecked());
    QVERIFY(form4().WindowState() != 2);
    Picture2_Click();
    QVERIFY(r.mnuFullscreen->isChecked());
    Form4_Picture2_Click();
    QVERIFY(!r.mnuFullscreen->isChecked());
    QVERIFY(form4().WindowState() != 2);
}

void TestMenu::aboutAndHelpModeless()
{
    res().mnuHelp->trigger();
    res().mnuAbout->trigger();
    QVERIFY(helpForm() && helpForm()->isVisible());
    QVERIFY(aboutForm() && aboutForm()->isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    helpForm()->close();
    aboutForm()->close();
}

void TestMenu::popupOwnedByTheWindow_data()
{
    QTest::addColumn<bool>("panel");
    QTest::newRow("control panel") << true;
    QTest::newRow("video window") << false;
}

void TestMenu::popupOwnedByTheWindow()
{
    QFETCH(bool, panel);
    QWidget *owner = panel ? static_cast<QWidget *>(&form6()) : static_cast<QWidget *>(&form4());
    owner->show();
    QTest::qWait(50); // a window closing under an open popup would close it
    int shown = 0;
    whileOpen([&] { res().PopupMenu(owner); },
              [&](QWidget *w) {
                  auto *menu = qobject_cast<QMenu *>(w);
                  QVERIFY(menu);
                  shown = int(menu->actions().size());
                  res().mnuPause->trigger(); // chosen: runs before the popup call returns
                  menu->close();
              });
    QCOMPARE(res().popupOwner(), owner);
    QCOMPARE(shown, 20);
    QCOMPARE(calls(), QStringList{"Pause"});
}

void TestMenu::exitReleasesAndEnds()
{
    // The menu item and both windows' exit buttons take the same way.
    const std::function<void()> exits_[] = {[] { res().mnuExit->trigger(); }, Picture3_Click, Form4_Picture3_Click};
    for (const auto &command : exits_) {
        exits.clear();
        QPointer<Form4> video = &form4();
        form6().Seek->setValue(60);
        QVERIFY_THROWS_EXCEPTION(ExitCalled, command());
        QCOMPARE(exits, QList<int>{0});
        QVERIFY(!form4Loaded());
        QVERIFY(video.isNull()); // the window and its engine are gone now, not later
        QCOMPARE(form6().Seek->Value(), 1);
    }
}

QTEST_MAIN(TestMenu)
#include "test_menu.moc"
