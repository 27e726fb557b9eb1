// The status poll's steps against a scripted key source.

#include "Fixture.h"

#include "engine/EngineError.h"
#include "services/AboutHelp.h"
#include "services/FolderChooser.h"
#include "shell/poll/StatusPoll.h"
#include "shell/poll/TextEntryFocus.h"
#include "widgets/ImageButton.h"
#include "widgets/ProgressBar.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QMenu>
#include <QSlider>

using namespace velmora;
using namespace velmora::testing;

class TestStatusPoll : public QObject, private CommandFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void keys_data();
    void keys();
    void severalActionsInStepOrder_data();
    void severalActionsInStepOrder();
    void mirrors();
    void repeatsAndTaps();
    void homeAndF1();
    void openKeyCancelled();
    void f4EndsTheTickButNotWithAlt();
    void fullScreenMouse();
    void typingInOwnField_data();
    void typingInOwnField();
    void typedKeysDoNotFireLater();
    void openKeyWhileBrowsing();

private:
    // What any shortcut leaves behind, to tell whether one acted.
    QString effects() const;
    // Shows a window whose line edit has the keyboard focus.
    QLineEdit *focusField(QWidget &window);

    ScriptedKeySource *m_keys = nullptr;
};

void TestStatusPoll::initTestCase()
{
    auto keys = std::make_unique<ScriptedKeySource>();
    m_keys = keys.get();
    setKeySource(std::move(keys));
}

void TestStatusPoll::init()
{
    reset();
    m_keys->releaseAll();
    if (res().mnuFullscreen->isChecked())
        res().fs();
    res().mnuDS->setChecked(true);
    res().mnuinfo->setChecked(false);
    Timer1_Timer();
    engine().calls.clear();
    m_keys->sampled.clear();
}

namespace {

// The calls of a tick without those every tick makes (subtitles, mute mirror).
QStringList actions(const QStringList &calls)
{
    QStringList out;
    for (const QString &c : calls) {
        if (!c.startsWith(QLatin1String("setShowSubtitles")) && c != QLatin1String("Mute"))
            out << c;
    }
    return out;
}

} // namespace

void TestStatusPoll::keys_data()
{
    QTest::addColumn<VirtualKey>("key");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("Page Down") << VirtualKey::PageDown << QStringList{"PlayForwards(32)"};
    QTest::newRow("P") << VirtualKey::P << QStringList{"Pause"};
    QTest::newRow("Page Up") << VirtualKey::PageUp << QStringList{"PlayBackwards(32)"};
    QTest::newRow("Left") << VirtualKey::Left << QStringList{"PlayPrevChapter"};
    QTest::newRow("Right") << VirtualKey::Right << QStringList{"PlayNextChapter"};
    QTest::newRow("M") << VirtualKey::M << QStringList{"setMute(true)"};
    QTest::newRow("Enter") << VirtualKey::Enter << QStringList{"Play"};
    QTest::newRow("Space") << VirtualKey::Space << QStringList{"Stop"};
    QTest::newRow("left button, not full screen") << VirtualKey::LeftButton << QStringList{};
    QTest::newRow("right button, not full screen") << VirtualKey::RightButton << QStringList{};
}

void TestStatusPoll::keys()
{
    QFETCH(VirtualKey, key);
    QFETCH(QStringList, expected);
    Timer1_Timer();
    // Every tick samples all sixteen codes in order and applies the subtitle
    // mark and the mute mirror, whatever is pressed.
    QCOMPARE(m_keys->sampled, QList<VirtualKey>(PolledKeys.begin(), PolledKeys.end()));
    QCOMPARE(calls(), QStringList({"setShowSubtitles(true)", "Mute"}));

    engine().calls.clear();
    m_keys->tap(key);
    Timer1_Timer();
    QCOMPARE(actions(calls()), expected);
    engine().calls.clear();
    Timer1_Timer(); // a tap is seen once
    QCOMPARE(actions(calls()), QStringList());
    QVERIFY(!form6().Timer2->isActive());
}

void TestStatusPoll::severalActionsInStepOrder_data()
{
    QTest::addColumn<bool>("refuseAll");
    QTest::newRow("engine accepts") << false;
    QTest::newRow("engine refuses everything") << true;
}

void TestStatusPoll::severalActionsInStepOrder()
{
    QFETCH(bool, refuseAll);
    if (refuseAll)
        engine().failures = {{"*", ErrorCode::NotAllowed}};
    res().mnuinfo->trigger();
    form6().Seek->setValue(20);
    // Tapped in reverse: the steps' order wins, and no refusal stops the tick.
    for (VirtualKey k : {VirtualKey::Space, VirtualKey::Enter, VirtualKey::M, VirtualKey::Right, VirtualKey::Left,
                         VirtualKey::PageUp, VirtualKey::P, VirtualKey::PageDown})
        m_keys->tap(k);
    Timer1_Timer();
    QStringList expected{"setShowSubtitles(true)", "PlayForwards(32)", "Pause", "Mute", "PlayBackwards(32)",
                         "PlayPrevChapter", "PlayNextChapter", "Mute", "setMute(true)", "Play", "Stop"};
    if (refuseAll)
        expected.removeOne(QStringLiteral("setMute(true)")); // its read failed first
    QCOMPARE(calls(), expected);
    QVERIFY(!form4().ds->isHidden());
    QCOMPARE(form6().Seek->Value(), 1); // Space resets the bar even when Stop is refused
}

void TestStatusPoll::mirrors()
{
    // Subtitles off within a tick, and kept off, even if a disc menu turns them on.
    res().mnuDS->trigger();
    Timer1_Timer();
    QCOMPARE(calls().first(), QStringLiteral("setShowSubtitles(false)"));
    engine().setShowSubtitles(true);
    Timer1_Timer();
    QVERIFY(!engine().ShowSubtitles());

    // The information box follows its mark.
    res().mnuinfo->trigger();
    Timer1_Timer();
    QVERIFY(!form4().ds->isHidden());
    res().mnuinfo->trigger();
    Timer1_Timer();
    QVERIFY(form4().ds->isHidden());

    // Muted by any path: MuteOff in place of Mute within one tick.
    engine().setMute(true);
    Timer1_Timer();
    QVERIFY(form6().Mute->isHidden());
    QVERIFY(!form6().MuteOff->isHidden());
    engine().setMute(false);
    Timer1_Timer();
    QVERIFY(!form6().Mute->isHidden());
    QVERIFY(form6().MuteOff->isHidden());
}

void TestStatusPoll::repeatsAndTaps()
{
    // Two presses of M between two ticks toggle once.
    m_keys->tap(VirtualKey::M);
    m_keys->tap(VirtualKey::M);
    Timer1_Timer();
    Timer1_Timer();
    QVERIFY(engine().Mute());
    QCOMPARE(calls().count(QStringLiteral("setMute(true)")), 1);

    // Keypad + held for four ticks: +40, then up to the slider's limit.
    QSlider *slider = form6().Slider1;
    slider->setValue(30);
    m_keys->hold(VirtualKey::KeypadPlus);
    for (int tick = 0; tick < 4; ++tick)
        Timer1_Timer();
    QCOMPARE(slider->value(), 70);
    for (int tick = 0; tick < 4; ++tick)
        Timer1_Timer();
    QCOMPARE(slider->value(), slider->maximum());
    m_keys->release(VirtualKey::KeypadPlus);
    m_keys->tap(VirtualKey::KeypadMinus);
    Timer1_Timer();
    Timer1_Timer();
    QCOMPARE(slider->value(), slider->maximum() - 10);
}

void TestStatusPoll::homeAndF1()
{
    form6().show();
    form4().show();
    m_keys->tap(VirtualKey::Home);
    Timer1_Timer();
    QVERIFY(res().mnuFullscreen->isChecked());
    QCOMPARE(form4().WindowState(), 2);
    m_keys->tap(VirtualKey::Home);
    Timer1_Timer();
    QVERIFY(!res().mnuFullscreen->isChecked());
    QVERIFY(form4().WindowState() != 2);

    if (helpForm())
        helpForm()->close();
    m_keys->tap(VirtualKey::F1);
    Timer1_Timer();
    QVERIFY(helpForm() && helpForm()->isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    helpForm()->close();
}

void TestStatusPoll::openKeyCancelled()
{
    unloadDvdDirectoryForm();
    QString prompt;
    bool second = false;
    m_keys->tap(VirtualKey::O);
    m_keys->tap(VirtualKey::Enter);
    whileOpen([] { Timer1_Timer(); },
              [&](QWidget *w) {
                  prompt = promptOf(w);
                  // An "o" typed into an open browser opens no second one
                  // (should one open, close it rather than hang).
                  QTimer::singleShot(300, w, [w, &second] {
                      auto *other = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                      second = other && other != w;
                      if (second)
                          other->reject();
                  });
                  m_keys->tap(VirtualKey::O);
                  Timer1_Timer();
                  QTest::qWait(400);
                  static_cast<QDialog *>(w)->reject();
              });
    QVERIFY(!second);
    QCOMPARE(prompt, QStringLiteral("Select a folder with DVD files (*.VOB, *.IFO)"));
    QCOMPARE(SelectedFolder, QString());
    QVERIFY(!dvdDirectoryFormLoaded() || !dvdDirectoryForm().isVisible());
    QCOMPARE(actions(calls()), QStringList{"Play"}); // Enter's step comes before O's
}

void TestStatusPoll::f4EndsTheTickButNotWithAlt()
{
    // Alt+F4 closes some window for the window manager; the player stays.
    m_keys->tap(VirtualKey::F4, /*withAlt=*/true);
    m_keys->tap(VirtualKey::Enter);
    Timer1_Timer();
    m_keys->hold(VirtualKey::F4, true);
    Timer1_Timer();
    QVERIFY(exits.isEmpty());
    QCOMPARE(actions(calls()), QStringList{"Play"});

    // F4 alone ends the program at once: Home and Enter, later steps, do not run.
    m_keys->release(VirtualKey::F4);
    engine().calls.clear();
    m_keys->tap(VirtualKey::F4, true);
    m_keys->tap(VirtualKey::F4, false);
    m_keys->tap(VirtualKey::P);
    m_keys->tap(VirtualKey::Home);
    m_keys->tap(VirtualKey::Enter);
    QVERIFY_THROWS_EXCEPTION(ExitCalled, Timer1_Timer());
    QCOMPARE(exits, QList<int>{0});
    QVERIFY(!res().mnuFullscreen->isChecked());
    QVERIFY(!form4Loaded()); // the engine went with its window
}

void TestStatusPoll::fullScreenMouse()
{
    form6().show();
    form4().show();
    Timer2_Timer(); // not in full screen: nothing
    QCOMPARE(calls(), QStringList());

    res().fs();
    engine().calls.clear();
    Timer2_Timer();
    QCOMPARE(calls(), QStringList{"SetFocus"});

    // A left click anywhere brings the panel forward and arms Timer2.
    form6().Timer2->stop();
    m_keys->tap(VirtualKey::LeftButton);
    Timer1_Timer();
    QVERIFY(form6().Timer2->isActive());

    // A right click anywhere pops the menu up, owned by the panel.
    QString shown;
    m_keys->tap(VirtualKey::RightButton);
    whileOpen([] { Timer1_Timer(); },
              [&](QWidget *w) {
                  shown = w->objectName();
                  w->close();
              });
    QCOMPARE(shown, QStringLiteral("mnuFile"));
    QCOMPARE(res().popupOwner(), static_cast<QWidget *>(&form6()));
    res().fs();
}

QString TestStatusPoll::effects() const
{
    return QStringList{actions(calls()).join(u','), QString::number(res().mnuFullscreen->isChecked()),
                       QString::number(form6().Slider1->value()),
                       QString::number(helpForm() && helpForm()->isVisible())}
        .join(u'|');
}

QLineEdit *TestStatusPoll::focusField(QWidget &window)
{
    auto *field = new QLineEdit(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    return TextEntryFocus::instance().active() ? field : nullptr;
}

void TestStatusPoll::typingInOwnField_data()
{
    QTest::addColumn<VirtualKey>("key");
    QTest::addColumn<bool>("acts");
    const std::pair<const char *, VirtualKey> editing[] = {
        {"Page Down", VirtualKey::PageDown}, {"Page Up", VirtualKey::PageUp}, {"Home", VirtualKey::Home},
        {"Left", VirtualKey::Left}, {"Right", VirtualKey::Right}, {"Enter", VirtualKey::Enter},
        {"O", VirtualKey::O}, {"P", VirtualKey::P}, {"Space", VirtualKey::Space}, {"M", VirtualKey::M}};
    for (const auto &[name, key] : editing)
        QTest::newRow(name) << key << false;
    const std::pair<const char *, VirtualKey> others[] = {
        {"F1", VirtualKey::F1}, {"F4", VirtualKey::F4}, {"keypad +", VirtualKey::KeypadPlus},
        {"keypad -", VirtualKey::KeypadMinus}};
    for (const auto &[name, key] : others)
        QTest::newRow(name) << key << true;
}

void TestStatusPoll::typingInOwnField()
{
    QFETCH(VirtualKey, key);
    QFETCH(bool, acts);
    if (helpForm())
        helpForm()->close();
    form6().Slider1->setValue(50);
    QWidget window;
    QVERIFY(focusField(window));
    const QString before = effects();
    bool dialog = false;
    bool exited = false;
    m_keys->tap(key);
    whileOpen([&] {
        try {
            Timer1_Timer();
        } catch (const ExitCalled &) {
            exited = true;
        }
    }, [&](QWidget *w) {
        dialog = true;
        w->close();
    });
    QCOMPARE(dialog || exited || effects() != before, acts);
    if (helpForm())
        helpForm()->close();
}

void TestStatusPoll::typedKeysDoNotFireLater()
{
    {
        QWidget window;
        QVERIFY(focusField(window));
        Timer1_Timer();
        // Typed, and the field gone, all between two ticks.
        for (VirtualKey k : {VirtualKey::O, VirtualKey::M, VirtualKey::P, VirtualKey::Space, VirtualKey::Enter})
            m_keys->tap(k);
        m_keys->hold(VirtualKey::M);
    }
    QVERIFY(!TextEntryFocus::instance().active());
    bool browsed = false;
    // A browser opened by mistake is closed rather than left to hang the test.
    const auto closeAndNote = [&](QWidget *w) {
        browsed = true;
        w->close();
    };
    whileOpen([] { Timer1_Timer(); }, closeAndNote);
    whileOpen([] { Timer1_Timer(); }, closeAndNote); // M is still held since it was typed
    QVERIFY(!browsed);
    QCOMPARE(actions(calls()), QStringList());

    // Released and pressed again with no field of ours focused: a shortcut again.
    m_keys->release(VirtualKey::M);
    Timer1_Timer();
    m_keys->tap(VirtualKey::M);
    m_keys->tap(VirtualKey::P);
    Timer1_Timer();
    QCOMPARE(actions(calls()), QStringList({"Pause", "setMute(true)"}));

    // A read-only field takes no typing.
    QWidget window;
    QLineEdit *field = focusField(window);
    QVERIFY(field);
    field->setReadOnly(true);
    field->setFocus();
    field->clearFocus();
    field->setFocus();
    QVERIFY(!TextEntryFocus::instance().active());
    Timer1_Timer();
    engine().calls.clear();
    m_keys->tap(VirtualKey::P);
    Timer1_Timer();
    QCOMPARE(actions(calls()), QStringList{"Pause"});
}

void TestStatusPoll::openKeyWhileBrowsing()
{
    // A browser opened by the panel's button; the focus in its folder list,
    // not in a text field.
    int browsers = 0;
    bool typing = true;
    whileOpen([] { Op_Click(); }, [&](QWidget *w) {
        ++browsers;
        QApplication::setActiveWindow(w);
        QAbstractItemView *list = nullptr; // the folder list shown (list or detail view)
        for (QAbstractItemView *view : w->findChildren<QAbstractItemView *>()) {
            if (!list && view->isVisible() && view->objectName() != u"sidebar")
                list = view;
        }
        for (int i = 0; list && i < 100 && !list->hasFocus(); ++i) {
            list->setFocus();
            QTest::qWait(10);
        }
        typing = TextEntryFocus::instance().active();
        m_keys->tap(VirtualKey::O);
        Timer1_Timer();
        m_keys->hold(VirtualKey::O);
        Timer1_Timer();
        static_cast<QDialog *>(w)->reject();
    });
    QCOMPARE(browsers, 1);
    QVERIFY(!typing);
    // Held across the browser's closing: no new browser.
    whileOpen([] { Timer1_Timer(); }, [&](QWidget *w) {
        ++browsers;
        static_cast<QDialog *>(w)->reject();
    });
    QCOMPARE(browsers, 1);
    // Released, then pressed: it opens one.
    m_keys->release(VirtualKey::O);
    Timer1_Timer();
    m_keys->tap(VirtualKey::O);
    whileOpen([] { Timer1_Timer(); }, [&](QWidget *w) {
        ++browsers;
        static_cast<QDialog *>(w)->reject();
    });
    QCOMPARE(browsers, 2);
}

QTEST_MAIN(TestStatusPoll)
#include "test_status_poll.moc"
