// Desktop integration with the real engine on the authored discs: the
// player's controls on its own session bus while disc B plays, a resume
// point kept across Stop, and the audio submenu switching disc A to French.

#include "commands/Commands.h"
#include "commands/Res.h"
#include "desktop/DesktopIntegration.h"
#include "desktop/MprisService.h"
#include "engine/TimeCode.h"
#include "engine/core/PlaybackEngine.h"
#include "engine/nav/DiscIdentity.h"
#include "services/ResumeStore.h"
#include "shell/Form4.h"
#include "shell/Form6.h"
#include "shell/Forms.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace velmora;

namespace {

const QString Player = QStringLiteral("org.mpris.MediaPlayer2.Player");

QString disc(const char *name)
{
    return QStringLiteral(VELMORA_DISC_DIR "/") + QLatin1String(name);
}

// Power of one frequency in 16-bit mono samples (Goertzel).
double power(const QByteArray &pcm, double frequency)
{
    const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
    const qsizetype n = pcm.size() / 2;
    const double k = 2 * std::cos(2 * M_PI * frequency / 48000);
    double a = 0;
    double b = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const double c = s[i] + k * a - b;
        b = a;
        a = c;
    }
    return a * a + b * b - k * a * b;
}

} // namespace

class TestDesktopDiscs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(disc("B/VIDEO_TS")) || !QFileInfo::exists(disc("A/VIDEO_TS")))
            QSKIP("the test discs are not authored (build target test_discs)");
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toLocal8Bit());
        setEngineFactory([](QWidget *host) { return createPlaybackEngine(host); });
        setMessageBoxFunction([this](const QString &text, const QString &) { m_messages << text; });
        form6().show();
        m_desktop = std::make_unique<DesktopIntegration>(QDBusConnection::sessionBus(),
                                                         std::make_unique<ResumeStore>(m_home.filePath("resume.db")));
        QVERIFY(m_desktop->mpris());
        m_client = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client")));
        QVERIFY(m_client->isConnected());
        QVERIFY(m_client->connect(MprisService::ServiceName, MprisService::ObjectPath, Player, QStringLiteral("Seeked"),
                                  this, SLOT(onSeeked(qlonglong))));
    }

    void cleanupTestCase()
    {
        // Playback ends while the application is whole, as the exit routine does it.
        m_desktop.reset();
        if (form4Loaded()) {
            QPointer<Form4> video = &form4();
            unloadForm4();
            delete video.data();
        }
    }

    void discIdentity();
    void controlsWhileDiscBPlays();
    void resumesWhereItStopped();
    void audioMenuSwitchesDiscAToFrench();

    void onSeeked(qlonglong position) { m_seeked << position; }

private:
    DvdEngine &engine() { return *form4().DVD; }

    // A method or property call through the bus from another connection;
    // the event loop runs while it waits, so the player can answer.
    QVariant callBus(const QString &interface, const QString &method, const QVariantList &args = {})
    {
        QDBusMessage msg = QDBusMessage::createMethodCall(MprisService::ServiceName, MprisService::ObjectPath,
                                                          interface, method);
        msg.setArguments(args);
        QDBusPendingCall pending = m_client->asyncCall(msg, 5000);
        QDBusPendingCallWatcher watcher(pending);
        if (!QTest::qWaitFor([&] { return watcher.isFinished(); }, 6000))
            return QStringLiteral("(no answer)");
        const QDBusMessage reply = watcher.reply();
        if (reply.type() == QDBusMessage::ErrorMessage)
            return QStringLiteral("error: ") + reply.errorName();
        return reply.arguments().value(0);
    }
    QVariant property(const QString &name, const QString &interface = Player)
    {
        const QVariant v = callBus(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                   {interface, name});
        return v.value<QDBusVariant>().variant();
    }
    QVariantMap metadata()
    {
        QVariantMap map;
        const QDBusArgument arg = property(QStringLiteral("Metadata")).value<QDBusArgument>();
        arg >> map;
        return map;
    }
    qlonglong position() { return property(QStringLiteral("Position")).toLongLong(); }
    QString status() { return property(QStringLiteral("PlaybackStatus")).toString(); }
    QImage picture() { return engine().surface()->grab().toImage(); }
    // Seconds into the title of the next time notification.
    int nextSeconds()
    {
        QSignalSpy times(&engine(), &DvdEngine::DVDNotify);
        for (int round = 0; round < 50; ++round) {
            times.wait(200);
            for (const QList<QVariant> &t : times) {
                if (t.at(0).toInt() == DvdEngine::CurrentTime && engine().CurrentTitle() > 0) {
                    const TimeCode tc = TimeCode::fromPacked(std::int32_t(t.at(1).toLongLong()));
                    return tc.hours * 3600 + tc.minutes * 60 + tc.seconds;
                }
            }
            times.clear();
        }
        return -1;
    }

    QTemporaryDir m_home;
    std::unique_ptr<DesktopIntegration> m_desktop;
    std::unique_ptr<QDBusConnection> m_client;
    QList<qlonglong> m_seeked;
    QStringList m_messages;
};

void TestDesktopDiscs::discIdentity()
{
    // One disc, one id, whether it is a folder, its VIDEO_TS folder or an image.
    const QString a = nav::readDiscId(disc("A"));
    QVERIFY2(ResumeStore::isDiscId(a), qPrintable(a));
    QCOMPARE(nav::readDiscId(disc("A/VIDEO_TS")), a);
    QCOMPARE(nav::readDiscId(disc("A.iso")), a);
    QVERIFY(nav::readDiscId(disc("B")) != a);
    QCOMPARE(nav::readDiscId(m_home.filePath("nothing here")), QString());

    // The engine reads it off the UI thread once a source opens.
    QWidget host;
    DvdEngine *engine = createPlaybackEngine(&host);
    QSignalSpy identified(engine, &DvdEngine::DiscIdentified);
    engine->setDVDDirectory(disc("A.iso"));
    QCOMPARE(engine->DiscId(), QString());
    // Opening is enough (asking for a title the disc lacks opens the source, then refuses).
    QVERIFY_THROWS_EXCEPTION(EngineError, engine->PlayTitleAtTime(99, QStringLiteral("00:00:00:00")));
    QTRY_COMPARE_WITH_TIMEOUT(identified.size(), 1, 5000);
    QCOMPARE(identified.first().first().toString(), a);
    QCOMPARE(engine->DiscId(), a);
    engine->setDVDDirectory(disc("B")); // another source: the old id goes
    QCOMPARE(engine->DiscId(), QString());
}

void TestDesktopDiscs::controlsWhileDiscBPlays()
{
    QCOMPARE(property("Identity", "org.mpris.MediaPlayer2").toString(), QStringLiteral("Velmora"));
    QCOMPARE(property("DesktopEntry", "org.mpris.MediaPlayer2").toString(), QStringLiteral("velmora"));
    // Refused on the bus: no such path, a folder without a
    // disc, an address the player cannot read.
    for (const QString &uri : {QStringLiteral("file:///no/such/disc"), QUrl::fromLocalFile(QDir::tempPath()).toString(),
                               QStringLiteral("http://example.org/disc.iso")})
        QCOMPARE(callBus(Player, "OpenUri", {uri}).toString(), QStringLiteral("error: org.freedesktop.DBus.Error.InvalidArgs"));

    QVERIFY(!callBus(Player, "OpenUri", {QUrl::fromLocalFile(disc("B")).toString()}).toString().startsWith("error"));
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(position() >= 1000000, 5000);
    const QVariantMap meta = metadata();
    QCOMPARE(meta.value("xesam:title").toString(), QStringLiteral("标题 1"));
    QCOMPARE(meta.value("xesam:album").toString(), QStringLiteral("B"));
    QCOMPARE(meta.value("mpris:length").toLongLong(), 20000000LL);
    QCOMPARE(meta.value("mpris:trackid").value<QDBusObjectPath>().path(), QStringLiteral("/org/velmora/title/1"));
    QCOMPARE(property("CanSeek").toBool(), true);

    // PlayPause: the picture stands still, then moves on.
    callBus(Player, "PlayPause");
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Paused"), 3000);
    QTest::qWait(300);
    const QImage still = picture();
    QTest::qWait(700);
    QCOMPARE(picture(), still);
    callBus(Player, "PlayPause");
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(picture() != still, 3000);

    // Next: chapter 2.
    QCOMPARE(engine().CurrentChapter(), 1);
    callBus(Player, "Next");
    QTRY_COMPARE_WITH_TIMEOUT(engine().CurrentChapter(), 2, 5000);

    // Seek: five seconds back.
    QTRY_VERIFY_WITH_TIMEOUT(position() >= 11000000, 5000);
    const qlonglong before = position();
    m_seeked.clear();
    callBus(Player, "Seek", {QVariant::fromValue(qlonglong(-5000000))});
    QTRY_COMPARE_WITH_TIMEOUT(m_seeked.size(), 1, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(position() < before - 3000000, 3000);
    // A seek the desktop did not ask for (the seek bar's) is announced too.
    QTest::qWait(1200);
    m_seeked.clear();
    engine().PlayAtTime(QStringLiteral("00:00:16:00"));
    QTRY_COMPARE_WITH_TIMEOUT(m_seeked.size(), 1, 3000);
    QVERIFY2(m_seeked.first() >= 15000000, qPrintable(QString::number(m_seeked.first())));
    QVERIFY(m_messages.isEmpty());
}

void TestDesktopDiscs::resumesWhereItStopped()
{
    if (engine().DVDDirectory() != disc("B"))
        QSKIP("needs disc B playing (the test before)");
    // Stop at 12 s.
    QVERIFY(!callBus(Player, "SetPosition", {QVariant::fromValue(mprisTrackId(1)), QVariant::fromValue(qlonglong(11000000))})
                 .toString()
                 .startsWith("error"));
    QTRY_VERIFY_WITH_TIMEOUT(position() >= 12000000, 5000);
    callBus(Player, "Stop");
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Stopped"), 3000);
    QVERIFY(!res().mnuResume->isEnabled());

    // Start again: the offer, and nothing more until it is taken.
    PlayDisc();
    QTRY_VERIFY_WITH_TIMEOUT(res().mnuResume->isEnabled(), 5000);
    QVERIFY(m_desktop->offerCaption()->text().startsWith(QStringLiteral("继续上次播放: 标题 1 00:00:12")));
    res().mnuResume->trigger();
    const int at = nextSeconds();
    QVERIFY2(at >= 11 && at <= 13, qPrintable(QString::number(at)));
}

void TestDesktopDiscs::audioMenuSwitchesDiscAToFrench()
{
    QVERIFY(!callBus(Player, "OpenUri", {QUrl::fromLocalFile(disc("A")).toString()}).toString().startsWith("error"));
    QTRY_COMPARE_WITH_TIMEOUT(engine().DVDDirectory(), disc("A"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(metadata().value("xesam:album").toString(), QStringLiteral(""), 5000); // the menu
    engine().PlayTitleAtTime(1, QStringLiteral("00:00:02:00"));
    QTRY_COMPARE_WITH_TIMEOUT(engine().AudioStreamCount(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(metadata().value("xesam:album").toString(), QStringLiteral("A"), 5000);

    QMenu *menu = res().mnuAudio;
    emit menu->aboutToShow();
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << a->text() + (a->isChecked() ? " [x]" : "");
    QCOMPARE(texts, QStringList({"1: English (AC-3 stereo) [x]", "2: French (MPEG stereo)"}));
    menu->actions().at(1)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(engine().CurrentAudioStream(), 1, 3000);

    // Listen: the French stream is a steady 440 Hz tone, the English one 1 kHz beeps.
    QProcess parec;
    parec.start(QStringLiteral("parec"), {"-d", "nullsink.monitor", "--format=s16le", "--rate=48000",
                                          "--channels=1", "--raw", "--latency-msec=20"});
    if (!parec.waitForStarted(2000))
        QSKIP("parec is not there to listen with");
    QTest::qWait(1500);
    parec.kill();
    parec.waitForFinished(2000);
    const QByteArray pcm = parec.readAllStandardOutput();
    if (pcm.size() < 48000)
        QSKIP("no sound server to listen to");
    const double french = power(pcm, 440);
    const double english = power(pcm, 1000);
    QVERIFY2(french > 10 * english, qPrintable(QStringLiteral("440 Hz %1, 1 kHz %2").arg(french).arg(english)));
}

QTEST_MAIN(TestDesktopDiscs)
#include "test_desktop_discs.moc"
