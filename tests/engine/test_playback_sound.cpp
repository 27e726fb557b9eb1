// Streams and sound through the real pipeline and engine: each audio stream
// heard through the WAV sink at its pitch, the streams the engine lists for
// the title on screen, a stream switch, sound after playing to the end.
#include "engine/EngineError.h"
#include "engine/core/PlaybackEngine.h"
#include "tests/support/AuthoredDiscs.h"
#include "tests/support/ErrorCodeOf.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>
#include <vector>

using namespace velmora;
using namespace velmora::testing;

namespace {

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

class TestPlaybackSound : public QObject
{
    Q_OBJECT
private slots:
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
            // Streams outside the count.
            QCOMPARE(errorCodeOf([&] { call(); }), ErrorCode::InvalidArgument);
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
            // The file takes sound as fast as it comes, and on a loaded
            // machine the sound lags the pictures: wait for 1.5 s of it
            // after the jump, not for the pictures alone.
            const auto heard = [&] {
                const AudioClock c = run.audio->clock();
                return c.valid && c.serial == run.pipeline->currentSerial() ? c.pts90k : NoPts;
            };
            QTRY_VERIFY_WITH_TIMEOUT(heard() != NoPts, 10000);
            const std::int64_t from = heard();
            QTRY_VERIFY_WITH_TIMEOUT(heard() != NoPts && heard() - from > 3 * 90000 / 2, 10000);
        }
        const auto left = testing::readWavLeft(wav);
        QVERIFY2(left.size() > 48000 * 4, qPrintable(QString::number(left.size())));
        // The last second is the steady French tone.
        const double f = toneFrequency(left, left.size() - 48000, 48000);
        QVERIFY2(std::abs(f - 440.0) < 440.0 * 0.03, qPrintable(QString::number(f)));
    }
};

QTEST_MAIN(TestPlaybackSound)
#include "test_playback_sound.moc"
