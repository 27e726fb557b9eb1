// The audio player on its outputs: real-time pacing and the clock, pause,
// flush, stop, underruns, mute, the WAV sink, the silent fallback and a
// device that dies during playback.
//
// The ALSA cases need a sound server behind ALSA's "default" (the test
// script starts PulseAudio with a null sink); without one they are skipped.

#include "AudioTestKit.h"
#include "engine/EngineError.h"
#include "engine/audio/AlsaOutput.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/audio/NullOutput.h"
#include "engine/audio/RealTimePacer.h"
#include "engine/audio/WavFileOutput.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

using namespace velmora;
using namespace audiotest;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t Ms = TicksPerSecond / 1000; // ticks per millisecond
constexpr std::int64_t ChunkFrames = OutputRate / 50; // 20 ms, like an audio frame

// Queues `seconds` of a tone from stream time `pts`, continuing the tone's
// phase from `firstFrame`.
bool submitTone(AudioPlayer &player, double seconds, std::int64_t pts, int serial = 0, std::int64_t firstFrame = 0,
                double freq = 1000)
{
    const std::int64_t total = std::int64_t(seconds * OutputRate);
    for (std::int64_t at = 0; at < total; at += ChunkFrames) {
        const std::int64_t n = std::min(ChunkFrames, total - at);
        if (!player.submitChunk(toneChunk(freq, firstFrame + at, n, pts + framesToTicks(at), serial)))
            return false;
    }
    return true;
}

// Polls the clock every 2 ms until `done` says so or the time is up.
// Checks on the way that it never runs backwards within a serial.
AudioClock waitForClock(const AudioPlayer &player, const std::function<bool(const AudioClock &)> &done,
                        std::chrono::milliseconds timeout, bool *wentBack = nullptr)
{
    QElapsedTimer t;
    t.start();
    AudioClock last = player.clock();
    AudioClock c = last;
    while (!done(c) && t.elapsed() < timeout.count()) {
        std::this_thread::sleep_for(2ms);
        c = player.clock();
        if (wentBack && c.valid && last.valid && c.serial == last.serial && c.pts90k < last.pts90k)
            *wentBack = true;
        last = c;
    }
    return c;
}

class FailingOutput final : public AudioOutput
{
public:
    explicit FailingOutput(int goodWrites) : m_goodWrites(goodWrites) {}
    QString description() const override { return QStringLiteral("failing test device"); }
    void open() override { m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    int write(const std::int16_t *, int frames) override
    {
        if (m_goodWrites-- <= 0)
            return -1;
        return frames;
    }
    std::int64_t delayFrames() override { return 0; }
    void setPaused(bool) override {}
    void discard() override {}

private:
    int m_goodWrites;
    bool m_open = false;
};

// A device that comes and goes with `present`: open() fails while it is
// away and write() fails once it goes. Paced like a real device.
class FlakyOutput final : public AudioOutput
{
public:
    FlakyOutput(std::atomic<bool> &present, std::atomic<std::int64_t> &framesTaken)
        : m_present(present), m_framesTaken(framesTaken), m_pacer(OutputRate / 10) {}
    QString description() const override { return QStringLiteral("flaky test device"); }
    bool canReopen() const override { return true; }
    void open() override
    {
        if (!m_present)
            throw EngineError(ErrorCode::NoInterface, QStringLiteral("the flaky test device is away"));
        m_open = true;
    }
    void close() override
    {
        m_open = false;
        m_pacer.discard();
    }
    bool isOpen() const override { return m_open; }
    int write(const std::int16_t *, int frames) override
    {
        if (!m_open || !m_present)
            return -1;
        const int taken = m_pacer.admit(frames, std::chrono::milliseconds(MaxWriteWaitMs));
        m_pacer.written(taken);
        m_framesTaken += taken;
        return taken;
    }
    std::int64_t delayFrames() override { return m_pacer.delayFrames(); }
    void setPaused(bool paused) override { m_pacer.setPaused(paused); }
    void discard() override { m_pacer.discard(); }

private:
    std::atomic<bool> &m_present;
    std::atomic<std::int64_t> &m_framesTaken;
    bool m_open = false;
    RealTimePacer m_pacer;
};

} // namespace

class TestAudioPlayer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // An open output of the kind the current row names; skips the test when
    // there is no sound server for ALSA.
    std::unique_ptr<AudioOutput> outputFor(const QString &kind)
    {
        if (kind == "alsa") {
            try {
                return openAudioOutput(AudioOutputKind::AlsaOnly, QStringLiteral("default"));
            } catch (const EngineError &e) {
                return nullptr;
            }
        }
        if (kind == "wav-realtime") {
            auto out = std::make_unique<WavFileOutput>(m_dir.filePath("paced.wav"), WavFileOutput::Pacing::RealTime);
            out->open();
            return out;
        }
        return openAudioOutput(AudioOutputKind::Silent);
    }

    void addOutputRows(bool withWav = false)
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("silent") << "silent";
        QTest::newRow("alsa") << "alsa";
        if (withWav)
            QTest::newRow("wav-realtime") << "wav-realtime";
    }

#define OPEN_OUTPUT_OR_SKIP(var)                                                                                       \
    QFETCH(QString, kind);                                                                                             \
    auto var = outputFor(kind);                                                                                        \
    if (!var)                                                                                                          \
        QSKIP("no sound server behind ALSA's default device");

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qunsetenv("VELMORA_AUDIO_DEVICE");
    }

    // One second of sound takes one second of clock, the clock never runs
    // backwards or past what was written, and it ends exactly at the end.
    void clockRunsAtRealTime_data() { addOutputRows(true); }
    void clockRunsAtRealTime()
    {
        OPEN_OUTPUT_OR_SKIP(output);
        AudioPlayer player(std::move(output));
        player.start();
        const std::int64_t base = 10 * TicksPerSecond;
        QVERIFY(submitTone(player, 1.5, base));

        bool wentBack = false;
        // A sound server may hold a new stream's first writes back for a
        // while (PulseAudio's null sink does, up to 2 s); time a second of
        // clock once it is well under way.
        AudioClock c = waitForClock(player, [&](const AudioClock &k) { return k.valid && k.pts90k >= base + 300 * Ms; },
                                    4000ms, &wentBack);
        QVERIFY2(c.valid && c.pts90k >= base + 300 * Ms, "the clock never started");
        QElapsedTimer wall;
        wall.start();
        const std::int64_t from = c.pts90k;
        c = waitForClock(player, [&](const AudioClock &k) { return k.pts90k >= from + TicksPerSecond; }, 3000ms,
                         &wentBack);
        const qint64 elapsed = wall.elapsed();
        qInfo("%s: 1 s of clock took %lld ms of wall time", qPrintable(kind), elapsed);
        QVERIFY2(elapsed >= 920 && elapsed <= 1100,
                 qPrintable(QStringLiteral("1 s of clock took %1 ms of wall time").arg(elapsed)));
        QVERIFY(c.pts90k <= base + 150 * TicksPerSecond / 100);

        QVERIFY2(player.drain(2000ms), "the sound never finished");
        c = player.clock();
        QVERIFY(c.drained);
        QCOMPARE(c.pts90k, base + 150 * TicksPerSecond / 100);
        QVERIFY(!wentBack);
    }

    void pauseFreezesClock_data() { addOutputRows(); }
    void pauseFreezesClock()
    {
        OPEN_OUTPUT_OR_SKIP(output);
        AudioPlayer player(std::move(output));
        player.start();
        QVERIFY(submitTone(player, 1.5, 0));
        AudioClock c = waitForClock(player, [](const AudioClock &k) { return k.valid && k.pts90k >= 300 * Ms; }, 3000ms);
        QVERIFY(c.valid);

        player.setPaused(true);
        const AudioClock frozen = player.clock();
        QVERIFY(frozen.paused);
        std::this_thread::sleep_for(300ms);
        QCOMPARE(player.clock().pts90k, frozen.pts90k);

        player.setPaused(false);
        std::this_thread::sleep_for(300ms);
        const std::int64_t ran = player.clock().pts90k - frozen.pts90k;
        QVERIFY2(ran >= 200 * Ms && ran <= 400 * Ms,
                 qPrintable(QStringLiteral("300 ms after resuming the clock ran %1 ms").arg(ran / Ms)));
    }

    // After a jump the old serial's sound is gone: the clock is invalid at
    // once, old packets are refused, and the clock reappears at the new
    // position, never showing the old one.
    void flushDropsStaleSound_data() { addOutputRows(); }
    void flushDropsStaleSound()
    {
        OPEN_OUTPUT_OR_SKIP(output);
        AudioPlayer player(std::move(output));
        player.start();
        QVERIFY(submitTone(player, 1.4, 0, 0));
        QVERIFY(waitForClock(player, [](const AudioClock &k) { return k.valid && k.pts90k >= 200 * Ms; }, 3000ms).valid);

        player.flush(1);
        AudioClock c = player.clock();
        QVERIFY(!c.valid);
        QCOMPARE(c.serial, 1);
        QCOMPARE(player.queuedDuration(), 0ms);
        QVERIFY(!player.submitChunk(toneChunk(440, 0, ChunkFrames, 2 * TicksPerSecond, 0)));

        const std::int64_t target = 20 * TicksPerSecond;
        QVERIFY(submitTone(player, 1.0, target, 1, 0, 440));
        QElapsedTimer t;
        t.start();
        bool stale = false;
        c = waitForClock(player, [&](const AudioClock &k) {
            if (k.valid && k.pts90k < target)
                stale = true;
            return k.valid && k.pts90k > target + 100 * Ms;
        }, 3000ms);
        QVERIFY2(!stale, "the clock showed the old position after the flush");
        QVERIFY(c.valid);
        QCOMPARE(c.serial, 1);
        QVERIFY(c.pts90k <= target + TicksPerSecond);
    }

    // stop() joins promptly even while the feeder is blocked on a full
    // queue and the device is busy; the blocked submit gives up; a later
    // start() plays again.
    void stopIsPromptAndRestartable_data() { addOutputRows(); }
    void stopIsPromptAndRestartable()
    {
        OPEN_OUTPUT_OR_SKIP(output);
        AudioPlayer player(std::move(output), AudioPlayer::Options{300});
        player.start();
        std::atomic<bool> feederDone{false};
        std::thread feeder([&] {
            std::int64_t frame = 0;
            while (player.submitChunk(toneChunk(1000, frame, ChunkFrames, framesToTicks(frame))))
                frame += ChunkFrames;
            feederDone = true;
        });
        QVERIFY(waitForClock(player, [](const AudioClock &k) { return k.valid && k.pts90k > 100 * Ms; }, 3000ms).valid);
        std::this_thread::sleep_for(200ms); // the queue is full by now and the feeder waits

        QElapsedTimer t;
        t.start();
        player.stop();
        const qint64 stopMs = t.elapsed();
        qInfo("%s: stop took %lld ms", qPrintable(kind), stopMs);
        QVERIFY2(stopMs < 200, qPrintable(QStringLiteral("stop took %1 ms").arg(stopMs)));
        QTRY_VERIFY_WITH_TIMEOUT(feederDone.load(), 200);
        feeder.join();
        QVERIFY(!player.isRunning());
        QVERIFY(!player.clock().valid);
        QVERIFY(!player.submitChunk(toneChunk(1000, 0, ChunkFrames, 0)));

        player.start();
        QVERIFY(submitTone(player, 0.5, 0));
        QVERIFY(waitForClock(player, [](const AudioClock &k) { return k.valid && k.pts90k > 100 * Ms; }, 3000ms).valid);
        player.stop();
    }

    // The feeder falls behind (a still, a slow disc): the device runs dry,
    // the clock stands at the end of the sound and says so, and when sound
    // comes again the device recovers and the clock runs on.
    void underrunThenResume_data() { addOutputRows(); }
    void underrunThenResume()
    {
        OPEN_OUTPUT_OR_SKIP(output);
        AudioPlayer player(std::move(output));
        player.start();
        QVERIFY(submitTone(player, 0.2, 0));
        AudioClock c = waitForClock(player, [](const AudioClock &k) { return k.drained; }, 3000ms);
        QVERIFY(c.valid && c.drained);
        QCOMPARE(c.pts90k, 200 * Ms);
        std::this_thread::sleep_for(300ms);
        QCOMPARE(player.clock().pts90k, 200 * Ms);

        bool wentBack = false;
        QVERIFY(submitTone(player, 0.6, 200 * Ms, 0, ChunkFrames * 10));
        c = waitForClock(player, [](const AudioClock &k) { return k.pts90k >= 500 * Ms; }, 3000ms, &wentBack);
        QVERIFY2(c.pts90k >= 500 * Ms, "the clock did not run on after the underrun");
        QVERIFY(player.drain(2000ms));
        QCOMPARE(player.clock().pts90k, 800 * Ms);
        QVERIFY(!wentBack);
        QCOMPARE(player.outputIsSilent(), kind != "alsa");
    }

    // Real packets (hand-made LPCM) through the player into the WAV sink as
    // fast as it decodes; muted sound comes out as silence of the same
    // length and the clock runs over it.
    void wavSinkGetsPacketsAndMute()
    {
        const QString path = m_dir.filePath("player.wav");
        AudioPlayer player(std::make_unique<WavFileOutput>(path));
        player.start();
        const auto packets = lpcmTone(660, 48000, 16, 2, 1.0, 0);
        QVERIFY(!player.submit({reinterpret_cast<const std::uint8_t *>(packets[0].bytes.constData()),
                                std::size_t(packets[0].bytes.size()), 0, 0}));
        player.setFormat(AudioFormat{AudioCodec::Lpcm, 0xA0});

        auto feed = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                const AudioPacket p{reinterpret_cast<const std::uint8_t *>(packets[i].bytes.constData()),
                                    std::size_t(packets[i].bytes.size()), packets[i].pts, 0};
                if (!player.submit(p))
                    return false;
            }
            return true;
        };
        const std::size_t half = packets.size() / 2;
        QVERIFY(feed(0, half));
        QVERIFY(player.drain(2000ms));
        player.setMuted(true);
        QVERIFY(feed(half, packets.size()));
        QVERIFY(player.drain(2000ms));
        QVERIFY(std::llabs(player.clock().pts90k - TicksPerSecond) <= 1); // packet stamps are rounded to ticks
        QCOMPARE(player.decodeErrors(), 0);
        player.stop();

        const Wav wav = readWav(path);
        QVERIFY2(wav.ok, qPrintable(wav.error));
        QCOMPARE(wav.rate, 48000);
        QCOMPARE(wav.frames(), std::int64_t(OutputRate));
        const std::int64_t split = std::int64_t(half) * 500; // frames: 500 per packet
        const std::vector<std::int16_t> heard(wav.samples.begin(), wav.samples.begin() + split * 2);
        const std::vector<std::int16_t> muted(wav.samples.begin() + split * 2, wav.samples.end());
        const double f = measureFrequency(heard, 2, 1, 48000);
        QVERIFY2(std::abs(f - 660) <= 0.02 * 660, qPrintable(QString::number(f)));
        QCOMPARE(rms(muted, 2, 0), 0.0);
        QCOMPARE(rms(muted, 2, 1), 0.0);
    }

    // A full queue makes submit() give up after its wait; the feeding thread
    // then offers the same packet again. Each packet's sound must be heard
    // exactly once, and the codec must never see the same bytes twice.
    void retriedPacketsAreDecodedOnce()
    {
        QString why;
        const QByteArray es = makeDiscStream("ac3", m_dir.path(), &why);
        if (es.isEmpty())
            QSKIP(qPrintable(why));
        const QString path = m_dir.filePath("retried.wav");
        AudioPlayer player(std::make_unique<WavFileOutput>(path, WavFileOutput::Pacing::RealTime),
                           AudioPlayer::Options{60});
        player.start();
        player.setFormat(AudioFormat{AudioCodec::Ac3, 0x80});
        // 448 kb/s AC-3: 1792-byte frames of 1536 samples.
        const auto packets = cutLikeADisc(es, 2010, 1792, 2880, 0);
        int refusals = 0;
        for (const EsPacket &pk : packets) {
            const AudioPacket p{reinterpret_cast<const std::uint8_t *>(pk.bytes.constData()),
                                std::size_t(pk.bytes.size()), pk.pts, 0};
            while (!player.submit(p, 1ms))
                ++refusals;
        }
        QVERIFY2(refusals > 0, "the queue never filled: the case tests nothing");
        player.endOfStream();
        QVERIFY(player.drain(5000ms));
        QCOMPARE(player.decodeErrors(), 0);
        player.stop();
        const Wav wav = readWav(path);
        QVERIFY2(wav.ok, qPrintable(wav.error));
        QCOMPARE(wav.frames(), std::int64_t(es.size() / 1792) * 1536);
    }

    // A seek decodes from before its target; the sound before the target is
    // never played, and what is played starts exactly there.
    void flushWithStartTrimsEarlySound()
    {
        const QString path = m_dir.filePath("trimmed.wav");
        AudioPlayer player(std::make_unique<WavFileOutput>(path));
        player.start();
        const std::int64_t target = 12 * TicksPerSecond + 300 * Ms + 7; // not on a chunk or frame edge
        player.flush(3, target);
        // 0.5 s of 440 Hz before the target, then 0.5 s of 1 kHz from it.
        const std::int64_t from = target - 500 * Ms;
        QVERIFY(submitTone(player, 0.5, from, 3, 0, 440));
        QVERIFY(submitTone(player, 0.5, target, 3, 0, 1000));
        QVERIFY(player.drain(2000ms));
        QCOMPARE(player.clock().pts90k, target + 500 * Ms);
        player.stop();

        const Wav wav = readWav(path);
        QVERIFY2(wav.ok, qPrintable(wav.error));
        QVERIFY2(std::llabs(wav.frames() - OutputRate / 2) <= 1, qPrintable(QString::number(wav.frames())));
        const double f = measureFrequency(wav.samples, 2, 0, 48000);
        QVERIFY2(std::abs(f - 1000) <= 0.02 * 1000, qPrintable(QString::number(f)));
    }

    // A codec whose parser holds the last frame back until the stream ends:
    // endOfStream() lets it out, so a title's sound ends complete.
    void discStreamThroughPlayer()
    {
        QString why;
        const QByteArray es = makeDiscStream("dts", m_dir.path(), &why);
        if (es.isEmpty())
            QSKIP(qPrintable(why));
        const QString path = m_dir.filePath("dts.wav");
        AudioPlayer player(std::make_unique<WavFileOutput>(path));
        player.start();
        player.setFormat(AudioFormat{AudioCodec::Dts, 0x88});
        const auto packets = cutLikeADisc(es, 2010, 1024, 960, 0);
        for (const EsPacket &p : packets) {
            QVERIFY(player.submit({reinterpret_cast<const std::uint8_t *>(p.bytes.constData()),
                                   std::size_t(p.bytes.size()), p.pts, 0}));
        }
        player.endOfStream();
        QVERIFY(player.drain(2000ms));
        const std::int64_t frames = std::int64_t(es.size() / 1024) * 512;
        QCOMPARE(player.clock().pts90k, framesToTicks(frames));
        player.stop();
        const Wav wav = readWav(path);
        QVERIFY2(wav.ok, qPrintable(wav.error));
        QCOMPARE(wav.frames(), frames);
        const double f = measureFrequency(wav.samples, 2, 0, 48000);
        QVERIFY2(std::abs(f - 880) <= 0.02 * 880, qPrintable(QString::number(f)));
    }

    // No sound device: the automatic choice falls back to silence that
    // still keeps time; asking for that device by name fails clearly.
    void fallsBackToSilenceWithoutDevice()
    {
        qputenv("VELMORA_AUDIO_DEVICE", "nonexistent");
        auto restore = qScopeGuard([] { qunsetenv("VELMORA_AUDIO_DEVICE"); });
        QCOMPARE(defaultAlsaDevice(), QStringLiteral("nonexistent"));

        std::unique_ptr<AudioOutput> output = openAudioOutput();
        QVERIFY(output->isSilent());
        QVERIFY(output->isOpen());
        QVERIFY2(output->description().contains("nonexistent"), qPrintable(output->description()));
        try {
            openAudioOutput(AudioOutputKind::AlsaOnly);
            QFAIL("opening a missing device by name succeeded");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::NoInterface);
        }

        AudioPlayer player(std::move(output));
        player.start();
        QVERIFY(submitTone(player, 1.0, 0));
        QVERIFY(waitForClock(player, [](const AudioClock &k) { return k.valid && k.pts90k > 0; }, 1000ms).valid);
        QElapsedTimer wall;
        wall.start();
        const std::int64_t from = player.clock().pts90k;
        waitForClock(player, [&](const AudioClock &k) { return k.pts90k >= from + 500 * Ms; }, 2000ms);
        QVERIFY2(wall.elapsed() >= 460 && wall.elapsed() <= 560, qPrintable(QString::number(wall.elapsed())));
    }

    // A device that is away at the start, comes, goes during playback and
    // comes again: the player plays on silently meanwhile, tries the device
    // every second, says so each time, and the clock keeps in step with the
    // wall clock throughout (no step back, no stall).
    void lostDeviceIsClaimedAgain()
    {
        std::atomic<bool> present{false};
        std::atomic<std::int64_t> taken{0};
        AudioPlayer player(std::make_unique<FlakyOutput>(present, taken));
        std::mutex eventsMutex;
        std::vector<AudioPlayer::DeviceEvent> events;
        player.setDeviceHandler([&](AudioPlayer::DeviceEvent e, const QString &) {
            std::lock_guard lock(eventsMutex);
            events.push_back(e);
        });
        player.start(); // the device is away: no throw, silence instead
        QVERIFY(player.deviceLost());
        QVERIFY(player.outputIsSilent());

        std::atomic<bool> feeding{true};
        std::thread feeder([&] {
            for (std::int64_t frame = 0; feeding; frame += ChunkFrames)
                if (!player.submitChunk(toneChunk(1000, frame, ChunkFrames, framesToTicks(frame)), 50ms))
                    frame -= ChunkFrames; // full: offer it again
        });
        auto stopFeeding = qScopeGuard([&] {
            feeding = false;
            player.stop();
            feeder.join();
        });
        AudioClock c = waitForClock(player, [](const AudioClock &k) { return k.valid && k.pts90k > 100 * Ms; }, 2000ms);
        QVERIFY2(c.valid, "the clock does not run on the stand-in");
        QElapsedTimer wall;
        wall.start();
        const std::int64_t clockFrom = c.pts90k;
        bool wentBack = false;

        const auto comesBack = [&] {
            present = true;
            QElapsedTimer t;
            t.start();
            waitForClock(player, [&](const AudioClock &) { return !player.deviceLost(); },
                         std::chrono::milliseconds(AudioPlayer::ReopenIntervalMs + 1000), &wentBack);
            return t.elapsed();
        };
        const qint64 firstReturn = comesBack();
        QVERIFY2(!player.deviceLost(), "the device was never claimed");
        QVERIFY2(firstReturn <= AudioPlayer::ReopenIntervalMs + 300, qPrintable(QString::number(firstReturn)));
        QVERIFY(!player.outputIsSilent());
        const std::int64_t before = taken.load();
        QTRY_VERIFY_WITH_TIMEOUT(taken.load() > before + OutputRate / 5, 1000); // sound reaches it

        present = false; // unplugged while playing
        waitForClock(player, [&](const AudioClock &) { return player.deviceLost(); }, 500ms, &wentBack);
        QVERIFY2(player.deviceLost(), "a failing device went unnoticed");
        QVERIFY(player.outputIsSilent());
        std::this_thread::sleep_for(300ms);
        const qint64 secondReturn = comesBack();
        QVERIFY2(!player.deviceLost(), "the device was not claimed again");
        QVERIFY2(secondReturn <= AudioPlayer::ReopenIntervalMs + 300, qPrintable(QString::number(secondReturn)));

        c = player.clock();
        const std::int64_t clockRan = (c.pts90k - clockFrom) / Ms;
        qInfo("clock ran %lld ms in %lld ms of wall time", qint64(clockRan), wall.elapsed());
        QVERIFY2(std::llabs(clockRan - wall.elapsed()) <= 150,
                 qPrintable(QStringLiteral("clock %1 ms, wall %2 ms").arg(clockRan).arg(wall.elapsed())));
        QVERIFY(!wentBack);
        std::lock_guard lock(eventsMutex);
        using E = AudioPlayer::DeviceEvent;
        QCOMPARE(events, (std::vector<E>{E::Lost, E::Back, E::Lost, E::Back}));
    }

    // A device that dies during playback is replaced by silence; the clock
    // goes on to the end.
    void deviceFailureFallsBackToSilence()
    {
        AudioPlayer player(std::make_unique<FailingOutput>(10));
        player.start();
        QVERIFY(!player.outputIsSilent());
        QVERIFY(submitTone(player, 0.5, 0));
        QVERIFY(player.drain(2000ms));
        QVERIFY(player.outputIsSilent());
        QVERIFY2(player.outputDescription().contains("failing test device"), qPrintable(player.outputDescription()));
        QCOMPARE(player.clock().pts90k, 500 * Ms);
    }
};

QTEST_GUILESS_MAIN(TestAudioPlayer)
#include "test_audio_player.moc"
