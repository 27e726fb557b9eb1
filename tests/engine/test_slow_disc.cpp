// The engine on a slow drive: the windows must never wait on the disc.
//
// This program runs with tests/support/SlowSourceShim.c preloaded (see
// tests/engine/CMakeLists.txt): every 4th read of a .VOB file of the disc
// sleeps 400 ms first, as a drive does while it spins up, seeks or retries.
// A timer ticking every 10 ms on the UI thread records the longest gap
// between two ticks: the longest time the UI thread was kept from its
// events while the disc opened and while the menu was worked (less the time
// it only waited for a CPU; see StallMeter). The last case makes one read
// take seconds and stops playback in the middle of it.
extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}
#include "engine/EngineError.h"
#include "engine/ErrorTrap.h"
#include "engine/core/PlaybackEngine.h"
#include "engine/core/QtEntry.h"
#include "engine/video/VideoSurface.h"
#include "tests/support/EngineInHost.h"

#include <QtTest>
#include <cstring>
#include <dlfcn.h>

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>

using namespace velmora;

namespace {

QString discA()
{
    return QStringLiteral(VELMORA_DISC_DIR "/A");
}

// Nanoseconds this thread has waited for a CPU while it could run (the
// kernel's run-queue delay), 0 when the kernel does not tell.
qint64 runQueueWaitNs()
{
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readAll().simplified().split(' ');
    return fields.size() >= 2 ? fields[1].toLongLong() : 0;
}

// The largest gap between two ticks of a 10 ms timer on the UI thread. On a
// loaded machine the thread also waits for a CPU, which is no fault of the
// program: stall() leaves that time out (the gap less the run-queue wait in
// it), rawGap() keeps it.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setInterval(10);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 gap = m_clock.restart();
            const qint64 wait = runQueueWaitNs();
            const qint64 stall = gap - (wait - m_wait) / 1000000;
            m_wait = wait;
            m_raw = std::max(m_raw, gap);
            if (stall > m_largest) {
                m_largest = stall;
                m_largestAt = m_since.elapsed();
            }
        });
    }
    void start()
    {
        m_largest = 0;
        m_raw = 0;
        m_wait = runQueueWaitNs();
        m_clock.start();
        m_since.start();
        m_timer.start();
    }
    qint64 stall() const { return m_largest; }
    qint64 rawGap() const { return m_raw; }
    // When the largest stall ended, in ms since start().
    qint64 largestStallEndedAt() const { return m_largestAt; }
    qint64 sinceStart() const { return m_since.elapsed(); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    QElapsedTimer m_since;
    qint64 m_wait = 0;
    qint64 m_largest = 0;
    qint64 m_raw = 0;
    qint64 m_largestAt = 0;
};

// The shim's own controls (see SlowSourceShim.c).
template <class Function>
Function shimFunction(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

// Descriptors this process holds open on the disc's .VOB files.
int openVobFiles()
{
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.startsWith(discA()) && target.endsWith(QLatin1String(".VOB"), Qt::CaseInsensitive))
            ++count;
    }
    return count;
}

void movePointer(QWidget *surface, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(at), surface->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(surface, &move);
}

} // namespace

class TestSlowDisc : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(discA() + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO")))
            QSKIP("the authored test discs are missing");
        QVERIFY2(qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("SlowSource")),
                 "run through ctest: the slow-source shim must be preloaded");
    }

    void menuAndChaptersOnASlowDriveNeverStallTheWindows()
    {
        testing::EngineInHost setup;
        PlaybackEngine *engine = setup.engine;
        QWidget *surface = setup.surface;
        int pictures = 0;
        QObject::connect(setup.surface, &video::VideoSurface::pictureShown, [&] { ++pictures; });

        StallMeter meter;
        meter.start();
        engine->setDVDDirectory(discA());
        engine->Render(0);
        const qint64 rendered = meter.sinceStart();
        engine->Play();
        const qint64 played = meter.sinceStart();
        QTRY_VERIFY_WITH_TIMEOUT(pictures > 0, 30000);
        const qint64 atOpen = meter.stall();
        qInfo("opening: Render(0) returned at %lld ms, Play at %lld ms; the largest stall ended at %lld ms; "
              "largest raw gap %lld ms", rendered, played, meter.largestStallEndedAt(), meter.rawGap());

        // The main menu: three buttons in a column (picture x 200-520, y
        // 180-450); the first plays title 1, and it is the last one the
        // pointer selects before Return.
        meter.start();
        const QPoint buttons[] = {{100, 100}, {360, 380}, {360, 290}, {360, 200}};
        for (int i = 0; i < 80; ++i) {
            movePointer(surface, buttons[i % 4]);
            QTest::qWait(5);
        }
        QTest::keyClick(surface, Qt::Key_Return);
        for (int i = 0; i < 80; ++i) {
            movePointer(surface, buttons[(i + 1) % 4]);
            QTest::qWait(5);
        }
        // Skips the disc refuses (a menu on screen, the last chapter) are
        // errors for the caller, never a stall.
        int skipped = 0;
        QString refusal;
        for (int i = 0; i < 5; ++i) {
            QTest::qWait(400);
            ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
            skipped += trap.run([&] { engine->PlayNextChapter(); }) ? 1 : 0;
            if (trap.failed())
                refusal = trap.message();
        }
        QTest::qWait(1000);
        const qint64 inPlay = meter.stall();
        const qint64 inPlayRaw = meter.rawGap();

        QVERIFY(engine->isPlaying());
        qInfo("largest UI stall: %lld ms opening, %lld ms playing (raw gap %lld ms; %d chapter skips taken; last "
              "refusal: %s)", atOpen, inPlay, inPlayRaw, skipped, qPrintable(refusal));
        QVERIFY2(atOpen <= 50, qPrintable(QStringLiteral("UI stalled %1 ms while the disc opened").arg(atOpen)));
        QVERIFY2(inPlay <= 50, qPrintable(QStringLiteral("UI stalled %1 ms while playing").arg(inPlay)));
        engine->Stop();
    }

    void aThrowingOperationFromAPointerEventIsReported()
    {
        // What every entry from Qt into the engine does with a failure:
        // reported, and the program goes on taking events.
        video::VideoSurface surface;
        surface.resize(720, 576);
        surface.show();
        AVFrame *black = av_frame_alloc();
        black->width = 720;
        black->height = 576;
        black->format = AV_PIX_FMT_YUV420P;
        QVERIFY(av_frame_get_buffer(black, 0) >= 0);
        for (int plane = 0; plane < 3; ++plane)
            std::memset(black->data[plane], plane ? 128 : 16, std::size_t(black->linesize[plane]) * (plane ? 288 : 576));
        video::VideoFrame picture;
        picture.frame = video::shareFrame(black);
        av_frame_free(&black);
        picture.codedSize = picture.displaySize = QSize(720, 576);
        surface.presentFrame(picture, {});
        QString reported;
        int handled = 0;
        QObject::connect(&surface, &video::VideoSurface::pointerMoved, [&](const QPoint &) {
            core::guarded("pointer move", [&] {
                ++handled;
                throw EngineError(ErrorCode::DeviceError, QStringLiteral("The disc does not answer"));
            }, [&](const QString &message) { reported = message; });
        });
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        movePointer(&surface, {100, 100});
        movePointer(&surface, {120, 100});
        QApplication::sendEvent(&surface, &press);
        QTest::qWait(20);
        QCOMPARE(reported, QStringLiteral("The disc does not answer"));
        QCOMPARE(handled, 2);
    }

    void aStopDuringALongReadReleasesTheDiscWhenTheReadReturns()
    {
        const auto setDelay = shimFunction<void (*)(long, long)>("velmora_shim_delay");
        const auto sleepingReads = shimFunction<int (*)()>("velmora_shim_sleeping");
        QVERIFY(setDelay && sleepingReads);
        const auto restoreDelay = qScopeGuard([&] {
            setDelay(qEnvironmentVariableIntValue("VELMORA_SHIM_DELAY_EVERY"),
                     qEnvironmentVariableIntValue("VELMORA_SHIM_DELAY_MS"));
        });
        setDelay(0, 0); // the one slow read is the one we stop in
        testing::EngineInHost setup;
        PlaybackEngine *engine = setup.engine;
        int pictures = 0;
        QObject::connect(setup.surface, &video::VideoSurface::pictureShown, [&] { ++pictures; });
        engine->setDVDDirectory(discA());
        engine->PlayTitle(1); // a title reads on; the menu is a still
        QTRY_VERIFY_WITH_TIMEOUT(pictures > 0, 30000);
        QVERIFY(openVobFiles() > 0);

        // A drive retrying a bad sector: every read now takes 2.5 s.
        setDelay(1, 2500);
        QTRY_VERIFY_WITH_TIMEOUT(sleepingReads() > 0, 20000);
        QElapsedTimer clock;
        clock.start();
        engine->Stop();
        const qint64 stopMs = clock.elapsed();
        const bool stillReading = sleepingReads() > 0;
        setDelay(0, 0);
        qInfo("Stop returned after %lld ms", stopMs);
        QVERIFY2(stopMs < 1000, qPrintable(QStringLiteral("Stop took %1 ms").arg(stopMs)));
        QVERIFY2(stillReading, "the read was over before Stop returned: nothing was left behind");
        QVERIFY(!engine->isPlaying());

        // Once the read is back, the navigator it was left in lets go of the disc's files.
        QElapsedTimer released;
        released.start();
        QTRY_COMPARE_WITH_TIMEOUT(openVobFiles(), 0, 6000);
        qInfo("the disc's files were closed %lld ms after Stop returned", released.elapsed() + stopMs);

        pictures = 0;
        engine->Play();
        QTRY_VERIFY_WITH_TIMEOUT(pictures > 0, 30000);
        QVERIFY(engine->isPlaying());
        engine->Stop();
    }
};

QTEST_MAIN(TestSlowDisc)
#include "test_slow_disc.moc"
