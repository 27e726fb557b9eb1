// The engine's life on the authored discs: Stop and Play again, stopping in
// every state, many starts and stops, the surface deleted first, sources
// that are no DVD or are damaged, eject, and a disc that loops inside the
// navigator.
#include "engine/EngineError.h"
#include "engine/TimeCode.h"
#include "engine/core/PlaybackEngine.h"
#include "engine/video/VideoSurface.h"
#include "tests/support/AuthoredDiscs.h"
#include "tests/support/EngineInHost.h"
#include "tests/support/ErrorCodeOf.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;
using namespace velmora::testing;

class TestPlaybackEngine : public QObject
{
    Q_OBJECT
private slots:
    void deletingTheSurfaceFirstStopsPlayback()
    {
        REQUIRE_DISCS();
        EngineInHost setup({320, 240}, EngineInHost::VideoWindow::Shown);
        DvdEngine *engine = setup.engine;
        engine->setDVDDirectory(discB());
        engine->Play();
        auto *surface = qobject_cast<video::VideoSurface *>(engine->surface());
        QTRY_VERIFY_WITH_TIMEOUT(!surface->currentImage().isNull(), 3000);
        delete surface; // the video thread must not paint on it afterwards
        QVERIFY(engine->surface() == nullptr);
        QTest::qWait(300);
        engine->Stop();
    }

    void stopThenPlayResumesAndRenderStartsAfresh()
    {
        REQUIRE_DISCS();
        QTemporaryDir dir;
        // Spaces and Chinese characters in the path, as users name folders.
        const QString path = dir.filePath(QString::fromUtf8("我的 光盘/B 副本"));
        copyDisc(discB(), path);
        QWidget host;
        DvdEngine *engine = createPlaybackEngine(&host);
        QSignalSpy notify(engine, &DvdEngine::DVDNotify);
        engine->setDVDDirectory(path);
        engine->Play();
        QTRY_COMPARE_WITH_TIMEOUT(engine->CurrentTitle(), 1, 3000);
        engine->PlayAtTime(QStringLiteral("00:00:12:00"));
        const auto lastTime = [&]() -> double {
            double t = -1;
            for (const auto &args : notify)
                if (args[0].toInt() == DvdEngine::CurrentTime)
                    t = TimeCode::fromPacked(std::int32_t(args[1].toLongLong())).toSeconds(30);
            return t;
        };
        QTRY_VERIFY_WITH_TIMEOUT(lastTime() >= 12.5, 4000);
        engine->Stop();
        QTest::qWait(50);
        notify.clear();
        // A bare Stop keeps the place: Play goes on from there.
        engine->Play();
        QTRY_VERIFY_WITH_TIMEOUT(lastTime() >= 0, 3000);
        QVERIFY2(lastTime() >= 12.0 && lastTime() < 15.0, qPrintable(QString::number(lastTime())));
        // Stop with Render(1), as the player's Stop does: Play starts the disc afresh.
        engine->Stop();
        engine->Render(1);
        engine->Render(0);
        QTest::qWait(50);
        notify.clear();
        engine->Play();
        QTRY_VERIFY_WITH_TIMEOUT(lastTime() >= 0, 3000);
        QVERIFY2(lastTime() < 1.0, qPrintable(QString::number(lastTime())));
        engine->Stop();
    }

    void stopIsPromptInEveryState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("infinite still menu") << "menu";
        QTest::newRow("paused") << "paused";
        QTest::newRow("playing") << "playing";
        QTest::newRow("scanning backwards") << "scanning";
        QTest::newRow("after the end") << "ended";
    }
    void stopIsPromptInEveryState()
    {
        REQUIRE_DISCS();
        QFETCH(QString, state);
        QWidget host;
        auto *engine = static_cast<PlaybackEngine *>(createPlaybackEngine(&host));
        QSignalSpy reset(engine, &DvdEngine::PlaybackReset);
        engine->setDVDDirectory(state == "menu" ? discA() : discB());
        engine->Play();
        auto *surface = qobject_cast<video::VideoSurface *>(engine->surface());
        QTRY_VERIFY_WITH_TIMEOUT(!surface->currentImage().isNull() || surface->size().isEmpty(), 3000);
        if (state == "menu") {
            QTest::qWait(1500); // past the menu's second of video, into its still
        } else if (state == "paused") {
            QTest::qWait(300);
            engine->Pause();
            QTest::qWait(300);
        } else if (state == "scanning") {
            engine->PlayAtTime(QStringLiteral("00:00:15:00"));
            QTest::qWait(300);
            engine->PlayBackwards(2);
            QTest::qWait(400);
        } else if (state == "ended") {
            engine->PlayAtTime(QStringLiteral("00:00:19:00"));
            QTRY_VERIFY_WITH_TIMEOUT(reset.count() >= 1, 5000);
            QVERIFY(!engine->isPlaying());
        } else {
            QTest::qWait(500);
        }
        QElapsedTimer timer;
        timer.start();
        engine->Stop();
        QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!engine->isPlaying());
    }

    void manyStartsAndStopsLeaveNothingBehind()
    {
        REQUIRE_DISCS();
        EngineInHost setup({320, 240}, EngineInHost::VideoWindow::Shown);
        auto *engine = setup.engine;
        QRandomGenerator rng(11);
        for (int i = 0; i < 25; ++i) {
            engine->setDVDDirectory(i % 3 == 0 ? discA() : discB());
            engine->Play();
            QTest::qWait(int(rng.bounded(120)));
            if (i % 4 == 1)
                engine->Pause();
            if (i % 5 == 2 && engine->CurrentTitle() > 0)
                engine->PlayAtTime(QStringLiteral("00:00:05:00"));
            QElapsedTimer timer;
            timer.start();
            engine->Stop();
            QVERIFY2(timer.elapsed() < 200, qPrintable(QStringLiteral("cycle %1: %2 ms").arg(i).arg(timer.elapsed())));
            if (i % 2)
                engine->Render(1);
        }
        QVERIFY(!engine->isPlaying());
    }

    void engineRefusesBadSources_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("code");
        QTest::newRow("folder without VIDEO_TS") << "empty" << ErrorCode::NoDisc;
        QTest::newRow("missing path") << "missing" << ErrorCode::NoDisc;
        QTest::newRow("no information files") << "noifo" << ErrorCode::NotADvd;
        QTest::newRow("VIDEO_TS.IFO is a folder") << "ifodir" << ErrorCode::NotADvd;
    }
    void engineRefusesBadSources()
    {
        REQUIRE_DISCS();
        QFETCH(QString, damage);
        QFETCH(int, code);
        QTemporaryDir dir;
        QString path = dir.path();
        if (damage == "missing") {
            path += "/nothing here";
        } else if (damage != "empty") {
            copyDisc(discB(), path);
            QFile::remove(path + "/VIDEO_TS/VIDEO_TS.IFO");
            if (damage == "noifo") {
                QFile::remove(path + "/VIDEO_TS/VIDEO_TS.BUP");
                QFile::remove(path + "/VIDEO_TS/VTS_01_0.IFO");
                QFile::remove(path + "/VIDEO_TS/VTS_01_0.BUP");
            } else {
                QFile::remove(path + "/VIDEO_TS/VIDEO_TS.BUP");
                QVERIFY(QDir().mkpath(path + "/VIDEO_TS/VIDEO_TS.IFO"));
                QVERIFY(QDir().mkpath(path + "/VIDEO_TS/VIDEO_TS.BUP"));
            }
        }
        QWidget host;
        DvdEngine *engine = createPlaybackEngine(&host);
        engine->setDVDDirectory(path);
        // A source that is no DVD does not play.
        QCOMPARE(errorCodeOf([&] { engine->Play(); }), code);
        auto *surface = qobject_cast<video::VideoSurface *>(engine->surface());
        const QString expected = (code == ErrorCode::NoDisc ? QStringLiteral("No DVD found in ") : QStringLiteral("Cannot read ")) + path;
        QCOMPARE(surface->message(), expected);
    }

    void damagedDiscsPlayWhatTheyCan_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("truncated VOB") << "truncate";
        QTest::newRow("random bytes over the middle") << "scribble";
        QTest::newRow("VOB replaced by a folder") << "vobdir";
    }
    void damagedDiscsPlayWhatTheyCan()
    {
        REQUIRE_DISCS();
        QFETCH(QString, damage);
        QTemporaryDir dir;
        copyDisc(discB(), dir.path());
        const QString vob = dir.path() + "/VIDEO_TS/VTS_01_1.VOB";
        QFile f(vob);
        if (damage == "truncate") {
            QVERIFY(f.resize(f.size() / 3));
        } else if (damage == "scribble") {
            QVERIFY(f.open(QIODevice::ReadWrite));
            QRandomGenerator rng(7);
            QByteArray junk(int(f.size() / 3), Qt::Uninitialized);
            for (char &c : junk)
                c = char(rng.generate());
            f.seek(f.size() / 3);
            f.write(junk);
            f.close();
        } else {
            QVERIFY(f.remove());
            QVERIFY(QDir().mkpath(vob));
        }
        EngineInHost setup({320, 240}, EngineInHost::VideoWindow::Shown);
        DvdEngine *engine = setup.engine;
        QSignalSpy reset(engine, &DvdEngine::PlaybackReset);
        engine->setDVDDirectory(dir.path());
        try {
            engine->Play();
        } catch (const EngineError &e) {
            qInfo("refused at once: %s", qPrintable(e.message())); // a clear error is fine too
            return;
        }
        // Plays to its end or to an error within the title's length; never hangs.
        QTRY_VERIFY_WITH_TIMEOUT(reset.count() >= 1, 25000);
        QElapsedTimer stopTimer;
        stopTimer.start();
        engine->Stop();
        QVERIFY2(stopTimer.elapsed() < 200, qPrintable(QString::number(stopTimer.elapsed())));
    }

    void ejectRefusesFoldersAndImages()
    {
        REQUIRE_DISCS();
        QWidget host;
        auto *engine = static_cast<PlaybackEngine *>(createPlaybackEngine(&host));
        engine->setDVDDirectory(discB());
        engine->Play();
        QTRY_COMPARE_WITH_TIMEOUT(engine->CurrentTitle(), 1, 5000);
        // A folder cannot be ejected.
        QCOMPARE(errorCodeOf([&] { engine->Eject(); }), ErrorCode::DeviceError);
        QVERIFY(engine->isPlaying()); // a refused eject leaves playback alone
        engine->Stop();
        engine->setDVDDirectory(isoA());
        QVERIFY_THROWS_EXCEPTION(EngineError, engine->Eject());
        engine->setDVDDirectory(QDir::temp().filePath("no-such-drive-here"));
        // Nor a drive that is not there.
        QCOMPARE(errorCodeOf([&] { engine->Eject(); }), ErrorCode::NoDisc);
    }

    // Last: it leaves a thread spinning inside libdvdnav for the rest of the run.
    // A disc whose menus jump to each other for ever keeps libdvdnav busy
    // inside one call. The engine must give up with a message, and neither
    // Stop nor any other operation may hang.
    void discLoopingInsideTheNavigatorEndsWithAMessage()
    {
        REQUIRE_DISCS();
        if (QStandardPaths::findExecutable("dvdauthor").isEmpty())
            QSKIP("dvdauthor missing");
        QTemporaryDir dir;
        QFile xml(dir.filePath("loop.xml"));
        QVERIFY(xml.open(QIODevice::WriteOnly));
        xml.write(QStringLiteral("<dvdauthor><vmgm><fpc>jump menu 1;</fpc><menus><video format=\"pal\"/>"
                                 "<pgc><pre>jump menu 2;</pre></pgc><pgc><pre>jump menu 1;</pre></pgc></menus></vmgm>"
                                 "<titleset><titles><pgc><vob file=\"%1\"/></pgc></titles></titleset></dvdauthor>")
                      .arg(discA() + "/VIDEO_TS/VTS_01_1.VOB")
                      .toUtf8());
        xml.close();
        QProcess author;
        author.start("dvdauthor", {"-o", dir.filePath("disc"), "-x", xml.fileName()});
        QVERIFY(author.waitForFinished(60000) && author.exitCode() == 0);

        QWidget host;
        auto *engine = static_cast<PlaybackEngine *>(createPlaybackEngine(&host));
        QSignalSpy reset(engine, &DvdEngine::PlaybackReset);
        engine->setDVDDirectory(dir.filePath("disc"));
        engine->Play();
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(EngineError, engine->PlayAtTime(QStringLiteral("00:00:01:00")));
        QVERIFY(timer.elapsed() < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(reset.count() >= 1, 15000);
        auto *surface = qobject_cast<video::VideoSurface *>(engine->surface());
        QCOMPARE(surface->message(), QStringLiteral("The disc does not answer"));
        timer.restart();
        engine->Stop();
        QVERIFY(timer.elapsed() < 200);
        QVERIFY(!engine->isPlaying());
    }

private:
    static void copyDisc(const QString &from, const QString &to)
    {
        QDir().mkpath(to + "/VIDEO_TS");
        for (const QString &name : QDir(from + "/VIDEO_TS").entryList(QDir::Files))
            QFile::copy(from + "/VIDEO_TS/" + name, to + "/VIDEO_TS/" + name);
        for (const QString &name : QDir(to + "/VIDEO_TS").entryList(QDir::Files))
            QFile(to + "/VIDEO_TS/" + name).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
};

QTEST_MAIN(TestPlaybackEngine)
#include "test_playback_engine.moc"
