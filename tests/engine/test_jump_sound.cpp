// Sound after a jump, on disc A's beeps (title 1's English stream: a 1 kHz
// beep of 100 ms at every whole second of title time): the sound starts at
// the jump's target, not with what the disc multiplexed ahead of it, the
// first sound and the first picture start together, the AC-3 decoder is
// never fed from the middle of a frame, and velmora-probe writes as many
// seconds of sound as it was asked to play.
#include "engine/audio/AudioPlayer.h"
#include "engine/audio/WavFileOutput.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/video/VideoOutput.h"
#include "tests/support/PipelineEventLog.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <mutex>

using namespace velmora;

namespace {

const QString DiscA = QStringLiteral(VELMORA_DISC_DIR "/A");

class NoPictures : public video::ImageOutput
{
public:
    QSize pictureSize(const QSize &) override { return {}; }
    void present(const video::VideoPicture &) override {}
    void clear() override {}
    void showMessage(const QString &) override {}
};

// Where the first beep starts (seconds into the sound), -1 when none: the
// first sample of a 1 ms window louder than a beep's quiet edge.
double firstBeep(const std::vector<std::int16_t> &s)
{
    for (std::size_t i = 0; i + 48 <= s.size(); i += 8) {
        double sum = 0;
        for (std::size_t k = i; k < i + 48; ++k)
            sum += double(s[k]) * s[k];
        if (std::sqrt(sum / 48) > 1000)
            return double(i) / 48000.0;
    }
    return -1;
}

// The loudest sample in [0, end).
int peakBefore(const std::vector<std::int16_t> &s, std::size_t end)
{
    int peak = 0;
    for (std::size_t i = 0; i < std::min(end, s.size()); ++i)
        peak = std::max(peak, std::abs(int(s[i])));
    return peak;
}

} // namespace

class TestJumpSound : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QFile::exists(DiscA + "/VIDEO_TS/VIDEO_TS.IFO"))
            QSKIP("authored discs missing (tests/discs/author.sh)");
    }

    // chapter > 0: a chapter jump; else a seek to `at` seconds of title 1.
    void soundStartsAtTheTarget_data()
    {
        QTest::addColumn<int>("chapter");
        QTest::addColumn<double>("at");
        QTest::addColumn<double>("beepAt"); // where the first beep belongs in the sound
        QTest::newRow("chapter 2") << 2 << 10.0 << 0.0;
        QTest::newRow("chapter 4") << 4 << 30.0 << 0.0;
        QTest::newRow("seek to 13.48 s") << 0 << 13.48 << 0.52;
        QTest::newRow("seek to 21.12 s") << 0 << 21.12 << 0.88;
    }
    void soundStartsAtTheTarget()
    {
        QFETCH(int, chapter);
        QFETCH(double, at);
        QFETCH(double, beepAt);
        QTemporaryDir dir;
        const QString wav = dir.filePath("sound.wav");
        nav::OpenError error;
        auto navigator = nav::DvdNavigator::open(DiscA, &error);
        QVERIFY2(navigator, qPrintable(error.message));
        AudioPlayer audio(std::make_unique<WavFileOutput>(wav));
        audio.start();
        NoPictures pictures;
        std::mutex mutex;
        std::int64_t firstPicture = -1;
        core::PlaybackPipeline::Options options;
        options.paced = false;
        core::PlaybackPipeline pipeline(*navigator, &pictures, &audio, options, [&](const core::PipelineEvent &e) {
            std::lock_guard lock(mutex);
            if (e.kind == core::PipelineEvent::Kind::FirstPicture && firstPicture < 0)
                firstPicture = e.titleTime90k;
        });
        if (chapter > 0) {
            pipeline.playChapter(1, chapter);
        } else {
            pipeline.playTitle(1);
            pipeline.playAtTime(std::llround(at * 90000));
        }
        pipeline.start();
        // Unpaced, the last chapter plays out in a few tens of milliseconds and
        // the disc moves on to its menu: having left the title counts as well.
        const auto playedOn = [&] {
            const core::ShownPosition shown = pipeline.shown();
            return shown.titleTime90k > std::llround((at + 2) * 90000) || (shown.valid && shown.title != 1);
        };
        QTRY_VERIFY_WITH_TIMEOUT(playedOn(), 10000);
        pipeline.stop();
        audio.stop();
        QCOMPARE(audio.decodeErrors(), 0);

        const auto left = testing::readWavLeft(wav);
        const double beep = firstBeep(left);
        qInfo("first beep %.4f s into the sound (expected %.2f)", beep, beepAt);
        QVERIFY2(std::abs(beep - beepAt) <= 0.040, qPrintable(QString::number(beep)));
        // Nothing heard before it: no end of the scene before the target.
        const int peak = peakBefore(left, std::size_t(std::max(0.0, beep - 0.005) * 48000));
        QVERIFY2(peak < 300, qPrintable(QString::number(peak)));
        // The sound began at (next whole second - beep) of title time; the
        // first picture within 20 ms of it.
        const double soundStart = std::ceil(at - 0.001) - beep;
        std::lock_guard lock(mutex);
        QVERIFY(firstPicture >= 0);
        qInfo("sound from %.3f s, first picture at %.3f s", soundStart, firstPicture / 90000.0);
        QVERIFY2(std::abs(soundStart - firstPicture / 90000.0) <= 0.020, qPrintable(QString::number(soundStart)));
    }

    // --seconds S --fast --wav: S seconds of sound, starting at the chapter.
    void probeWritesTheSecondsAskedFor()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath("probe.wav");
        QProcess probe;
        probe.start(QStringLiteral(VELMORA_PROBE), {"play", DiscA, "--chapter", "2", "--seconds", "2", "--fast",
                                                    "--wav", wav});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        const auto left = testing::readWavLeft(wav);
        QVERIFY2(std::llabs(std::int64_t(left.size()) - 2 * 48000) <= 1, qPrintable(QString::number(left.size())));
        QVERIFY2(std::abs(firstBeep(left)) <= 0.040, qPrintable(QString::number(firstBeep(left))));
    }
};

QTEST_GUILESS_MAIN(TestJumpSound)
#include "test_jump_sound.moc"
