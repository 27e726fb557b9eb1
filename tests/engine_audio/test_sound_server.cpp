// The sound device through a real sound server that goes away while a tone
// plays: missing when playback starts, started, killed, started again. The
// player is told nothing; what it plays is recorded from the server's null
// sink, as a user would hear it.
//
// Runs its own PulseAudio daemon on a private runtime folder (the suite's own
// server is left alone); skipped when PulseAudio's tools are not installed.

#include "AudioTestKit.h"
#include "engine/audio/AudioPlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

using namespace velmora;
using namespace audiotest;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t ChunkFrames = OutputRate / 50;
// A 16-bit RMS above this on the sink's monitor is the tone; silence reads 0.
constexpr double HeardRms = 500;

// A PulseAudio daemon with a null sink, a silent keep-alive stream (an idle
// null sink holds a new stream's first writes back for up to 1.75 s) and a
// recorder on the sink's monitor; all on the runtime folder given.
class SoundServer
{
public:
    explicit SoundServer(const QString &runtimeDir) : m_runtimeDir(runtimeDir) {}
    ~SoundServer() { kill(); }

    bool start(QString *why)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
        env.remove(QStringLiteral("PULSE_SERVER"));
        for (QProcess *p : {&m_daemon, &m_keepAlive, &m_recorder}) {
            p->setProcessEnvironment(env);
            p->setStandardErrorFile(QProcess::nullDevice());
        }
        m_daemon.setStandardOutputFile(QProcess::nullDevice());
        m_daemon.start(QStringLiteral("pulseaudio"),
                       {"-n", "--daemonize=no", "--exit-idle-time=-1", "--load=module-null-sink sink_name=nullsink",
                        "--load=module-native-protocol-unix"});
        if (!m_daemon.waitForStarted(3000)) {
            *why = QStringLiteral("pulseaudio does not start");
            return false;
        }
        const QString socket = m_runtimeDir + QStringLiteral("/pulse/native");
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(socket) && t.elapsed() < 5000)
            std::this_thread::sleep_for(20ms);
        if (!QFileInfo::exists(socket)) {
            *why = QStringLiteral("pulseaudio made no socket");
            return false;
        }
        m_keepAlive.setStandardOutputFile(QProcess::nullDevice());
        m_keepAlive.start(QStringLiteral("pacat"), {"--latency-msec=20", "/dev/zero"});
        m_recorder.start(QStringLiteral("parec"), {"-d", "nullsink.monitor", "--format=s16le", "--rate=48000",
                                                   "--channels=1", "--latency-msec=20"});
        m_recorded.clear();
        if (!m_keepAlive.waitForStarted(3000) || !m_recorder.waitForStarted(3000)) {
            *why = QStringLiteral("pacat or parec does not start");
            return false;
        }
        return true;
    }

    void kill()
    {
        for (QProcess *p : {&m_recorder, &m_keepAlive, &m_daemon}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        // A killed daemon leaves its socket behind; the next one is ready
        // when it has made a new one.
        QFile::remove(m_runtimeDir + QStringLiteral("/pulse/native"));
    }

    // Waits up to `timeout` for the tone on the sink's monitor; the time it
    // took, or -1.
    qint64 waitForSound(std::chrono::milliseconds timeout)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeout.count()) {
            m_recorder.waitForReadyRead(20);
            m_recorded += m_recorder.readAllStandardOutput();
            // The last 50 ms.
            const qsizetype window = OutputRate / 20 * 2;
            if (m_recorded.size() >= window) {
                const auto *s = reinterpret_cast<const std::int16_t *>(m_recorded.constData() + m_recorded.size() - window);
                double sum = 0;
                for (qsizetype i = 0; i < window / 2; ++i)
                    sum += double(s[i]) * s[i];
                if (std::sqrt(sum / double(window / 2)) > HeardRms)
                    return t.elapsed();
                m_recorded = m_recorded.right(window);
            }
        }
        return -1;
    }

private:
    QString m_runtimeDir;
    QProcess m_daemon;
    QProcess m_keepAlive;
    QProcess m_recorder;
    QByteArray m_recorded;
};

} // namespace

class TestSoundServer : public QObject
{
    Q_OBJECT

private slots:
    void soundComesBackAfterTheServerRestarts()
    {
        for (const char *tool : {"pulseaudio", "pacat", "parec"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // The player's ALSA pulse plugin finds the server through the runtime folder.
        const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        qunsetenv("VELMORA_AUDIO_DEVICE");
        auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", oldRuntime); });
        SoundServer server(runtime.path());
        QString why;

        // No server yet: the device is missing at the first play.
        AudioPlayer player(soundDeviceOutput(QStringLiteral("default")));
        std::mutex eventsMutex;
        std::vector<AudioPlayer::DeviceEvent> events;
        QElapsedTimer since;
        since.start();
        player.setDeviceHandler([&](AudioPlayer::DeviceEvent e, const QString &what) {
            qInfo("%lld ms: sound %s: %s", since.elapsed(), e == AudioPlayer::DeviceEvent::Lost ? "lost" : "back",
                  qPrintable(what));
            std::lock_guard lock(eventsMutex);
            events.push_back(e);
        });
        player.start();
        QVERIFY(player.deviceLost());
        std::atomic<bool> feeding{true};
        std::thread feeder([&] {
            for (std::int64_t frame = 0; feeding; frame += ChunkFrames)
                if (!player.submitChunk(toneChunk(1000, frame, ChunkFrames, framesToTicks(frame)), 50ms))
                    frame -= ChunkFrames;
        });
        auto stopFeeding = qScopeGuard([&] {
            feeding = false;
            player.stop();
            feeder.join();
        });
        QTRY_VERIFY_WITH_TIMEOUT(player.clock().valid, 2000);
        QElapsedTimer wall;
        wall.start();
        const std::int64_t clockFrom = player.clock().pts90k;

        QVERIFY2(server.start(&why), qPrintable(why));
        const qint64 firstSound = server.waitForSound(6s);
        qInfo("server started: sound heard after %lld ms", firstSound);
        QVERIFY2(firstSound >= 0, "no sound after the server started");
        QVERIFY2(firstSound <= 4000, qPrintable(QString::number(firstSound)));
        QVERIFY(!player.deviceLost());

        // Killed while playing: the player notices and plays on silently,
        // its clock (which the picture follows) in step with the wall clock.
        server.kill();
        QTRY_VERIFY_WITH_TIMEOUT(player.deviceLost(), 2000);
        QElapsedTimer lost;
        lost.start();
        const std::int64_t lostFrom = player.clock().pts90k;
        std::this_thread::sleep_for(1500ms);
        const std::int64_t lostRan = (player.clock().pts90k - lostFrom) * 1000 / TicksPerSecond;
        qInfo("without a server the clock ran %lld ms in %lld ms", qint64(lostRan), lost.elapsed());
        QVERIFY2(std::llabs(lostRan - lost.elapsed()) <= 100, qPrintable(QString::number(lostRan)));

        qInfo("%lld ms: restarting the server", since.elapsed());
        QVERIFY2(server.start(&why), qPrintable(why));
        const qint64 secondSound = server.waitForSound(6s);
        qInfo("server restarted: sound heard after %lld ms", secondSound);
        QVERIFY2(secondSound >= 0, "no sound after the server restarted");
        QVERIFY2(secondSound <= 4000, qPrintable(QString::number(secondSound)));
        QVERIFY(!player.deviceLost());

        // The clock never ran ahead of the sound: while a server starts a
        // new stream it holds the sound (and so the clock) back a while.
        const std::int64_t clockRan = (player.clock().pts90k - clockFrom) * 1000 / TicksPerSecond;
        qInfo("clock ran %lld ms in %lld ms of wall time", qint64(clockRan), wall.elapsed());
        QVERIFY2(clockRan <= wall.elapsed() + 50,
                 qPrintable(QStringLiteral("clock %1 ms, wall %2 ms").arg(clockRan).arg(wall.elapsed())));
        std::lock_guard lock(eventsMutex);
        using E = AudioPlayer::DeviceEvent;
        QCOMPARE(events, (std::vector<E>{E::Lost, E::Back, E::Lost, E::Back}));
    }
};

QTEST_GUILESS_MAIN(TestSoundServer)
#include "test_sound_server.moc"
