// Menus through the real pipeline and engine: menu calls, buttons worked with
// the pointer and the keys, the looping menu, highlights and subtitles drawn
// over the picture.
#include "engine/EngineError.h"
#include "engine/video/PngFrameSink.h"
#include "engine/video/VideoSurface.h"
#include "tests/support/AuthoredDiscs.h"
#include "tests/support/EngineInHost.h"
#include "tests/support/ErrorCodeOf.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <thread>

using namespace velmora;
using namespace velmora::testing;
using namespace std::chrono_literals;

class TestPlaybackMenus : public QObject
{
    Q_OBJECT
private slots:
    void menuCallsReachTheDiscsMenusOrRefuse()
    {
        REQUIRE_DISCS();
        {
            Run run(discA(), true);
            QVERIFY(run.pipeline);
            run.pipeline->playChapter(1, 2);
            run.pipeline->start();
            QVERIFY(run.waitEvent(core::PipelineEvent::Kind::FirstPicture, 0, 5000) >= 0);
            const std::size_t before = run.eventCount();
            run.pipeline->menuCall(3); // root menu of title set 1: the chapter menu
            const int first = run.waitEvent(core::PipelineEvent::Kind::FirstPicture, before, 5000);
            QVERIFY(first >= 0);
            QCOMPARE(run.event(first).title, 0);
            QTRY_VERIFY_WITH_TIMEOUT(!run.output.pictures().empty() && run.output.pictures().back().title == 0, 3000);
            // Teal beside the buttons (which are filled with the chapters' colours).
            const QImage menu = run.output.last();
            const QRgb beside = menu.pixel(menu.width() * 690 / 720, menu.height() * 300 / 576);
            QVERIFY2(near(beside, qRgb(20, 80, 80)), qPrintable(rgbText(beside)));
        }
        Run run(discB(), true);
        QVERIFY(run.pipeline);
        run.pipeline->start();
        QVERIFY(run.waitEvent(core::PipelineEvent::Kind::FirstPicture, 0, 5000) >= 0);
        // A disc without menus shows none.
        QCOMPARE(errorCodeOf([&] { run.pipeline->menuCall(3); }), ErrorCode::NotAllowed);
        // Playback goes on untouched.
        const int shown = run.pipeline->framesShown();
        QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->framesShown() > shown + 5, 2000);
    }

    void menuButtonsAnswerThePointer()
    {
        REQUIRE_DISCS();
        Run run(discA(), true);
        QVERIFY(run.pipeline);
        run.pipeline->start();
        // The main menu: a still with three buttons, the first highlighted.
        QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().valid && run.pipeline->currentButton() == 1, 5000);
        // From the still: the title menu (the main menu again) is reached, and
        // its own still comes; a menu the disc lacks is refused and the
        // still menu stays as it was.
        QTest::qWait(1200);
        run.pipeline->menuCall(2);
        QTest::qWait(1500);
        for (int menu : {3, 4, 7}) {
            // Menus the main menu cannot reach.
            QCOMPARE(errorCodeOf([&] { run.pipeline->menuCall(menu); }), ErrorCode::NotAllowed);
        }
        QTest::qWait(300);
        QCOMPARE(run.pipeline->shown().title, 0);
        QVERIFY(!run.pipeline->selectButtonAt(20, 20)); // outside every button: nothing
        QVERIFY(run.pipeline->selectButtonAt(360, 300));
        QCOMPARE(run.pipeline->currentButton(), 2);
        QVERIFY(run.pipeline->moveButtonSelection(core::PlaybackPipeline::ButtonMove::Down));
        QCOMPARE(run.pipeline->currentButton(), 3);
        // Button 2 plays title 2; the same NAV packet takes no second activation.
        std::size_t before = run.eventCount();
        QVERIFY(run.pipeline->activateButtonAt(360, 300));
        QVERIFY(!run.pipeline->activateButtonAt(360, 300));
        int title = run.waitEvent(core::PipelineEvent::Kind::TitleChange, before, 5000);
        QVERIFY(title >= 0);
        QCOMPARE(run.event(title).title, 2);

        // The chapter menu's button 3 lands in title 1 at 20 s.
        run.pipeline->playTitle(1);
        QTRY_COMPARE_WITH_TIMEOUT(run.pipeline->shown().title, 1, 5000);
        run.pipeline->menuCall(3);
        QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().valid && run.pipeline->shown().title == 0, 5000);
        before = run.eventCount();
        QVERIFY(run.pipeline->activateButtonAt(200, 320));
        const int first = run.waitEvent(core::PipelineEvent::Kind::FirstPicture, before, 5000);
        QVERIFY(first >= 0);
        QCOMPARE(run.event(first).title, 1);
        QCOMPARE(run.event(first).titleTime90k, std::int64_t(20 * 90000));
    }

    void loopingMenuLoopsWithoutAHitch()
    {
        REQUIRE_DISCS();
        Run run(discA(), true);
        QVERIFY(run.pipeline);
        run.pipeline->playTitle(1);
        run.pipeline->start();
        QTRY_COMPARE_WITH_TIMEOUT(run.pipeline->shown().title, 1, 5000);
        run.pipeline->menuCall(3); // the chapter menu: 2 s of video, looping
        QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().valid && run.pipeline->shown().title == 0, 5000);
        const std::size_t from = run.output.pictures().size();
        QTest::qWait(4500);
        const auto pics = run.output.pictures();
        QVERIFY(pics.size() > from + 100); // 25 pictures a second, over two loops
        std::int64_t worstGapMs = 0;
        int restarts = 0;
        for (std::size_t i = from + 1; i < pics.size(); ++i) {
            worstGapMs = std::max<std::int64_t>(
                worstGapMs, std::chrono::duration_cast<std::chrono::milliseconds>(pics[i].at - pics[i - 1].at).count());
            restarts += pics[i].titleMs < pics[i - 1].titleMs;
        }
        QVERIFY2(restarts >= 1, "the menu did not loop");
        QVERIFY2(worstGapMs < 100, qPrintable(QString::number(worstGapMs)));
    }

    void menusAreWorkedWithMouseAndKeys_data()
    {
        QTest::addColumn<bool>("keys");
        QTest::newRow("mouse") << false;
        QTest::newRow("keys") << true;
    }
    void menusAreWorkedWithMouseAndKeys()
    {
        REQUIRE_DISCS();
        QFETCH(bool, keys);
        EngineInHost setup({900, 600}, EngineInHost::VideoWindow::Shown); // the 4:3 picture is 800x600 between 50-pixel bars
        DvdEngine *engine = setup.engine;
        QVERIFY(QTest::qWaitForWindowExposed(&setup.host));
        QSignalSpy notify(engine, &DvdEngine::DVDNotify);
        engine->setDVDDirectory(discA());
        engine->Play();
        auto *surface = qobject_cast<video::VideoSurface *>(engine->surface());
        QTRY_VERIFY_WITH_TIMEOUT(!surface->currentImage().isNull(), 3000);
        QTest::qWait(300);
        // Picture (360, 288) in button 2, through the letterbox and the scaling.
        const QPoint button2(50 + 360 * 800 / 720, 288 * 600 / 576);
        QVERIFY(surface->toPicture(button2).has_value());
        QCOMPARE(*surface->toPicture(button2), QPoint(360, 288));
        QVERIFY(!surface->toPicture(QPoint(20, 300)).has_value()); // on the bar
        if (keys) {
            engine->SetFocus();
            QTest::keyClick(surface, Qt::Key_Down);
            QTest::keyClick(surface, Qt::Key_Return);
        } else {
            QTest::mouseMove(surface, button2);
            QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, button2);
        }
        const auto titleChangedTo = [&](int title) {
            for (const auto &args : notify)
                if (args[0].toInt() == DvdEngine::TitleChange && args[1].toInt() == title)
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(titleChangedTo(2), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(engine->CurrentTitle(), 2, 3000);
        engine->Stop();
    }

    void subtitlesShowWhereAskedFor_data()
    {
        QTest::addColumn<bool>("show");
        QTest::addColumn<int>("stream");
        QTest::newRow("English on") << true << -1;
        QTest::newRow("off") << false << -1;
        QTest::newRow("German on") << true << 1;
    }
    void subtitlesShowWhereAskedFor()
    {
        REQUIRE_DISCS();
        QFETCH(bool, show);
        QFETCH(int, stream);
        QTemporaryDir dir;
        video::PngFrameSink png(dir.path(), 1000);
        png.setTitleFilter(1);
        Run run(discA(), false, &png);
        QVERIFY(run.pipeline);
        run.pipeline->setOverlay(&run.overlay);
        run.pipeline->setShowSubtitles(show);
        run.pipeline->selectSubpictureStream(stream);
        run.pipeline->playTitle(1);
        run.pipeline->start();
        QTRY_VERIFY_WITH_TIMEOUT(png.written().size() >= 21, 30000);
        run.pipeline->stop();

        // Subtitle pixels in the subtitle rows: white text (English) or yellow (German).
        const auto subtitlePixels = [&](const QImage &image) {
            int count = 0;
            for (int y = 481; y <= 523; ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb c = image.pixel(x, y);
                    const bool bright = qRed(c) > 200 && qGreen(c) > 200;
                    count += stream == 1 ? bright && qBlue(c) < 100 : bright && qBlue(c) > 200;
                }
            return count;
        };
        for (const auto &w : png.written()) {
            const std::int64_t intoChapter = w.titleMs % 10000;
            const int pixels = subtitlePixels(QImage(w.path));
            if (show && intoChapter >= 2000 && intoChapter <= 8000)
                QVERIFY2(pixels > 100, qPrintable(QStringLiteral("%1 ms: %2").arg(w.titleMs).arg(pixels)));
            else if (!show || intoChapter == 0)
                QVERIFY2(pixels == 0, qPrintable(QStringLiteral("%1 ms: %2").arg(w.titleMs).arg(pixels)));
        }
        QCOMPARE(run.overlay.damagedUnits(), 0);
    }

    void mainMenuShowsTheHighlightedButton()
    {
        REQUIRE_DISCS();
        Run run(discA(), true);
        QVERIFY(run.pipeline);
        run.pipeline->setOverlay(&run.overlay);
        run.pipeline->start();
        QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().valid && run.pipeline->currentButton() == 1, 5000);
        // The frame of a button: yellow just inside the top of its rectangle (x 200-520).
        const auto lit = [&](int button) {
            const QImage image = run.output.last();
            const int top = 180 + 90 * (button - 1);
            int yellow = 0;
            for (int x = 220 * 768 / 720; x < 500 * 768 / 720; ++x) {
                const QRgb c = image.pixel(x, top + 3);
                yellow += qRed(c) > 180 && qGreen(c) > 180 && qBlue(c) < 100;
            }
            return yellow > 200;
        };
        QTRY_VERIFY_WITH_TIMEOUT(lit(1), 3000);
        QVERIFY(!lit(2) && !lit(3));
        // The still menu is drawn again when the pointer selects another
        // button, well within 50 ms.
        QTest::qWait(1200);
        const std::size_t before = run.output.pictures().size();
        QElapsedTimer drawn;
        drawn.start();
        QVERIFY(run.pipeline->selectButtonAt(360, 300));
        while (run.output.pictures().size() == before && drawn.elapsed() < 1000)
            std::this_thread::sleep_for(1ms);
        QVERIFY2(drawn.elapsed() < 50, qPrintable(QString::number(drawn.elapsed())));
        QVERIFY(lit(2) && !lit(1));
        run.output.last().save(QDir::temp().filePath("velmora-main-menu.png"));
    }
};

QTEST_MAIN(TestPlaybackMenus)
#include "test_playback_menus.moc"
