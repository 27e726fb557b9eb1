// The MPEG-2 decoder stage: every picture comes out, in order, whether or not
// it goes through the deinterlacer, and nothing is held back after a drain.
// The deinterlacer's library is loaded by the first interlaced picture only.
#include "engine/video/FilterLibrary.h"
#include "engine/video/FrameScaler.h"
#include "engine/video/VideoDecoder.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

extern "C" {
#include <libavutil/frame.h>
}

using namespace velmora::video;

namespace {
// 30 pictures of ffmpeg's test pattern as an MPEG-2 elementary stream.
QByteArray makeStream(const QString &dir, bool interlaced)
{
    const QString out = dir + (interlaced ? "/i.m2v" : "/p.m2v");
    QStringList args{"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=720x576:rate=25", "-frames:v", "30",
                     "-c:v", "mpeg2video", "-g", "12", "-bf", "2"};
    if (interlaced)
        args << "-flags" << "+ilme+ildct" << "-top" << "1";
    args << "-f" << "mpeg2video" << "-y" << out;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", args);
    if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0)
        return {};
    QFile f(out);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestVideoDecoder : public QObject
{
    Q_OBJECT
private slots:
    void everyPictureComesOut_data()
    {
        QTest::addColumn<bool>("interlaced");
        QTest::addColumn<bool>("deinterlace");
        QTest::addColumn<bool>("filterLoadedAfter"); // rows run in order; once loaded it stays
        QTest::newRow("progressive") << false << true << false;
        QTest::newRow("interlaced through the deinterlacer") << true << true << true;
        QTest::newRow("interlaced as it is") << true << false << true;
    }
    void everyPictureComesOut()
    {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
            QSKIP("ffmpeg missing");
        QFETCH(bool, interlaced);
        QFETCH(bool, deinterlace);
        QFETCH(bool, filterLoadedAfter);
        QTemporaryDir dir;
        const QByteArray stream = makeStream(dir.path(), interlaced);
        QVERIFY(!stream.isEmpty());

        VideoDecoder decoder(VideoDecoder::Options{1, deinterlace});
        int frames = 0;
        int interlacedOut = 0;
        std::int64_t latest = -1;
        FrameScaler scaler;
        QImage last;
        const auto sink = [&](const AVFrame *f) {
            ++frames;
            interlacedOut += f->interlaced_frame;
            latest = std::max<std::int64_t>(latest, f->pts);
            last = scaler.scale(f, QSize(768, 576));
        };
        // In PES-sized pieces, as the demuxer hands them over, each stamped
        // (90 kHz ticks from 5 s on, one picture's worth apart).
        constexpr std::int64_t First = 5 * 90000;
        std::int64_t stamp = First;
        for (qsizetype i = 0; i < stream.size(); i += 2025, stamp += 3600)
            decoder.decode(reinterpret_cast<const std::uint8_t *>(stream.constData()) + i,
                           std::size_t(std::min<qsizetype>(2025, stream.size() - i)), stamp, -1, sink);
        // Pictures keep the time they came with: the deinterlacer's own time
        // base (fields, twice as fine) never leaks out as doubled times.
        QVERIFY(latest >= First);
        QVERIFY2(latest < stamp, qPrintable(QStringLiteral("latest %1, last stamp %2").arg(latest).arg(stamp)));
        const int beforeDrain = frames;
        decoder.drain(sink);
        QCOMPARE(frames, 30);
        QVERIFY(beforeDrain < 30); // the parser and reordering hold pictures back until the drain
        QCOMPARE(decoder.errorCount(), 0);
        if (deinterlace)
            QCOMPARE(interlacedOut, 0); // bwdif's output is progressive
        QCOMPARE(last.size(), QSize(768, 576));
        QCOMPARE(FilterLibrary::inProcess(), filterLoadedAfter);

        // After a drain it decodes afresh: the same stream again gives all its pictures.
        frames = 0;
        decoder.decode(reinterpret_cast<const std::uint8_t *>(stream.constData()), std::size_t(stream.size()), -1, -1, sink);
        decoder.drain(sink);
        QCOMPARE(frames, 30);
    }

    void garbageNeverCrashes()
    {
        VideoDecoder decoder(VideoDecoder::Options{1, true});
        QRandomGenerator rng(3);
        QByteArray junk(256 * 1024, Qt::Uninitialized);
        for (char &c : junk)
            c = char(rng.generate());
        // Sprinkle start codes so the parser and decoder get past their first checks.
        for (int i = 0; i + 4 < junk.size(); i += 997) {
            junk[i] = 0;
            junk[i + 1] = 0;
            junk[i + 2] = 1;
            junk[i + 3] = char(i % 3 == 0 ? 0xB3 : (i % 3 == 1 ? 0x00 : 0x01));
        }
        int frames = 0;
        const auto sink = [&](const AVFrame *) { ++frames; };
        decoder.decode(reinterpret_cast<const std::uint8_t *>(junk.constData()), std::size_t(junk.size()), 0, -1, sink);
        decoder.drain(sink);
        decoder.reset();
        decoder.decode(nullptr, 0, -1, -1, sink);
        QVERIFY(frames >= 0);
    }
};

QTEST_GUILESS_MAIN(TestVideoDecoder)
#include "test_video_decoder.moc"
