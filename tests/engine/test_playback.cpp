// Playback of the authored discs through the real pipeline: pictures through
// the file sinks (colours, exact times, aspect), sound through the WAV sink,
// the engine's operations and signals, and damaged discs.
#include "engine/EngineError.h"
#include "engine/TimeCode.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/audio/WavFileOutput.h"
#include "engine/core/PlaybackEngine.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/core/SubpictureCompositor.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/video/PngFrameSink.h"
#include "engine/video/VideoSurface.h"
#include "tests/support/PipelineEventLog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

const QString DiscDir = QStringLiteral(VELMORA_DISC_DIR);
QString discA() { return DiscDir + QStringLiteral("/A"); }
QString discB() { return DiscDir + QStringLiteral("/B"); }
QString isoA() { return DiscDir + QStringLiteral("/A.iso"); }

const QRgb Red = qRgb(200, 30, 30), Green = qRgb(30, 160, 30), Blue = qRgb(30, 60, 210), Yellow = qRgb(230, 210, 30),
           Magenta = qRgb(180, 30, 180), Navy = qRgb(20, 30, 80), Cyan = qRgb(30, 170, 200), Orange = qRgb(240, 130, 20);

bool near(QRgb a, QRgb b, int tolerance = 24)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
           && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString rgbText(QRgb c)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// The background sample point of the discs (stored x 100, y 300 on A; 256 on B), as a share of the picture.
QRgb background(const QImage &image, bool discBImage = false)
{
    const double fy = discBImage ? 256.0 / 480 : 300.0 / 576;
    return image.pixel(int(image.width() * 100.0 / 720), int(image.height() * fy));
}

QRgb chapterColourA(std::int64_t titleMs)
{
    static const QRgb colours[] = {Red, Green, Blue, Yellow};
    return colours[std::clamp<int>(int(titleMs / 10000), 0, 3)];
}

// Records every picture the pipeline presents.
class RecordingOutput : public video::ImageOutput
{
public:
    struct Picture
    {
        std::int64_t titleMs;
        int title;
        QRgb sample;
        QSize size;
        std::uint64_t hash;
        std::chrono::steady_clock::time_point at;
    };
    bool keepHash = false;
    bool discB = false;

    QSize pictureSize(const QSize &displaySize) override { return displaySize; }
    void present(const video::VideoPicture &p) override
    {
        Picture rec{p.titleTime90k / 90, p.title, background(p.image, discB), p.image.size(),
                    keepHash ? video::PngFrameSink::hashImage(p.image) : 0, std::chrono::steady_clock::now()};
        std::lock_guard lock(m_mutex);
        m_pictures.push_back(rec);
        m_last = p.image;
    }
    void clear() override {}
    void showMessage(const QString &) override {}

    std::vector<Picture> pictures() const
    {
        std::lock_guard lock(m_mutex);
        return m_pictures;
    }
    QImage last() const
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Picture> m_pictures;
    QImage m_last;
};

// A disc opened and played through the pipeline into a recording output.
struct Run : testing::PipelineEventLog
{
    std::unique_ptr<nav::DvdNavigator> navigator;
    RecordingOutput output;
    std::unique_ptr<AudioPlayer> audio;
    std::unique_ptr<core::PlaybackPipeline> pipeline;

    explicit Run(const QString &path, bool paced, video::VideoOutput *sink = nullptr, const QString &wav = {})
    {
        nav::OpenError error;
        navigator = nav::DvdNavigator::open(path, &error);
        if (!navigator)
            return;
        if (!wav.isEmpty()) {
            audio = std::make_unique<AudioPlayer>(std::make_unique<WavFileOutput>(wav, WavFileOutput::Pacing::None));
            audio->start();
        }
        core::PlaybackPipeline::Options options;
        options.paced = paced;
        options.endOnInfiniteStill = !paced;
        pipeline = std::make_unique<core::PlaybackPipeline>(*navigator, sink ? sink : &output, audio.get(), options,
                                                            recorder());
    }
    ~Run()
    {
        if (pipeline)
            pipeline->stop();
        if (audio)
            audio->stop();
    }
};

#define REQUIRE_DISCS()                                                                                                \
    if (!QFile::exists(discA() + "/VIDEO_TS/VIDEO_TS.IFO") || !QFile::exists(discB() + "/VIDEO_TS/VIDEO_TS.IFO"))       \
        QSKIP("authored discs missing (tests/discs/author.sh)");

// Frequency from zero crossings over the loud part of [from, from + count).
double toneFrequency(const std::vector<std::int16_t> &s, std::size_t from, std::size_t count)
{
    int crossings = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    for (std::size_t i = from + 1; i < std::min(s.size(), from + count); ++i) {
        if ((s[i - 1] < 0) != (s[i] < 0) && std::abs(s[i] - s[i - 1]) > 200) {
            if (!crossings)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 4)
        return 0;
    return (crossings - 1) / 2.0 / (double(last - first) / 48000.0);
}

} // namespace

class TestPlayback : public QObject
{
    Q_OBJECT
private slots:
    // ---- pictures and time ----

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
        try {
            run.pipeline->playAtTime(90000);
            QFAIL("time search in a menu");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::NotInTitle);
        }
        run.pipeline->playTitle(1);
        try {
            run.pipeline->playAtTime(40 * 90000);
            QFAIL("time search past the end");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::TimeOutOfRange);
        }
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
        try {
            run.pipeline->nextChapter();
            QFAIL("next chapter from the last one");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::ChapterOutOfRange);
        }
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
        try {
            run.pipeline->menuCall(3);
            QFAIL("a disc without menus showed one");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::NotAllowed);
        }
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
            try {
                run.pipeline->menuCall(menu);
                QFAIL("a menu the main menu cannot reach");
            } catch (const EngineError &e) {
                QCOMPARE(e.code(), ErrorCode::NotAllowed);
            }
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

    // ---- sound through the WAV sink ----

    void eachAudioStreamSoundsItsTone_data()
    {
        QTest::addColumn<QString>("disc");
        QTest::addColumn<int>("stream");
        QTest::addColumn<double>("hz");
        QTest::addColumn<bool>("beeps");
        QTest::newRow("A English AC-3 beeps") << "A" << 0 << 1000.0 << true;
        QTest::newRow("A French MP2") << "A" << 1 << 440.0 << false;
        QTest::newRow("B LPCM") << "B" << 0 << 660.0 << false;
    }
    void eachAudioStreamSoundsItsTone()
    {
        REQUIRE_DISCS();
        QFETCH(QString, disc);
        QFETCH(int, stream);
        QFETCH(double, hz);
        QFETCH(bool, beeps);
        QTemporaryDir dir;
        const QString wav = dir.filePath("out.wav");
        {
            Run run(disc == "A" ? discA() : discB(), false, nullptr, wav);
            QVERIFY(run.pipeline);
            run.pipeline->selectAudioStream(stream);
            run.pipeline->playTitle(1);
            run.pipeline->start();
            QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().titleTime90k > 6 * 90000, 10000);
        }
        const auto left = testing::readWavLeft(wav);
        QVERIFY2(left.size() > 48000 * 4, qPrintable(QString::number(left.size())));
        if (beeps) {
            // Find a beep's start and measure inside it (100 ms long).
            std::size_t start = 48000;
            while (start < left.size() && std::abs(left[start]) < 3000)
                ++start;
            QVERIFY(start < left.size());
            const double f = toneFrequency(left, start + 480, 3840);
            QVERIFY2(std::abs(f - hz) < hz * 0.03, qPrintable(QString::number(f)));
            // ... and silence in between.
            int loud = 0;
            for (std::size_t i = start + 9600; i < start + 38400 && i < left.size(); ++i)
                loud += std::abs(left[i]) > 1000;
            QVERIFY2(loud < 100, qPrintable(QString::number(loud)));
        } else {
            const double f = toneFrequency(left, 96000, 48000);
            QVERIFY2(std::abs(f - hz) < hz * 0.03, qPrintable(QString::number(f)));
        }
    }

    // ---- the engine object ----

    void engineTimeNotificationsRunAtRealTimeAndSeek()
    {
        REQUIRE_DISCS();
        QWidget host;
        host.resize(640, 480);
        DvdEngine *engine = createPlaybackEngine(&host);
        engine->Move(0, 0, 640, 480);
        host.show();
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
            try {
                engine->PlayAtTime(bad);
                QFAIL(qPrintable(bad));
            } catch (const EngineError &e) {
                QCOMPARE(e.code(), ErrorCode::TimeOutOfRange);
            }
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
        try {
            engine->PlayNextChapter();
            QFAIL("chapter skip while stopped");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::NotInTitle);
        }
    }

    void surfaceLetterboxesThePicture()
    {
        REQUIRE_DISCS();
        QWidget host;
        host.resize(640, 240);
        DvdEngine *engine = createPlaybackEngine(&host);
        engine->Move(0, 0, 640, 240);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
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
        QWidget host;
        host.resize(900, 600); // the 4:3 picture is 800x600 between 50-pixel bars
        DvdEngine *engine = createPlaybackEngine(&host);
        engine->Move(0, 0, 900, 600);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
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

    void deletingTheSurfaceFirstStopsPlayback()
    {
        REQUIRE_DISCS();
        QWidget host;
        host.resize(320, 240);
        DvdEngine *engine = createPlaybackEngine(&host);
        engine->Move(0, 0, 320, 240);
        host.show();
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
        QWidget host;
        host.resize(320, 240);
        auto *engine = static_cast<PlaybackEngine *>(createPlaybackEngine(&host));
        engine->Move(0, 0, 320, 240);
        host.show();
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
        try {
            engine->Play();
            QFAIL("played a source that is no DVD");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), code);
        }
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
        QWidget host;
        host.resize(320, 240);
        DvdEngine *engine = createPlaybackEngine(&host);
        engine->Move(0, 0, 320, 240);
        host.show();
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

    // ---- scanning ----

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
            try {
                engine->PlayForwards(bad);
                QFAIL(qPrintable(QString::number(bad)));
            } catch (const EngineError &e) {
                QCOMPARE(e.code(), ErrorCode::InvalidArgument);
            }
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

    // ---- subpictures and highlights ----

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
        core::SubpictureCompositor overlay;
        Run run(discA(), false, &png);
        QVERIFY(run.pipeline);
        run.pipeline->setOverlay(&overlay);
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
        QCOMPARE(overlay.damagedUnits(), 0);
    }

    void mainMenuShowsTheHighlightedButton()
    {
        REQUIRE_DISCS();
        core::SubpictureCompositor overlay;
        Run run(discA(), true);
        QVERIFY(run.pipeline);
        run.pipeline->setOverlay(&overlay);
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

    // ---- streams ----

    void streamsOfTheTitleOnScreen()
    {
        REQUIRE_DISCS();
        QWidget host;
        auto *engine = static_cast<PlaybackEngine *>(createPlaybackEngine(&host));
        QSignalSpy info(engine, &DvdEngine::TitleInfoChanged);
        engine->setDVDDirectory(discA());
        QCOMPARE(engine->AudioStreamCount(), 0);
        engine->Play();
        // The main menu: one stream of each.
        QTRY_COMPARE_WITH_TIMEOUT(engine->AudioStreamCount(), 1, 5000);
        QCOMPARE(engine->SubpictureStreamCount(), 1);
        // At once: before the menu's still, whose still libdvdnav would keep across the jump.
        info.clear();
        engine->PlayTitle(1);
        QTRY_COMPARE_WITH_TIMEOUT(engine->AudioStreamCount(), 2, 5000);
        QVERIFY(info.count() >= 1);
        QCOMPARE(engine->GetAudioLanguage(0), QStringLiteral("English"));
        QCOMPARE(engine->GetAudioLanguage(1), QStringLiteral("French"));
        QVERIFY(engine->AudioStreamEnabled(1));
        QCOMPARE(engine->SubpictureStreamCount(), 2);
        QCOMPARE(engine->GetSubpictureLanguage(0), QStringLiteral("English"));
        QCOMPARE(engine->GetSubpictureLanguage(1), QStringLiteral("German"));
        QVERIFY(engine->SubpictureStreamEnabled(0));
        for (const auto &call : std::vector<std::function<void()>>{
                 [&] { engine->GetAudioLanguage(2); }, [&] { engine->SubpictureStreamEnabled(-1); },
                 [&] { engine->SelectSubpictureStream(2); }}) {
            try {
                call();
                QFAIL("a stream outside the count");
            } catch (const EngineError &e) {
                QCOMPARE(e.code(), ErrorCode::InvalidArgument);
            }
        }
        engine->SelectSubpictureStream(1);
        engine->Stop();
        QCOMPARE(engine->AudioStreamCount(), 0);
    }

    void playingAgainAfterTheEndIsHeard()
    {
        // The sound player outlives the pipeline that played the disc to its
        // end; the next pipeline's sound must not be dropped as stale.
        REQUIRE_DISCS();
        QTemporaryDir dir;
        Run run(discB(), false, nullptr, dir.filePath("out.wav"));
        QVERIFY(run.pipeline);
        run.pipeline->start();
        QVERIFY(run.waitEvent(core::PipelineEvent::Kind::Ended, 0, 30000) >= 0);
        run.pipeline->stop();

        run.pipeline = std::make_unique<core::PlaybackPipeline>(
            *run.navigator, &run.output, run.audio.get(), core::PlaybackPipeline::Options{false},
            run.recorder());
        run.pipeline->rewindNavigator();
        run.pipeline->start();
        QTRY_VERIFY_WITH_TIMEOUT(run.audio->clock().valid && run.audio->clock().serial == run.pipeline->currentSerial(),
                                 10000);
    }

    void selectingTheFrenchStreamSwitchesTheSound()
    {
        REQUIRE_DISCS();
        QTemporaryDir dir;
        const QString wav = dir.filePath("out.wav");
        {
            Run run(discA(), true, nullptr, wav);
            QVERIFY(run.pipeline);
            run.pipeline->playTitle(1);
            run.pipeline->start();
            QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().titleTime90k > 2 * 90000, 10000);
            // As the engine does: the new stream from the picture on screen.
            run.pipeline->selectAudioStream(1);
            run.pipeline->playAtTime(run.pipeline->shown().titleTime90k);
            QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().titleTime90k > 5 * 90000, 10000);
        }
        const auto left = testing::readWavLeft(wav);
        QVERIFY2(left.size() > 48000 * 4, qPrintable(QString::number(left.size())));
        // The last second is the steady French tone.
        const double f = toneFrequency(left, left.size() - 48000, 48000);
        QVERIFY2(std::abs(f - 440.0) < 440.0 * 0.03, qPrintable(QString::number(f)));
    }

    // ---- eject ----

    void ejectRefusesFoldersAndImages()
    {
        REQUIRE_DISCS();
        QWidget host;
        auto *engine = static_cast<PlaybackEngine *>(createPlaybackEngine(&host));
        engine->setDVDDirectory(discB());
        engine->Play();
        QTRY_COMPARE_WITH_TIMEOUT(engine->CurrentTitle(), 1, 5000);
        try {
            engine->Eject();
            QFAIL("a folder ejected");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::DeviceError);
        }
        QVERIFY(engine->isPlaying()); // a refused eject leaves playback alone
        engine->Stop();
        engine->setDVDDirectory(isoA());
        QVERIFY_THROWS_EXCEPTION(EngineError, engine->Eject());
        engine->setDVDDirectory(QDir::temp().filePath("no-such-drive-here"));
        try {
            engine->Eject();
            QFAIL("a missing drive ejected");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::NoDisc);
        }
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

QTEST_MAIN(TestPlayback)
#include "test_playback.moc"
