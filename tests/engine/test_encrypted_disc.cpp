// A disc whose titles arrive scrambled, as a CSS-protected disc reads
// without libdvdcss: made here from disc A by setting the scrambling-control
// bits of every video and audio packet in its title VOBs and overwriting the
// sector from byte 0x80 on with noise (pack and PES headers stay, as CSS
// leaves them). Nothing of it may reach a decoder; playback stops saying
// what to install; the tools fail with that message and write no frames.
#include "engine/EngineError.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/audio/NullOutput.h"
#include "engine/core/PlaybackEngine.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/nav/CssCheck.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/video/VideoOutput.h"
#include "engine/video/VideoSurface.h"
#include "tests/support/EngineInHost.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <mutex>

using namespace velmora;

namespace {

const QString DiscA = QStringLiteral(VELMORA_DISC_DIR "/A");
const QString Message = QStringLiteral("This DVD is encrypted (CSS). Install libdvdcss to play it: "
                                       "sudo apt install libdvd-pkg && sudo dpkg-reconfigure libdvd-pkg");
constexpr int Sector = 2048;
constexpr int ScrambledFrom = 0x80;

class CountingOutput : public video::ImageOutput
{
public:
    QSize pictureSize(const QSize &displaySize) override { return displaySize; }
    void present(const video::VideoPicture &) override { ++presented; }
    void clear() override {}
    void showMessage(const QString &) override {}
    std::atomic<int> presented{0};
};

// Scrambles one sector in place as CSS does; false when it carries no
// video or audio packet (NAV packs, padding, subpictures stay clear).
bool scrambleSector(char *s, QRandomGenerator &rng)
{
    auto *b = reinterpret_cast<unsigned char *>(s);
    if (b[0] != 0 || b[1] != 0 || b[2] != 1 || b[3] != 0xBA)
        return false;
    int pos = 14 + (b[13] & 7);
    bool scrambled = false;
    while (pos + 9 < ScrambledFrom && b[pos] == 0 && b[pos + 1] == 0 && b[pos + 2] == 1) {
        const int id = b[pos + 3];
        const int length = (b[pos + 4] << 8) | b[pos + 5];
        bool av = id == 0xE0 || (id >= 0xC0 && id <= 0xC7);
        if (id == 0xBD) {
            const int sub = b[pos + 9 + b[pos + 8]];
            av = sub >= 0x80 && sub <= 0xAF;
        }
        if (av) {
            b[pos + 6] = (b[pos + 6] & ~0x30) | 0x10; // PES_scrambling_control = 01
            scrambled = true;
        }
        pos += 6 + length;
    }
    if (scrambled)
        for (int i = ScrambledFrom; i < Sector; ++i)
            b[i] = static_cast<unsigned char>(rng.generate());
    return scrambled;
}

// Disc A with its title VOBs (VTS_nn_1.VOB and on) scrambled; menus clear.
bool makeScrambledCopy(const QString &to, int *sectors)
{
    QRandomGenerator rng(20261208);
    *sectors = 0;
    QDir().mkpath(to + "/VIDEO_TS");
    for (const QString &name : QDir(DiscA + "/VIDEO_TS").entryList(QDir::Files)) {
        QFile in(DiscA + "/VIDEO_TS/" + name);
        QFile out(to + "/VIDEO_TS/" + name);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
            return false;
        QByteArray bytes = in.readAll();
        const bool titleVob = name.endsWith(".VOB") && !name.endsWith("_0.VOB") && name != "VIDEO_TS.VOB";
        if (titleVob)
            for (qsizetype at = 0; at + Sector <= bytes.size(); at += Sector)
                *sectors += scrambleSector(bytes.data() + at, rng);
        if (out.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

} // namespace

class TestEncryptedDisc : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_disc;

private slots:
    void initTestCase()
    {
        if (!QFile::exists(DiscA + "/VIDEO_TS/VIDEO_TS.IFO"))
            QSKIP("authored discs missing (tests/discs/author.sh)");
        QVERIFY(m_dir.isValid());
        m_disc = m_dir.filePath("scrambled");
        int sectors = 0;
        QVERIFY(makeScrambledCopy(m_disc, &sectors));
        QVERIFY2(sectors > 1000, qPrintable(QString::number(sectors)));
    }

    void firstTitleIsSeenScrambled()
    {
        QCOMPARE(nav::checkFirstTitle(DiscA), nav::TitleAccess::Clear);
        QCOMPARE(nav::checkFirstTitle(m_disc), nav::TitleAccess::Scrambled);
        QCOMPARE(nav::checkFirstTitle(m_dir.filePath("nothing here")), nav::TitleAccess::Unknown);
        QCOMPARE(nav::encryptedDiscMessage(), Message);
    }

    // The menu plays (it is clear); the title stops with the message and
    // not one of its pictures or sounds is decoded.
    void playbackStopsWithTheMessage()
    {
        nav::OpenError error;
        auto navigator = nav::DvdNavigator::open(m_disc, &error);
        QVERIFY2(navigator, qPrintable(error.message));
        AudioPlayer audio(std::make_unique<NullOutput>());
        audio.start();
        CountingOutput pictures;
        std::mutex mutex;
        std::vector<core::PipelineEvent> errors;
        core::PlaybackPipeline::Options options;
        options.paced = false;
        core::PlaybackPipeline pipeline(*navigator, &pictures, &audio, options, [&](const core::PipelineEvent &e) {
            std::lock_guard lock(mutex);
            if (e.kind == core::PipelineEvent::Kind::Error)
                errors.push_back(e);
        });
        pipeline.playTitle(1);
        pipeline.start();
        QTRY_VERIFY_WITH_TIMEOUT(pipeline.ended(), 10000);
        pipeline.stop();
        audio.stop();
        std::lock_guard lock(mutex);
        QCOMPARE(errors.size(), std::size_t(1));
        QCOMPARE(errors[0].code, ErrorCode::Encrypted);
        QCOMPARE(errors[0].message, Message);
        QCOMPARE(pictures.presented.load(), 0);
        QCOMPARE(audio.decodeErrors(), 0);
        QVERIFY(!audio.clock().valid); // no sound of the title was queued
    }

    // Through the engine the reason is left in the video window, where the
    // user sees it; the player is stopped, not stuck.
    void theVideoWindowSaysWhy()
    {
        testing::EngineInHost setup;
        PlaybackEngine *engine = setup.engine;
        video::VideoSurface *surface = setup.surface;
        engine->setDVDDirectory(m_disc);
        engine->Render(0);
        engine->PlayTitle(1);
        QTRY_COMPARE_WITH_TIMEOUT(surface->message(), Message, 15000);
        QVERIFY(!engine->isPlaying());
        QTest::qWait(300); // nothing presented afterwards wipes it
        QCOMPARE(surface->message(), Message);
    }

    void probeFailsWithTheMessageAndWritesNothing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("info") << QStringList{"info"};
        QTest::newRow("play") << QStringList{"play", "--title", "1", "--seconds", "2", "--fast"};
    }
    void probeFailsWithTheMessageAndWritesNothing()
    {
        QFETCH(QStringList, args);
        QTemporaryDir frames;
        QStringList all = args;
        all.insert(1, m_disc);
        if (args.first() == "play")
            all << "--frames" << frames.path() << "--every" << "40";
        QProcess probe;
        probe.start(QStringLiteral(VELMORA_PROBE), all);
        QVERIFY(probe.waitForFinished(30000));
        QVERIFY(probe.exitCode() != 0);
        const QJsonObject json = QJsonDocument::fromJson(probe.readAllStandardOutput().trimmed()).object();
        QCOMPARE(json.value("error").toString(), Message);
        QVERIFY(QDir(frames.path()).entryList(QDir::Files).isEmpty());
    }
};

QTEST_MAIN(TestEncryptedDisc)
#include "test_encrypted_disc.moc"
