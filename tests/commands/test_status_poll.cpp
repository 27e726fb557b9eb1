// The status poll's twenty steps against a scripted key source.

#include "Fixture.h"

#include "engine/EngineError.h"
#include "services/AboutHelp.h"
#include "services/FolderChooser.h"
#include "shell/poll/StatusPoll.h"
#include "widgets/ImageButton.h"
#include "widgets/ProgressBar.h"

#include <QFileDialog>
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

    void samplesEveryCodeInOrder();
    void keyActions_data();
    void keyActions();
    void severalActionsInStepOrder();
    void mirrorsMenuMarks();
    void mirrorsMute();
    void twoTapsOfMToggleOnce();
    void heldKeypadPlusRepeats();
    void spaceStopsAndResetsEvenWhenRefused();
    void homeTogglesFullScreen();
    void f1ShowsHelp();
    void openKeyCancelled();
    void f4EndsTheTick();
    void altF4DoesNotEnd();
    void fullScreenClicks();
    void timer2ReturnsFocusInFullScreen();
    void refusalsDoNotStopTheTick();

private:
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
    m_keys->sampled.clear();
    if (res().mnuFullscreen->isChecked())
        res().fs();
    res().mnuDS->setChecked(true);
    res().mnuinfo->setChecked(false);
    // Leave the engine's state as the steps that run every tick see it.
    Timer1_Timer();
    engine().calls.clear();
    m_keys->sampled.clear();
}

namespace {

// The calls of one tick without the ones every tick makes (steps 5 and 8).
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

void TestStatusPoll::samplesEveryCodeInOrder()
{
    Timer1_Timer();
    QCOMPARE(m_keys->sampled.size(), 16);
    QCOMPARE(m_keys->sampled, QList<VirtualKey>(PolledKeys.begin(), PolledKeys.end()));
    const QList<int> codes{0x22, 0x21, 0x24, 0x25, 0x27, 0x0D, 0x4F, 0x70, 0x50, 0x73, 0x20, 0x6B, 0x6D, 0x4D, 0x01, 0x02};
    for (int i = 0; i < codes.size(); ++i)
        QCOMPARE(int(PolledKeys[i]), codes[i]);
    // Every tick applies the subtitle mark and reads the mute state, nothing else.
    QCOMPARE(calls(), QStringList({"setShowSubtitles(true)", "Mute"}));
}

void TestStatusPoll::keyActions_data()
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
    // Mouse buttons matter only in full screen.
    QTest::newRow("left button") << VirtualKey::LeftButton << QStringList{};
    QTest::newRow("right button") << VirtualKey::RightButton << QStringList{};
}

void TestStatusPoll::keyActions()
{
    QFETCH(VirtualKey, key);
    QFETCH(QStringList, expected);
    m_keys->tap(key);
    Timer1_Timer();
    QCOMPARE(actions(calls()), expected);
    // A tap is seen once.
    engine().calls.clear();
    Timer1_Timer();
    QCOMPARE(actions(calls()), QStringList{});
}

void TestStatusPoll::severalActionsInStepOrder()
{
    // Tapped in the reverse order: the steps' order wins.
    for (VirtualKey k : {VirtualKey::Enter, VirtualKey::M, VirtualKey::Right, VirtualKey::Left,
                         VirtualKey::PageUp, VirtualKey::P, VirtualKey::PageDown})
        m_keys->tap(k);
    Timer1_Timer();
    QCOMPARE(calls(),
             QStringList({"setShowSubtitles(true)", "PlayForwards(32)", "Pause", "Mute", "PlayBackwards(32)",
                          "PlayPrevChapter", "PlayNextChapter", "Mute", "setMute(true)", "Play"}));
}

void TestStatusPoll::mirrorsMenuMarks()
{
    // Subtitles off within a tick, and kept off at every tick.
    res().mnuDS->trigger();
    Timer1_Timer();
    QCOMPARE(calls().first(), QStringLiteral("setShowSubtitles(false)"));
    engine().setShowSubtitles(true); // e.g. a disc menu turned them on
    Timer1_Timer();
    QVERIFY(!engine().ShowSubtitles());

    QVERIFY(form4().ds->isHidden());
    res().mnuinfo->trigger();
    Timer1_Timer();
    QVERIFY(!form4().ds->isHidden());
    res().mnuinfo->trigger();
    Timer1_Timer();
    QVERIFY(form4().ds->isHidden());
}

void TestStatusPoll::mirrorsMute()
{
    engine().setMute(true); // the Mute button or anything else
    Timer1_Timer();
    QVERIFY(form6().Mute->isHidden());
    QVERIFY(!form6().MuteOff->isHidden());

    m_keys->tap(VirtualKey::M);
    Timer1_Timer();
    // The mirror runs before the M step: one more tick shows the new state.
    Timer1_Timer();
    QVERIFY(!engine().Mute());
    QVERIFY(!form6().Mute->isHidden());
    QVERIFY(form6().MuteOff->isHidden());
}

void TestStatusPoll::twoTapsOfMToggleOnce()
{
    m_keys->tap(VirtualKey::M);
    m_keys->tap(VirtualKey::M);
    Timer1_Timer();
    QVERIFY(engine().Mute());
    Timer1_Timer();
    QVERIFY(engine().Mute());
    QCOMPARE(engine().calls.count(QStringLiteral("setMute(true)")), 1);
}

void TestStatusPoll::heldKeypadPlusRepeats()
{
    QSlider *slider = form6().Slider1;
    slider->setValue(30);
    m_keys->hold(VirtualKey::KeypadPlus);
    for (int tick = 0; tick < 4; ++tick)
        Timer1_Timer();
    QCOMPARE(slider->value(), 70);
    // Up to the slider's limit.
    for (int tick = 0; tick < 6; ++tick)
        Timer1_Timer();
    QCOMPARE(slider->value(), slider->maximum());

    m_keys->release(VirtualKey::KeypadPlus);
    m_keys->tap(VirtualKey::KeypadMinus);
    Timer1_Timer();
    Timer1_Timer();
    QCOMPARE(slider->value(), slider->maximum() - 10);
}

void TestStatusPoll::spaceStopsAndResetsEvenWhenRefused()
{
    form6().Seek->setValue(55);
    engine().failures = {{"Stop", ErrorCode::NoDisc}};
    m_keys->tap(VirtualKey::Space);
    Timer1_Timer();
    QCOMPARE(form6().Seek->Value(), 1);
    QCOMPARE(actions(calls()), QStringList{"Stop"});
}

void TestStatusPoll::homeTogglesFullScreen()
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
}

void TestStatusPoll::f1ShowsHelp()
{
    if (helpForm())
        helpForm()->close();
    m_keys->tap(VirtualKey::F1);
    Timer1_Timer();
    QVERIFY(helpForm());
    QVERIFY(helpForm()->isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    helpForm()->close();
}

void TestStatusPoll::openKeyCancelled()
{
    unloadDvdDirectoryForm();
    QString prompt;
    m_keys->tap(VirtualKey::O);
    m_keys->tap(VirtualKey::Enter);
    whileClosing([] { Timer1_Timer(); },
                 [&](QWidget *w) {
                     auto *dialog = qobject_cast<QFileDialog *>(w);
                     QVERIFY(dialog);
                     for (QLabel *label : dialog->findChildren<QLabel *>()) {
                         if (label->text().contains(QStringLiteral("*.VOB, *.IFO")))
                             prompt = label->text();
                     }
                     // An "o" typed into the browser opens no second browser.
                     m_keys->tap(VirtualKey::O);
                     Timer1_Timer();
                     QCOMPARE(QApplication::activeModalWidget(), w);
                     static_cast<QDialog *>(dialog)->reject();
                 });
    QCOMPARE(prompt, QStringLiteral("Select a folder with DVD files (*.VOB, *.IFO)"));
    QCOMPARE(SelectedFolder, QString());
    QVERIFY(!dvdDirectoryFormLoaded() || !dvdDirectoryForm().isVisible());
    QCOMPARE(actions(calls()), QStringList{"Play"}); // Enter ran before O
}

void TestStatusPoll::f4EndsTheTick()
{
    m_keys->tap(VirtualKey::P);
    m_keys->tap(VirtualKey::F4);
    m_keys->tap(VirtualKey::Enter);
    m_keys->tap(VirtualKey::Home);
    QVERIFY_THROWS_EXCEPTION(ExitCalled, Timer1_Timer());
    QCOMPARE(exits, QList<int>{0});
    QVERIFY(!res().mnuFullscreen->isChecked()); // Home did not run
    QVERIFY(!form4Loaded());                    // the engine went with its window
}

void TestStatusPoll::altF4DoesNotEnd()
{
    m_keys->tap(VirtualKey::F4, /*withAlt=*/true);
    m_keys->tap(VirtualKey::Enter);
    Timer1_Timer();
    QVERIFY(exits.isEmpty());
    QCOMPARE(actions(calls()), QStringList{"Play"});

    // Held with Alt: still ignored; F4 alone afterwards ends the program.
    m_keys->hold(VirtualKey::F4, true);
    Timer1_Timer();
    QVERIFY(exits.isEmpty());
    m_keys->release(VirtualKey::F4);
    m_keys->tap(VirtualKey::F4, true);
    m_keys->tap(VirtualKey::F4, false);
    QVERIFY_THROWS_EXCEPTION(ExitCalled, Timer1_Timer());
}

void TestStatusPoll::fullScreenClicks()
{
    form6().show();
    form4().show();
    m_keys->tap(VirtualKey::LeftButton);
    Timer1_Timer();
    QVERIFY(!form6().Timer2->isActive()); // not in full screen

    res().fs();
    m_keys->tap(VirtualKey::LeftButton);
    Timer1_Timer();
    QVERIFY(form6().Timer2->isActive());

    QStringList shown;
    m_keys->tap(VirtualKey::RightButton);
    whileClosing([] { Timer1_Timer(); },
                 [&](QWidget *w) {
                     if (auto *menu = qobject_cast<QMenu *>(w)) {
                         shown << menu->objectName();
                         menu->close();
                     }
                 });
    QCOMPARE(shown, QStringList{"mnuFile"});
    QCOMPARE(res().popupOwner(), static_cast<QWidget *>(&form6()));
    res().fs();
}

void TestStatusPoll::timer2ReturnsFocusInFullScreen()
{
    form6().show();
    form4().show();
    Timer2_Timer();
    QCOMPARE(calls(), QStringList{});
    res().fs();
    engine().calls.clear();
    Timer2_Timer();
    QCOMPARE(calls(), QStringList{"SetFocus"});
    res().fs();
}

void TestStatusPoll::refusalsDoNotStopTheTick()
{
    engine().failures = {{"*", ErrorCode::NotAllowed}};
    res().mnuinfo->trigger();
    for (VirtualKey k : {VirtualKey::PageDown, VirtualKey::P, VirtualKey::PageUp, VirtualKey::Left,
                         VirtualKey::Right, VirtualKey::M, VirtualKey::Enter, VirtualKey::Space})
        m_keys->tap(k);
    form6().Seek->setValue(20);
    Timer1_Timer();
    QCOMPARE(calls(),
             QStringList({"setShowSubtitles(true)", "PlayForwards(32)", "Pause", "Mute", "PlayBackwards(32)",
                          "PlayPrevChapter", "PlayNextChapter", "Mute", "Play", "Stop"}));
    QVERIFY(!form4().ds->isHidden());
    QCOMPARE(form6().Seek->Value(), 1);
}

QTEST_MAIN(TestStatusPoll)
#include "test_status_poll.moc"
