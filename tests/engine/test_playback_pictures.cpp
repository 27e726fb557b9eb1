// Pictures and time through the real pipeline and engine: colours at exact
// title times through the file sinks, seeks, chapter skips, stills, aspect
// and letterboxing, the engine's time notifications, scanning.
#include "engine/EngineError.h"
#include "engine/TimeCode.h"
#include "engine/video/PngFrameSink.h"
#include "engine/video/VideoSurface.h"
#include "tests/support/AuthoredDiscs.h"
#include "tests/support/EngineInHost.h"
#include "tests/support/ErrorCodeOf.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <optional>

using namespace velmora;
using namespace velmora::testing;

namespace {
// A 4 s NTSC disc coded as interlaced pictures, with a tone, in dir/I; empty
// when ffmpeg or dvdauthor fails.
QString authorInterlacedDisc(const QString &dir)
{
    const QString mpg = dir + "/i.mpg";
    const QString disc = dir + "/I";
    QProcess run;
    run.start("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=720x480:rate=30000/1001:duration=4",
                         "-f", "lavfi", "-i", "sine=frequency=660:sample_rate=48000:duration=4", "-target", "ntsc-dvd",
                         "-aspect", "16:9", "-flags", "+ilme+ildct", "-top", "1", "-y", mpg});
    if (!run.waitForFinished(60000) || run.exitCode() != 0)
        return {};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VIDEO_FORMAT", "NTSC");
    run.setProcessEnvironment(env);
    for (const QStringList &args : {QStringList{"-o", disc, "-t", mpg}, QStringList{"-o", disc, "-T"}}) {
        run.start("dvdauthor", args);
        if (!run.waitForFinished(60000) || run.exitCode() != 0)
            return {};
    }
    return disc;
}
} // namespace

class TestPlaybackPictures : public QObject
{
    Q_OBJECT
private slots:
    void chaptersShowTheirColoursAtTheirTimes()
    {
        REQUIRE_DISCS();
        QTemporaryDir dir;
        video::PngFrameSink png(dir.path(), 2000);
        png.setTitleFilter(1);
        Run run(discA(), false, &png);
        QVERIFY(run.pipeline);
        run.pipeline->playTitle(1);
        run.pipeline->start();
        QVERIFY(run.waitEvent(core::PipelineEvent::Kind::Ended, 0, 30000) >= 0
                || run.waitEvent(core::PipelineEvent::Kind::TitleChange, 1, 1) >= 0);
        run.pipeline->stop();

        // Every 2 s of the title, exactly on the frame grid, in its chapter's colour.
        const auto written = png.written();
        QCOMPARE(int(written.size()), 20);
        for (const auto &w : written) {
            QCOMPARE(w.titleMs % 2000, std::int64_t(0));
            const QImage image(w.path);
            QCOMPARE(image.size(), QSize(768, 576));
            QVERIFY2(near(background(image), chapterColourA(w.titleMs)),
                     qPrintable(QStringLiteral("%1 ms: %2").arg(w.titleMs).arg(rgbText(background(image)))));
        }
        QCOMPARE(png.failures(), 0);

        // One time notification per unit, in order, each the time of a picture on the 25 fps grid.
        int count = 0;
        std::int64_t previous = -1;
        for (const auto &e : run.eventsCopy()) {
            if (e.kind != core::PipelineEvent::Kind::Time || e.title != 1)
                continue;
            QVERIFY(e.titleTime90k > previous);
            QCOMPARE(e.titleTime90k % 3600, std::int64_t(0));
            previous = e.titleTime90k;
            ++count;
        }
        QVERIFY2(count >= 40 && count <= 100, qPrintable(QString::number(count)));
        QVERIFY(previous >= 39 * 90000);
    }

    void playAtTimeShowsTheTargetPictureFirst_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("chapter 3 at 25 s") << "00:00:25:00";
        QTest::newRow("mid unit") << "00:00:12:13";
        QTest::newRow("last picture") << "00:00:39:24";
        QTest::newRow("start") << "00:00:00:00";
        QTest::newRow("backwards to a chapter start") << "00:00:10:00";
    }
    void playAtTimeShowsTheTargetPictureFirst()
    {
        REQUIRE_DISCS();
        QFETCH(QString, target);
        Run run(discA(), true);
        QVERIFY(run.pipeline);
        run.pipeline->playTitle(1);
        run.pipeline->playAtTime(TimeCode::fromText("00:00:15:00")->toTicks90k(25));
        run.pipeline->start();
        QVERIFY(run.waitEvent(core::PipelineEvent::Kind::FirstPicture, 0, 5000) >= 0);
        const std::size_t before = run.eventCount();
        const std::int64_t ms = std::int64_t(std::llround(TimeCode::fromText(target)->toSeconds(25) * 1000));
        run.pipeline->playAtTime(ms * 90);
        const int first = run.waitEvent(core::PipelineEvent::Kind::FirstPicture, before, 5000);
        QVERIFY(first >= 0);
        QCOMPARE(run.event(first).titleTime90k / 90, ms);
        // And it is that picture on screen, in its chapter's colour.
        QTRY_VERIFY_WITH_TIMEOUT(!run.output.pictures().empty() && run.output.pictures().back().titleMs >= ms, 3000);
        for (const auto &p : run.output.pictures()) {
            if (p.titleMs == ms)
                QVERIFY2(near(p.sample, chapterColourA(ms)), qPrintable(rgbText(p.sample)));
        }
    }

    void playAtTimeRefusesWhatItCannotDo()
    {
        REQUIRE_DISCS();
        Run run(discA(), false);
        QVERIFY(run.pipeline);
        // In the main menu: not in a title.
        run.pipeline->start();
        QVERIFY(run.waitEvent(core::PipelineEvent::Kind::FirstPicture, 0, 5000) >= 0);
        // Time search in a menu.
        QCOMPARE(errorCodeOf([&] { run.pipeline->playAtTime(90000); }), ErrorCode::NotInTitle);
        run.pipeline->playTitle(1);
        // Time search past the end.
        QCOMPARE(errorCodeOf([&] { run.pipeline->playAtTime(40 * 90000); }), ErrorCode::TimeOutOfRange);
    }

    void chapterSkipsLandOnTheChapterStart()
    {
        REQUIRE_DISCS();
        Run run(discA(), true);
        QVERIFY(run.pipeline);
        run.pipeline->playChapter(1, 2);
        run.pipeline->start();
        int first = run.waitEvent(core::PipelineEvent::Kind::FirstPicture, 0, 5000);
        QVERIFY(first >= 0);
        QCOMPARE(run.event(first).titleTime90k, std::int64_t(10 * 90000));

        std::size_t before = run.eventCount();
        run.pipeline->nextChapter();
        first = run.waitEvent(core::PipelineEvent::Kind::FirstPicture, before, 5000);
        QVERIFY(first >= 0);
        QCOMPARE(run.event(first).titleTime90k, std::int64_t(20 * 90000));
        QCOMPARE(run.event(first).chapter, 3);

        before = run.eventCount();
        run.pipeline->prevChapter();
        first = run.waitEvent(core::PipelineEvent::Kind::FirstPicture, before, 5000);
        QVERIFY(first >= 0);
        QCOMPARE(run.event(first).titleTime90k, std::int64_t(10 * 90000));

        run.pipeline->playChapter(1, 4);
        QTRY_COMPARE_WITH_TIMEOUT(run.pipeline->shown().chapter, 4, 5000);
        // Next chapter from the last one.
        QCOMPARE(errorCodeOf([&] { run.pipeline->nextChapter(); }), ErrorCode::ChapterOutOfRange);
    }

    void titleTwoHoldsItsStillThenReturnsToTheMenu()
    {
        REQUIRE_DISCS();
        Run run(discA(), true);
        QVERIFY(run.pipeline);
        run.pipeline->playTitle(2);
        run.pipeline->playAtTime(13 * 90000);
        run.pipeline->start();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const auto pics = run.output.pictures();
                return !pics.empty() && pics.back().title == 0;
            }(),
            12000);
        const auto pics = run.output.pictures();
        const RecordingOutput::Picture *lastOfTitle = nullptr;
        const RecordingOutput::Picture *menu = nullptr;
        for (const auto &p : pics) {
            if (p.title == 2)
                lastOfTitle = &p;
            else if (p.title == 0 && !menu)
                menu = &p;
        }
        QVERIFY(lastOfTitle && menu);
        QCOMPARE(lastOfTitle->titleMs, std::int64_t(14960)); // the last of 375 pictures
        QVERIFY(near(lastOfTitle->sample, Magenta));
        QVERIFY(near(menu->sample, Navy));
        const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(menu->at - lastOfTitle->at).count();
        QVERIFY2(held >= 2900 && held <= 4000, qPrintable(QString::number(held)));
    }

    // A still on screen (title 2's closing still, the main menu's infinite
    // still) gives way at once to whatever the user asks for.
    void stillGivesWayToSkipsSeeksAndCalls_data()
    {
        QTest::addColumn<bool>("inMenu");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("title");
        QTest::addColumn<QRgb>("colour");
        QTest::newRow("closing still, seek") << false << "seek" << 2 << Magenta;
        QTest::newRow("closing still, previous chapter") << false << "previous chapter" << 2 << Magenta;
        QTest::newRow("closing still, title") << false << "title 1" << 1 << Red;
        QTest::newRow("closing still, title menu") << false << "title menu" << 0 << Navy;
        QTest::newRow("menu still, title") << true << "title 2" << 2 << Magenta;
        QTest::newRow("menu still, chapter") << true << "chapter 3" << 1 << Blue;
    }
    void stillGivesWayToSkipsSeeksAndCalls()
    {
        REQUIRE_DISCS();
        QFETCH(bool, inMenu);
        QFETCH(QString, action);
        QFETCH(int, title);
        QFETCH(QRgb, colour);
        Run run(discA(), true);
        QVERIFY(run.pipeline);
        if (!inMenu) {
            run.pipeline->playTitle(2);
            run.pipeline->playAtTime(14 * 90000);
        }
        run.pipeline->start();
        const int still = run.waitEvent(core::PipelineEvent::Kind::Still, 0, 8000);
        QVERIFY(still >= 0);
        QCOMPARE(run.event(still).code, inMenu ? 255 : 3);
        QTest::qWait(300);
        const std::size_t from = run.output.pictures().size();
        if (action == "seek")
            run.pipeline->playAtTime(5 * 90000);
        else if (action == "previous chapter")
            run.pipeline->prevChapter();
        else if (action == "title 1" || action == "title 2")
            run.pipeline->playTitle(title);
        else if (action == "title menu")
            run.pipeline->menuCall(DvdEngine::TitleMenu);
        else
            run.pipeline->playChapter(1, 3);
        // Well before the closing still's own 3 s would have run out.
        const auto landed = [&] {
            const auto pics = run.output.pictures();
            return pics.size() > from && pics.back().title == title && near(pics.back().sample, colour);
        };
        QTRY_VERIFY_WITH_TIMEOUT(landed(), 2000);
        const auto first = run.output.pictures()[from];
        if (action == "seek")
            QVERIFY2(std::abs(first.titleMs - 5000) <= 100, qPrintable(QString::number(first.titleMs)));
        else if (title > 0 && action != "chapter 3")
            QCOMPARE(first.titleMs, std::int64_t(0));
        else if (action == "chapter 3")
            QCOMPARE(first.titleMs, std::int64_t(20000));
    }

    void discBShowsSixteenByNineWithARoundCircle()
    {
        REQUIRE_DISCS();
        Run run(discB(), false);
        QVERIFY(run.pipeline);
        run.output.discB = true;
        run.pipeline->start();
        QTRY_VERIFY_WITH_TIMEOUT(run.output.pictures().size() >= 5, 5000);
        run.pipeline->stop();
        const QImage image = run.output.last();
        QCOMPARE(image.size(), QSize(854, 480));
        QVERIFY(near(background(image, true), Cyan) || near(background(image, true), Orange));
        // The white disc measured through its centre: as wide as it is high.
        const int cx = int(std::lround(360 * 854.0 / 720));
        const int cy = 256;
        const auto white = [&](int x, int y) { return qRed(image.pixel(x, y)) > 200 && qGreen(image.pixel(x, y)) > 200 && qBlue(image.pixel(x, y)) > 200; };
        int w = 0;
        for (int x = 0; x < image.width(); ++x)
            w += white(x, cy);
        int h = 0;
        for (int y = 120; y < 400; ++y) // below the burnt-in captions
            h += white(cx, y);
        QVERIFY2(h > 200 && std::abs(double(w) / h - 1.0) < 0.04, qPrintable(QStringLiteral("%1x%2").arg(w).arg(h)));
    }

    // Interlaced pictures go through the deinterlacer and still play at the
    // pace of the sound: their times are the stream's, not the filter's
    // count of fields (which once froze the picture after half a second).
    void interlacedDiscPlaysInTime()
    {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty() || QStandardPaths::findExecutable("dvdauthor").isEmpty())
            QSKIP("needs ffmpeg and dvdauthor");
        QTemporaryDir dir;
        const QString disc = authorInterlacedDisc(dir.path());
        QVERIFY(!disc.isEmpty());
        PipelineRun run(disc, {.paced = true, .wav = dir.filePath("out.wav"), .wavPacing = WavFileOutput::Pacing::RealTime});
        QVERIFY(run.pipeline);
        run.pipeline->start();
        QTest::qWait(3000);
        const auto shown = run.output.pictures();
        run.pipeline->stop();
        QVERIFY2(shown.size() >= 30, qPrintable(QString::number(shown.size())));
        // From the first picture to the last, title time runs with the wall clock.
        const double wallMs = std::chrono::duration<double, std::milli>(shown.back().at - shown.front().at).count();
        const double titleMs = double(shown.back().titleMs - shown.front().titleMs);
        QVERIFY2(wallMs > 1500 && std::abs(titleMs / wallMs - 1.0) < 0.25,
                 qPrintable(QStringLiteral("%1 ms of title in %2 ms").arg(titleMs).arg(wallMs)));
    }

    void isoPlaysLikeTheFolder()
    {
        REQUIRE_DISCS();
        if (!QFile::exists(isoA()))
            QSKIP("A.iso missing");
        std::vector<RecordingOutput::Picture> seen[2];
        const QString sources[2] = {discA(), isoA()};
        for (int i = 0; i < 2; ++i) {
            Run run(sources[i], false);
            QVERIFY(run.pipeline);
            run.output.keepHash = true;
            run.pipeline->playChapter(1, 3);
            run.pipeline->start();
            QTRY_VERIFY_WITH_TIMEOUT(run.output.pictures().size() >= 60, 5000);
            run.pipeline->stop();
            seen[i] = run.output.pictures();
        }
        for (int k = 0; k < 60; ++k) {
            QCOMPARE(seen[1][k].titleMs, seen[0][k].titleMs);
            QCOMPARE(seen[1][k].hash, seen[0][k].hash);
        }
        QCOMPARE(seen[0][0].titleMs, std::int64_t(20000));
    }

    void engineTimeNotificationsRunAtRealTimeAndSeek()
    {
        REQUIRE_DISCS();
        EngineInHost setup({640, 480}, EngineInHost::VideoWindow::Shown);
        DvdEngine *engine = setup.engine;
        QSignalSpy notify(engine, &DvdEngine::DVDNotify);
        QSignalSpy reset(engine, &DvdEngine::PlaybackReset);
        QSignalSpy info(engine, &DvdEngine::TitleInfoChanged);
        engine->setDVDDirectory(discB());
        engine->Render(0);
        QCOMPARE(engine->TitlesAvailable(), 1);
        QCOMPARE(engine->ChaptersInTitle(1), 2);
        engine->Play();

        QElapsedTimer wall;
        wall.start();
        std::vector<std::pair<qint64, double>> samples;
        while (wall.elapsed() < 3000) {
            QTest::qWait(20);
            for (const auto &args : notify) {
                if (args[0].toInt() == DvdEngine::CurrentTime)
                    samples.emplace_back(wall.elapsed(), TimeCode::fromPacked(std::int32_t(args[1].toLongLong())).toSeconds(30));
            }
            notify.clear();
        }
        QVERIFY2(samples.size() >= 4, qPrintable(QString::number(samples.size())));
        // Title time advances with the wall clock (within a unit's length).
        const double titleSpan = samples.back().second - samples.front().second;
        const double wallSpan = (samples.back().first - samples.front().first) / 1000.0;
        QVERIFY2(std::abs(titleSpan - wallSpan) < 0.6, qPrintable(QStringLiteral("%1 vs %2").arg(titleSpan).arg(wallSpan)));
        QCOMPARE(engine->CurrentTitle(), 1);
        QCOMPARE(engine->TotalTitleTime(), QStringLiteral("00:00:20:00"));
        QVERIFY(info.count() >= 1);

        // Seek into chapter 2: the surface shows orange, the time follows.
        engine->PlayAtTime(QStringLiteral("00:00:15:00"));
        notify.clear();
        const auto firstTime = [&]() -> std::optional<TimeCode> {
            for (const auto &args : notify)
                if (args[0].toInt() == DvdEngine::CurrentTime)
                    return TimeCode::fromPacked(std::int32_t(args[1].toLongLong()));
            return std::nullopt;
        };
        QTRY_VERIFY_WITH_TIMEOUT(firstTime().has_value(), 3000);
        const TimeCode tc = *firstTime();
        QVERIFY2(tc.seconds == 15, qPrintable(tc.toText()));
        auto *surface = qobject_cast<video::VideoSurface *>(engine->surface());
        QVERIFY(surface);
        QTRY_VERIFY_WITH_TIMEOUT(!surface->currentImage().isNull() && near(background(surface->currentImage(), true), Orange), 3000);
        QCOMPARE(engine->CurrentChapter(), 2);

        for (const QString &bad : {QStringLiteral("00:00:25:00"), QStringLiteral("junk"), QStringLiteral("00:00:15")}) {
            QVERIFY2(errorCodeOf([&] { engine->PlayAtTime(bad); }) == ErrorCode::TimeOutOfRange, qPrintable(bad));
        }

        // Pause holds the time; Play resumes.
        engine->Pause();
        QTest::qWait(100);
        notify.clear();
        QTest::qWait(800);
        QCOMPARE(notify.count(), 0);
        engine->Play();
        QTRY_VERIFY_WITH_TIMEOUT(notify.count() >= 1, 2000);

        // Stop joins everything promptly and reports the reset.
        QElapsedTimer stopTimer;
        stopTimer.start();
        engine->Stop();
        QVERIFY2(stopTimer.elapsed() < 200, qPrintable(QString::number(stopTimer.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(reset.count(), 1, 1000);
        QCOMPARE(engine->CurrentTitle(), 0);
        // Chapter skip while stopped.
        QCOMPARE(errorCodeOf([&] { engine->PlayNextChapter(); }), ErrorCode::NotInTitle);
    }

    void surfaceLetterboxesThePicture()
    {
        REQUIRE_DISCS();
        EngineInHost setup({640, 240}, EngineInHost::VideoWindow::Shown);
        DvdEngine *engine = setup.engine;
        QVERIFY(QTest::qWaitForWindowExposed(&setup.host));
        engine->setDVDDirectory(discB());
        engine->Play();
        auto *surface = qobject_cast<video::VideoSurface *>(engine->surface());
        // 16:9 in 640x240: a 427x240 picture between black bars.
        QTRY_COMPARE_WITH_TIMEOUT(surface->currentImage().size(), QSize(427, 240), 3000);
        const QImage screen = surface->grab().toImage();
        QCOMPARE(screen.size(), QSize(640, 240));
        QCOMPARE(QColor(screen.pixel(50, 120)), QColor(Qt::black));
        QCOMPARE(QColor(screen.pixel(600, 120)), QColor(Qt::black));
        const QRgb inside = screen.pixel(106 + 427 * 100 / 720, 128);
        QVERIFY2(near(inside, Cyan), qPrintable(rgbText(inside)));
        engine->Stop();
    }

    void scanningMovesAtTheAskedSpeed()
    {
        REQUIRE_DISCS();
        QWidget host;
        auto *engine = static_cast<PlaybackEngine *>(createPlaybackEngine(&host));
        QSignalSpy notify(engine, &DvdEngine::DVDNotify);
        engine->setDVDDirectory(discA());
        engine->PlayTitle(1);
        QTRY_COMPARE_WITH_TIMEOUT(engine->CurrentTitle(), 1, 5000);
        // Title times notified over `ms` of wall time, with when they came.
        const auto sample = [&](int ms) {
            notify.clear();
            std::vector<std::pair<double, double>> times;
            QElapsedTimer wall;
            wall.start();
            while (wall.elapsed() < ms) {
                QTest::qWait(10);
                for (const auto &args : notify)
                    if (args[0].toInt() == DvdEngine::CurrentTime)
                        times.emplace_back(wall.elapsed() / 1000.0,
                                           TimeCode::fromPacked(std::int32_t(args[1].toLongLong())).toSeconds(25));
                notify.clear();
            }
            return times;
        };
        const auto rate = [](const std::vector<std::pair<double, double>> &t) {
            return t.size() < 2 ? 0.0 : (t.back().second - t.front().second) / (t.back().first - t.front().first);
        };

        engine->PlayAtTime(QStringLiteral("00:00:02:00"));
        QTest::qWait(300);
        engine->PlayForwards(8);
        auto times = sample(2000);
        QVERIFY2(times.size() >= 7, qPrintable(QString::number(times.size()))); // at least 4 pictures a second
        QVERIFY2(std::abs(rate(times) - 8) < 2.5, qPrintable(QString::number(rate(times))));

        engine->PlayAtTime(QStringLiteral("00:00:30:00"));
        QTest::qWait(300);
        engine->PlayBackwards(4);
        times = sample(1500);
        QVERIFY2(times.size() >= 5, qPrintable(QString::number(times.size())));
        QVERIFY2(std::abs(rate(times) + 4) < 1.5, qPrintable(QString::number(rate(times))));

        engine->Play();
        times = sample(1500);
        QVERIFY2(std::abs(rate(times) - 1) < 0.4, qPrintable(QString::number(rate(times))));

        // Every frame at half and double speed.
        engine->PlayForwards(2);
        times = sample(1500);
        QVERIFY2(std::abs(rate(times) - 2) < 0.6, qPrintable(QString::number(rate(times))));

        for (double bad : {3.0, 0.0, -8.0, 64.0}) {
            QVERIFY2(errorCodeOf([&] { engine->PlayForwards(bad); }) == ErrorCode::InvalidArgument, qPrintable(QString::number(bad)));
        }
        QVERIFY_THROWS_EXCEPTION(EngineError, engine->PlayBackwards(1.5));

        // Backwards into the title's start: normal play from there.
        engine->PlayAtTime(QStringLiteral("00:00:06:00"));
        engine->PlayBackwards(16);
        QTest::qWait(1500);
        times = sample(1500);
        QVERIFY2(!times.empty() && times.front().second < 4.0, qPrintable(QString::number(times.empty() ? -1 : times.front().second)));
        QVERIFY2(std::abs(rate(times) - 1) < 0.4, qPrintable(QString::number(rate(times))));

        // Forwards past the end: the title's own command (back to the main menu) runs.
        QSignalSpy titles(engine, &DvdEngine::DVDNotify);
        engine->PlayForwards(32);
        QTRY_VERIFY_WITH_TIMEOUT(engine->CurrentTitle() == 0, 6000);
        engine->Stop();
    }
};

QTEST_MAIN(TestPlaybackPictures)
#include "test_playback_pictures.moc"
