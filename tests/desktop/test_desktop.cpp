// Desktop integration with the scripted engine: the stream submenus, resume
// points (written, cleared, offered, played) and the screensaver inhibit
// against a stand-in service on the test's own session bus.

#include "../commands/Fixture.h"

#include "desktop/DesktopIntegration.h"
#include "desktop/ResumeTracker.h"
#include "desktop/ScreenSaverInhibitor.h"
#include "engine/TimeCode.h"
#include "services/ResumeStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>

using namespace velmora;
using namespace velmora::testing;

namespace {

const QString DiscOne = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString DiscTwo = QStringLiteral("fedcba9876543210fedcba9876543210");

// Stands in for the desktop's screensaver service and records the calls.
class ScreenSaverStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QStringList calls;
public slots:
    uint Inhibit(const QString &application, const QString &)
    {
        calls << QStringLiteral("Inhibit(%1)").arg(application);
        return 42;
    }
    void UnInhibit(uint cookie) { calls << QStringLiteral("UnInhibit(%1)").arg(cookie); }
};

QStringList entries(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions()) {
        QString text = a->isSeparator() ? QStringLiteral("-") : a->text();
        if (a->isCheckable() && a->isChecked())
            text += QStringLiteral(" [x]");
        if (!a->isEnabled())
            text += QStringLiteral(" (grey)");
        out << text;
    }
    return out;
}

QAction *entry(QMenu *menu, const QString &startsWith)
{
    for (QAction *a : menu->actions()) {
        if (a->text().startsWith(startsWith))
            return a;
    }
    return nullptr;
}

} // namespace

class TestDesktop : public QObject, private CommandFixture
{
    Q_OBJECT

private slots:
    void init()
    {
        reset();
        m_store = m_dir.filePath(QStringLiteral("resume-%1.db").arg(++m_run));
        m_desktop = std::make_unique<DesktopIntegration>(QDBusConnection(QStringLiteral("none")),
                                                         std::make_unique<ResumeStore>(m_store));
    }
    void cleanup()
    {
        m_desktop.reset();
    }

    void menuOrder();
    void audioMenu();
    void subtitleMenu();
    void resumePointWrittenOnStopAndOffered();
    void resumePointWrittenWhilePlaying();
    void resumePointClearedAtTheTitlesEnd();
    void resumePointWrittenOnExitAndWhenAnotherDiscOpens();
    void screenSaverHeldOnlyWhileATitlePlays();

private:
    // A notification at the given second of a 40 s title.
    void playAt(int title, int seconds, DvdEngine::PlayState state = DvdEngine::PlayState::Playing)
    {
        ScriptedEngine &e = engine();
        e.state = state;
        e.currentTitle = title;
        e.notify(DvdEngine::CurrentTime, TimeCode{0, 0, seconds, 0}.packed());
    }
    std::optional<ResumePoint> stored(const QString &disc) { return ResumeStore(m_store).find(disc); }

    QTemporaryDir m_dir;
    QString m_store;
    int m_run = 0;
    std::unique_ptr<DesktopIntegration> m_desktop;
};

void TestDesktop::menuOrder()
{
    Res &r = res();
    QCOMPARE(r.mnuFile->actions().first(), r.mnuResume);
    QCOMPARE(r.mnuResume->text(), QStringLiteral("继续上次播放"));
    QVERIFY(!r.mnuResume->isEnabled());
    const QList<QAction *> sub = r.mnuSubtitle->actions();
    QCOMPARE(sub.indexOf(r.mnuAudio->menuAction()), sub.indexOf(r.mnuDS) + 1);
    QCOMPARE(sub.indexOf(r.mnuSubs->menuAction()), sub.indexOf(r.mnuDS) + 2);
    QCOMPARE(r.mnuAudio->title(), QStringLiteral("音轨"));
    QCOMPARE(r.mnuSubs->title(), QStringLiteral("字幕"));
}

void TestDesktop::audioMenu()
{
    ScriptedEngine &e = engine();
    e.audioLanguages = {"English", "French", "Unknown"};
    e.audioFormats = {"AC-3 5.1", "MPEG stereo", ""};
    e.audioEnabled = {true, true, false};
    e.currentAudio = 0;
    QMenu *menu = res().mnuAudio;
    emit menu->aboutToShow();
    QCOMPARE(entries(menu), QStringList({"1: English (AC-3 5.1) [x]", "2: French (MPEG stereo)", "3: Unknown (grey)"}));

    // Choosing goes to the engine; the information box's captions are read again.
    e.calls.clear();
    entry(menu, "2:")->trigger();
    QVERIFY2(e.calls.contains("SelectAudioStream(1)"), qPrintable(e.calls.join(", ")));
    QVERIFY(e.calls.contains("AudioStreamCount"));

    // Rebuilt from the engine at each opening; a refusing engine leaves it empty.
    e.currentAudio = 1;
    emit menu->aboutToShow();
    QCOMPARE(entries(menu).at(1), QStringLiteral("2: French (MPEG stereo) [x]"));
    e.failures.insert("AudioStreamCount", ErrorCode::NoDisc);
    emit menu->aboutToShow();
    QVERIFY(menu->actions().isEmpty());
}

void TestDesktop::subtitleMenu()
{
    ScriptedEngine &e = engine();
    e.subpictureEnabled = {true, false};
    e.currentSubpicture = -1;
    QMenu *menu = res().mnuSubs;
    emit menu->aboutToShow();
    QCOMPARE(entries(menu), QStringList({"关闭 [x]", "1: English", "2: German (grey)"}));
    e.currentSubpicture = 0;
    emit menu->aboutToShow();
    QCOMPARE(entries(menu), QStringList({"关闭", "1: English [x]", "2: German (grey)"}));

    // "关闭" is the same as unchecking the subtitle display item.
    e.calls.clear();
    entry(menu, "关闭")->trigger();
    QVERIFY(!res().mnuDS->isChecked());
    QVERIFY(e.calls.contains("setShowSubtitles(false)"));
    emit menu->aboutToShow();
    QCOMPARE(entries(menu).first(), QStringLiteral("关闭 [x]")); // display off, whatever the engine says

    // A stream turns the display back on.
    e.calls.clear();
    entry(menu, "1:")->trigger();
    QVERIFY(res().mnuDS->isChecked());
    QVERIFY(e.calls.contains("setShowSubtitles(true)"));
    QVERIFY(e.calls.contains("SelectSubpictureStream(0)"));
}

void TestDesktop::resumePointWrittenOnStopAndOffered()
{
    engine().identify(DiscOne);
    QVERIFY(!res().mnuResume->isEnabled()); // nothing stored yet
    playAt(1, 11);
    playAt(1, 12);
    engine().state = DvdEngine::PlayState::Stopped;
    engine().reset(); // Stop
    QCOMPARE(stored(DiscOne), (ResumePoint{1, "00:00:12:00"}));
    QVERIFY(!res().mnuResume->isEnabled());

    // The disc starts again (a new video window and engine, as after the chooser).
    unloadForm4();
    form4();
    m_desktop->tick();
    engine().identify(DiscOne);
    QVERIFY(res().mnuResume->isEnabled());
    QLabel *caption = m_desktop->offerCaption();
    QVERIFY(caption && !caption->isHidden());
    QCOMPARE(caption->text(), QStringLiteral("继续上次播放: 标题 1 00:00:12 (右键菜单)"));
    QVERIFY(engine().calls.filter("PlayTitleAtTime").isEmpty()); // nothing resumes by itself

    res().mnuResume->trigger();
    QCOMPARE(engine().calls.filter("PlayTitleAtTime"), QStringList{"PlayTitleAtTime(1, 00:00:12:00)"});
    QVERIFY(!res().mnuResume->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(caption->isHidden(), 1000);
}

void TestDesktop::resumePointWrittenWhilePlaying()
{
    m_desktop->resume()->setWriteInterval(100);
    engine().identify(DiscOne);
    playAt(1, 5);
    QTest::qWait(150);
    playAt(1, 6, DvdEngine::PlayState::Scanning); // only a title playing at normal speed is written
    QVERIFY(!stored(DiscOne));
    QTest::qWait(150);
    playAt(1, 7); // playing again, the interval is over
    QCOMPARE(stored(DiscOne), (ResumePoint{1, "00:00:07:00"}));
    QTest::qWait(20);
    playAt(1, 8); // within the interval: not yet
    QCOMPARE(stored(DiscOne), (ResumePoint{1, "00:00:07:00"}));
}

void TestDesktop::resumePointClearedAtTheTitlesEnd()
{
    ResumeStore(m_store).save(DiscOne, {2, "00:00:05:00"});
    engine().identify(DiscOne);
    QVERIFY(res().mnuResume->isEnabled());
    playAt(1, 20);
    engine().notify(DvdEngine::TitleChange, 0); // a jump to the menu mid-title: written
    QCOMPARE(stored(DiscOne), (ResumePoint{1, "00:00:20:00"}));
    playAt(1, 39);
    engine().notify(DvdEngine::TitleChange, 0); // played to its end, the disc's command moved on
    QVERIFY(!stored(DiscOne));
}

void TestDesktop::resumePointWrittenOnExitAndWhenAnotherDiscOpens()
{
    engine().identify(DiscOne);
    playAt(1, 7);
    engine().identify(DiscTwo); // the same engine opened another disc
    QCOMPARE(stored(DiscOne), (ResumePoint{1, "00:00:07:00"}));
    playAt(2, 3);
    QVERIFY_THROWS_EXCEPTION(ExitCalled, res().mnuExit->trigger());
    QCOMPARE(stored(DiscTwo), (ResumePoint{2, "00:00:03:00"}));
}

void TestDesktop::screenSaverHeldOnlyWhileATitlePlays()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        QSKIP("no session bus (run under dbus-run-session)");
    // The stand-in answers on a connection of its own, as another program would.
    QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("standin"));
    ScreenSaverStandIn standIn;
    QVERIFY(service.registerObject(ScreenSaverInhibitor::Path, &standIn, QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(ScreenSaverInhibitor::Service));

    m_desktop = std::make_unique<DesktopIntegration>(bus, std::make_unique<ResumeStore>(m_store));
    ScriptedEngine &e = engine();
    const std::pair<DvdEngine::PlayState, bool> steps[] = {
        {DvdEngine::PlayState::Menu, false},    {DvdEngine::PlayState::Playing, true},
        {DvdEngine::PlayState::Paused, false},  {DvdEngine::PlayState::Playing, true},
        {DvdEngine::PlayState::Scanning, false}, {DvdEngine::PlayState::Playing, true},
        {DvdEngine::PlayState::Stopped, false},
    };
    QStringList expected;
    for (const auto &[state, held] : steps) {
        e.state = state;
        m_desktop->tick();
        if (held)
            expected << "Inhibit(Velmora)";
        else if (!expected.isEmpty() && expected.last().startsWith("Inhibit"))
            expected << "UnInhibit(42)";
        QTRY_COMPARE_WITH_TIMEOUT(standIn.calls, expected, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop->screenSaver()->held() == ScreenSaverInhibitor::Method::DBus, held, 2000);
    }
    // Exit lets go as well.
    e.state = DvdEngine::PlayState::Playing;
    m_desktop->tick();
    QTRY_VERIFY_WITH_TIMEOUT(m_desktop->screenSaver()->held() == ScreenSaverInhibitor::Method::DBus, 2000);
    QVERIFY_THROWS_EXCEPTION(ExitCalled, res().mnuExit->trigger());
    QTRY_COMPARE_WITH_TIMEOUT(standIn.calls.last(), QStringLiteral("UnInhibit(42)"), 2000);
    service.unregisterService(ScreenSaverInhibitor::Service);
}

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
