// A scratched disc: sectors that fail with EIO, injected by the slow-source
// shim (tests/support/SlowSourceShim.c, preloaded by ctest), whose failing
// file and sector range each case sets through velmora_shim_fail().
//
// A short hole is passed over with a note and the title plays on to its
// end; a hole longer than five seconds of the title ends playback naming
// the time where reading failed; an unreadable menu ends with a clear
// error. None of it may hang.
#include "engine/EngineError.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/audio/WavFileOutput.h"
#include "engine/core/PlaybackEngine.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/nav/CssCheck.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/video/VideoOutput.h"
#include "engine/video/VideoSurface.h"
#include "tests/support/EngineInHost.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>
#include <mutex>

using namespace velmora;

namespace {

const QString DiscA = QStringLiteral(VELMORA_DISC_DIR "/A");
// Disc A's title 1: 40 s in VTS_01_1.VOB's 3789 sectors, at an even rate.
constexpr int TitleSectors = 3789;
std::int64_t sectorMs(int sector)
{
    return std::int64_t(sector) * 40000 / TitleSectors;
}

using ShimFail = void (*)(const char *name, long long first, long long last);

ShimFail shimFail()
{
    return reinterpret_cast<ShimFail>(dlsym(RTLD_DEFAULT, "velmora_shim_fail"));
}

// Reads of file's sectors first..last fail from now on (nullptr: none).
class FailingSectors
{
public:
    FailingSectors(const char *file, long long first, long long last) { shimFail()(file, first, last); }
    ~FailingSectors() { shimFail()(nullptr, -1, -1); }
    FailingSectors(const FailingSectors &) = delete;
    FailingSectors &operator=(const FailingSectors &) = delete;
};

// The title times of the pictures presented, in order.
class TimeRecorder : public video::ImageOutput
{
public:
    QSize pictureSize(const QSize &) override { return {72, 58}; }
    void present(const video::VideoPicture &p) override
    {
        std::lock_guard lock(m_mutex);
        if (p.title == 1)
            m_ms.push_back(p.titleTime90k / 90);
    }
    void clear() override {}
    void showMessage(const QString &) override {}
    std::vector<std::int64_t> titleMs() const
    {
        std::lock_guard lock(m_mutex);
        return m_ms;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::int64_t> m_ms;
};

// The first NAV pack of title 1 at or after sector from (-1 when none).
int navPackFrom(int from)
{
    QFile vob(DiscA + "/VIDEO_TS/VTS_01_1.VOB");
    if (!vob.open(QIODevice::ReadOnly) || !vob.seek(qint64(from) * 2048))
        return -1;
    for (int sector = from;; ++sector) {
        const QByteArray b = vob.read(2048);
        if (b.size() < 2048)
            return -1;
        // Pack header, system header, then private stream 2 (the PCI).
        const int at = 14 + (b[13] & 7);
        if (b.startsWith(QByteArray("\0\0\1\xBA", 4)) && b.mid(at, 4) == QByteArray("\0\0\1\xBB", 4)) {
            const int next = at + 6 + ((uchar(b[at + 4]) << 8) | uchar(b[at + 5]));
            if (b.mid(next, 4) == QByteArray("\0\0\1\xBF", 4))
                return sector;
        }
    }
}

std::int64_t messageSeconds(const QString &text)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("(\\d\\d):(\\d\\d):(\\d\\d)$")).match(text);
    if (!m.hasMatch())
        return -1;
    return m.captured(1).toLongLong() * 3600 + m.captured(2).toLongLong() * 60 + m.captured(3).toLongLong();
}

} // namespace

class TestReadErrors : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QFile::exists(DiscA + "/VIDEO_TS/VIDEO_TS.IFO"))
            QSKIP("authored discs missing (tests/discs/author.sh)");
        QVERIFY2(shimFail(), "run through ctest: the slow-source shim must be preloaded");
    }

    void holes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("title"); // 0: from the disc's first-play program (its main menu)
        QTest::addColumn<QString>("ending"); // empty: plays on; else the error it ends with ("@" for the hole's time)
        const QString at = QStringLiteral("The disc cannot be read after @");
        // About half a second at 15.8 s: the rest of one unit and the next are lost.
        QTest::newRow("short hole in the title") << "VTS_01_1.VOB" << 1500 << 1550 << 1 << QString();
        // The sector after a NAV packet: its unit is lost, not passed on with
        // whatever a read-ahead buffer held.
        const int nav = navPackFrom(1500);
        QTest::newRow("a unit's first data sector") << "VTS_01_1.VOB" << nav + 1 << nav + 1 << 1 << QString();
        // From 15.8 s to 23.2 s.
        QTest::newRow("long hole in the title") << "VTS_01_1.VOB" << 1500 << 2200 << 1 << at;
        QTest::newRow("long hole to the title's end") << "VTS_01_1.VOB" << 3000 << TitleSectors << 1 << at;
        QTest::newRow("the main menu") << "VIDEO_TS.VOB" << 0 << 1000 << 0 << "The disc's menu cannot be read";
        // A drive that refuses every read of a protected title: the reason
        // is most likely the missing library.
        QTest::newRow("the whole title") << "VTS_01_1.VOB" << 0 << TitleSectors << 1
                                         << (nav::cssLibraryLoaded() ? at : nav::encryptedDiscMessage());
    }
    void holes()
    {
        QFETCH(QString, file);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, title);
        QFETCH(QString, ending);
        const QByteArray name = file.toLatin1();
        const FailingSectors failing(name.constData(), first, last);

        nav::OpenError error;
        auto navigator = nav::DvdNavigator::open(DiscA, &error);
        QVERIFY2(navigator, qPrintable(error.message));
        QTemporaryDir dir;
        AudioPlayer audio(std::make_unique<WavFileOutput>(dir.filePath("sound.wav"), WavFileOutput::Pacing::None));
        audio.start();
        TimeRecorder pictures;
        std::mutex mutex;
        std::vector<core::PipelineEvent> said; // errors and notes
        core::PlaybackPipeline::Options options;
        options.paced = false;
        options.endOnInfiniteStill = true;
        core::PlaybackPipeline pipeline(*navigator, &pictures, &audio, options, [&](const core::PipelineEvent &e) {
            std::lock_guard lock(mutex);
            if (e.kind == core::PipelineEvent::Kind::Error || e.kind == core::PipelineEvent::Kind::Note)
                said.push_back(e);
        });
        if (title > 0)
            pipeline.playTitle(title);
        pipeline.start();
        // Played through (the title, then its menu's still) or stopped: never stuck.
        QTRY_VERIFY_WITH_TIMEOUT(pipeline.ended(), 30000);
        pipeline.stop();
        audio.stop();

        const std::vector<std::int64_t> ms = pictures.titleMs();
        std::lock_guard lock(mutex);
        QVERIFY(!said.empty());
        const core::PipelineEvent &told = said.back();
        if (ending.isEmpty()) {
            // One note, where the pictures jump; the title goes on to its end.
            QCOMPARE(said.size(), std::size_t(1));
            QCOMPARE(told.kind, core::PipelineEvent::Kind::Note);
            QVERIFY2(told.message.startsWith("Skipped an unreadable part of the disc at "),
                     qPrintable(told.message));
            std::int64_t holeFrom = -1;
            std::int64_t holeTo = -1;
            for (std::size_t i = 1; i < ms.size(); ++i) {
                if (ms[i] - ms[i - 1] > holeTo - holeFrom) {
                    holeFrom = ms[i - 1];
                    holeTo = ms[i];
                }
            }
            qInfo("pictures jump from %lld to %lld ms; \"%s\"; last picture %lld ms", qlonglong(holeFrom),
                  qlonglong(holeTo), qPrintable(told.message), qlonglong(ms.empty() ? -1 : ms.back()));
            QVERIFY2(holeTo - holeFrom > 400 && holeTo - holeFrom < 5000, "the hole was not passed over");
            QVERIFY(std::abs(messageSeconds(told.message) * 1000 - sectorMs(first)) <= 1000);
            QVERIFY(!ms.empty() && ms.back() >= 39000);
            return;
        }
        QCOMPARE(told.kind, core::PipelineEvent::Kind::Error);
        if (!ending.contains('@')) {
            QCOMPARE(told.message, ending);
            QVERIFY(ms.empty());
            return;
        }
        // Names where reading failed, within a second; nothing after it is shown.
        QVERIFY2(QRegularExpression(QStringLiteral("^The disc cannot be read after \\d\\d:\\d\\d:\\d\\d$"))
                     .match(told.message).hasMatch(), qPrintable(told.message));
        QCOMPARE(told.code, ErrorCode::Unreadable);
        const std::int64_t lastPicture = ms.empty() ? 0 : ms.back();
        qInfo("\"%s\"; reading failed at %lld ms; last picture %lld ms", qPrintable(told.message),
              qlonglong(sectorMs(first)), qlonglong(lastPicture));
        QVERIFY(std::abs(messageSeconds(told.message) * 1000 - sectorMs(first)) <= 1000);
        QVERIFY(lastPicture < sectorMs(first) + 1000);
        for (const core::PipelineEvent &e : said)
            QVERIFY2(e.kind != core::PipelineEvent::Kind::Note, "a note for a hole that ended playback");
    }

    // A menu that loops over a unit it cannot read: each pass skips it with
    // a note and the menu goes on looping, never stuck and never ended.
    void aLoopingMenuPassesItsHole()
    {
        const FailingSectors failing("VTS_01_0.VOB", 40, 60); // the chapter menu's second unit
        nav::OpenError error;
        auto navigator = nav::DvdNavigator::open(DiscA, &error);
        QVERIFY2(navigator, qPrintable(error.message));
        TimeRecorder pictures;
        std::mutex mutex;
        std::vector<core::PipelineEvent> said;
        core::PlaybackPipeline::Options options;
        options.paced = false;
        core::PlaybackPipeline pipeline(*navigator, &pictures, nullptr, options, [&](const core::PipelineEvent &e) {
            std::lock_guard lock(mutex);
            if (e.kind == core::PipelineEvent::Kind::Error || e.kind == core::PipelineEvent::Kind::Note)
                said.push_back(e);
        });
        pipeline.playTitle(1);
        pipeline.start();
        QTRY_VERIFY_WITH_TIMEOUT(pipeline.shown().valid && pipeline.shown().title == 1, 10000);
        pipeline.menuCall(3);
        QTest::qWait(1500);
        const bool ended = pipeline.ended();
        const int loops = pipeline.framesShown();
        pipeline.stop();
        std::lock_guard lock(mutex);
        qInfo("%zu notes in 1.5 s; %d frames", said.size(), loops);
        QVERIFY(!ended);
        QVERIFY(said.size() >= 2);
        for (const core::PipelineEvent &e : said)
            QCOMPARE(e.kind, core::PipelineEvent::Kind::Note);
    }

    // Through the engine the note is in the video window, over pictures
    // that go on.
    void theVideoWindowNotesTheSkip()
    {
        const FailingSectors failing("VTS_01_1.VOB", 1500, 1550);
        testing::EngineInHost setup;
        PlaybackEngine *engine = setup.engine;
        video::VideoSurface *surface = setup.surface;
        engine->setDVDDirectory(DiscA);
        engine->Render(0);
        engine->PlayTitleAtTime(1, QStringLiteral("00:00:14:00"));
        QTRY_VERIFY_WITH_TIMEOUT(surface->note().startsWith("Skipped an unreadable part of the disc at 00:00:1"),
                                 15000);
        const int shown = surface->presentedFrames();
        QTRY_VERIFY_WITH_TIMEOUT(surface->presentedFrames() > shown + 25, 5000);
        QVERIFY(engine->isPlaying());
        QVERIFY(surface->message().isEmpty());
        engine->Stop();
    }
};

QTEST_MAIN(TestReadErrors)
#include "test_read_errors.moc"
