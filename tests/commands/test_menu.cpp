// The menu form: its tree, check marks, full-screen toggle, exit and popup.

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

    void tree();
    void startMarks();
    void marksFlipOnlyThroughTheirItems();
    void fullScreenToggle();
    void aboutAndHelpModeless();
    void popupOwnedByTheWindow_data();
    void popupOwnedByTheWindow();
    void exitReleasesAndEnds();
};

namespace {

// "-" for separators, "caption>" for submenus.
QStringList entries(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->menu() ? a->text() + u'>' : a->text());
    return out;
}

QStringList names(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out << a->objectName();
    return out;
}

} // namespace

void TestMenu::tree()
{
    Res &r = res();
    QCOMPARE(r.mnuFile->title(), QStringLiteral("文件"));
    QCOMPARE(r.windowTitle(), QStringLiteral("Velmora"));
    QVERIFY(!r.isVisible());

    const QStringList top{"打开", "-", "播放", "暂停", "下一节", "上一节", "快速前进>", "快速倒退>",
                          "停止", "全屏播放", "-", "DVD 菜单>", "副标题>", "-", "信息", "帮助",
                          "关于", "-", "退出"};
    QCOMPARE(entries(r.mnuFile), top);
    QCOMPARE(entries(r.mnuFile).size(), 19);
    QCOMPARE(names(r.mnuFile),
             QStringList({"mnuOpen", "s1", "PlayDVD", "mnuPause", "mnuNext", "mnuPrev", "mnuFF", "mnuFB",
                          "mnuStop", "mnuFullscreen", "s3", "mnuDVD", "mnuSubtitle", "s7", "mnuinfo",
                          "mnuHelp", "mnuAbout", "s9", "mnuExit"}));

    const QStringList speeds{"0.5X", "-", "1X", "-", "2X", "4X", "8X", "16X", "32X"};
    QCOMPARE(entries(r.mnuFF), speeds);
    QCOMPARE(entries(r.mnuFB), speeds);
    QCOMPARE(names(r.mnuFF), QStringList({"mnu5", "jgh", "mnu1", "po", "mnu2", "mnu4", "mnu8", "mnu16", "mnu32"}));
    QCOMPARE(names(r.mnuFB),
             QStringList({"mnu5b", "iuy", "mnu1b", "jhg", "mnu2b", "mnu4b", "mnu8b", "mnu16b", "mnu32b"}));
    QCOMPARE(entries(r.mnuDVD), QStringList({"标题菜单", "根菜单", "章节菜单"}));
    QCOMPARE(entries(r.mnuSubtitle), QStringList({"副标题菜单", "-", "显示副标题"}));

    for (QMenu *menu : {r.mnuFile, r.mnuFF, r.mnuFB, r.mnuDVD, r.mnuSubtitle}) {
        for (QAction *a : menu->actions())
            QVERIFY2(a->isEnabled() && a->isVisible(), qPrintable(a->objectName()));
    }
}

void TestMenu::startMarks()
{
    // The only marks of the tree; only mnuDS is set at start (the run's first
    // reference to the menu form happens in this process's first test).
    Res &r = res();
    QList<QAction *> checkable;
    for (QMenu *menu : {r.mnuFile, r.mnuFF, r.mnuFB, r.mnuDVD, r.mnuSubtitle}) {
        for (QAction *a : menu->actions()) {
            if (a->isCheckable())
                checkable << a;
        }
    }
    QCOMPARE(checkable.size(), 3);
    QVERIFY(checkable.contains(r.mnuDS) && checkable.contains(r.mnuinfo) && checkable.contains(r.mnuFullscreen));
    QVERIFY(r.mnuDS->isChecked());
    QVERIFY(!r.mnuinfo->isChecked());
    QVERIFY(!r.mnuFullscreen->isChecked());
}

void TestMenu::marksFlipOnlyThroughTheirItems()
{
    Res &r = res();
    const bool ds = r.mnuDS->isChecked();
    r.mnuDS->trigger();
    QCOMPARE(r.mnuDS->isChecked(), !ds);
    r.mnuDS->trigger();
    QCOMPARE(r.mnuDS->isChecked(), ds);

    const bool info = r.mnuinfo->isChecked();
    r.mnuinfo->trigger();
    QCOMPARE(r.mnuinfo->isChecked(), !info);
    r.mnuinfo->trigger();
    QCOMPARE(r.mnuinfo->isChecked(), info);
    // The switches act through the poll, not on the engine directly.
    QVERIFY(calls().isEmpty());
}

void TestMenu::fullScreenToggle()
{
    Res &r = res();
    form6().show();
    form4().show();
    QVERIFY(!r.mnuFullscreen->isChecked());

    r.mnuFullscreen->trigger();
    QVERIFY(r.mnuFullscreen->isChecked());
    QCOMPARE(form4().WindowState(), 2);

    r.mnuFullscreen->trigger();
    QVERIFY(!r.mnuFullscreen->isChecked());
    QVERIFY(form4().WindowState() != 2);

    // The window buttons run the same toggle, so the mark stays in step.
    Picture2_Click();
    QVERIFY(r.mnuFullscreen->isChecked());
    Form4_Picture2_Click();
    QVERIFY(!r.mnuFullscreen->isChecked());
    QVERIFY(form4().WindowState() != 2);
}

void TestMenu::aboutAndHelpModeless()
{
    res().mnuHelp->trigger();
    QVERIFY(helpForm());
    QVERIFY(helpForm()->isVisible());
    QVERIFY(!helpForm()->isModal());
    res().mnuAbout->trigger();
    QVERIFY(aboutForm());
    QVERIFY(aboutForm()->isVisible());
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
    QStringList shown;
    // Let closed windows go first: a window closing under an open popup
    // closes the popup.
    QTest::qWait(50);
    whileClosing([&] { res().PopupMenu(owner); },
                 [&](QWidget *w) {
                     auto *menu = qobject_cast<QMenu *>(w);
                     QVERIFY(menu);
                     shown = entries(menu);
                     // Choosing an item runs its handler before the popup call returns.
                     res().mnuPause->trigger();
                     menu->close();
                 });
    QCOMPARE(res().popupOwner(), owner);
    QCOMPARE(shown.size(), 19);
    QCOMPARE(calls(), QStringList{"Pause"});
}

void TestMenu::exitReleasesAndEnds()
{
    QPointer<Form4> video = &form4();
    form6().Seek->setValue(60);
    try {
        res().mnuExit->trigger();
        QFAIL("exit returned");
    } catch (const ExitCalled &e) {
        QCOMPARE(e.status, 0);
    }
    QCOMPARE(exits, QList<int>{0});
    QVERIFY(!form4Loaded());
    QVERIFY(video.isNull()); // the window and its engine are gone, not pending
    QCOMPARE(form6().Seek->Value(), 1);

    // Both windows' exit buttons take the same way.
    for (auto button : {Picture3_Click, Form4_Picture3_Click}) {
        exits.clear();
        form4();
        QVERIFY_THROWS_EXCEPTION(ExitCalled, button());
        QCOMPARE(exits, QList<int>{0});
    }
}

QTEST_MAIN(TestMenu)
#include "test_menu.moc"
