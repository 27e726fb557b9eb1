// Decoding DVD audio: AC-3, MPEG audio and DTS streams made by ffmpeg and
// cut into packets the way a disc cuts them, LPCM packets built by hand, and
// damaged input. The decoded sound goes through the WAV sink and is judged
// by its frequency.

#include "AudioTestKit.h"
#include "engine/EngineError.h"
#include "engine/audio/AudioDecoder.h"
#include "engine/audio/WavFileOutput.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;
using namespace audiotest;

namespace {

constexpr std::int64_t BasePts = 5 * TicksPerSecond; // streams start at 5 s, like a title after its menu
constexpr int DiscPacketBytes = 2010;                // about what a 2048-byte sector carries

struct Decoded
{
    std::vector<AudioChunk> chunks;
    std::vector<std::int16_t> samples;
    std::int64_t frames() const { return std::int64_t(samples.size()) / 2; }
};

Decoded decodeAll(AudioDecoder &decoder, const std::vector<EsPacket> &packets, int serial = 0)
{
    Decoded d;
    for (const EsPacket &p : packets) {
        AudioPacket packet{reinterpret_cast<const std::uint8_t *>(p.bytes.constData()), std::size_t(p.bytes.size()),
                           p.pts, serial};
        decoder.decode(packet, d.chunks);
    }
    decoder.finish(d.chunks, serial);
    for (const AudioChunk &c : d.chunks)
        d.samples.insert(d.samples.end(), c.samples.begin(), c.samples.end());
    return d;
}

// Every chunk starts where the previous one ended: time stamps were given
// to the right frames.
void verifyContinuous(const std::vector<AudioChunk> &chunks, std::int64_t firstPts, std::int64_t slack = 2)
{
    QVERIFY(!chunks.empty());
    QVERIFY2(std::llabs(chunks.front().pts90k - firstPts) <= slack,
             qPrintable(QStringLiteral("first chunk at %1, expected %2").arg(chunks.front().pts90k).arg(firstPts)));
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        const std::int64_t gap = chunks[i].pts90k - chunks[i - 1].endPts();
        QVERIFY2(std::llabs(gap) <= slack, qPrintable(QStringLiteral("chunk %1 at %2 is %3 ticks off the previous end")
                                                           .arg(i)
                                                           .arg(chunks[i].pts90k)
                                                           .arg(gap)));
    }
}

// Through the WAV sink and back: the file is what the tools write.
Wav roundTripWav(const QString &path, const std::vector<std::int16_t> &samples)
{
    WavFileOutput out(path);
    out.open();
    std::size_t at = 0;
    while (at < samples.size()) {
        const int frames = int(std::min<std::size_t>(4096, (samples.size() - at) / 2));
        const int n = out.write(samples.data() + at, frames);
        if (n <= 0)
            break;
        at += std::size_t(n) * 2;
    }
    out.close();
    return readWav(path);
}

void verifyTone(const Wav &wav, double freq)
{
    QVERIFY2(wav.ok, qPrintable(wav.error));
    QCOMPARE(wav.format, 1);
    QCOMPARE(wav.rate, 48000);
    QCOMPARE(wav.channels, 2);
    QCOMPARE(wav.bits, 16);
    for (int ch = 0; ch < 2; ++ch) {
        const double f = measureFrequency(wav.samples, 2, ch, wav.rate);
        QVERIFY2(std::abs(f - freq) <= 0.02 * freq,
                 qPrintable(QStringLiteral("channel %1 sounds %2 Hz, expected %3 Hz").arg(ch).arg(f).arg(freq)));
        // ffmpeg's test tone is at -18 dBFS and sits in the centre channel of
        // the 5.1 streams, which the downmix lowers by a further 3 dB or more.
        const double level = rms(wav.samples, 2, ch);
        QVERIFY2(level > 0.02, qPrintable(QStringLiteral("channel %1 is nearly silent (%2)").arg(ch).arg(level)));
    }
}

} // namespace

class TestAudioDecoder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_noStreams; // why the ffmpeg-made streams are missing
    QHash<QString, QByteArray> m_streams;

    QByteArray stream(const QString &name)
    {
        if (!m_noStreams.isEmpty())
            return {};
        return m_streams.value(name);
    }

private slots:
    void initTestCase()
    {
        // The garbage cases make libavcodec complain about every packet.
        av_log_set_level(AV_LOG_FATAL);
        QVERIFY(m_dir.isValid());
        for (const QString name : {"ac3", "mp2", "dts"}) {
            const QByteArray es = makeDiscStream(name, m_dir.path(), &m_noStreams);
            if (es.isEmpty())
                return;
            m_streams.insert(name, es);
        }
    }

    void streamIdsMapToCodecs_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("codec"); // -1: not audio
        QTest::newRow("first AC-3") << 0x80 << int(AudioCodec::Ac3);
        QTest::newRow("last AC-3") << 0x87 << int(AudioCodec::Ac3);
        QTest::newRow("first DTS") << 0x88 << int(AudioCodec::Dts);
        QTest::newRow("last DTS") << 0x8F << int(AudioCodec::Dts);
        QTest::newRow("first LPCM") << 0xA0 << int(AudioCodec::Lpcm);
        QTest::newRow("last LPCM") << 0xA7 << int(AudioCodec::Lpcm);
        QTest::newRow("first MPEG") << 0xC0 << int(AudioCodec::MpegAudio);
        QTest::newRow("last MPEG") << 0xC7 << int(AudioCodec::MpegAudio);
        QTest::newRow("subpicture") << 0x20 << -1;
        QTest::newRow("past DTS") << 0x90 << -1;
        QTest::newRow("past LPCM") << 0xA8 << -1;
        QTest::newRow("past MPEG") << 0xC8 << -1;
        QTest::newRow("video") << 0xE0 << -1;
    }
    void streamIdsMapToCodecs()
    {
        QFETCH(int, id);
        QFETCH(int, codec);
        const auto format = AudioFormat::fromStreamId(id);
        QCOMPARE(format.has_value(), codec >= 0);
        if (format) {
            QCOMPARE(int(format->codec), codec);
            QCOMPARE(format->streamId, id);
        }
    }

    void decodesDiscStreams_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("codec");
        QTest::addColumn<int>("frameBytes");
        QTest::addColumn<int>("samplesPerFrame");
        QTest::addColumn<QByteArray>("sync");
        QTest::addColumn<double>("freq");
        QTest::addColumn<int>("packetBytes");
        const QByteArray ac3Sync("\x0b\x77", 2);
        const QByteArray mp2Sync("\xff\xfd", 2);
        const QByteArray dtsSync("\x7f\xfe\x80\x01", 4);
        QTest::newRow("AC-3 5.1, 1 kHz") << "ac3" << int(AudioCodec::Ac3) << 1792 << 1536 << ac3Sync << 1000.0
                                         << DiscPacketBytes;
        QTest::newRow("MPEG audio layer II, 440 Hz") << "mp2" << int(AudioCodec::MpegAudio) << 576 << 1152 << mp2Sync
                                                     << 440.0 << DiscPacketBytes;
        QTest::newRow("DTS 5.1, 880 Hz") << "dts" << int(AudioCodec::Dts) << 1024 << 512 << dtsSync << 880.0
                                         << DiscPacketBytes;
        // Packets 3 bytes longer than a frame: frames keep starting in the
        // last few bytes of a packet, their headers finishing in the next
        // one, whose time stamp belongs to the frame after (seen on real
        // discs at cell boundaries).
        QTest::newRow("AC-3, frames starting at packet ends") << "ac3" << int(AudioCodec::Ac3) << 1792 << 1536
                                                              << ac3Sync << 1000.0 << 1795;
        QTest::newRow("MPEG audio, frames starting at packet ends") << "mp2" << int(AudioCodec::MpegAudio) << 576
                                                                    << 1152 << mp2Sync << 440.0 << 579;
        QTest::newRow("DTS, frames starting at packet ends") << "dts" << int(AudioCodec::Dts) << 1024 << 512
                                                             << dtsSync << 880.0 << 1027;
    }
    void decodesDiscStreams()
    {
        QFETCH(QString, name);
        QFETCH(int, codec);
        QFETCH(int, frameBytes);
        QFETCH(int, samplesPerFrame);
        QFETCH(QByteArray, sync);
        QFETCH(double, freq);
        QFETCH(int, packetBytes);
        const QByteArray es = stream(name);
        if (es.isEmpty())
            QSKIP(qPrintable(m_noStreams));
        QVERIFY2(framesAreConstant(es, frameBytes, sync), "unexpected frame size from ffmpeg");

        const std::int64_t ticksPerFrame = std::int64_t(samplesPerFrame) * TicksPerSecond / OutputRate;
        const auto packets = cutLikeADisc(es, packetBytes, frameBytes, ticksPerFrame, BasePts);
        AudioDecoder decoder(AudioFormat{AudioCodec(codec), 0x80});
        const Decoded d = decodeAll(decoder, packets);

        QCOMPARE(decoder.errorCount(), 0);
        // Every frame comes out, the last one too.
        QCOMPARE(d.frames(), std::int64_t(es.size() / frameBytes) * samplesPerFrame);
        verifyContinuous(d.chunks, BasePts);
        if (QTest::currentTestFailed())
            return;
        verifyTone(roundTripWav(m_dir.filePath(QStringLiteral("%1-%2.wav").arg(name).arg(packetBytes)), d.samples), freq);
    }

    // MPEG audio packets say nothing of where their first frame begins: a
    // jump lands inside a frame, whose tail is no frame to decode.
    void mpegAudioFromInsideAFrame()
    {
        const QByteArray es = stream(QStringLiteral("mp2"));
        if (es.isEmpty())
            QSKIP(qPrintable(m_noStreams));
        const int frameBytes = 576;
        const std::int64_t ticksPerFrame = std::int64_t(1152) * TicksPerSecond / OutputRate;
        const auto packets = cutLikeADisc(es.mid(100), DiscPacketBytes, frameBytes, ticksPerFrame, BasePts);
        AudioDecoder decoder(AudioFormat{AudioCodec::MpegAudio, 0xC0});
        const Decoded d = decodeAll(decoder, packets);
        QCOMPARE(decoder.errorCount(), 0);
        QCOMPARE(d.frames(), std::int64_t(es.size() / frameBytes - 1) * 1152);
    }

    void decodesLpcm_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<double>("freq");
        QTest::newRow("16-bit 48 kHz stereo, 660 Hz") << 16 << 48000 << 2 << 660.0;
        QTest::newRow("24-bit 96 kHz stereo, 1.5 kHz") << 24 << 96000 << 2 << 1500.0;
        QTest::newRow("24-bit 48 kHz mono, 660 Hz") << 24 << 48000 << 1 << 660.0;
        QTest::newRow("16-bit 48 kHz mono, 440 Hz") << 16 << 48000 << 1 << 440.0;
    }
    void decodesLpcm()
    {
        QFETCH(int, bits);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(double, freq);
        const double seconds = 1.5;
        const auto packets = lpcmTone(freq, rate, bits, channels, seconds, BasePts);
        AudioDecoder decoder(AudioFormat{AudioCodec::Lpcm, 0xA0});
        const Decoded d = decodeAll(decoder, packets);

        QCOMPARE(decoder.errorCount(), 0);
        // A resampler keeps a few samples back at the very end; nothing more goes missing.
        const std::int64_t expected = std::int64_t(seconds * OutputRate);
        QVERIFY2(d.frames() <= expected && d.frames() >= expected - 64,
                 qPrintable(QStringLiteral("%1 frames, expected %2").arg(d.frames()).arg(expected)));
        verifyContinuous(d.chunks, BasePts);
        if (QTest::currentTestFailed())
            return;
        verifyTone(roundTripWav(m_dir.filePath(QStringLiteral("lpcm-%1-%2-%3.wav").arg(bits).arg(rate).arg(channels)),
                                d.samples),
                   freq);
    }

    // A stream may change its LPCM parameters between packets; sound and
    // time stamps run on across the change.
    void lpcmFormatChangeMidStream()
    {
        auto packets = lpcmTone(660, 48000, 16, 2, 1.0, BasePts);
        const auto second = lpcmTone(660, 96000, 24, 2, 1.0, BasePts + TicksPerSecond, 96000);
        packets.insert(packets.end(), second.begin(), second.end());
        AudioDecoder decoder(AudioFormat{AudioCodec::Lpcm, 0xA1});
        const Decoded d = decodeAll(decoder, packets);

        QCOMPARE(decoder.errorCount(), 0);
        QVERIFY2(std::llabs(d.frames() - 2 * OutputRate) <= 64, qPrintable(QString::number(d.frames())));
        verifyContinuous(d.chunks, BasePts, 90); // within 1 ms where the format changes
        if (QTest::currentTestFailed())
            return;
        const double f = measureFrequency(d.samples, 2, 0, OutputRate);
        QVERIFY2(std::abs(f - 660) <= 0.02 * 660, qPrintable(QString::number(f)));
    }

    // Random bytes (a damaged sector, a wrong stream) neither crash nor
    // poison the decoder: after reset() a clean stream decodes with its own
    // time stamps, and damage in its middle loses only the frames it hits.
    void survivesGarbage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("codec");
        QTest::addColumn<int>("frameBytes");
        QTest::addColumn<int>("samplesPerFrame");
        QTest::addColumn<double>("freq");
        QTest::newRow("AC-3") << "ac3" << int(AudioCodec::Ac3) << 1792 << 1536 << 1000.0;
        QTest::newRow("MPEG audio") << "mp2" << int(AudioCodec::MpegAudio) << 576 << 1152 << 440.0;
        QTest::newRow("DTS") << "dts" << int(AudioCodec::Dts) << 1024 << 512 << 880.0;
        QTest::newRow("LPCM") << "lpcm" << int(AudioCodec::Lpcm) << 0 << 0 << 660.0;
    }
    void survivesGarbage()
    {
        QFETCH(QString, name);
        QFETCH(int, codec);
        QFETCH(int, frameBytes);
        QFETCH(int, samplesPerFrame);
        QFETCH(double, freq);

        std::vector<EsPacket> clean;
        std::int64_t lastFramePts = 0;
        if (name == "lpcm") {
            clean = lpcmTone(freq, 48000, 16, 2, 2.0, BasePts);
            lastFramePts = clean.back().pts;
        } else {
            const QByteArray es = stream(name);
            if (es.isEmpty())
                QSKIP(qPrintable(m_noStreams));
            const std::int64_t ticksPerFrame = std::int64_t(samplesPerFrame) * TicksPerSecond / OutputRate;
            clean = cutLikeADisc(es, DiscPacketBytes, frameBytes, ticksPerFrame, BasePts);
            lastFramePts = BasePts + (es.size() / frameBytes - 1) * ticksPerFrame;
        }

        QRandomGenerator rng(20261208);
        AudioDecoder decoder(AudioFormat{AudioCodec(codec), 0x80});
        std::vector<AudioChunk> junk;
        for (int i = 0; i < 300; ++i) {
            QByteArray bytes(1 + rng.bounded(2048), Qt::Uninitialized);
            for (char &b : bytes)
                b = char(rng.bounded(256));
            // Now and then a packet that looks like the start of a frame.
            if (i % 7 == 0 && name != "lpcm" && !clean.empty())
                bytes.replace(0, 4, clean.front().bytes.left(4));
            AudioPacket p{reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()),
                          rng.bounded(2) ? NoPts : std::int64_t(rng.bounded(1 << 30)), 0};
            decoder.decode(p, junk);
        }
        for (const AudioChunk &c : junk)
            QVERIFY(c.frames() > 0 && c.frames() < 10 * OutputRate);

        decoder.reset();
        // Overwrite about 4% of the clean stream, two fifths in.
        std::vector<EsPacket> damaged = clean;
        const std::size_t from = damaged.size() * 2 / 5;
        for (std::size_t i = from; i < from + std::max<std::size_t>(1, damaged.size() / 25); ++i) {
            for (qsizetype b = 3; b < damaged[i].bytes.size(); ++b)
                damaged[i].bytes[b] = char(rng.bounded(256));
        }
        const Decoded d = decodeAll(decoder, damaged);
        QVERIFY(!d.chunks.empty());
        QVERIFY2(std::llabs(d.chunks.front().pts90k - BasePts) <= 2,
                 qPrintable(QString::number(d.chunks.front().pts90k)));
        // Time never runs backwards and the end lands where it belongs.
        for (std::size_t i = 1; i < d.chunks.size(); ++i)
            QVERIFY2(d.chunks[i].pts90k >= d.chunks[i - 1].pts90k, qPrintable(QString::number(i)));
        QVERIFY2(std::llabs(d.chunks.back().pts90k - lastFramePts) <= 2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(d.chunks.back().pts90k).arg(lastFramePts)));
        // The part after the damage is sound again.
        const std::vector<std::int16_t> tail(d.samples.end() - std::ptrdiff_t(OutputRate / 2) * 2, d.samples.end());
        const double f = measureFrequency(tail, 2, 0, OutputRate);
        QVERIFY2(std::abs(f - freq) <= 0.02 * freq, qPrintable(QString::number(f)));
    }
};

QTEST_GUILESS_MAIN(TestAudioDecoder)
#include "test_audio_decoder.moc"
