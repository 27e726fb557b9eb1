// Plays disc A title 1 at normal speed in a 611x412 surface, with sound when
// a device is there, and prints what it cost and how well picture and sound
// kept together, each against its budget:
//   cpu_percent of one core (budget 20), peak resident MB (budget 150),
//   share of pictures within 20 ms of the audio clock (target 0.95).
//
//   bench_engine_play [DISC_DIR] [SECONDS]     (run under Xvfb for a real window)
#include "engine/EngineError.h"
#include "engine/core/PlaybackEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

#include <cstdio>

using namespace velmora;

namespace {
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString disc = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(VELMORA_DISC_DIR "/A");
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;

    QWidget host;
    host.resize(611, 412);
    auto *engine = static_cast<PlaybackEngine *>(createPlaybackEngine(&host));
    engine->Move(0, 0, 611, 412);
    host.show();
    engine->setDVDDirectory(disc);
    try {
        engine->Render(0);
        engine->PlayTitle(1);
    } catch (const EngineError &e) {
        std::fprintf(stderr, "bench_engine_play: %s\n", qPrintable(e.message()));
        return 1;
    }
    // Measure after the start-up, over the steady part.
    double cpuAtStart = 0;
    QElapsedTimer wall;
    QTimer::singleShot(1000, [&] {
        cpuAtStart = cpuSeconds();
        wall.start();
    });
    QTimer::singleShot(1000 + seconds * 1000, [&] {
        const double cpu = (cpuSeconds() - cpuAtStart) / (wall.elapsed() / 1000.0) * 100.0;
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double rssMb = usage.ru_maxrss / 1024.0;
        const QJsonObject o{{"measure", "play_title_1x"},
                            {"seconds", seconds},
                            {"audio_output", engine->audioOutputDescription()},
                            {"cpu_percent", cpu},
                            {"cpu_budget_percent", 20},
                            {"cpu_ratio", cpu / 20},
                            {"peak_rss_mb", rssMb},
                            {"rss_budget_mb", 150},
                            {"rss_ratio", rssMb / 150},
                            {"av_sync_within_20ms", engine->syncShare()},
                            {"av_sync_target", 0.95}};
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        engine->Stop();
        app.quit();
    });
    return app.exec();
}
